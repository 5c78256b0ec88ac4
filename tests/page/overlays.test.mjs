// Notice banner, the manager's own update (header button and box), the help panel
// and the footer, in headless Chromium against the built page.
import { test, before, after, describe } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { startServer, launch, openPage, baseState, bannerSvg, idleJob, until, rerender, artifactDir } from './scene-harness.mjs';

let server;
let browser;
before(async () => {
  server = await startServer({ banners: {
    'spring.svg': bannerSvg('SPRING SALE · 30 % OFF', '#2b6f8f'),
    'winter.svg': bannerSvg('WINTER NOTES', '#6f2b5a')
  } });
  browser = await launch();
});
after(async () => {
  await browser?.close();
  await server?.close();
});

function deferred() {
  let resolve;
  const promise = new Promise((r) => { resolve = r; });
  return { promise, resolve };
}

const shown = (page, sel) => page.evaluate((s) => {
  const e = document.querySelector(s);
  return !!e && getComputedStyle(e).display !== 'none' && e.getClientRects().length > 0;
}, sel);

const text = (page, sel) => page.evaluate((s) => document.querySelector(s).textContent, sel);

const notice = (id, extra = {}) => ({ id, image: `/banners/${id}.svg?v=1`, url: '', ...extra });

const managerJob = (extra) => ({ ...idleJob, product: 'tarvo-manager', version: '1.1.0', ...extra });

describe('notice banner', () => {
  test('shown only with an image; a link only with a url', async () => {
    const cases = [
      { name: 'no notice', notice: null, banner: false },
      { name: 'no image, even with a link', notice: { id: 'x', image: '', url: 'https://example.invalid/x' }, banner: false },
      { name: 'image and link', notice: notice('spring', { url: 'https://example.invalid/sale' }), banner: true, link: true },
      { name: 'image without link', notice: notice('winter'), banner: true, link: false }
    ];
    for (const c of cases) {
      const { page, context, bridge } = await openPage(browser, server, { state: baseState({ notice: c.notice }) });
      assert.equal(await shown(page, '#banner'), c.banner, c.name);
      if (c.banner) {
        const info = await page.evaluate(() => ({
          link: document.getElementById('banner').classList.contains('link'),
          cursor: getComputedStyle(document.getElementById('banner')).cursor,
          src: document.getElementById('bannerImg').getAttribute('src')
        }));
        assert.equal(info.link, c.link, c.name);
        assert.equal(info.cursor === 'pointer', Boolean(c.link), c.name);   // a pointer exactly when it is a link
        assert.equal(info.src, c.notice.image, c.name);
        await page.locator('#banner').click({ position: { x: 40, y: 60 } });
        await page.waitForTimeout(100);
        assert.deepEqual(bridge.callsOf('openUrl').map((x) => x.args), c.link ? [[c.notice.url]] : [], c.name);
      }
      await context.close();
    }
  });

  test('the same notice again does not load the image again; a new address does', async () => {
    const { page, context, bridge } = await openPage(browser, server, { state: baseState({ notice: notice('spring') }) });
    await until(() => server.hits.get('/banners/spring.svg') >= 1);
    // Image loads are counted in the page: a reload may come from the memory cache.
    await until(() => page.evaluate(() => document.getElementById('bannerImg').complete));
    await page.evaluate(() => {
      window.__bannerLoads = 0;
      document.getElementById('bannerImg').addEventListener('load', () => { window.__bannerLoads++; });
    });
    const loads = () => page.evaluate(() => window.__bannerLoads);
    await rerender(page);
    await rerender(page);
    await page.waitForTimeout(200);
    assert.equal(await loads(), 0);
    const hits = server.hits.get('/banners/spring.svg');
    bridge.state = baseState({ notice: notice('spring', { image: '/banners/spring.svg?v=2' }) });
    await rerender(page);
    await until(async () => (await loads()) === 1);
    assert.equal(server.hits.get('/banners/spring.svg'), hits + 1);
    assert.equal(await page.evaluate(() => document.getElementById('bannerImg').getAttribute('src')), '/banners/spring.svg?v=2');
    await context.close();
  });

  test('closing dismisses the notice by id, then refreshes; the banner goes when the next state has none', async () => {
    const st = baseState({ notice: notice('spring', { url: 'https://example.invalid/sale' }) });
    const { page, context, bridge } = await openPage(browser, server, { state: st });
    await page.waitForTimeout(300);
    await page.screenshot({ path: path.join(artifactDir(), 'banner.png') });
    bridge.handlers.dismissNotice = () => { bridge.state = baseState({ notice: null }); return true; };
    const statesBefore = bridge.callsOf('getState').length;
    await page.locator('#bannerX').click();
    await until(async () => !(await shown(page, '#banner')));
    assert.deepEqual(bridge.callsOf('dismissNotice').map((c) => c.args), [['spring']]);
    const order = bridge.calls.map((c) => c.name);
    assert.ok(order.lastIndexOf('getState') > order.indexOf('dismissNotice'), 'refresh after the dismissal');
    assert.ok(bridge.callsOf('getState').length > statesBefore);
    assert.deepEqual(bridge.callsOf('openUrl'), [], 'the close button is not a click on the banner');
    await context.close();
  });
});

