// Display kit: fits the fixed design surface into the window, asks the native window
// for its size, applies the stored display settings (theme, contrast, scale) and the
// low-resolution adjustment, and lifts the boot gate once the first frame is ready.
//
// window.DisplayKit:
//   init({designW, sizes, defaultSize})   once, at start
//   fit()                                 re-measure and write --uiscale
//   requestHostSize()                     setEditorSize(width, height) for the design
//   applySettings(cfg)                    theme, contrast and user scale from getUiSettings
//   applyLowDpi()                         "lowdpi" on body below 1.5 device pixels per CSS pixel
//   nearestScale(value)                   the allowed scale nearest to value
//   status()                              current module values (for inspection)
(function () {
  'use strict';

  const SCALES = [['S', 1], ['M', 1.3], ['L', 1.6], ['XL', 2]];

  let DESIGN_W = 640;
  let allowed = SCALES.slice();
  let defaultScale = 1;
  let userScale = 1;
  let lastScale = NaN;
  let UICFG = {};
  let surface = null;
  let stage = null;
  let started = false;

  function native(name, args) {
    try {
      if (typeof window.getNativeFunction !== 'function') return Promise.resolve(undefined);
      return Promise.resolve(window.getNativeFunction(name).apply(null, args || []))
        .catch(function () { return undefined; });
    } catch (e) {
      return Promise.resolve(undefined);
    }
  }

  // Nearest allowed scale; on a tie the earlier key of the table wins.
  function nearestScale(value) {
    let best = allowed[0][1];
    let bestDist = Math.abs(best - value);
    for (let i = 1; i < allowed.length; i++) {
      const d = Math.abs(allowed[i][1] - value);
      if (d < bestDist) { best = allowed[i][1]; bestDist = d; }
    }
    return best;
  }

  // Design measurements from the rendered surface: the current zoom and the design height.
  function measure() {
    if (!surface) return { zoom: 1, height: 0 };
    const r = surface.getBoundingClientRect();
    const zoom = r.width > 0 ? r.width / DESIGN_W : 1;
    return { zoom: zoom, height: r.height / zoom };
  }

  function fit() {
    if (!surface) return;
    const h = Math.round(measure().height);
    if (h < 1) return;
    const scale = Math.min(userScale, window.innerWidth / DESIGN_W, window.innerHeight / h);
    if (!(scale > 0) || !isFinite(scale)) return;
    if (Math.abs(scale - lastScale) < 0.0015) return;
    lastScale = scale;
    document.documentElement.style.setProperty('--uiscale', String(scale));
  }

  function requestHostSize() {
    const h = measure().height;
    if (!(h >= 1)) return Promise.resolve();
    return native('setEditorSize', [Math.round(DESIGN_W * userScale), Math.round(h * userScale)]);
  }

  function applySettings(cfg) {
    UICFG = (cfg && typeof cfg === 'object') ? cfg : {};
    const s = UICFG.uiScale;
    if (typeof s === 'number' && isFinite(s) && s > 0) userScale = nearestScale(s);
    const body = document.body;
    if (!body) return;
    body.classList.toggle('white', UICFG.theme === 'white');
    body.classList.toggle('hc', UICFG.contrast === 'high');
  }

  function applyLowDpi() {
    if (!document.body) return;
    const ratio = Number(window.devicePixelRatio) || 1;
    document.body.classList.toggle('lowdpi', ratio < 1.5);
  }

  // Follows the device pixel ratio: a query on the current ratio fires once it changes,
  // then a new one is set up for the new ratio.
  function watchRatio() {
    if (!window.matchMedia) return;
    const mq = window.matchMedia('(resolution: ' + (Number(window.devicePixelRatio) || 1) + 'dppx)');
    if (typeof mq.addEventListener !== 'function') return;
    mq.addEventListener('change', function onChange() {
      mq.removeEventListener('change', onChange);
      applyLowDpi();
      fit();
      watchRatio();
    });
  }

  function init(options) {
    if (started) return;
    started = true;
    options = options || {};
    DESIGN_W = Number(options.designW) > 0 ? Number(options.designW) : 640;
    surface = document.querySelector('.plugin');
    stage = document.querySelector('.stage');
    if (!surface) return;

    if (Array.isArray(options.sizes)) {
      const kept = SCALES.filter(function (e) { return options.sizes.indexOf(e[0]) >= 0; });
      allowed = kept.length ? kept : SCALES.slice();
    }
    const named = allowed.filter(function (e) { return e[0] === options.defaultSize; });
    defaultScale = named.length ? named[0][1] : nearestScale(1.3);
    userScale = defaultScale;

    if (typeof ResizeObserver === 'function') {
      new ResizeObserver(function () { requestAnimationFrame(fit); }).observe(surface);
    }
    window.addEventListener('resize', function () { fit(); applyLowDpi(); });
    fit();

    applyLowDpi();
    watchRatio();

    const fontsReady = (document.fonts && document.fonts.ready) ? document.fonts.ready : Promise.resolve();
    Promise.resolve(fontsReady).catch(function () {})
      .then(function () { return native('getUiSettings'); })
      .then(function (cfg) {
        applySettings(cfg);
        requestAnimationFrame(function () {
          fit();
          requestHostSize();
          document.documentElement.classList.remove('boot');
        });
      });
  }

  function status() {
    return {
      designW: DESIGN_W, allowed: allowed.map(function (e) { return e[0]; }), defaultScale: defaultScale,
      userScale: userScale, lastScale: lastScale, settings: UICFG, hasStage: !!stage
    };
  }

  window.DisplayKit = {
    SCALES: SCALES, init: init, fit: fit, requestHostSize: requestHostSize, applySettings: applySettings,
    applyLowDpi: applyLowDpi, nearestScale: nearestScale, status: status
  };
})();
