// Boot gate and display kit, in headless Chromium against the built page files.
import { test, before, after, describe } from 'node:test';
import assert from 'node:assert/strict';
import { startServer, launch, openView, state, threeProducts, until } from './view-harness.mjs';

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

const overlayLines = (page) => page.evaluate(() => {
  const box = document.getElementById('booterr');
  return box ? Array.from(box.children).filter((c) => c.tagName !== 'BUTTON').map((c) => c.textContent) : null;
});
const booting = (page) => page.evaluate(() => document.documentElement.classList.contains('boot'));
const never = () => new Promise(() => {});

describe('boot gate', () => {
  // Errors raised while the page starts (on DOMContentLoaded, before the first state
  // can have been rendered) and what the overlay makes of them.
  const early = (code) => `document.addEventListener('DOMContentLoaded', () => { ${code} });`;
  const cases = [
    {
      name: 'a script that fails to load',
      route: (page) => page.route('**/bundle.js', (r) => r.abort()),
      waitAlive: false,
      expect: (lines) => assert.deepEqual(lines, ['LADEFEHLER: ' + server.url + 'bundle.js'])
    },
    {
      name: 'a main view that never reports in',
      handlers: { getPluginVersion: never },
      waitAlive: false, wait: 3400,
      expect: (lines) => assert.deepEqual(lines, ['BOOT: main.js hat sich nicht gemeldet.'])
    },
    {
      name: 'a script error during start',
      init: early("setTimeout(() => { throw new Error('early bird'); }, 0);"),
      expect: (lines) => {
        assert.equal(lines.length, 1);
        assert.match(lines[0], /^FEHLER: .*early bird\n {2}.*:\d+:\d+$/s);
      }
    },
    {
      name: 'a rejected promise nobody handles, with and without a message',
      init: early("Promise.reject(new Error('nope')); Promise.reject('plain');"),
      expect: (lines) => assert.deepEqual(lines, ['PROMISE: nope', 'PROMISE: plain'])
    },
    {
      name: 'a style sheet that fails to load',
      init: early("const l = document.createElement('link'); l.rel = 'stylesheet'; l.href = '/missing.css'; document.head.appendChild(l);"),
      expect: (lines) => assert.deepEqual(lines, ['LADEFEHLER: ' + server.url + 'missing.css'])
    },
    {
      name: 'a picture that fails to load is no boot failure',
      init: early("const i = document.createElement('img'); i.src = '/missing.png'; document.body.appendChild(i);"),
      expect: (lines) => assert.equal(lines, null)
    },
    {
      name: 'a resize observer loop notice',
      init: early("window.dispatchEvent(new ErrorEvent('error', { message: 'ResizeObserver loop completed with undelivered notifications.' }));"),
      expect: (lines) => assert.equal(lines, null)
    }
  ];

  for (const c of cases) {
    test(c.name, async () => {
      const { page, context } = await openView(browser, server, {
        st: state(threeProducts()), handlers: c.handlers || {}, init: c.init, route: c.route, waitAlive: c.waitAlive !== false
      });
      try {
        if (c.wait) await page.waitForTimeout(c.wait);
        else await page.waitForTimeout(300);
        c.expect(await overlayLines(page));
        // Whatever happened, the page does not stay invisible.
        await until(async () => !(await booting(page)), { timeout: 1500 });
      } finally {
        await context.close();
      }
    });
  }

  test('errors after the first render leave the page alone; CLOSE removes the overlay', async () => {
    const { page, context } = await openView(browser, server, { st: state(threeProducts()) });
    try {
      await page.evaluate(() => {
        setTimeout(() => { throw new Error('late'); }, 0);
        Promise.reject(new Error('late too'));
      });
      await page.waitForTimeout(300);
      assert.equal(await overlayLines(page), null);
      assert.equal(await page.evaluate(() => !!document.querySelector('#list .row')), true);

      // Before the first render the same message does show, and the button closes it.
      await page.evaluate(() => { window.__tarvoUiAlive = false; window.__tarvoBootMessage('FEHLER: test'); });
      assert.deepEqual(await overlayLines(page), ['FEHLER: test']);
      await page.click('#booterr button');
      assert.equal(await overlayLines(page), null);
    } finally {
      await context.close();
    }
  });

  test('the stage fades in over 90 ms, and at once with reduced motion', async () => {
    for (const [reducedMotion, duration] of [[false, '0.09s'], [true, '0s']]) {
      const { page, context } = await openView(browser, server, { reducedMotion });
      try {
        await until(async () => !(await booting(page)), { timeout: 2000 });
        const got = await page.evaluate(() => getComputedStyle(document.querySelector('.stage')).transitionDuration);
        assert.equal(got, duration, 'reduced motion ' + reducedMotion);
      } finally {
        await context.close();
      }
    }
  });
});