describe('manager update', () => {
  test('the header button per update state and while the manager job runs', async () => {
    const cases = [
      { state: 'upToDate', hidden: true },
      { state: 'unknown', hidden: true },
      { state: 'available', label: 'New update available', must: false },
      { state: 'required', label: 'Update required', must: true, colourVar: '--warn' }
    ];
    for (const c of cases) {
      const st = baseState();
      st.appUpdate = { ...st.appUpdate, state: c.state, version: '1.1.0' };
      const { page, context } = await openPage(browser, server, { state: st, theme: 'dark' });
      const info = await page.evaluate(() => {
        const b = document.getElementById('appUpd');
        return { hidden: getComputedStyle(b).display === 'none', label: b.textContent,
          must: b.classList.contains('must'), busy: b.classList.contains('busy'), disabled: b.disabled };
      });
      await context.close();
      assert.equal(info.hidden, !!c.hidden, c.state);
      if (c.hidden) continue;
      assert.deepEqual(info, { hidden: false, label: c.label, must: c.must, busy: false, disabled: false }, c.state);
    }
  });

  test('phases of the box: starting, running with its percentage, then ready with Install and restart', async () => {
    const st = baseState();
    st.appUpdate = { ...st.appUpdate, state: 'available', version: '1.1.0' };
    const started = deferred();
    const { page, context, bridge } = await openPage(browser, server, { state: st, handlers: {
      startAppUpdate: () => started.promise
    } });
    const box = () => page.evaluate(() => {
      const v = (id) => document.getElementById(id);
      const visible = (id) => getComputedStyle(v(id)).display !== 'none' && v(id).getClientRects().length > 0;
      return {
        open: visible('upd'), phase: v('upd').getAttribute('data-phase'), title: v('updTitle').textContent,
        sub: v('updSub').textContent, warn: v('updSub').classList.contains('warn'),
        bar: Number(getComputedStyle(v('updBar')).getPropertyValue('--p')),
        go: visible('updGo') ? v('updGo').textContent : null, skip: visible('updSkip') ? v('updSkip').textContent : null,
        button: v('appUpd').textContent, busy: v('appUpd').classList.contains('busy'), disabled: v('appUpd').disabled
      };
    });
    await page.locator('#appUpd').click();
    assert.deepEqual(await box(), { open: true, phase: 'starting', title: 'Update to 1.1.0', sub: 'Starting the download',
      warn: false, bar: 0, go: null, skip: 'Cancel', button: 'New update available', busy: false, disabled: false });

    bridge.installState = managerJob({ stage: 'downloading', running: true, received: 5242880, total: 10485760, fraction: 0.5 });
    bridge.state = { ...st, appUpdate: { ...st.appUpdate, busy: true } };
    started.resolve({ ok: true });
    await until(async () => (await box()).phase === 'running');
    const running = await box();
    assert.match(running.sub, /^Downloading · 50%/);
    assert.equal(running.bar, 0.5);
    assert.deepEqual([running.button, running.busy, running.disabled, running.skip, running.go], ['50 %', true, true, 'Cancel', null]);

    bridge.installState = managerJob({ stage: 'checking', running: true, fraction: -1 });
    await until(async () => (await box()).button === 'Checking');
    assert.equal((await box()).bar, 1);

    bridge.installState = managerJob({ stage: 'done', running: false, fraction: 1, message: 'Update ready', delivered: '/tmp/u.pkg' });
    bridge.state = { ...st, appUpdate: { ...st.appUpdate, busy: false, ready: true } };
    await until(async () => (await box()).phase === 'ready');
    const ready = await box();
    assert.deepEqual([ready.go, ready.skip, ready.bar, ready.warn], ['Install and restart', 'Skip', 1, false]);
    assert.match(ready.sub, /^Ready to install\. The app closes/);
    await page.screenshot({ path: path.join(artifactDir(), 'update-ready.png') });
    await context.close();
  });

  test('a ready update opens the box without starting a download; Install and restart applies, a refusal shows Close', async () => {
    const st = baseState();
    st.appUpdate = { ...st.appUpdate, state: 'required', version: '2.0.0', ready: true };
    const applied = deferred();
    const { page, context, bridge } = await openPage(browser, server, { state: st, handlers: {
      applyAppUpdate: () => applied.promise
    } });
    await page.locator('#appUpd').click();
    await until(async () => (await page.getAttribute('#upd', 'data-phase')) === 'ready');
    assert.deepEqual(bridge.callsOf('startAppUpdate'), []);
    await page.locator('#updGo').click();
    await until(async () => (await page.getAttribute('#upd', 'data-phase')) === 'applying');
    assert.equal(await text(page, '#updSub'), 'Restarting · the macOS installer opens in a moment');
    assert.equal(await shown(page, '#updSkip'), false);
    assert.equal(await shown(page, '#updGo'), false);
    applied.resolve({ ok: false, error: 'The update package is gone' });
    await until(async () => (await page.getAttribute('#upd', 'data-phase')) === 'failed');
    assert.equal(await text(page, '#updSub'), 'The update package is gone');
    assert.equal(await page.evaluate(() => document.getElementById('updSub').classList.contains('warn')), true);
    assert.equal(await text(page, '#updSkip'), 'Close');
    assert.equal(await shown(page, '#updGo'), false);
    await context.close();
  });

  test('refusals without a text fall back to their own words', async () => {
    const cases = [
      { fn: 'startAppUpdate', answer: null, ready: false, click: '#appUpd', want: 'Update failed' },
      { fn: 'startAppUpdate', answer: { ok: false, error: 'No newer release' }, ready: false, click: '#appUpd', want: 'No newer release' },
      { fn: 'applyAppUpdate', answer: { ok: false }, ready: true, click: '#updGo', want: 'Could not start the installer' }
    ];
    for (const c of cases) {
      const st = baseState();
      st.appUpdate = { ...st.appUpdate, state: 'available', version: '1.1.0', ready: c.ready };
      const { page, context } = await openPage(browser, server, { state: st, handlers: { [c.fn]: () => c.answer } });
      await page.locator('#appUpd').click();
      if (c.click !== '#appUpd') await page.locator(c.click).click();
      await until(async () => (await page.getAttribute('#upd', 'data-phase')) === 'failed');
      assert.equal(await text(page, '#updSub'), c.want, c.fn);
      assert.equal(await text(page, '#updSkip'), 'Close', c.fn);
      await context.close();
    }
  });

  test('Skip during the manager download cancels it, then skips the update, and closes the box', async () => {
    const st = baseState();
    st.appUpdate = { ...st.appUpdate, state: 'available', version: '1.1.0' };
    const { page, context, bridge } = await openPage(browser, server, { state: st, handlers: {
      startAppUpdate: () => ({ ok: true }),
      cancelInstall: () => { bridge.installState = managerJob({ stage: 'cancelled', message: 'Cancelled' }); return { ok: true }; },
      skipAppUpdate: () => { bridge.state = { ...st, appUpdate: { ...st.appUpdate, state: 'upToDate' } }; return { ok: true }; }
    } });
    bridge.installState = managerJob({ stage: 'downloading', running: true, received: 1, total: 4, fraction: 0.25 });
    await page.locator('#appUpd').click();
    await until(async () => (await page.getAttribute('#upd', 'data-phase')) === 'running');
    assert.equal(await text(page, '#updSkip'), 'Cancel');
    await page.locator('#updSkip').click();
    await until(async () => !(await shown(page, '#upd')));
    const names = bridge.calls.map((c) => c.name);
    const cancel = names.indexOf('cancelInstall');
    assert.ok(cancel >= 0, 'cancelInstall called');
    assert.deepEqual(bridge.callsOf('cancelInstall')[0].args, ['tarvo-manager']);
    assert.ok(names.indexOf('skipAppUpdate') > cancel, 'skip after the cancel');
    await until(async () => !(await shown(page, '#appUpd')));
    await context.close();
  });

  test('Skip when nothing runs does not cancel anything', async () => {
    const st = baseState();
    st.appUpdate = { ...st.appUpdate, state: 'available', version: '1.1.0', ready: true };
    const { page, context, bridge } = await openPage(browser, server, { state: st });
    await page.locator('#appUpd').click();
    await page.locator('#updSkip').click();
    await until(() => bridge.callsOf('skipAppUpdate').length === 1);
    await until(async () => !(await shown(page, '#upd')));
    assert.deepEqual(bridge.callsOf('cancelInstall'), []);
    await context.close();
  });
});

