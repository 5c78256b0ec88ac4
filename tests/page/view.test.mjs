// The main view: start sequence, list states, rows and their actions, the details
// card, job polling, start refusals and the removal dialogue, in headless Chromium
// against the built page with a scripted native bridge.
import { test, before, after, describe } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import {
  startServer, launch, artifactDir, until, openView, state, product, loc, job, threeProducts,
  readList, rowOf, press, select, cardSettled
} from './view-harness.mjs';

let server;
let browser;
before(async () => {
  server = await startServer();
  browser = await launch();
});
after(async () => {
  await browser?.close();
  await server?.close();
});

const NOT_COMPLETED = 'Installation did not complete. Use Download and run the installer yourself.';

function deferred() {
  let resolve;
  const promise = new Promise((r) => { resolve = r; });
  return { promise, resolve };
}

// Runs `body` with a freshly opened page and closes it afterwards.
async function withView(options, body) {
  const v = await openView(browser, server, options);
  try {
    await body(v);
  } finally {
    await v.context.close();
  }
}

async function shot(page, name) {
  await page.waitForTimeout(400);
  await page.screenshot({ path: path.join(artifactDir(), name) });
}

describe('start', () => {
  test('version, state, catalogue refresh and state again, in that order; shimmer filled', async () => {
    const refresh = deferred();
    await withView({ st: state(threeProducts()), handlers: { refreshCatalog: () => refresh.promise } }, async ({ page, bridge }) => {
      const names = () => bridge.calls.map((c) => c.name).filter((n) => ['getPluginVersion', 'getState', 'refreshCatalog'].includes(n));
      assert.deepEqual(names().slice(-2), ['getState', 'refreshCatalog']);
      assert.ok(names().indexOf('getPluginVersion') < names().indexOf('getState'));
      refresh.resolve({ ok: true, fromCache: false, message: 'Catalog updated' });
      await until(() => bridge.callsOf('getState').length === 2);
      const got = await page.evaluate(() => ({
        ok: window.__tarvoBootOk, ver: document.getElementById('ver').textContent,
        shimmer: document.getElementById('shimmer').textContent
      }));
      assert.equal(got.ok, true);
      assert.equal(got.ver, 'v1.0.0');
      assert.equal(got.shimmer, '0F5A2D8B1C7E4A93'.repeat(90));
    });
  });

  test('focus asks for the state again; a failing getState keeps the last state', async () => {
    await withView({ st: state(threeProducts()) }, async ({ page, bridge }) => {
      await until(() => bridge.callsOf('getState').length === 2);
      bridge.handlers.getState = () => new Error('host gone');
      await page.evaluate(() => window.dispatchEvent(new Event('focus')));
      await until(() => bridge.callsOf('getState').length === 3);
      await page.waitForTimeout(100);
      const list = await readList(page);
      assert.equal(list.count, '3 products');
      assert.equal(list.rows.length, 3);
    });
  });
});

