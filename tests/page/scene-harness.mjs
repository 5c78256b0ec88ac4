// Shared set-up for the display, mascot and overlay page tests: a loopback HTTP
// server for the built page files, the sample mascots and in-memory banners; headless
// Chromium; and a scripted native bridge whose answers each test sets and whose
// calls it can read back.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const mascotDir = path.resolve(here, '../support/fixtures/mascots');

let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch (e) {
  throw new Error('playwright-core is missing: run `npm ci` in tests/page first (' + e.message + ')');
}

export function pageDir() {
  const dir = process.env.FERNHALL_PAGE_DIR;
  if (!dir || !fs.existsSync(path.join(dir, 'index.html')) || !fs.existsSync(path.join(dir, 'bundle.js')))
    throw new Error('FERNHALL_PAGE_DIR must name the built page folder (index.html, bundle.js); build the target fernhall_page');
  return dir;
}

export function artifactDir() {
  const dir = process.env.FERNHALL_ARTIFACT_DIR || path.resolve(pageDir(), '..', 'artifacts', 'page');
  fs.mkdirSync(dir, { recursive: true });
  return dir;
}

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript', '.svg': 'image/svg+xml' };

// A banner picture of one colour with a label, large enough to look like a real one.
export function bannerSvg(label, colour) {
  return '<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 520 124" preserveAspectRatio="none">' +
    `<rect width="520" height="124" fill="${colour}"/>` +
    '<rect x="12" y="12" width="496" height="100" fill="none" stroke="#fff" stroke-width="2" stroke-dasharray="4 4"/>' +
    `<text x="260" y="70" font-family="monospace" font-size="22" fill="#fff" text-anchor="middle">${label}</text></svg>`;
}

// Serves "/" and the page files, "/mascots/<name>" from the fixtures and
// "/banners/<name>" from `banners` (name -> SVG text). Counts every request by path.
// Any address may carry "?delay=ms".
export async function startServer({ banners = {} } = {}) {
  const root = pageDir();
  const hits = new Map();
  const server = http.createServer(async (req, res) => {
    const url = new URL(req.url, 'http://127.0.0.1');
    // "?delay=ms" holds the answer back, as a slow disk or a busy host would.
    const delay = Number(url.searchParams.get('delay')) || 0;
    if (delay > 0) await new Promise((r) => setTimeout(r, delay));
    const p = url.pathname;
    hits.set(p, (hits.get(p) || 0) + 1);
    let body = null;
    let type = 'application/octet-stream';
    const name = path.basename(p);
    if (p.startsWith('/banners/') && banners[name] != null) {
      body = banners[name];
      type = 'image/svg+xml';
    } else {
      let file = null;
      if (p === '/' || p === '/index.html') file = path.join(root, 'index.html');
      else if (p === '/bundle.js' || p === '/tarvo-logo.svg') file = path.join(root, p.slice(1));
      else if (p.startsWith('/mascots/') && p.split('/').length === 3) file = path.join(mascotDir, name);
      if (file && fs.existsSync(file)) {
        body = fs.readFileSync(file);
        type = TYPES[path.extname(file)] || type;
      }
    }
    if (body == null) {
      res.writeHead(404);
      res.end();
      return;
    }
    res.writeHead(200, { 'Content-Type': type, 'Cache-Control': 'no-store' });
    res.end(body);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  return {
    url: `http://127.0.0.1:${port}/`,
    hits,
    banners,
    close: () => new Promise((resolve) => { server.closeAllConnections?.(); server.close(resolve); })
  };
}

export async function launch() {
  return chromium.launch({
    executablePath: process.env.FERNHALL_CHROMIUM || '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync']
  });
}

// Three products with modules: two walkers and a flyer.
export function product(id, extra = {}) {
  const names = { 'grumbot-2': 'Grumbot 2', 'grumbot-lite': 'Grumbot Lite', hissmoth: 'Hissmoth' };
  return {
    id, name: names[id] || id, tagline: 'Sample tagline of ' + id,
    installed: false, installedVersion: null, latest: '1.0.0', latestChannel: 'stable', update: false,
    locations: [], mascot: `/mascots/${id}.svg?v=1`, mascotModule: `/mascots/${id}.mjs?v=1`,
    mascotMotion: id === 'hissmoth' ? 'fly' : 'walk', landingUrl: 'https://example.invalid/' + id, shopUrl: '',
    ...extra
  };
}

export function baseState(extra = {}) {
  return {
    products: [product('grumbot-2'), product('grumbot-lite'), product('hissmoth')],
    appUpdate: { state: 'upToDate', version: '', released: '', size: 0, busy: false, ready: false, changelog: [] },
    notice: null,
    catalogReady: true,
    fetchedAt: '2026-12-09T08:15:00Z',
    appVersion: '1.0.0',
    buildStamp: 'Dec 10 2026 12:00:00',
    downloadsUrl: 'https://example.invalid/downloads#installers',
    supportMail: 'help@example.invalid',
    ...extra
  };
}

export const idleJob = { stage: 'idle', running: false, product: '', version: '', file: '', received: 0, total: 0,
  fraction: -1, attempt: 1, message: '', error: '', delivered: '', exitCode: -1 };

// Opens the page with a scripted bridge. `bridge.state` answers getState,
// `bridge.installState` answers getInstallState, `bridge.handlers[name]` overrides any
// function (it may return a promise); every call is recorded in `bridge.calls`.
export async function openPage(browser, server, { state = baseState(), handlers = {}, reducedMotion = false,
  theme = 'white', viewport = { width: 560, height: 640 } } = {}) {
  const context = await browser.newContext({ viewport, reducedMotion: reducedMotion ? 'reduce' : 'no-preference' });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  const bridge = {
    state,
    installState: idleJob,
    calls: [],
    handlers: {
      getState: () => bridge.state,
      getInstallState: () => bridge.installState,
      getPluginVersion: () => '1.0.0',
      getUiSettings: () => ({ uiScale: 1, theme, contrast: 'high' }),
      setEditorSize: () => undefined,
      refreshCatalog: () => ({ ok: true, fromCache: false, message: '' }),
      dismissNotice: () => true,
      ...handlers
    },
    callsOf(name) { return bridge.calls.filter((c) => c.name === name); }
  };
  await page.exposeFunction('__sceneBridge', async (name, args) => {
    bridge.calls.push({ name, args });
    const h = bridge.handlers[name];
    const answer = h ? await h(args) : { ok: true };
    return answer === undefined ? null : answer;
  });
  await page.addInitScript(() => {
    window.__tarvoTestBridge = { call: (name, args) => window.__sceneBridge(name, args) };
  });
  await page.goto(server.url);
  await page.waitForFunction(() => window.__tarvoUiAlive === true, null, { timeout: 10000 });
  return { page, context, bridge, errors };
}

// Waits until `fn` (run in node) returns a truthy value.
export async function until(fn, { timeout = 5000, step = 25 } = {}) {
  const end = Date.now() + timeout;
  for (;;) {
    const v = await fn();
    if (v) return v;
    if (Date.now() > end) throw new Error('condition not met in ' + timeout + ' ms: ' + fn.toString());
    await new Promise((r) => setTimeout(r, step));
  }
}

// Makes the page fetch and render the state again, the way a focus would.
export async function rerender(page) {
  await page.evaluate(() => window.Fernhall.refresh());
}
