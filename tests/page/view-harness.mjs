// Set-up for the page shell, display kit and main view tests: the built page served
// over loopback (the shared server from scene-harness), headless Chromium, and a
// scripted native bridge whose answers a test sets per function and whose calls it
// reads back. Unlike scene-harness's openPage, opening does not insist on a finished
// boot, so the boot gate itself can be tested.
import { startServer, launch, artifactDir, until } from './scene-harness.mjs';

export { startServer, launch, artifactDir, until };

export const idleJob = {
  stage: 'idle', running: false, product: '', version: '', file: '', received: 0, total: 0,
  fraction: -1, attempt: 1, message: '', error: '', delivered: '', exitCode: -1
};

export function job(product, fields = {}) {
  return { ...idleJob, product, version: '2.0.0', ...fields };
}

// A catalog entry as the native state document has it.
export function product(id, extra = {}) {
  return {
    id, name: id.toUpperCase().replace(/-/g, ' '), tagline: 'Tagline of ' + id,
    mascot: '', mascotModule: '', mascotMotion: 'walk',
    landingUrl: 'https://example.invalid/' + id, shopUrl: 'https://example.invalid/shop/' + id,
    latest: '2.0.0', latestChannel: 'stable',
    installed: false, installedVersion: null, duplicate: false, conflict: false, update: false, locations: [],
    ...extra
  };
}

export function loc(format, scope, version) {
  return { format, scope, version, path: `/Library/Audio/Plug-Ins/${format}/x.${format === 'AU' ? 'component' : 'vst3'}` };
}

export function state(products = [], extra = {}) {
  return {
    products,
    appUpdate: { state: 'upToDate', version: '', released: '', size: 0, busy: false, ready: false, changelog: [] },
    notice: null, catalogReady: products.length > 0, fetchedAt: '2026-12-09T08:15:00Z', appVersion: '1.0.0',
    buildStamp: 'Dec 10 2026 12:00:00', downloadsUrl: 'https://example.invalid/downloads#installers',
    supportMail: 'help@example.invalid', ...extra
  };
}

// Three products: one installed with an update, one installed and current, one available.
export function threeProducts() {
  return [
    product('grumbot-2', { name: 'Grumbot 2', installed: true, installedVersion: '1.4.0', update: true,
      locations: [loc('VST3', 'System', '1.4.0'), loc('AU', 'System', '1.4.0')] }),
    product('grumbot-lite', { name: 'Grumbot Lite', installed: true, installedVersion: '2.0.0', latest: '2.0.0',
      locations: [loc('VST3', 'User', '2.0.0')] }),
    product('hissmoth', { name: 'Hissmoth', latest: '0.9.1', latestChannel: 'beta' })
  ];
}

// Opens the page with a scripted bridge. `bridge.state` answers getState and
// `bridge.install` answers getInstallState; `handlers[name]` (node functions, may
// return promises) override any function; every call lands in `bridge.calls`.
export async function openView(browser, server, {
  st = state(), handlers = {}, viewport = { width: 560, height: 640 }, deviceScaleFactor = 1,
  reducedMotion = false, waitAlive = true, init = null, route = null
} = {}) {
  const context = await browser.newContext({ viewport, deviceScaleFactor, reducedMotion: reducedMotion ? 'reduce' : 'no-preference' });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  const bridge = {
    state: st,
    install: idleJob,
    calls: [],
    handlers: {
      getState: () => bridge.state,
      getInstallState: () => bridge.install,
      getPluginVersion: () => '1.0.0',
      getUiSettings: () => ({ uiScale: 1, theme: 'white', contrast: 'high' }),
      setEditorSize: () => undefined,
      refreshCatalog: () => ({ ok: true, fromCache: false, message: 'Catalog updated' }),
      startInstall: () => ({ ok: true, version: '2.0.0' }),
      startDownload: () => ({ ok: true, version: '2.0.0' }),
      cancelInstall: () => ({ ok: true }),
      openUrl: () => true,
      ...handlers
    },
    callsOf(name) { return bridge.calls.filter((c) => c.name === name); }
  };
  await page.exposeFunction('__viewBridge', async (name, args) => {
    bridge.calls.push({ name, args });
    const h = bridge.handlers[name];
    if (!h) return null;
    const answer = await h(args);
    if (answer instanceof Error) throw answer;
    return answer === undefined ? null : answer;
  });
  await page.addInitScript(() => {
    window.__tarvoTestBridge = { call: (name, args) => window.__viewBridge(name, args) };
  });
  if (init) await page.addInitScript(init);
  if (route) await route(page);
  await page.goto(server.url);
  if (waitAlive) await page.waitForFunction(() => window.__tarvoUiAlive === true, null, { timeout: 10000 });
  return { page, context, bridge, errors };
}