describe('list', () => {
  const cases = [
    {
      name: 'empty before the catalogue has loaded', st: state([], { catalogReady: false }),
      count: '0 products', items: [{ empty: ['No catalog connected', 'Press Refresh to load the catalogue.'] }]
    },
    {
      name: 'empty with a catalogue', st: state([], { catalogReady: true }),
      count: '0 products', items: [{ empty: ['Nothing found', 'Neither installed nor offered.'] }]
    },
    {
      name: 'one available product', st: state([product('hissmoth')]),
      count: '1 product', items: [{ group: 'Available' }, 'hissmoth']
    },
    {
      name: 'installed first, in document order within each group',
      st: state([product('a'), product('b', { installed: true, installedVersion: '1.0' }), product('c'),
                 product('d', { installed: true, installedVersion: '2.0' })]),
      count: '4 products', items: [{ group: 'Installed' }, 'b', 'd', { group: 'Available' }, 'a', 'c']
    }
  ];
  for (const c of cases) {
    test(c.name, async () => {
      await withView({ st: c.st }, async ({ page }) => {
        const list = await readList(page);
        assert.equal(list.count, c.count);
        assert.deepEqual(list.big, ['—', 'select a product']);
        assert.deepEqual(list.items.map((i) => (i.id ? i.id : i)), c.items);
      });
    });
  }

  test('a render keeps the list where the user scrolled it', async () => {
    const many = Array.from({ length: 12 }, (_, i) => product('p' + i));
    await withView({ st: state(many) }, async ({ page }) => {
      await page.evaluate(() => { document.querySelector('#list .scroll').scrollTop = 200; });
      await page.evaluate(() => window.Fernhall.refresh());
      assert.equal(await page.evaluate(() => document.querySelector('#list .scroll').scrollTop), 200);
    });
  });

  test('an older state answer arriving after a newer one does not replace it', async () => {
    await withView({ st: state([product('a')]) }, async ({ page, bridge }) => {
      await until(() => bridge.callsOf('getState').length === 2);
      const slow = deferred();
      bridge.handlers.getState = () => slow.promise;
      const first = page.evaluate(() => window.Fernhall.refresh());
      await until(() => bridge.callsOf('getState').length === 3);
      bridge.handlers.getState = () => state([product('a'), product('b')]);
      await page.evaluate(() => window.Fernhall.refresh());
      assert.equal((await readList(page)).count, '2 products');
      slow.resolve(state([product('a')]));
      await first;
      assert.equal((await readList(page)).count, '2 products');
    });
  });

  test('product names and taglines are shown as text, never as markup', async () => {
    const evil = product('x', { name: '<img src=x onerror="window.__owned=1">', tagline: '<b>bold</b>' });
    await withView({ st: state([evil]) }, async ({ page }) => {
      const row = await rowOf(page, 'x');
      assert.equal(row.name, evil.name);
      assert.equal(row.status, '<b>bold</b>');
      assert.equal(await page.evaluate(() => window.__owned), undefined);
    });
  });
});

describe('rows', () => {
  const cases = [
    { name: 'not installed, with a release', p: product('a'), version: '2.0.0', action: 'Install', variant: 'go', calls: ['startInstall', ['a']] },
    { name: 'not installed, beta release', p: product('a', { latest: '3.0.0-b1', latestChannel: 'beta' }), version: '3.0.0-b1 beta', action: 'Install', variant: 'go' },
    { name: 'not installed, no release', p: product('a', { latest: '' }), version: '', action: 'Learn more ↗', variant: 'out', calls: ['openUrl', ['https://example.invalid/a']] },
    { name: 'no release and no landing page: the shop', p: product('a', { latest: '', landingUrl: '' }), version: '', action: 'Learn more ↗', variant: 'out', calls: ['openUrl', ['https://example.invalid/shop/a']] },
    { name: 'installed with an update', p: product('a', { installed: true, installedVersion: '1.0.0', update: true }), version: '1.0.0', action: 'Update', variant: 'go', calls: ['startInstall', ['a']] },
    { name: 'installed and current', p: product('a', { installed: true, installedVersion: '2.0.0' }), version: '2.0.0', action: 'Up to date', variant: null },
    {
      name: 'installed, not in the catalogue',
      p: { id: 'old-one', name: 'Old One', tagline: '', installed: true, installedVersion: '0.5', duplicate: false, conflict: false, update: false, orphan: true },
      version: '0.5', action: 'Up to date', variant: null, status: 'Installed, not in catalog'
    },
    { name: 'no name: the id stands in', p: product('nameless', { name: '' }), version: '2.0.0', action: 'Install', variant: 'go', shownName: 'nameless' }
  ];
  for (const c of cases) {
    test(c.name, async () => {
      await withView({ st: state([c.p]) }, async ({ page, bridge }) => {
        const row = await rowOf(page, c.p.id);
        assert.equal(row.version, c.version);
        assert.equal(row.action, c.action);
        assert.equal(row.variant, c.variant);
        assert.equal(row.status, c.status ?? c.p.tagline);
        assert.equal(row.name, c.shownName ?? c.p.name);
        if (c.calls) {
          await press(page, c.p.id, c.action);
          await until(() => bridge.callsOf(c.calls[0]).length === 1);
          assert.deepEqual(bridge.callsOf(c.calls[0])[0].args, c.calls[1]);
          // The button acts; it does not select the row.
          assert.equal((await rowOf(page, c.p.id)).on, false);
        }
      });
    });
  }

  test('a thumbnail whose image does not load becomes the empty box', async () => {
    const st = state([product('a', { mascot: '/mascots/missing.svg' }), product('b', { mascot: '' })]);
    await withView({ st }, async ({ page }) => {
      await until(() => page.evaluate(() => document.querySelectorAll('#list .thumb.empty').length === 2));
    });
  });
});