describe('help panel', () => {
  test('opens with the support address and foot; closes by button, backdrop and Escape, not by a click inside', async () => {
    const { page, context, bridge } = await openPage(browser, server, { theme: 'dark' });
    const open = () => page.evaluate(() => document.getElementById('helpBackdrop').classList.contains('open'));
    assert.equal(await open(), false);
    assert.equal(await shown(page, '#helpBackdrop'), false);
    await page.locator('#helpBtn').click();
    assert.equal(await open(), true);
    assert.equal(await page.inputValue('#helpMail'), 'help@example.invalid');
    assert.match(await text(page, '#helpFoot'), /^TARVO FERNHALL 1\.0\.0 · [A-Z]+$/);
    await page.waitForTimeout(250);
    await page.screenshot({ path: path.join(artifactDir(), 'help.png') });

    await page.locator('#helpMail').click();
    const sel = await page.evaluate(() => { const i = document.getElementById('helpMail'); return [i.selectionStart, i.selectionEnd, i.value.length]; });
    assert.deepEqual(sel, [0, sel[2], sel[2]], 'the whole address is selected');
    await page.locator('#helpDownloads').click();
    await page.locator('#helpWrite').click();
    await until(() => bridge.callsOf('contactSupport').length === 1);
    assert.deepEqual(bridge.callsOf('openUrl').map((c) => c.args), [['https://example.invalid/downloads#installers']]);
    assert.equal(await open(), true, 'clicks inside the panel keep it open');

    const closers = [
      () => page.locator('#helpClose').click(),
      () => page.mouse.click(8, 630),
      () => page.keyboard.press('Escape')
    ];
    for (const close of closers) {
      if (!(await open())) await page.locator('#helpBtn').click();
      assert.equal(await open(), true);
      await close();
      assert.equal(await open(), false, close.toString());
    }
    await context.close();
  });

  test('a state without support address or downloads page leaves the field empty and opens nothing', async () => {
    const st = baseState();
    delete st.supportMail;
    st.downloadsUrl = '';
    const { page, context, bridge } = await openPage(browser, server, { state: st });
    await page.locator('#helpBtn').click();
    assert.equal(await page.inputValue('#helpMail'), '');
    await page.locator('#helpDownloads').click();
    await page.waitForTimeout(100);
    assert.deepEqual(bridge.callsOf('openUrl'), []);
    await context.close();
  });
});

