// Main view: starts the page, keeps the last state document from the native side and
// renders the product list (rows, groups, the details card), starts installs and
// downloads, follows the running job and runs the removal dialogue.
//
// Contract with the scripts that follow this one (display scene, mascots, overlays):
//   window.Fernhall.call(name, ...args)  native call; a promise that never rejects and
//                                        resolves to undefined on any failure
//   Fernhall.refresh()                   getState, then render; a promise
//   Fernhall.render()                    renders the list from the last state
//   Fernhall.state                       the last state document (read only)
//   Fernhall.job / Fernhall.setJob(j)    the job shown by the page (install-state shape)
//   Fernhall.picked                      id of the selected product, or null
//   Fernhall.selectProduct(id), Fernhall.metaFor(product, withJob) -> {text, warn},
//   Fernhall.jobText(job), Fernhall.startPolling()
//   Fernhall.renderHooks                 functions called with (state) at the end of
//                                        every render; later files push onto it at load
//                                        time; each call is guarded, so one failing hook
//                                        does not stop the others or the page.
// The start sequence runs once the whole bundle has been evaluated, so every hook and
// every later file's wiring is in place before the first render.
(function () {
  'use strict';
  const F = (window.Fernhall = window.Fernhall || {});
  if (!Array.isArray(F.renderHooks)) F.renderHooks = [];

  const MANAGER = 'tarvo-manager';
  const NOT_COMPLETED = 'Installation did not complete. Use Download and run the installer yourself.';
  const POLL_MS = 250;
  const SHOW_MS = 6000;
  const SHOW_FAILED_MS = 20000;

  // --- page state -----------------------------------------------------------------

  let state = { products: [], catalogReady: false, appVersion: '' };
  let job = null;
  let pollTimer = null;
  let picked = null;
  let askRemove = null;
  let removePlan = null;
  let cardMsg = null;
  let cardOpenFor = null;
  const failedInstall = new Set();
  // A start refused while another job is being followed: shown in its own row, so the
  // running job keeps its row and the refusal is not overwritten by the next poll.
  let refused = null;
  let refreshSeq = 0;
  let appliedSeq = 0;

  // --- native calls -----------------------------------------------------------------

  function call(name) {
    const args = Array.prototype.slice.call(arguments, 1);
    try {
      if (typeof window.getNativeFunction !== 'function') return Promise.resolve(undefined);
      return Promise.resolve(window.getNativeFunction(name).apply(null, args))
        .then(function (v) { return v === null ? undefined : v; }, function () { return undefined; });
    } catch (e) {
      return Promise.resolve(undefined);
    }
  }

  // --- helpers ----------------------------------------------------------------------

  function el(tag, cls, text) {
    const node = document.createElement(tag);
    if (cls) node.className = cls;
    if (text != null) node.textContent = String(text);
    return node;
  }

  function button(label, variant, onClick) {
    const b = el('button', 'pbtn' + (variant ? ' ' + variant : ''), label);
    b.type = 'button';
    b.addEventListener('click', function (ev) {
      ev.stopPropagation();
      onClick();
    });
    return b;
  }

  function products() { return Array.isArray(state.products) ? state.products : []; }

  function productById(id) {
    if (id == null) return null;
    const list = products();
    for (let i = 0; i < list.length; i++) if (list[i] && list[i].id === id) return list[i];
    return null;
  }

  function nameOf(p) { return (p && p.name) ? String(p.name) : String((p && p.id) || ''); }

  // Version order: parts split at ".", each read from its leading digits (0 without
  // any), missing parts count as 0.
  function versionPart(text) {
    const m = /^\d+/.exec(text || '');
    return m ? Number(m[0]) : 0;
  }

  function compareVersions(a, b) {
    const pa = String(a == null ? '' : a).split('.');
    const pb = String(b == null ? '' : b).split('.');
    const n = Math.max(pa.length, pb.length);
    for (let i = 0; i < n; i++) {
      const x = versionPart(pa[i]);
      const y = versionPart(pb[i]);
      if (x !== y) return x < y ? -1 : 1;
    }
    return 0;
  }

  // Per format the location with the highest version; formats in order of first appearance.
  function shownLocations(p) {
    const locs = (p && Array.isArray(p.locations)) ? p.locations : [];
    const order = [];
    const best = new Map();
    locs.forEach(function (loc) {
      if (!loc || typeof loc !== 'object') return;
      const f = String(loc.format || '');
      if (!best.has(f)) { order.push(f); best.set(f, loc); return; }
      if (compareVersions(loc.version, best.get(f).version) > 0) best.set(f, loc);
    });
    return order.map(function (f) { return best.get(f); });
  }

  function jobRunningFor(id) { return !!(job && job.running && job.product === id); }

  function makeJob(product, fields) {
    const j = {
      stage: 'idle', running: false, product: product, version: '', file: '', received: 0, total: 0,
      fraction: -1, attempt: 1, message: '', error: '', delivered: '', exitCode: -1
    };
    for (const k in fields) j[k] = fields[k];
    return j;
  }

  function mb(bytes) { return (Number(bytes) / 1048576).toFixed(1); }

  function jobText(j) {
    if (!j) return '';
    switch (j.stage) {
      case 'downloading': {
        let t = 'Downloading';
        const fraction = Number(j.fraction);
        if (fraction >= 0) t += ' · ' + Math.round(Math.min(1, fraction) * 100) + '%';
        if (Number(j.total) > 0) t += ' · ' + mb(j.received || 0) + '/' + mb(j.total) + ' MB';
        if (Number(j.attempt) > 1) t += ' · try ' + j.attempt;
        return t;
      }
      case 'verifying': return 'Checking the download';
      case 'checking': return 'Checking the signature';
      case 'installing': return 'Installer is running';
      case 'cancelled': return 'Cancelled';
      case 'failed': return String(j.error || j.message || 'Failed');
      default: return j.message ? String(j.message) : '';
    }
  }

  function metaFor(p, withJob) {
    if (!p) return { text: '', warn: false };
    if (withJob && job && job.product === p.id) return { text: jobText(job), warn: job.stage === 'failed' };
    if (withJob && refused && refused.id === p.id) return { text: refused.text, warn: true };
    if (p.orphan) return { text: 'Installed, not in catalog', warn: false };
    return { text: p.tagline ? String(p.tagline) : '', warn: false };
  }

  function latestLabel(p) {
    if (!p.latest) return '';
    return String(p.latest) + (p.latestChannel === 'beta' ? ' beta' : '');
  }

  // --- actions ----------------------------------------------------------------------

  function actionFor(p) {
    if (jobRunningFor(p.id)) return { label: 'Cancel', variant: '', kind: 'cancel' };
    if (!p.installed && p.latest) return { label: 'Install', variant: 'go', kind: 'install' };
    if (!p.installed) return { label: 'Learn more ↗', variant: 'out', kind: 'landing' };
    if (p.update) return { label: 'Update', variant: 'go', kind: 'install' };
    return null;
  }

  function act(kind, p) {
    const id = p.id;
    if (kind === 'install' || kind === 'download') {
      return call(kind === 'install' ? 'startInstall' : 'startDownload', id).then(function (ans) {
        if (!ans || ans.ok !== true) {
          const text = (ans && ans.error) ? String(ans.error) : 'Could not start';
          if (job && job.running && job.product !== id) {
            const mark = { id: id, text: text };
            refused = mark;
            render();
            setTimeout(function () { if (refused === mark) { refused = null; render(); } }, SHOW_MS);
            return;
          }
          const failed = makeJob(id, { stage: 'failed', error: text });
          job = failed;
          render();
          setTimeout(function () { if (job === failed) { job = null; render(); } }, SHOW_MS);
          return;
        }
        if (refused && refused.id === id) refused = null;
        job = makeJob(id, {
          stage: 'downloading', running: true, version: ans.version ? String(ans.version) : '',
          fraction: -1, received: 0, total: 0, attempt: 1
        });
        render();
        startPolling();
      });
    }
    if (kind === 'cancel') return call('cancelInstall', id);
    if (kind === 'landing') {
      const url = p.landingUrl || p.shopUrl;
      return url ? call('openUrl', String(url)) : Promise.resolve();
    }
    return Promise.resolve();
  }

  function cardAct(kind, p) {
    const id = p.id;
    if (kind === 'uninstall') {
      return call('uninstallPlan', id).then(function (plan) {
        if (picked !== id) return;
        if (!plan || typeof plan !== 'object' || !(Number(plan.count) > 0)) {
          askRemove = null;
          removePlan = null;
          cardMsg = { id: id, text: 'Nothing to remove', warn: true };
        } else {
          removePlan = plan;
          askRemove = id;
        }
        render();
      });
    }
    if (kind === 'keep') {
      askRemove = null;
      removePlan = null;
      render();
      return Promise.resolve();
    }
    if (kind === 'remove') {
      askRemove = null;
      removePlan = null;
      cardMsg = { id: id, text: 'Removing…', warn: false };
      render();
      return call('uninstallProduct', id).then(function (res) {
        if (res && typeof res === 'object')
          cardMsg = { id: id, text: String(res.message || ''), warn: res.ok !== true };
        else
          cardMsg = { id: id, text: 'Could not remove', warn: true };
        render();
        return refresh();
      });
    }
    return Promise.resolve();
  }

  // --- polling ----------------------------------------------------------------------

  function startPolling() {
    if (pollTimer) return;
    let inFlight = false;
    const timer = setInterval(function () {
      if (inFlight) return;
      inFlight = true;
      call('getInstallState').then(function (j) {
        inFlight = false;
        if (pollTimer !== timer) return;
        if (!j || typeof j !== 'object') return;
        job = j;
        if (j.running) { paintProgress(); return; }
        clearInterval(timer);
        pollTimer = null;
        return jobEnded(j);
      });
    }, POLL_MS);
    pollTimer = timer;
  }

  function jobEnded(j) {
    return refresh().then(function () {
      if (job !== j) return;
      let shown = j;
      const p = productById(j.product);
      if (j.stage === 'done' && !j.delivered && p && !(p.installed && !p.update)) {
        shown = makeJob(j.product, j);
        shown.stage = 'failed';
        shown.error = NOT_COMPLETED;
        job = shown;
      }
      if (shown.stage === 'failed' && !shown.delivered && shown.product !== MANAGER) {
        failedInstall.add(shown.product);
        if (picked !== shown.product) {
          picked = shown.product;
          askRemove = null;
          removePlan = null;
        }
      }
      render();
      setTimeout(function () {
        if (job === shown) { job = null; render(); }
      }, shown.stage === 'failed' ? SHOW_FAILED_MS : SHOW_MS);
    });
  }

  function rowFor(id) {
    const rows = document.querySelectorAll('#list .row');
    for (let i = 0; i < rows.length; i++) if (rows[i].dataset.id === id) return rows[i];
    return null;
  }

  function paintProgress() {
    if (!job) return;
    if (job.product === MANAGER) {
      if (typeof F.paintAppUpdate === 'function') {
        try { F.paintAppUpdate(state, job); } catch (e) { /* the header button is not vital */ }
      }
      return;
    }
    const row = rowFor(job.product);
    if (!row) return;
    const line = row.querySelector('.st');
    const text = jobText(job);
    if (line) {
      if (line.textContent !== text) line.textContent = text;
      line.classList.toggle('warn', job.stage === 'failed');
    }
    row.classList.toggle('busy', !!job.running);
    const f = Number(job.fraction);
    row.style.setProperty('--frac', String(f > 0 ? Math.min(1, f) : 0));
  }

  // --- state ------------------------------------------------------------------------

  function refresh() {
    const seq = ++refreshSeq;
    return call('getState').then(function (s) {
      // An answer overtaken by a later one is dropped: the later one is newer.
      if (s && typeof s === 'object' && Array.isArray(s.products) && seq > appliedSeq) {
        appliedSeq = seq;
        state = s;
      }
      failedInstall.forEach(function (id) {
        const p = productById(id);
        if (!p || (p.installed && !p.update)) failedInstall.delete(id);
      });
      render();
    });
  }

  // --- rendering --------------------------------------------------------------------

  function thumb(p) {
    const empty = function () { return el('div', 'thumb empty'); };
    if (!p.mascot) return empty();
    const img = el('img', 'thumb');
    img.alt = '';
    img.draggable = false;
    img.width = 34;
    img.height = 34;
    img.addEventListener('error', function () {
      if (img.parentNode) img.parentNode.replaceChild(empty(), img);
    });
    img.src = String(p.mascot);
    return img;
  }

  function row(p) {
    const r = el('div', 'row' + (p.id === picked ? ' on' : ''));
    r.dataset.id = p.id;
    r.addEventListener('click', function () { selectProduct(p.id); });
    r.appendChild(thumb(p));

    const who = el('div', 'who');
    who.appendChild(el('div', 'nm', nameOf(p)));
    const meta = metaFor(p, true);
    who.appendChild(el('div', 'st' + (meta.warn ? ' warn' : ''), meta.text));
    r.appendChild(who);

    const version = p.installed ? (p.installedVersion || '') : latestLabel(p);
    r.appendChild(el('div', 'ver', version));

    const cell = el('div', 'act');
    const a = actionFor(p);
    if (a) cell.appendChild(button(a.label, a.variant, function () { act(a.kind, p); }));
    else cell.appendChild(el('span', 'utd', 'Up to date'));
    r.appendChild(cell);

    const pos = el('div', 'pos');
    pos.appendChild(el('i'));
    r.appendChild(pos);
    return r;
  }

  function card(p) {
    const c = el('div', 'card');
    const box = el('div', 'box');
    c.appendChild(box);

    const head = el('div', 'ch');
    head.appendChild(el('div', 'ct', 'Details'));
    const kick = [];
    if (p.installed && p.installedVersion) kick.push('installed ' + p.installedVersion);
    kick.push(p.latest ? 'latest ' + latestLabel(p) : 'no release yet');
    head.appendChild(el('div', 'ck', kick.join(' · ')));
    box.appendChild(head);

    const body = el('div', 'cb');
    const locs = shownLocations(p);
    locs.forEach(function (loc, i) {
      const line = el('div', 'loc');
      line.appendChild(el('span', 'n', (i < 9 ? '0' : '') + (i + 1)));
      line.appendChild(el('span', 'ln', String(loc.format || '') + ' · ' + String(loc.scope || '')));
      line.appendChild(el('span', 'lv', loc.version || ''));
      body.appendChild(line);
    });
    if (!locs.length) {
      // An installed product without locations (one the catalog does not list) is
      // still installed; the line must not claim otherwise.
      const line = el('div', 'loc dim');
      line.appendChild(el('span', 'n', ''));
      line.appendChild(el('span', 'ln', p.tagline || (p.installed ? 'Installed' : 'Not installed')));
      body.appendChild(line);
    }
    box.appendChild(body);

    if (cardMsg && cardMsg.id === p.id)
      box.appendChild(el('div', 'cmsg' + (cardMsg.warn ? ' warn' : ''), cardMsg.text));

    if (askRemove === p.id) {
      const ask = el('div', 'ask');
      ask.appendChild(el('div', 'q', 'Remove ' + nameOf(p) + ' from this Mac?'));
      if (removePlan && removePlan.needsPassword) ask.appendChild(el('div', 'note', 'macOS asks for your password'));
      const btns = el('div', 'btns');
      btns.appendChild(button('Keep it', '', function () { cardAct('keep', p); }));
      btns.appendChild(button('Remove', 'risk', function () { cardAct('remove', p); }));
      ask.appendChild(btns);
      box.appendChild(ask);
      return c;
    }

    const bar = el('div', 'cbar');
    const busy = jobRunningFor(p.id);
    if (!busy) {
      if (!p.installed && p.latest) {
        bar.appendChild(button('Install', 'go', function () { act('install', p); }));
        bar.appendChild(button('Download', '', function () { act('download', p); }));
      }
      if (p.installed && p.update && p.latest && failedInstall.has(p.id))
        bar.appendChild(button('Download', 'go', function () { act('download', p); }));
      if (p.installed)
        bar.appendChild(button('Uninstall', 'risk', function () { cardAct('uninstall', p); }));
    }
    if (!p.installed && (p.landingUrl || p.shopUrl))
      bar.appendChild(button('Learn more ↗', 'out', function () { act('landing', p); }));
    if (bar.childNodes.length) box.appendChild(bar);
    return c;
  }

  // Scrolls the list by the least amount that shows the whole card (its row first
  // when both do not fit).
  function revealCard(wrap) {
    const area = wrap.closest('.scroll');
    if (!area) return;
    const a = area.getBoundingClientRect();
    const rowEl = wrap.previousElementSibling;
    const top = (rowEl || wrap).getBoundingClientRect().top;
    const bottom = wrap.getBoundingClientRect().bottom;
    let delta = 0;
    if (bottom > a.bottom) delta = bottom - a.bottom;
    if (top - delta < a.top) delta = top - a.top;
    if (Math.abs(delta) >= 1) area.scrollBy({ top: delta, behavior: 'smooth' });
  }

  function cardWrap(p) {
    const wrap = el('div', 'cardwrap');
    const clip = el('div', 'clip');
    clip.appendChild(card(p));
    wrap.appendChild(clip);
    if (cardOpenFor === p.id) {
      wrap.classList.add('open');
      return wrap;
    }
    cardOpenFor = p.id;
    let done = false;
    const settle = function () {
      if (done) return;
      done = true;
      if (wrap.isConnected) revealCard(wrap);
    };
    wrap.addEventListener('transitionend', function (ev) { if (ev.target === wrap) settle(); });
    setTimeout(settle, 320);
    requestAnimationFrame(function () {
      requestAnimationFrame(function () { wrap.classList.add('open'); });
    });
    return wrap;
  }

  function render() {
    const list = document.getElementById('list');
    if (!list) return;
    const oldScroll = list.querySelector('.scroll');
    const scrollTop = oldScroll ? oldScroll.scrollTop : 0;
    while (list.firstChild) list.removeChild(list.firstChild);

    const all = products();
    if (picked != null && !productById(picked)) {
      picked = null;
      askRemove = null;
      removePlan = null;
    }
    const sel = productById(picked);
    if (!sel) cardOpenFor = null;

    const head = el('div', 'lhead');
    head.appendChild(el('span', 'sq'));
    head.appendChild(el('span', 'lt', 'Plugins'));
    head.appendChild(el('span', 'count ml', all.length === 1 ? '1 product' : all.length + ' products'));
    list.appendChild(head);

    const big = el('div', 'big');
    if (sel) {
      big.appendChild(el('span', 'bn', nameOf(sel)));
      const formats = shownLocations(sel).map(function (l) { return String(l.format || ''); }).join(' · ');
      big.appendChild(el('span', 'bs', sel.tagline || formats));
    } else {
      big.appendChild(el('span', 'bn', '—'));
      big.appendChild(el('span', 'bs', 'select a product'));
    }
    list.appendChild(big);

    const area = el('div', 'scroll');
    list.appendChild(area);

    if (!all.length) {
      const box = el('div', 'empty-list');
      if (state.catalogReady) {
        box.appendChild(el('div', '', 'Nothing found'));
        box.appendChild(el('div', '', 'Neither installed nor offered.'));
      } else {
        box.appendChild(el('div', '', 'No catalog connected'));
        box.appendChild(el('div', '', 'Press Refresh to load the catalogue.'));
      }
      area.appendChild(box);
    } else {
      const groups = [
        ['Installed', all.filter(function (p) { return p && p.installed; })],
        ['Available', all.filter(function (p) { return p && !p.installed; })]
      ];
      groups.forEach(function (g) {
        if (!g[1].length) return;
        area.appendChild(el('div', 'gtitle', g[0]));
        g[1].forEach(function (p) {
          area.appendChild(row(p));
          if (p.id === picked) area.appendChild(cardWrap(p));
        });
      });
      area.scrollTop = scrollTop;
    }

    paintProgress();
    const hooks = F.renderHooks.slice();
    for (let i = 0; i < hooks.length; i++) {
      try { hooks[i](state); } catch (e) { /* a failing hook must not stop the page */ }
    }
  }

  // --- selection --------------------------------------------------------------------

  let closing = null;

  function selectProduct(id) {
    const next = (picked === id) ? null : id;
    picked = next;
    askRemove = null;
    removePlan = null;
    if (cardMsg && cardMsg.id !== next) cardMsg = null;

    const rows = document.querySelectorAll('#list .row');
    for (let i = 0; i < rows.length; i++) rows[i].classList.toggle('on', rows[i].dataset.id === next);
    if (F.mascots && typeof F.mascots.markSelected === 'function') {
      try { F.mascots.markSelected(next); } catch (e) { /* the scene is not vital */ }
    }

    const open = document.querySelector('#list .cardwrap.open');
    if (!open) { render(); return; }
    const mark = {};
    closing = mark;
    let done = false;
    const finish = function () {
      if (done) return;
      done = true;
      if (closing === mark) closing = null;
      cardOpenFor = null;
      render();
    };
    open.addEventListener('transitionend', function (ev) { if (ev.target === open) finish(); });
    setTimeout(finish, 300);
    open.classList.remove('open');
  }

  // --- start ------------------------------------------------------------------------

  function onFocus() {
    refresh().then(function () {
      if (!job || job.stage !== 'done' || !job.delivered) return;
      const p = productById(job.product);
      if (p && p.installed && !p.update) { job = null; render(); }
    });
  }

  function fillShimmer() {
    const s = document.getElementById('shimmer');
    if (s) s.textContent = '0F5A2D8B1C7E4A93'.repeat(90);
  }

  let started = false;

  function start() {
    if (started) return Promise.resolve();
    started = true;
    if (window.DisplayKit) window.DisplayKit.init({ designW: 560, sizes: ['S'], defaultSize: 'S' });
    if (F.scene && typeof F.scene.seed === 'function') {
      try { F.scene.seed(); } catch (e) { /* the scene is not vital */ }
    }
    return call('getPluginVersion').then(function (v) {
      const ver = document.getElementById('ver');
      if (ver && v != null && v !== '') ver.textContent = 'v' + v;
      fillShimmer();
      window.addEventListener('focus', onFocus);
      window.__tarvoBootOk = true;
      return refresh();
    }).then(function () {
      window.__tarvoUiAlive = true;
      requestAnimationFrame(function () {
        requestAnimationFrame(function () { document.documentElement.classList.remove('boot'); });
      });
      return call('refreshCatalog');
    }).then(function () {
      return refresh();
    });
  }

  F.call = call;
  F.refresh = refresh;
  F.render = render;
  F.selectProduct = selectProduct;
  F.metaFor = metaFor;
  F.jobText = jobText;
  F.startPolling = startPolling;
  F.compareVersions = compareVersions;
  F.shownLocations = shownLocations;
  F.setJob = function (j) { job = j || null; };
  F.start = start;
  Object.defineProperty(F, 'state', { configurable: true, enumerable: true, get: function () { return state; } });
  Object.defineProperty(F, 'job', {
    configurable: true, enumerable: true,
    get: function () { return job; }, set: function (j) { job = j || null; }
  });
  Object.defineProperty(F, 'picked', { configurable: true, enumerable: true, get: function () { return picked; } });
  Object.defineProperty(F, 'failedInstall', { configurable: true, enumerable: true, get: function () { return failedInstall; } });

  // Runs after the rest of the bundle (a microtask after this script's evaluation).
  Promise.resolve().then(start);
})();