describe('card', () => {
  const cases = [
    {
      name: 'installed with an update: highest version per format, formats in order of appearance',
      p: product('a', { installed: true, installedVersion: '2.10', update: true, latest: '3.0',
        locations: [loc('VST3', 'System', '2.9'), loc('AU', 'User', '2.9'), loc('VST3', 'User', '2.10'), loc('AU', 'System', '2.8')] }),
      kicker: 'installed 2.10 · latest 3.0',
      lines: [['01', 'VST3 · User', '2.10'], ['02', 'AU · User', '2.9']],
      buttons: ['Uninstall:risk']
    },
    {
      name: 'not installed, beta release',
      p: product('a', { latest: '0.9.1', latestChannel: 'beta' }),
      kicker: 'latest 0.9.1 beta', lines: [['', 'Tagline of a']],
      buttons: ['Install:go', 'Download', 'Learn more ↗:out']
    },
    {
      name: 'no release, no pages, no tagline',
      p: product('a', { latest: '', tagline: '', landingUrl: '', shopUrl: '' }),
      kicker: 'no release yet', lines: [['', 'Not installed']], buttons: []
    },
    {
      name: 'installed with an unknown version',
      p: product('a', { installed: true, installedVersion: null, locations: [loc('AU', 'User', '')] }),
      kicker: 'latest 2.0.0', lines: [['01', 'AU · User', '']], buttons: ['Uninstall:risk']
    },
    {
      name: 'an installed product the catalogue does not list is not called "Not installed"',
      p: { id: 'old-one', name: 'Old One', tagline: '', installed: true, installedVersion: '0.5', update: false, orphan: true },
      kicker: 'installed 0.5 · no release yet', lines: [['', 'Installed']], buttons: ['Uninstall:risk']
    }
  ];
  for (const c of cases) {
    test(c.name, async () => {
      await withView({ st: state([c.p]) }, async ({ page }) => {
        await select(page, c.p.id);
        await cardSettled(page);
        const list = await readList(page);
        assert.equal(list.card.kicker, c.kicker);
        assert.deepEqual(list.card.lines, c.lines, c.name);
        assert.deepEqual(list.card.buttons, c.buttons);
        assert.equal(list.rows[0].on, true);
      });
    });
  }

  test('big line: name with tagline, or the shown formats without one', async () => {
    const st = state([product('a', { name: 'Alpha', installed: true, installedVersion: '1', tagline: '',
      locations: [loc('AU', 'User', '1'), loc('VST3', 'User', '1'), loc('AU', 'System', '1')] }), product('b', { name: 'Beta' })]);
    await withView({ st }, async ({ page }) => {
      await select(page, 'a');
      assert.deepEqual((await readList(page)).big, ['Alpha', 'AU · VST3']);
      await select(page, 'b');
      await until(async () => (await readList(page)).big[0] === 'Beta');
      assert.deepEqual((await readList(page)).big, ['Beta', 'Tagline of b']);
    });
  });

  test('selecting another product closes the open card with its animation and opens the new one', async () => {
    await withView({ st: state(threeProducts()) }, async ({ page }) => {
      // Record each card as it enters the list and each change of its open state.
      await page.evaluate(() => {
        window.__cards = [];
        new MutationObserver((records) => {
          for (const r of records) {
            if (r.type === 'childList') {
              for (const n of r.addedNodes) {
                if (n.classList && n.classList.contains('cardwrap'))
                  window.__cards.push('add ' + n.previousElementSibling.dataset.id + (n.classList.contains('open') ? ' open' : ' closed'));
              }
            } else if (r.target.classList.contains('cardwrap')) {
              window.__cards.push((r.target.classList.contains('open') ? 'open ' : 'close ') + r.target.previousElementSibling.dataset.id);
            }
          }
        }).observe(document.getElementById('list'), { subtree: true, childList: true, attributes: true, attributeFilter: ['class'] });
      });
      const log = () => page.evaluate(() => window.__cards.filter((e, i, a) => a.indexOf(e) === i || !e.startsWith('add')));
      await select(page, 'grumbot-2');
      await cardSettled(page);
      // A render with nothing changed keeps the card open without animating it again.
      await page.evaluate(() => window.Fernhall.refresh());
      await select(page, 'hissmoth');
      await until(async () => (await log()).includes('open hissmoth'));
      assert.deepEqual(await log(), ['add grumbot-2 closed', 'open grumbot-2', 'add grumbot-2 open', 'close grumbot-2', 'add hissmoth closed', 'open hissmoth']);
      // Selecting the selected product again clears the selection.
      await cardSettled(page);
      await select(page, 'hissmoth');
      await until(async () => (await readList(page)).card === null);
      assert.deepEqual((await readList(page)).big, ['—', 'select a product']);
      assert.equal((await readList(page)).rows.some((r) => r.on), false);
    });
  });

  test('an opened card low in the list is scrolled into view', async () => {
    const many = Array.from({ length: 9 }, (_, i) => product('p' + i, { name: 'Product ' + i }));
    await withView({ st: state(many) }, async ({ page }) => {
      await page.locator('#list .row[data-id="p8"] .nm').scrollIntoViewIfNeeded();
      await select(page, 'p8');
      await cardSettled(page);
      await until(() => page.evaluate(() => {
        const area = document.querySelector('#list .scroll').getBoundingClientRect();
        const card = document.querySelector('#list .cardwrap').getBoundingClientRect();
        return card.bottom <= area.bottom + 1 && card.top >= area.top - 1;
      }), { timeout: 3000 });
    });
  });
});