describe('footer', () => {
  test('version and catalogue date, or an empty hint', async () => {
    for (const [fetchedAt, want] of [['2026-12-09T08:15:00Z', 'Catalogue 2026-12-09'], ['', ''], [undefined, '']]) {
      const st = baseState({ fetchedAt });
      const { page, context } = await openPage(browser, server, { state: st });
      await until(async () => (await text(page, '#ver')) === 'v1.0.0');
      assert.equal(await text(page, '#hint'), want, String(fetchedAt));
      await context.close();
    }
  });

  test('Refresh is disabled with "…" while the catalogue loads, then refreshes the state', async () => {
    const loading = deferred();
    const { page, context, bridge } = await openPage(browser, server, { handlers: { refreshCatalog: () => loading.promise } });
    await page.waitForTimeout(100);
    const calls = bridge.callsOf('refreshCatalog').length;
    await page.locator('#refreshBtn').click();
    await until(() => bridge.callsOf('refreshCatalog').length === calls + 1);
    assert.deepEqual(await page.evaluate(() => [document.getElementById('refreshBtn').disabled, document.getElementById('refreshBtn').textContent]), [true, '…']);
    await page.locator('#refreshBtn').click({ force: true });
    bridge.state = baseState({ fetchedAt: '2026-12-11T00:00:00Z' });
    const states = bridge.callsOf('getState').length;
    loading.resolve({ ok: true, fromCache: false, message: '' });
    await until(async () => (await text(page, '#hint')) === 'Catalogue 2026-12-11');
    assert.deepEqual(await page.evaluate(() => [document.getElementById('refreshBtn').disabled, document.getElementById('refreshBtn').textContent]), [false, 'Refresh']);
    assert.ok(bridge.callsOf('getState').length > states);
    assert.equal(bridge.callsOf('refreshCatalog').length, calls + 1, 'no second refresh while one runs');
    await context.close();
  });
});