describe('display kit', () => {
  const fitCases = [
    { name: 'exact design size', viewport: { width: 560, height: 640 }, scale: 1 },
    { name: 'narrower than the design', viewport: { width: 420, height: 640 }, scale: 420 / 560 },
    { name: 'lower than the design', viewport: { width: 560, height: 480 }, scale: 480 / 640 },
    { name: 'larger than the design never zooms up', viewport: { width: 1000, height: 1000 }, scale: 1 }
  ];
  for (const c of fitCases) {
    test('fit: ' + c.name, async () => {
      const { page, context, bridge } = await openView(browser, server, { viewport: c.viewport, st: state(threeProducts()) });
      try {
        await until(async () => !(await booting(page)), { timeout: 2000 });
        const got = await page.evaluate(() => ({
          scale: Number(document.documentElement.style.getPropertyValue('--uiscale')),
          width: document.querySelector('.plugin').getBoundingClientRect().width
        }));
        assert.ok(Math.abs(got.scale - c.scale) < 0.002, `${got.scale} vs ${c.scale}`);
        assert.ok(Math.abs(got.width - 560 * c.scale) < 1.5, `surface ${got.width}`);
        // The window is asked for the design size whatever its current size.
        await until(() => bridge.callsOf('setEditorSize').length === 1);
        assert.deepEqual(bridge.callsOf('setEditorSize')[0].args, [560, 640]);
      } finally {
        await context.close();
      }
    });
  }

  test('a window resized below the design shrinks the surface, and back', async () => {
    const { page, context } = await openView(browser, server);
    try {
      await page.setViewportSize({ width: 280, height: 640 });
      await until(() => page.evaluate(() => Math.abs(document.querySelector('.plugin').getBoundingClientRect().width - 280) < 1.5));
      await page.setViewportSize({ width: 700, height: 700 });
      await until(() => page.evaluate(() => Math.abs(document.querySelector('.plugin').getBoundingClientRect().width - 560) < 1.5));
    } finally {
      await context.close();
    }
  });

  const settingsCases = [
    { name: 'white theme, high contrast', settings: { uiScale: 1, theme: 'white', contrast: 'high' }, classes: ['white', 'hc'] },
    { name: 'unknown words count as dark and normal', settings: { theme: 'sepia', contrast: 'max', extra: 1 }, classes: [] },
    { name: 'a failing call', settings: new Error('no settings'), classes: [] },
    { name: 'no answer', settings: undefined, classes: [] },
    { name: 'a larger scale than allowed stays at S', settings: { uiScale: 1.2, theme: 'white' }, classes: ['white'] },
    { name: 'a nonsense scale', settings: { uiScale: -3, contrast: 'high' }, classes: ['hc'] }
  ];
  for (const c of settingsCases) {
    test('settings: ' + c.name, async () => {
      const { page, context, bridge } = await openView(browser, server, {
        handlers: { getUiSettings: () => c.settings }, deviceScaleFactor: 2
      });
      try {
        await until(async () => !(await booting(page)), { timeout: 2000 });
        const got = await page.evaluate(() => ['white', 'hc', 'lowdpi'].filter((k) => document.body.classList.contains(k)));
        assert.deepEqual(got, c.classes);
        await until(() => bridge.callsOf('setEditorSize').length === 1);
        assert.deepEqual(bridge.callsOf('setEditorSize')[0].args, [560, 640]);
        assert.equal(await page.evaluate(() => getComputedStyle(document.documentElement).getPropertyValue('--uiscale').trim()), '1');
      } finally {
        await context.close();
      }
    });
  }

  test('low resolution follows the device pixel ratio, also when it changes', async () => {
    const { page, context } = await openView(browser, server, { deviceScaleFactor: 2 });
    try {
      const lowdpi = () => page.evaluate(() => document.body.classList.contains('lowdpi'));
      assert.equal(await lowdpi(), false);
      // The window moves to a display of ratio 1, then back. The emulated ratio change
      // does not raise the resolution query's change event in headless Chromium, so
      // the move comes with a one-pixel resize, as a real move between displays may.
      const cdp = await context.newCDPSession(page);
      await cdp.send('Emulation.setDeviceMetricsOverride', { width: 561, height: 640, deviceScaleFactor: 1, mobile: false });
      await until(lowdpi);
      await cdp.send('Emulation.setDeviceMetricsOverride', { width: 560, height: 640, deviceScaleFactor: 2, mobile: false });
      await until(async () => !(await lowdpi()));
    } finally {
      await context.close();
    }
  });

  test('tokens of the white high-contrast layer win over the earlier layers', async () => {
    const { page, context } = await openView(browser, server, { deviceScaleFactor: 2 });
    try {
      await until(async () => !(await booting(page)), { timeout: 2000 });
      const tokens = await page.evaluate(() => {
        const cs = getComputedStyle(document.body);
        return ['--bg', '--line', '--line2', '--ink2', '--ink3', '--accent', '--page']
          .map((k) => cs.getPropertyValue(k).trim());
      });
      assert.deepEqual(tokens, ['#f4f5f7', '#c4c8cf', '#a6acb6', '#3f454c', '#61686f', '#19a351', '#e3e5e8']);
    } finally {
      await context.close();
    }
  });
});