describe('jobs', () => {
  test('job texts', async () => {
    await withView({}, async ({ page }) => {
      const cases = [
        [{ stage: 'downloading', fraction: -1, total: 0, attempt: 1 }, 'Downloading'],
        [{ stage: 'downloading', fraction: 0, total: 0, attempt: 1 }, 'Downloading · 0%'],
        [{ stage: 'downloading', fraction: 0.5, received: 5242880, total: 10485760, attempt: 2 }, 'Downloading · 50% · 5.0/10.0 MB · try 2'],
        [{ stage: 'downloading', fraction: -1, received: 1048576, total: 1, attempt: 3 }, 'Downloading · 1.0/0.0 MB · try 3'],
        [{ stage: 'verifying' }, 'Checking the download'],
        [{ stage: 'checking' }, 'Checking the signature'],
        [{ stage: 'installing' }, 'Installer is running'],
        [{ stage: 'cancelled', message: 'Cancelled by you' }, 'Cancelled'],
        [{ stage: 'failed', error: 'Digest mismatch', message: 'm' }, 'Digest mismatch'],
        [{ stage: 'failed', error: '', message: 'Only a message' }, 'Only a message'],
        [{ stage: 'failed', error: '', message: '' }, 'Failed'],
        [{ stage: 'done', message: 'Saved to Downloads' }, 'Saved to Downloads'],
        [{ stage: 'idle', message: '' }, '']
      ];
      const got = await page.evaluate((cs) => cs.map(([j]) => window.Fernhall.jobText(j)), cases);
      assert.deepEqual(got, cases.map((c) => c[1]));
    });
  });

  test('an install follows the job in its row: progress, Cancel, then the new state', async () => {
    const p = product('hissmoth', { name: 'Hissmoth' });
    await withView({ st: state([p, product('other')]) }, async ({ page, bridge }) => {
      bridge.install = job('hissmoth', { stage: 'downloading', running: true, fraction: 0.5, received: 5242880, total: 10485760, attempt: 2 });
      await press(page, 'hissmoth', 'Install');
      await until(async () => (await rowOf(page, 'hissmoth')).status === 'Downloading · 50% · 5.0/10.0 MB · try 2');
      let row = await rowOf(page, 'hissmoth');
      assert.equal(row.busy, true);
      assert.equal(row.frac, '0.5');
      assert.equal(row.action, 'Cancel');
      assert.equal(row.warn, false);
      await shot(page, 'running-download.png');

      await press(page, 'hissmoth', 'Cancel');
      await until(() => bridge.callsOf('cancelInstall').length === 1);
      assert.deepEqual(bridge.callsOf('cancelInstall')[0].args, ['hissmoth']);

      // The job ends as installed: polling stops and the new state is shown.
      bridge.state = state([{ ...p, installed: true, installedVersion: '2.0.0' }, product('other')]);
      bridge.install = job('hissmoth', { stage: 'done', running: false, fraction: 1, message: 'Installed' });
      await until(async () => (await rowOf(page, 'hissmoth')).status === 'Installed');
      row = await rowOf(page, 'hissmoth');
      assert.equal(row.version, '2.0.0');
      assert.equal(row.busy, false);
      assert.equal(row.action, 'Up to date');
      const polls = bridge.callsOf('getInstallState').length;
      await page.waitForTimeout(600);
      assert.equal(bridge.callsOf('getInstallState').length, polls, 'polling stopped');
    });
  });

  // How a job that ended is shown, per product state after the job.
  const endings = [
    {
      name: 'an install that ended "done" with the product still missing',
      p: product('a', { name: 'Alpha' }), end: { stage: 'done', fraction: 1, message: 'Installer closed' },
      after: (p) => p, status: NOT_COMPLETED, warn: true, selected: true,
      buttons: ['Install:go', 'Download', 'Learn more ↗:out']
    },
    {
      name: 'an update that failed offers Download in the card',
      p: product('a', { name: 'Alpha', installed: true, installedVersion: '1.0.0', update: true }),
      end: { stage: 'failed', error: 'The package is not signed by us' },
      after: (p) => p, status: 'The package is not signed by us', warn: true, selected: true,
      buttons: ['Download:go', 'Uninstall:risk']
    },
    {
      name: 'a download (delivered file) that ended "done" is no failure',
      p: product('a', { name: 'Alpha' }),
      end: { stage: 'done', fraction: 1, message: 'Saved to your Downloads folder', delivered: '/Users/x/Downloads/a.pkg' },
      after: (p) => p, status: 'Saved to your Downloads folder', warn: false, selected: false
    },
    {
      name: 'an install that ended "done" and installed the product',
      p: product('a', { name: 'Alpha' }), end: { stage: 'done', fraction: 1, message: 'Installed' },
      after: (p) => ({ ...p, installed: true, installedVersion: '2.0.0' }), status: 'Installed', warn: false, selected: false
    }
  ];
  for (const c of endings) {
    test(c.name, async () => {
      await withView({ st: state([c.p, product('b')]) }, async ({ page, bridge }) => {
        bridge.install = job('a', { stage: 'downloading', running: true, fraction: 0.1, received: 1, total: 10 });
        await press(page, 'a', c.p.installed ? 'Update' : 'Install');
        await until(async () => (await rowOf(page, 'a')).busy);
        bridge.state = state([c.after(c.p), product('b')]);
        bridge.install = job('a', c.end);
        await until(async () => (await rowOf(page, 'a')).status === c.status);
        const row = await rowOf(page, 'a');
        assert.equal(row.warn, c.warn);
        assert.equal(row.on, c.selected);
        if (c.buttons) {
          await cardSettled(page);
          assert.deepEqual((await readList(page)).card.buttons, c.buttons);
        }
        assert.equal(await page.evaluate(() => window.Fernhall.failedInstall.has('a')), c.warn);
      });
    });
  }

  test('a refused start is shown for 6 s, then the tagline returns', async () => {
    await withView({ st: state([product('a'), product('b')]), handlers: {
      startInstall: () => ({ ok: false, error: 'The app needs an update first' }),
      startDownload: () => new Error('bridge broke')
    } }, async ({ page }) => {
      await press(page, 'a', 'Install');
      await until(async () => (await rowOf(page, 'a')).status === 'The app needs an update first');
      assert.equal((await rowOf(page, 'a')).warn, true);
      const shownAt = Date.now();
      // A start without any answer is "Could not start", and replaces the earlier refusal.
      await select(page, 'b');
      await press(page, 'b', 'Download', { inCard: true });
      await until(async () => (await rowOf(page, 'b')).status === 'Could not start');
      assert.equal((await rowOf(page, 'a')).status, 'Tagline of a');
      await page.waitForTimeout(Math.max(0, 4500 - (Date.now() - shownAt)));
      assert.equal((await rowOf(page, 'b')).status, 'Could not start');
      await until(async () => (await rowOf(page, 'b')).status === 'Tagline of b', { timeout: 4000 });
      assert.equal((await rowOf(page, 'b')).warn, false);
    });
  });

  test('a start refused while another job runs does not hide that job', async () => {
    await withView({ st: state([product('a'), product('b')]) }, async ({ page, bridge }) => {
      bridge.install = job('a', { stage: 'downloading', running: true, fraction: 0.25, received: 1048576, total: 4194304 });
      await press(page, 'a', 'Install');
      await until(async () => (await rowOf(page, 'a')).busy);
      bridge.handlers.startInstall = () => ({ ok: false, error: 'Another installation is already running' });
      await press(page, 'b', 'Install');
      await until(async () => (await rowOf(page, 'b')).status === 'Another installation is already running');
      await page.waitForTimeout(600);
      const [a, b] = [await rowOf(page, 'a'), await rowOf(page, 'b')];
      assert.equal(b.status, 'Another installation is already running');
      assert.equal(b.warn, true);
      assert.equal(a.busy, true);
      assert.equal(a.status, 'Downloading · 25% · 1.0/4.0 MB');
    });
  });
});

