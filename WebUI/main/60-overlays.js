// Around the product list: the notice banner over the display, the manager's own
// update (header button and the box over the display), the help panel and the
// footer (version, catalogue date, Refresh).
//
// Offers on window.Fernhall.overlays:
//   paintNotice(state), paintAppUpdate(state), paintUpd(state), paintHint(state)
//   jobShort(job), managerJobRunning(), managerJobFailed()
//   openHelp(), closeHelp()
// The main view's job is read from Fernhall.job (or taken from paintAppUpdate's
// second argument); a failed manager job made here is written back through
// Fernhall.setJob(job) or Fernhall.job.
(function () {
  'use strict';
  const F = (window.Fernhall = window.Fernhall || {});
  if (!Array.isArray(F.renderHooks)) F.renderHooks = [];

  const MANAGER = 'tarvo-manager';
  const $ = function (id) { return document.getElementById(id); };

  let shownImage = null;
  let updOpen = false;
  let updApplying = false;
  let localJob = null;
  let ownPoll = null;

  // --- bridge to the main view -------------------------------------------------

  function state() { return F.state || {}; }

  function call(name) {
    const args = Array.prototype.slice.call(arguments, 1);
    if (typeof F.call === 'function') {
      return Promise.resolve().then(function () { return F.call.apply(F, [name].concat(args)); })
        .catch(function () { return undefined; });
    }
    try {
      return window.getNativeFunction(name).apply(null, args).catch(function () { return undefined; });
    } catch (e) {
      return Promise.resolve(undefined);
    }
  }

  function refresh() {
    if (typeof F.refresh === 'function') return Promise.resolve(F.refresh()).catch(function () {});
    return Promise.resolve();
  }

  function job() {
    if ('job' in F) return F.job || null;
    return localJob;
  }

  function setJob(j) {
    if (typeof F.setJob === 'function') F.setJob(j);
    else if ('job' in F) F.job = j;
    localJob = j;
  }

  function jobText(j) {
    if (typeof F.jobText === 'function') return String(F.jobText(j) || '');
    if (!j) return '';
    switch (j.stage) {
      case 'downloading': {
        let t = 'Downloading';
        if (j.fraction >= 0) t += ' · ' + Math.round(j.fraction * 100) + '%';
        if (j.total > 0) t += ' · ' + (j.received / 1048576).toFixed(1) + '/' + (j.total / 1048576).toFixed(1) + ' MB';
        if (j.attempt > 1) t += ' · try ' + j.attempt;
        return t;
      }
      case 'verifying': return 'Checking the download';
      case 'checking': return 'Checking the signature';
      case 'installing': return 'Installer is running';
      case 'cancelled': return 'Cancelled';
      case 'failed': return j.error || j.message || 'Failed';
      default: return j.message || '';
    }
  }

  // Follows the manager's job when the main view has no polling of its own.
  function startPolling() {
    if (typeof F.startPolling === 'function') { F.startPolling(); return; }
    if (ownPoll) return;
    ownPoll = setInterval(function () {
      call('getInstallState').then(function (j) {
        if (!j || !ownPoll) return;
        setJob(j);
        if (j.running) { paintAppUpdate(state()); return; }
        clearInterval(ownPoll);
        ownPoll = null;
        refresh().then(function () { paintAppUpdate(state()); });
      });
    }, 250);
  }

  function managerJobRunning() {
    const j = job();
    return !!(j && j.product === MANAGER && j.running);
  }

  function managerJobFailed() {
    const j = job();
    return !!(j && j.product === MANAGER && j.stage === 'failed');
  }

  function failManagerJob(error) {
    setJob({
      stage: 'failed', running: false, product: MANAGER, version: '', file: '',
      received: 0, total: 0, fraction: -1, attempt: 1, message: '', error: error,
      delivered: '', exitCode: -1
    });
  }

  function setText(node, text) {
    if (node && node.textContent !== text) node.textContent = text;
  }

  // --- notice banner -------------------------------------------------------------

  function paintNotice(st) {
    const banner = $('banner');
    const img = $('bannerImg');
    if (!banner || !img) return;
    const notice = st && st.notice;
    if (!notice || !notice.image) {
      banner.hidden = true;
      banner.classList.remove('link');
      shownImage = null;
      return;
    }
    if (notice.image !== shownImage) {
      shownImage = notice.image;
      img.src = notice.image;
    }
    banner.classList.toggle('link', !!notice.url);
    banner.hidden = false;
  }

  function wireNotice() {
    const banner = $('banner');
    const close = $('bannerX');
    const img = $('bannerImg');
    if (img) { img.draggable = false; img.alt = img.alt || ''; }
    if (banner) {
      banner.addEventListener('click', function () {
        const n = state().notice;
        if (n && n.url) call('openUrl', n.url);
      });
    }
    if (close) {
      close.addEventListener('click', function (ev) {
        ev.stopPropagation();
        const n = state().notice;
        if (!n) return;
        call('dismissNotice', n.id).then(refresh);
      });
    }
  }

  // --- manager update: header button and box --------------------------------------

  function jobShort(j) {
    if (!j) return '…';
    switch (j.stage) {
      case 'downloading': return j.fraction >= 0 ? Math.round(j.fraction * 100) + ' %' : 'Loading';
      case 'verifying':
      case 'checking': return 'Checking';
      case 'failed': return 'Failed';
      default: return '…';
    }
  }

  // `j`, when given, is the job the main view is showing (it passes the manager's
  // job here while it polls it).
  function paintAppUpdate(st, j) {
    st = st || state();
    if (j !== undefined && !('job' in F)) localJob = j;
    const btn = $('appUpd');
    if (!btn) return;
    const upd = st.appUpdate || {};
    const running = managerJobRunning();
    const offered = upd.state === 'available' || upd.state === 'required';
    if (!offered && !running) {
      btn.hidden = true;
      return;
    }
    btn.hidden = false;
    btn.classList.toggle('must', upd.state === 'required');
    btn.classList.toggle('busy', running);
    btn.disabled = running;
    const label = running ? jobShort(job()) : (upd.state === 'required' ? 'Update required' : 'New update available');
    setText(btn, label);
    paintUpd(st);
  }

  const READY_TEXT = 'Ready to install. The app closes, the macOS installer runs, and TARVO Fernhall comes back when it\'s done.';

  function updPhase(st) {
    const upd = (st || state()).appUpdate || {};
    const j = job();
    if (updApplying) return { phase: 'applying', text: 'Restarting · the macOS installer opens in a moment', progress: 1 };
    if (managerJobRunning()) {
      return { phase: 'running', text: jobText(j), progress: j.stage === 'downloading' ? Math.max(0, Number(j.fraction) || 0) : 1 };
    }
    if (managerJobFailed()) return { phase: 'failed', text: j.error || j.message || 'Update failed', progress: 0, warn: true };
    if (upd.ready) return { phase: 'ready', text: READY_TEXT, progress: 1 };
    return { phase: 'starting', text: 'Starting the download', progress: 0 };
  }

  function paintUpd(st) {
    st = st || state();
    const box = $('upd');
    if (!box) return;
    box.hidden = !updOpen;
    if (!updOpen) return;
    const upd = st.appUpdate || {};
    setText($('updTitle'), 'Update to ' + (upd.version || ''));
    const p = updPhase(st);
    box.setAttribute('data-phase', p.phase);
    const sub = $('updSub');
    setText(sub, p.text);
    if (sub) sub.classList.toggle('warn', !!p.warn);
    const bar = $('updBar');
    if (bar) bar.style.setProperty('--p', String(Math.min(1, Math.max(0, p.progress))));
    const go = $('updGo');
    if (go) { go.hidden = p.phase !== 'ready'; setText(go, 'Install and restart'); }
    const skip = $('updSkip');
    if (skip) {
      skip.hidden = p.phase === 'applying';
      setText(skip, p.phase === 'failed' ? 'Close' : p.phase === 'ready' ? 'Skip' : 'Cancel');
    }
  }

  function wireAppUpdate() {
    const btn = $('appUpd');
    if (btn) {
      btn.addEventListener('click', function () {
        updOpen = true;
        updApplying = false;
        paintUpd();
        const upd = state().appUpdate || {};
        if (upd.ready) return;
        call('startAppUpdate').then(function (ans) {
          if (!ans || !ans.ok) {
            failManagerJob((ans && ans.error) || 'Update failed');
            paintAppUpdate();
            return;
          }
          startPolling();
        });
      });
    }
    const skip = $('updSkip');
    if (skip) {
      skip.addEventListener('click', function () {
        const cancel = managerJobRunning() ? call('cancelInstall', MANAGER) : Promise.resolve();
        cancel.then(function () { return call('skipAppUpdate'); }).then(function () {
          updOpen = false;
          updApplying = false;
          paintUpd();
          return refresh();
        });
      });
    }
    const go = $('updGo');
    if (go) {
      go.addEventListener('click', function () {
        updApplying = true;
        paintUpd();
        call('applyAppUpdate').then(function (ans) {
          if (ans && ans.ok) return;
          updApplying = false;
          failManagerJob((ans && ans.error) || 'Could not start the installer');
          paintAppUpdate();
        });
      });
    }
  }

  // --- help panel -------------------------------------------------------------

  function osName() {
    const ua = (navigator.userAgentData && navigator.userAgentData.platform) || navigator.platform || navigator.userAgent || '';
    if (/mac/i.test(ua)) return 'MACOS';
    if (/win/i.test(ua)) return 'WINDOWS';
    if (/linux|x11/i.test(ua)) return 'LINUX';
    return String(ua).toUpperCase();
  }

  function ensureHelpMarkup() {
    let back = $('helpBackdrop');
    if (!back) {
      back = document.createElement('div');
      back.id = 'helpBackdrop';
      const host = document.querySelector('.plugin') || document.body;
      host.appendChild(back);
    }
    back.classList.add('lc-backdrop');
    if (back.querySelector('.lc-panel')) return back;
    back.innerHTML =
      '<div class="lc-panel" role="dialog" aria-modal="true" aria-labelledby="helpTitle">' +
        '<div class="lc-head">' +
          '<div class="lc-heads"><div class="lc-title" id="helpTitle">HELP</div>' +
          '<div class="ml">IF SOMETHING DOES NOT WORK</div></div>' +
          '<button type="button" class="lc-x" id="helpClose" aria-label="Close">×</button>' +
        '</div>' +
        '<div class="lc-body">' +
          '<p class="lc-text">Every plugin is also available as a single installer. Download it from our website and run it yourself.</p>' +
          '<div class="lc-btns"><button type="button" class="lc-btn primary" id="helpDownloads">OPEN THE DOWNLOAD PAGE ↗</button></div>' +
          '<p class="lc-text">Still stuck? Write to us and tell us what happened.</p>' +
          '<label class="lc-field"><span class="ml">SUPPORT</span>' +
          '<input id="helpMail" type="text" readonly spellcheck="false" autocomplete="off" autocorrect="off" autocapitalize="off"></label>' +
          '<div class="lc-btns"><button type="button" class="lc-btn" id="helpWrite">WRITE AN EMAIL</button></div>' +
        '</div>' +
        '<div class="lc-foot ml" id="helpFoot"></div>' +
      '</div>';
    return back;
  }

  function helpOpen() {
    const back = $('helpBackdrop');
    return !!(back && back.classList.contains('open'));
  }

  function openHelp() {
    const back = ensureHelpMarkup();
    const st = state();
    const mail = $('helpMail');
    if (mail) mail.value = st.supportMail ? String(st.supportMail) : '';
    setText($('helpFoot'), 'TARVO FERNHALL ' + (st.appVersion || '') + ' · ' + osName());
    back.hidden = false;
    back.classList.add('open');
  }

  function closeHelp() {
    const back = $('helpBackdrop');
    if (back) back.classList.remove('open');
  }

  function wireHelp() {
    const back = ensureHelpMarkup();
    const open = $('helpBtn');
    if (open) open.addEventListener('click', openHelp);
    $('helpClose').addEventListener('click', closeHelp);
    back.addEventListener('click', function (ev) { if (ev.target === back) closeHelp(); });
    document.addEventListener('keydown', function (ev) {
      if (ev.key === 'Escape' && helpOpen()) closeHelp();
    });
    $('helpDownloads').addEventListener('click', function () {
      const url = state().downloadsUrl;
      if (url) call('openUrl', url);
    });
    $('helpWrite').addEventListener('click', function () { call('contactSupport'); });
    const mail = $('helpMail');
    mail.addEventListener('focus', function () { mail.select(); });
    // A click would otherwise place the caret after the focus selected everything.
    mail.addEventListener('mouseup', function (ev) { ev.preventDefault(); });
  }

  // --- footer -------------------------------------------------------------------

  function paintHint(st) {
    st = st || state();
    const at = st.fetchedAt ? String(st.fetchedAt) : '';
    setText($('hint'), at ? 'Catalogue ' + at.slice(0, 10) : '');
  }

  function wireFooter() {
    call('getPluginVersion').then(function (v) {
      if (v != null && v !== '') setText($('ver'), 'v' + v);
    });
    const btn = $('refreshBtn');
    if (!btn) return;
    btn.addEventListener('click', function () {
      if (btn.disabled) return;
      btn.disabled = true;
      setText(btn, '…');
      call('refreshCatalog').then(function () {
        btn.disabled = false;
        setText(btn, 'Refresh');
        return refresh();
      });
    });
  }

  // --- wiring ---------------------------------------------------------------------

  // The display's overlays, completed where the markup lacks a piece.
  function child(parent, tag, id, cls) {
    let node = $(id);
    if (!node) {
      node = document.createElement(tag);
      node.id = id;
      if (cls) node.className = cls;
      parent.appendChild(node);
    }
    return node;
  }

  function ensureDisplayMarkup() {
    const d = $('display');
    if (!d) return;
    const banner = child(d, 'div', 'banner');
    if (!$('bannerImg')) banner.hidden = true;
    child(banner, 'img', 'bannerImg').alt = '';
    const x = child(banner, 'button', 'bannerX');
    x.type = 'button';
    x.setAttribute('aria-label', 'Close');
    const upd = child(d, 'div', 'upd');
    if (!upd.querySelector('.upd-panel')) {
      const panel = document.createElement('div');
      panel.className = 'upd-panel';
      while (upd.firstChild) panel.appendChild(upd.firstChild);
      upd.appendChild(panel);
      upd.hidden = true;
    }
    const panel = upd.querySelector('.upd-panel');
    child(panel, 'div', 'updTitle');
    child(panel, 'div', 'updSub');
    child(panel, 'div', 'updBar');
    let btns = panel.querySelector('.upd-btns');
    if (!btns) {
      btns = document.createElement('div');
      btns.className = 'upd-btns';
      panel.appendChild(btns);
    }
    const skip = child(btns, 'button', 'updSkip', 'pbtn');
    const go = child(btns, 'button', 'updGo', 'pbtn go');
    skip.type = go.type = 'button';
    // Keep the buttons together in the right-aligned row, Skip before the action.
    if (skip.parentNode !== btns) btns.appendChild(skip);
    if (go.parentNode !== btns) btns.appendChild(go);
    if (!skip.textContent) skip.textContent = 'Skip';
    if (!go.textContent) go.textContent = 'Install and restart';
  }

  function wireAll() {
    ensureDisplayMarkup();
    wireNotice();
    wireAppUpdate();
    wireHelp();
    wireFooter();
  }

  F.overlays = {
    paintNotice: paintNotice,
    paintAppUpdate: paintAppUpdate,
    paintUpd: paintUpd,
    paintHint: paintHint,
    jobShort: jobShort,
    managerJobRunning: managerJobRunning,
    managerJobFailed: managerJobFailed,
    openHelp: openHelp,
    closeHelp: closeHelp
  };
  F.paintNotice = paintNotice;
  F.paintAppUpdate = paintAppUpdate;
  F.paintHint = paintHint;

  F.renderHooks.push(function (st) {
    paintHint(st);
    paintAppUpdate(st);
    paintNotice(st);
  });

  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', wireAll);
  else wireAll();
})();
