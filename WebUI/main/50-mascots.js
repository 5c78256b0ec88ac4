// Mascots on the display: one figure per shown product, drawn frame by frame by the
// product's cached mascot module (its `poseSvg` export), or its still image, or an
// empty box. Walkers stroll about the camp fire, flyers drift in the sky; all
// movement is in whole steps on timers owned by each mascot.
//
// Offers on window.Fernhall.mascots:
//   buildStage(products)   rebuilds the figures when the shown products changed
//   markSelected(id)       shows the selection on the figures
//   list()                 the live mascots (for inspection)
//   placeBubble(w, x, width) -> {left, tail}   the bubble geometry
(function () {
  'use strict';
  const F = (window.Fernhall = window.Fernhall || {});
  if (!Array.isArray(F.renderHooks)) F.renderHooks = [];

  const reducedMotion = !!(F.scene && F.scene.reducedMotion);
  const WALK_POSES = ['walkL', 'stand', 'walkR', 'stand'];
  const FIRE_CLEAR = 34;
  const EDGE = 30;

  let lastKey = null;
  let generation = 0;
  let mascots = [];
  let selectedId = null;

  function rand(lo, hi) { return lo + Math.random() * (hi - lo); }
  function display() { return document.getElementById('display'); }
  function displayWidth() {
    const d = display();
    const w = d ? d.clientWidth : 0;
    return w > 0 ? w : 520;
  }

  // The status line of a product without its job, as {text, warn}.
  // Selecting goes through the main view; without its operation, the product's row
  // is clicked instead.
  function select(id) {
    if (typeof F.selectProduct === 'function') { F.selectProduct(id); return; }
    const rows = document.querySelectorAll('#list [data-id]');
    for (const row of rows) if (row.getAttribute('data-id') === id) { row.click(); return; }
  }

  // The selected product: the main view's `picked`, else the row marked "on".
  function pickedId() {
    if ('picked' in F) return F.picked == null ? null : String(F.picked);
    const row = document.querySelector('#list .on[data-id]');
    return row ? row.getAttribute('data-id') : null;
  }

  function statusOf(product) {
    let meta;
    if (typeof F.metaFor === 'function') {
      try { meta = F.metaFor(product, false); } catch (e) { meta = null; }
    } else if (product.orphan) {
      meta = { text: 'Installed, not in catalog', warn: false };
    } else {
      meta = product.tagline || '';
    }
    if (meta && typeof meta === 'object') return { text: String(meta.text || ''), warn: !!(meta.warn || meta.warning) };
    return { text: meta ? String(meta) : '', warn: false };
  }

  // Bubble geometry: centred on x, kept 3 px inside the display, the tail pointing at x.
  // Both are measured from the bubble's outer left edge.
  function placeBubble(w, x, width) {
    if (!(w > 0)) w = 60;
    let left = Math.round(x - w / 2);
    if (left + w > width - 3) left = Math.floor(width - 3 - w);
    if (left < 3) left = 3;
    const tail = Math.max(8, Math.min(w - 8, x - left));
    return { left: left, tail: tail };
  }

  function div(cls, parent) {
    const node = document.createElement('div');
    node.className = cls;
    if (parent) parent.appendChild(node);
    return node;
  }

  class Walker {
    constructor(product, draw, x) {
      this.id = String(product.id);
      this.name = product.name ? String(product.name) : this.id;
      this.draw = draw || null;
      this.x = x;
      this.dir = Math.random() < 0.5 ? -1 : 1;
      this.tx = x;
      this.state = 'idle';
      this.step = 0;
      this.blink = false;
      this.timers = new Set();
      this.selected = false;
      this.hovered = false;
      this.frames = new Map();
      this.shownKey = null;
      this.frameImg = null;
      this.sayW = 0;
      this.flyer = false;
    }

    // Timers all go through these so destroy() can clear every one of them. A delay
    // ends on the first beat after it has passed, so its change shares that frame.
    later(fn, ms) {
      const due = performance.now() + ms;
      const off = F.scene.everyBeat(() => {
        if (performance.now() < due) return;
        off();
        this.timers.delete(off);
        fn();
      });
      this.timers.add(off);
      return off;
    }
    // Steps run on the scene's shared beat (every 110 ms), so all figures and the
    // fire change in the same frames. The returned handle stops it.
    every(fn) {
      const off = F.scene.everyBeat(fn);
      this.timers.add(off);
      return off;
    }
    stop(t) {
      if (t == null) return;
      if (typeof t === 'function') t();
      else clearTimeout(t);
      this.timers.delete(t);
    }

    makeElements(product, still) {
      const d = display();
      this.shadow = this.flyer ? null : div('shadow');
      this.spot = this.flyer ? null : div('spot');
      this.fig = div(this.flyer ? 'being flyer' : 'being');
      this.fig.setAttribute('data-id', this.id);
      this.inner = div('bi', this.fig);
      this.inner.style.animationDelay = '-' + (Math.random() * 1.1).toFixed(2) + 's';
      if (!this.draw) {
        if (still) {
          const img = document.createElement('img');
          img.alt = '';
          img.draggable = false;
          img.src = still;
          img.addEventListener('error', () => { img.remove(); this.fig.classList.add('none'); });
          this.inner.appendChild(img);
        } else {
          this.fig.classList.add('none');
        }
      }
      this.say = div(this.flyer ? 'say below' : 'say');
      this.sayName = div('sn', this.say);
      this.sayName.textContent = this.name;
      this.sayStatus = div('ss', this.say);
      const st = statusOf(product);
      this.sayStatus.textContent = st.text;
      this.sayStatus.classList.toggle('warn', st.warn);
      this.sayStatus.classList.toggle('hidden', !st.text);
      div('t1', this.say);
      div('t2', this.say);

      [this.shadow, this.spot, this.fig, this.say].forEach((n) => { if (n) d.appendChild(n); });

      this.fig.addEventListener('click', (ev) => {
        ev.stopPropagation();
        select(this.id);
      });
      this.fig.addEventListener('mouseenter', () => { this.hovered = true; this.say.classList.add('show'); });
      this.fig.addEventListener('mouseleave', () => {
        this.hovered = false;
        if (!this.selected) this.say.classList.remove('show');
      });
    }

    start() {
      this.render();
      this.place();
      if (this.draw && !reducedMotion) {
        this.idle();
        this.scheduleBlink();
      }
    }

    pose() {
      return { pose: this.state === 'walk' ? WALK_POSES[this.step % 4] : 'stand', blink: this.blink };
    }

    // Each distinct frame is drawn once into an image of its SVG markup; showing a
    // frame again only swaps the picture, so a step costs no parsing or re-rasterising.
    render() {
      if (!this.draw) return;
      const options = this.pose();
      const key = JSON.stringify(options);
      if (key === this.shownKey) return;
      this.shownKey = key;
      let url = this.frames.get(key);
      if (url === undefined) {
        let markup = '';
        try { markup = String(this.draw(options) || ''); } catch (e) { markup = ''; }
        url = markup ? URL.createObjectURL(new Blob([markup], { type: 'image/svg+xml' })) : '';
        this.frames.set(key, url);
      }
      if (!this.frameImg) {
        this.frameImg = document.createElement('img');
        this.frameImg.className = 'frame';
        this.frameImg.alt = '';
        this.frameImg.draggable = false;
        this.inner.appendChild(this.frameImg);
        this.fig.classList.add('drawn');
      }
      if (url) this.frameImg.src = url;
      else this.frameImg.removeAttribute('src');
    }

    place() {
      this.fig.style.left = Math.round(this.x - 22) + 'px';
      this.fig.classList.toggle('mirror', this.dir === -1);
      if (this.spot) this.spot.style.left = Math.round(this.x - 15) + 'px';
      if (this.shadow) this.shadow.style.left = Math.round(this.x - 15) + 'px';
      this.placeSay();
    }

    // The bubble's width is measured once (its texts do not change), so moving the
    // figure never forces a layout.
    placeSay() {
      if (!this.sayW) this.sayW = this.say.offsetWidth;
      if (!this.width) this.width = displayWidth();
      const g = placeBubble(this.sayW, this.x, this.width);
      this.say.style.left = g.left + 'px';
      this.say.style.setProperty('--tail', g.tail + 'px');
    }

    idle() {
      this.stop(this.moveTimer);
      this.moveTimer = null;
      this.state = 'idle';
      this.render();
      this.idleTimer = this.later(() => this.walk(), rand(1200, 5200));
    }

    walkTarget(width) {
      const fire = width / 2;
      let t;
      if (Math.random() < 0.5) {
        t = fire + (Math.random() < 0.5 ? -1 : 1) * rand(38, 70);
      } else {
        t = rand(EDGE, width - EDGE);
        if (Math.abs(t - fire) < FIRE_CLEAR) t = fire + (t < fire ? -FIRE_CLEAR : FIRE_CLEAR);
      }
      return Math.max(EDGE, Math.min(width - EDGE, t));
    }

    walk() {
      this.width = displayWidth();
      const t = this.walkTarget(this.width);
      if (Math.abs(t - this.x) < 24) { this.idle(); return; }
      this.tx = t;
      this.dir = t > this.x ? 1 : -1;
      this.state = 'walk';
      this.step = 0;
      this.moveTimer = this.every(() => {
        this.x += 2 * this.dir;
        this.step++;
        const arrived = this.dir > 0 ? this.x >= this.tx : this.x <= this.tx;
        if (arrived) this.x = this.tx;
        this.render();
        this.place();
        if (arrived) this.idle();
      });
    }

    scheduleBlink() {
      this.later(() => {
        this.blink = true;
        this.render();
        this.later(() => {
          this.blink = false;
          this.render();
          this.scheduleBlink();
        }, 140);
      }, rand(3500, 5500));
    }

    setSelected(on) {
      this.selected = on;
      this.fig.classList.toggle('sel', on);
      if (this.spot) this.spot.classList.toggle('on', on);
      this.say.classList.toggle('show', on || this.hovered);
      if (on) this.placeSay();
    }

    destroy() {
      this.timers.forEach((t) => { if (typeof t === 'function') t(); else clearTimeout(t); });
      this.timers.clear();
      this.frames.forEach((url) => { if (url) URL.revokeObjectURL(url); });
      this.frames.clear();
      [this.shadow, this.spot, this.fig, this.say].forEach((n) => { if (n && n.parentNode) n.parentNode.removeChild(n); });
    }
  }

  class Flyer extends Walker {
    constructor(product, draw, x, y) {
      super(product, draw, x);
      this.flyer = true;
      this.y = y;
      this.ty = y;
      this.wing = Math.floor(Math.random() * 3);
    }

    start() {
      this.render();
      this.place();
      if (this.draw && !reducedMotion) {
        this.every(() => { this.wing = (this.wing + 1) % 3; this.render(); });
        this.idle();
        this.scheduleBlink();
      }
    }

    pose() { return { wing: 1 + this.wing, blink: this.blink }; }

    place() {
      this.fig.style.left = Math.round(this.x - 18) + 'px';
      this.fig.style.top = Math.round(this.y) + 'px';
      this.fig.classList.toggle('mirror', this.dir === -1);
      this.say.style.top = Math.round(this.y + 46) + 'px';
      this.placeSay();
    }

    idle() {
      this.stop(this.moveTimer);
      this.moveTimer = null;
      this.state = 'idle';
      this.idleTimer = this.later(() => this.walk(), rand(600, 2400));
    }

    walk() {
      const width = (this.width = displayWidth());
      this.tx = rand(40, Math.max(40, width - 40));
      this.ty = rand(12, 48);
      this.dir = this.tx >= this.x ? 1 : -1;
      this.state = 'walk';
      this.moveTimer = this.every(() => {
        this.x = approach(this.x, this.tx, 1.5);
        this.y = approach(this.y, this.ty, 0.8);
        this.place();
        if (this.x === this.tx && this.y === this.ty) this.idle();
      });
    }
  }

  function approach(v, target, stepSize) {
    if (Math.abs(target - v) <= stepSize) return target;
    return v + (target > v ? stepSize : -stepSize);
  }

  function stageKey(products) {
    return products.map(function (p) {
      return String(p.id) + ':' + String(p.mascotModule || '') + ':' + (p.installed ? 'true' : 'false');
    }).join('|');
  }

  // Modules are only taken from the application's own mascot cache.
  function loadDrawing(address) {
    if (typeof address !== 'string' || address.indexOf('/mascots/') !== 0) return Promise.resolve(null);
    return import(address).then(function (mod) {
      return mod && typeof mod.poseSvg === 'function' ? mod.poseSvg : null;
    }, function () { return null; });
  }

  function destroyAll() {
    mascots.forEach(function (m) { m.destroy(); });
    mascots = [];
  }

  async function buildStage(products) {
    products = Array.isArray(products) ? products : [];
    const key = stageKey(products);
    if (key === lastKey) return false;
    lastKey = key;
    const gen = ++generation;
    destroyAll();
    if (!display()) return false;
    for (const product of products) {
      const draw = product.mascotModule ? await loadDrawing(product.mascotModule) : null;
      if (gen !== generation) return false;
      const width = displayWidth();
      const x = rand(60, Math.max(80, width - 80));
      let m;
      if (draw && product.mascotMotion === 'fly') m = new Flyer(product, draw, x, rand(14, 44));
      else m = new Walker(product, draw, x);
      m.makeElements(product, draw ? '' : (product.mascot || ''));
      mascots.push(m);
      m.start();
      m.setSelected(m.id === selectedId);
    }
    return true;
  }

  function markSelected(id) {
    selectedId = id == null ? null : String(id);
    mascots.forEach(function (m) { m.setSelected(m.id === selectedId); });
  }

  F.mascots = {
    buildStage: buildStage,
    markSelected: markSelected,
    list: function () { return mascots.slice(); },
    placeBubble: placeBubble,
    Walker: Walker,
    Flyer: Flyer
  };

  // After every render of the list: mark the selection, rebuild if the products changed.
  F.renderHooks.push(function (state) {
    markSelected(pickedId());
    const products = (state && Array.isArray(state.products)) ? state.products : [];
    buildStage(products);
  });
})();