describe('removal', () => {
  const installed = () => product('a', { name: 'Alpha', installed: true, installedVersion: '2.0.0',
    locations: [loc('VST3', 'System', '2.0.0')] });
  const cases = [
    { name: 'nothing left on disk', plan: { count: 0 }, message: ['Nothing to remove', true] },
    { name: 'no plan at all', plan: new Error('gone'), message: ['Nothing to remove', true] },
    {
      name: 'system bundles, kept after all', plan: { count: 2, needsPassword: true, paths: ['/x', '/y'], skipped: [] },
      question: ['Remove Alpha from this Mac?', 'macOS asks for your password'], press: 'Keep it', buttonsAfter: ['Uninstall:risk']
    },
    {
      name: 'user bundles, removed', plan: { count: 1, needsPassword: false, paths: ['/x'], skipped: [] },
      question: ['Remove Alpha from this Mac?', null], press: 'Remove',
      result: { ok: true, cancelled: false, removed: 1, message: 'Removed 1 item', failed: [] }, message: ['Removed 1 item', false]
    },
    {
      name: 'removal refused', plan: { count: 1, needsPassword: true, paths: ['/x'], skipped: [] },
      question: ['Remove Alpha from this Mac?', 'macOS asks for your password'], press: 'Remove',
      result: { ok: false, cancelled: true, removed: 0, message: 'Cancelled at the password prompt', failed: [] },
      message: ['Cancelled at the password prompt', true]
    },
    {
      name: 'removal without an answer', plan: { count: 1, needsPassword: false, paths: ['/x'], skipped: [] },
      question: ['Remove Alpha from this Mac?', null], press: 'Remove', result: undefined, message: ['Could not remove', true]
    }
  ];
  for (const c of cases) {
    test(c.name, async () => {
      const removal = deferred();
      await withView({ st: state([installed()]), handlers: {
        uninstallPlan: () => c.plan, uninstallProduct: () => removal.promise
      } }, async ({ page, bridge }) => {
        await select(page, 'a');
        await cardSettled(page);
        await press(page, 'a', 'Uninstall', { inCard: true });
        await until(() => bridge.callsOf('uninstallPlan').length === 1);
        assert.deepEqual(bridge.callsOf('uninstallPlan')[0].args, ['a']);
        if (!c.question) {
          await until(async () => (await readList(page)).card.message === c.message[0]);
          const card = (await readList(page)).card;
          assert.equal(card.messageWarn, c.message[1]);
          assert.equal(card.question, null);
          return;
        }
        await until(async () => (await readList(page)).card.question !== null);
        let card = (await readList(page)).card;
        assert.deepEqual([card.question, card.note], c.question);
        assert.deepEqual(card.buttons, ['Keep it', 'Remove:risk']);
        await press(page, 'a', c.press, { inCard: true });
        if (c.press === 'Keep it') {
          await until(async () => (await readList(page)).card.question === null);
          assert.deepEqual((await readList(page)).card.buttons, c.buttonsAfter);
          assert.equal(bridge.callsOf('uninstallProduct').length, 0);
          return;
        }
        await until(async () => (await readList(page)).card.message === 'Removing…');
        assert.equal((await readList(page)).card.question, null);
        const states = bridge.callsOf('getState').length;
        removal.resolve(c.result);
        await until(async () => (await readList(page)).card.message === c.message[0]);
        card = (await readList(page)).card;
        assert.equal(card.messageWarn, c.message[1]);
        await until(() => bridge.callsOf('getState').length === states + 1);
        assert.deepEqual(bridge.callsOf('uninstallProduct')[0].args, ['a']);
      });
    });
  }
});

describe('screenshots', () => {
  test('white high contrast at 560 x 640: empty catalogue, three products with a card open', async () => {
    await withView({ st: state([], { catalogReady: false, fetchedAt: '' }) }, async ({ page }) => {
      await shot(page, 'empty-catalog.png');
    });
    await withView({ st: state(threeProducts()) }, async ({ page }) => {
      await select(page, 'grumbot-2');
      await cardSettled(page);
      await shot(page, 'three-products-card.png');
    });
  });
});
