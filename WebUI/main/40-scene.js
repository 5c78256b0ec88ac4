// The display's pixel-art scene: sky, moon (or sun by day), ridges, fog, the camp
// fire, and the seeded stars, ground lines and stones. The scene graphic is built
// once into #display; the seeding uses a fixed generator so every start shows the
// same sky. Stars, fog and fire move in whole steps driven by one clock (below);
// with reduced motion requested the scene stands still.
//
// Offers on window.Fernhall.scene:
//   seed()          fills stars, lines and stones once (no-op when already filled)
//   svg()           the scene graphic (built on first use)
//   reducedMotion   whether the system asked for reduced motion (read once at start)
(function () {
  'use strict';
  const F = (window.Fernhall = window.Fernhall || {});
  if (!Array.isArray(F.renderHooks)) F.renderHooks = [];

  const NS = 'http://www.w3.org/2000/svg';
  const reducedMotion = !!(window.matchMedia && window.matchMedia('(prefers-reduced-motion: reduce)').matches);

  // Linear congruential generator over 32-bit unsigned state, yielding [0, 1).
  function generator(seed) {
    let s = seed >>> 0;
    return function () {
      s = (Math.imul(s, 1664525) + 1013904223) >>> 0;
      return s / 4294967296;
    };
  }

  function el(name, attrs, parent) {
    const node = document.createElementNS(NS, name);
    for (const k in attrs) node.setAttribute(k, String(attrs[k]));
    if (parent) parent.appendChild(node);
    return node;
  }

  function rect(cls, x, y, w, h, parent) {
    return el('rect', { class: cls, x: x, y: y, width: w, height: h }, parent);
  }

  // Four flame frames, each a few rectangles of the three flame colours
  // between x 255..265 and y 89..101.
  const FLAMES = [
    [['fc', 256, 95, 8, 6], ['fa', 257, 92, 6, 7], ['fb', 259, 90, 2, 6], ['fb', 258, 97, 4, 4]],
    [['fc', 255, 96, 10, 5], ['fa', 256, 93, 7, 6], ['fb', 260, 89, 2, 7], ['fb', 258, 97, 5, 4]],
    [['fc', 256, 95, 9, 6], ['fa', 258, 91, 5, 8], ['fb', 258, 92, 2, 5], ['fb', 259, 97, 4, 4]],
    [['fc', 255, 97, 9, 4], ['fa', 257, 93, 6, 6], ['fb', 261, 90, 2, 6], ['fb', 257, 97, 4, 4]]
  ];

  function build() {
    const svg = el('svg', {
      class: 'scene', id: 'scene', viewBox: '0 0 520 124', preserveAspectRatio: 'none',
      'aria-hidden': 'true', focusable: 'false'
    });
    rect('sky', 0, 0, 520, 124, svg);
    el('g', { class: 'stars', id: 'hstars' }, svg);
    el('circle', { class: 'moon', cx: 420, cy: 30, r: 15 }, svg);
    el('circle', { class: 'moon2', cx: 414, cy: 25, r: 13 }, svg);
    el('circle', { class: 'sun', cx: 420, cy: 30, r: 12 }, svg);
    rect('crater', 424, 33, 3, 3, svg);
    rect('crater', 430, 27, 2, 2, svg);
    rect('crater', 427, 39, 2, 2, svg);
    rect('shoot', 120, 10, 7, 1.2, svg);
    el('polygon', { class: 'far', points: '0,96 0,58 60,50 130,66 210,44 290,62 360,46 430,60 520,48 520,96' }, svg);
    rect('fog a', -30, 70, 600, 6, svg);
    el('polygon', { class: 'mid', points: '0,102 0,76 48,68 118,80 196,64 262,78 338,66 402,76 470,64 520,72 520,102' }, svg);
    rect('fog b', -30, 88, 600, 5, svg);
    el('polygon', { class: 'near', points: '0,124 0,98 90,92 200,101 320,94 440,101 520,96 520,124' }, svg);
    rect('ground', 0, 103, 520, 1, svg);
    el('g', { class: 'lines', id: 'hlines' }, svg);
    el('g', { class: 'stones', id: 'hstones' }, svg);

    const fire = el('g', { class: 'fire' }, svg);
    el('ellipse', { class: 'glow', cx: 260, cy: 106, rx: 58, ry: 7 }, fire);
    const ring = el('g', { class: 'ring' }, fire);
    rect('', 248, 105, 3, 2, ring);
    rect('', 253, 107, 3, 2, ring);
    rect('', 264, 107, 3, 2, ring);
    rect('', 269, 105, 3, 2, ring);
    rect('', 258, 108, 4, 1.5, ring);
    rect('wood', 254, 103, 12, 2, fire);
    rect('wood2', 256, 101, 8, 2, fire);
    FLAMES.forEach(function (parts, i) {
      const g = el('g', { class: 'flame f' + (i + 1) }, fire);
      parts.forEach(function (p) { rect(p[0], p[1], p[2], p[3], p[4], g); });
    });
    rect('spark a', 259, 90, 1.3, 1.3, fire);
    rect('spark b', 262, 92, 1.3, 1.3, fire);
    rect('spark c', 256.5, 91, 1.3, 1.3, fire);
    rect('ember', 258, 100, 4, 1.5, fire);
    const sa = el('g', { class: 'smoke a' }, fire);
    rect('', 258, 84, 2, 2, sa);
    rect('', 260, 81, 1.5, 1.5, sa);
    const sb = el('g', { class: 'smoke b' }, fire);
    rect('', 261, 85, 2, 2, sb);
    rect('', 259, 82, 1.5, 1.5, sb);
    return svg;
  }

  function svg() {
    const display = document.getElementById('display');
    if (!display) return null;
    let scene = display.querySelector('svg.scene');
    if (!scene) {
      scene = build();
      display.insertBefore(scene, display.firstChild);
    }
    return scene;
  }

  function seed() {
    const scene = svg();
    if (!scene) return false;
    const stars = scene.querySelector('#hstars');
    if (stars.childNodes.length > 0) return false;

    let r = generator(11);
    for (let i = 0; i < 22; i++) {
      const x = Math.round(r() * 500 + 8);
      const y = Math.round(r() * 44 + 6);
      const big = r() > 0.55;
      const twinkle = r() > 0.6;
      const size = big ? 1.4 : 1.2;
      const star = rect('star ' + (big ? 's1' : 's2') + (twinkle ? ' tw' : ''), x, y, size, size, stars);
      if (twinkle) star.style.animationDelay = '-' + (r() * 3.4).toFixed(2) + 's';
    }

    const lines = scene.querySelector('#hlines');
    r = generator(77);
    for (let i = 0; i < 6; i++) {
      const x = Math.round(r() * 440);
      const y = Math.round(107 + r() * 14);
      const w = Math.round(30 + r() * 90);
      rect('gline', x, y, w, 1, lines);
    }

    const stones = scene.querySelector('#hstones');
    r = generator(41);
    for (let i = 0; i < 10; i++) {
      const x = Math.round(r() * 508 + 4);
      const y = Math.round(106 + r() * 12);
      if (Math.abs(x - 260) < 26) continue; // would lie in the fire
      const w = r() > 0.5 ? 3 : 2;
      rect('stone ' + (r() > 0.5 ? 's1' : 's2'), x, y, w, 1.5, stones);
    }
    return true;
  }

  // --- motion ------------------------------------------------------------------
  // The scene moves in whole steps, so instead of per-frame animations one clock
  // works out every element's current step and writes only what changed: the page
  // is styled and painted a few times a second rather than on every frame.
  // Each track: elements, period (ms), delay (ms, negative = already running),
  // and the look at a phase p in [0, 1) as {o: opacity, v: visible, tx, ty, s: scale}.

  const stepped = (p, n) => Math.floor(p * n) / n;

  const LOOKS = {
    twinkle: (p) => ({ o: p < 0.58 ? 1 : 0.3 }),
    shoot: (p) => {
      if (p < 0.01 || p >= 0.09) return { o: 0 };
      const k = stepped((p - 0.01) / 0.08, 14);
      return { o: 1, tx: -54 * k, ty: 20 * k };
    },
    fog: (p) => ({ tx: -26 * stepped(p, 38) }),
    fogB: (p) => ({ tx: -26 * stepped(p, 52) }),
    flame: (p) => ({ v: p < 0.25 }),
    glow: (p) => ({ o: p < 0.46 ? 0.16 : p < 0.73 ? 0.11 : 0.19 }),
    spark: (p) => {
      const k = stepped(p, 8);
      if (k < 0.12) return { o: 0, ty: 0 };
      const q = (k - 0.12) / 0.88;
      return { o: +(0.9 * (1 - q)).toFixed(3), ty: -15 * k };
    },
    smoke: (p) => {
      const k = stepped(p, 10);
      if (k < 0.15) return { o: +(0.35 * k / 0.15).toFixed(3), s: 0.6 + 0.1 * k / 0.15 };
      const q = (k - 0.15) / 0.85;
      return { o: +(0.35 * (1 - q)).toFixed(3), tx: -4 * q, ty: -22 * q, s: 0.7 + 0.9 * q };
    }
  };

  // Back-and-forth tracks fold the phase: 0 -> 1 -> 0 over two periods.
  function phaseAt(track, t) {
    const u = (t - track.delay) / track.period;
    if (!track.alternate) return u - Math.floor(u);
    const w = (u + (track.reverse ? 1 : 0)) % 2;
    const f = w < 0 ? w + 2 : w;
    return f <= 1 ? Math.min(f, 0.999999) : 2 - f;
  }

  function tracks(scene) {
    const list = [];
    const add = function (sel, look, period, delay, extra) {
      scene.querySelectorAll(sel).forEach(function (node) {
        list.push(Object.assign({ node: node, look: LOOKS[look], period: period, delay: delay, last: '' }, extra || {}));
      });
    };
    scene.querySelectorAll('.star.tw').forEach(function (node) {
      const d = parseFloat(node.style.animationDelay) || 0;
      list.push({ node: node, look: LOOKS.twinkle, period: 3400, delay: d * 1000, last: '' });
    });
    add('.shoot', 'shoot', 12000, 0);
    add('.fog.a', 'fog', 38000, 0, { alternate: true });
    add('.fog.b', 'fogB', 52000, 0, { alternate: true, reverse: true });
    ['f1', 'f2', 'f3', 'f4'].forEach(function (f, i) { add('.flame.' + f, 'flame', 480, -120 * i); });
    add('.glow', 'glow', 960, 0);
    add('.spark.a', 'spark', 1600, 0);
    add('.spark.b', 'spark', 1600, -600);
    add('.spark.c', 'spark', 1600, -1100);
    add('.smoke.a', 'smoke', 3200, 0);
    add('.smoke.b', 'smoke', 3200, -1400);
    return list;
  }

  function apply(track, look) {
    const n = track.node;
    let tr = '';
    if (look.tx || look.ty) tr += 'translate(' + (+(look.tx || 0).toFixed(2)) + ' ' + (+(look.ty || 0).toFixed(2)) + ')';
    if (look.s != null) tr += ' scale(' + look.s.toFixed(3) + ')';
    const key = (look.o != null ? look.o : '') + '|' + (look.v != null ? look.v : '') + '|' + tr;
    if (key === track.last) return false;
    track.last = key;
    if (look.o != null) n.style.opacity = String(look.o);
    if (look.v != null) n.style.visibility = look.v ? 'visible' : 'hidden';
    if (look.s != null) {
      // Scaled about the bottom centre of the puff.
      const b = track.box || (track.box = n.getBBox());
      const cx = b.x + b.width / 2, cy = b.y + b.height;
      n.setAttribute('transform', 'translate(' + (+(look.tx || 0).toFixed(2)) + ' ' + (+(look.ty || 0).toFixed(2)) + ') ' +
        'translate(' + cx + ' ' + cy + ') scale(' + look.s.toFixed(3) + ') translate(' + (-cx) + ' ' + (-cy) + ')');
    } else if (tr) {
      n.setAttribute('transform', tr);
    } else if (n.hasAttribute('transform')) {
      n.removeAttribute('transform');
    }
    return true;
  }

  // One beat drives the scene and every mascot's steps, so that all changes of a
  // moment land in the same frame: the cost of an idle page is set by how many
  // frames it draws per second, far more than by what changes in them.
  const BEAT_MS = 110;
  let beat = null;
  let clockTracks = null;
  let t0 = 0;
  const beatFns = new Set();

  function tick(now) {
    let changed = 0;
    if (clockTracks) for (const track of clockTracks) if (apply(track, track.look(phaseAt(track, now)))) changed++;
    return changed;
  }

  function onBeat() {
    if (document.hidden) return;
    tick(performance.now() - t0);
    beatFns.forEach(function (fn) {
      try { fn(); } catch (e) { /* one figure's fault must not stop the others */ }
    });
  }

  function ensureBeat() {
    if (beat || reducedMotion) return;
    t0 = performance.now();
    beat = setInterval(onBeat, BEAT_MS);
  }

  // Calls fn on every beat until the returned function is called.
  function everyBeat(fn) {
    beatFns.add(fn);
    ensureBeat();
    return function () { beatFns.delete(fn); };
  }

  function startMotion() {
    if (reducedMotion || clockTracks) return false;
    const scene = svg();
    if (!scene) return false;
    clockTracks = tracks(scene);
    ensureBeat();
    tick(performance.now() - t0);
    return true;
  }

  function stopMotion() {
    clockTracks = null;
    beatFns.clear();
    if (beat) clearInterval(beat);
    beat = null;
  }

  F.scene = {
    seed: seed, svg: svg, reducedMotion: reducedMotion, generator: generator,
    startMotion: startMotion, stopMotion: stopMotion, everyBeat: everyBeat, beatMs: BEAT_MS,
    looks: LOOKS, phaseAt: phaseAt,
    // For inspection: the look of every moving part at time t (ms) after the start.
    lookAt: function (t) {
      return (clockTracks || []).map(function (tr) {
        return Object.assign({ part: tr.node.getAttribute('class') }, tr.look(phaseAt(tr, t)));
      });
    }
  };

  // The bundle is deferred, so the markup is parsed by now.
  function begin() { seed(); startMotion(); }
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', begin);
  else begin();
})();