// The list as the user sees it.
export function readList(page) {
  return page.evaluate(() => {
    const q = (root, sel) => root.querySelector(sel);
    const t = (root, sel) => { const e = q(root, sel); return e ? e.textContent : null; };
    const list = document.getElementById('list');
    const items = [];
    for (const node of list.querySelectorAll('.scroll > *')) {
      if (node.classList.contains('gtitle')) items.push({ group: node.textContent });
      else if (node.classList.contains('row')) {
        const btn = q(node, '.act button');
        items.push({
          id: node.dataset.id, name: t(node, '.nm'), status: t(node, '.st'),
          warn: q(node, '.st').classList.contains('warn'), version: t(node, '.ver'),
          action: btn ? btn.textContent : t(node, '.utd'),
          variant: btn ? btn.className.replace('pbtn', '').trim() : null,
          on: node.classList.contains('on'), busy: node.classList.contains('busy'),
          frac: node.style.getPropertyValue('--frac')
        });
      } else if (node.classList.contains('cardwrap')) {
        const c = q(node, '.card');
        items.push({
          card: {
            open: node.classList.contains('open'), kicker: t(c, '.ck'),
            lines: Array.from(c.querySelectorAll('.loc')).map((l) => Array.from(l.children).map((s) => s.textContent)),
            message: t(c, '.cmsg'), messageWarn: !!q(c, '.cmsg.warn'),
            question: t(c, '.ask .q'), note: t(c, '.ask .note'),
            buttons: Array.from(c.querySelectorAll('.cbar button, .ask button'))
              .map((b) => b.textContent + (b.className.replace('pbtn', '').trim() ? ':' + b.className.replace('pbtn', '').trim() : ''))
          }
        });
      } else items.push({ empty: Array.from(node.children).map((c) => c.textContent) });
    }
    return {
      count: t(list, '.lhead .count'), big: [t(list, '.big .bn'), t(list, '.big .bs')], items,
      rows: items.filter((i) => i.id), card: (items.find((i) => i.card) || {}).card || null
    };
  });
}

export async function rowOf(page, id) {
  return (await readList(page)).rows.find((r) => r.id === id);
}

// Clicks a button by its text inside the row (or its card) of a product.
export async function press(page, id, label, { inCard = false } = {}) {
  const row = page.locator(`#list .row[data-id="${id}"]`);
  const scope = inCard ? row.locator('xpath=following-sibling::div[contains(@class,"cardwrap")][1]') : row;
  await scope.locator('button', { hasText: label }).first().click();
}

export async function select(page, id) {
  await page.locator(`#list .row[data-id="${id}"] .nm`).click();
}

export async function cardSettled(page) {
  await page.waitForFunction(() => {
    const w = document.querySelector('#list .cardwrap');
    return w && w.classList.contains('open') && w.getBoundingClientRect().height > 20 &&
      Math.abs(w.getBoundingClientRect().height - w.firstElementChild.scrollHeight) < 1;
  }, null, { timeout: 3000 });
}
