// The display's pixel-art scene: sky, moon (or sun by day), ridges, fog, the camp
// fire, and the seeded stars, ground lines and stones. The scene graphic is built
// once into #display; the seeding uses a fixed generator so every start shows the
// same sky. The animations are stepped CSS keyframes in the application sheet.
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

  F.scene = { seed: seed, svg: svg, reducedMotion: reducedMotion, generator: generator };

  // The bundle is deferred, so the markup is parsed by now.
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', seed);
  else seed();
})();
