// The display scene and its mascots, in headless Chromium against the built page.
import { test, before, after, describe } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { startServer, launch, openPage, baseState, product, until, rerender, artifactDir } from './scene-harness.mjs';

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

// The seeding of stars, lines and stones, computed here independently of the page.
function expectedSeeding() {
  const gen = (seed) => { let s = seed; return () => { s = (s * 1664525 + 1013904223) % 4294967296; return s / 4294967296; }; };
  const stars = [];
  let r = gen(11);
  for (let i = 0; i < 22; i++) {
    const x = Math.round(r() * 500 + 8), y = Math.round(r() * 44 + 6);
    const big = r() > 0.55, tw = r() > 0.6;
    stars.push({ x, y, size: big ? 1.4 : 1.2, big, tw, delay: tw ? '-' + (r() * 3.4).toFixed(2) + 's' : '' });
  }
  const lines = [];
  r = gen(77);
  for (let i = 0; i < 6; i++) lines.push({ x: Math.round(r() * 440), y: Math.round(107 + r() * 14), w: Math.round(30 + r() * 90) });
  const stones = [];
  r = gen(41);
  for (let i = 0; i < 10; i++) {
    const x = Math.round(r() * 508 + 4), y = Math.round(106 + r() * 12);
    if (Math.abs(x - 260) < 26) continue;
    const w = r() > 0.5 ? 3 : 2;
    stones.push({ x, y, w, s1: r() > 0.5 });
  }
  return { stars, lines, stones };
}

function readSeeding(page) {
  return page.evaluate(() => {
    const rects = (sel) => Array.from(document.querySelectorAll(sel + ' rect'));
    const num = (e, a) => Number(e.getAttribute(a));
    return {
      // The twinkle's current opacity is motion, not seeding.
      markup: ['#hstars', '#hlines', '#hstones'].map((s) => document.querySelector(s).outerHTML).join('\n')
        .replace(/ opacity: [\d.]+;/g, ''),
      stars: rects('#hstars').map((e) => ({ x: num(e, 'x'), y: num(e, 'y'), size: num(e, 'width'),
        big: e.classList.contains('s1'), tw: e.classList.contains('tw'), delay: e.style.animationDelay })),
      lines: rects('#hlines').map((e) => ({ x: num(e, 'x'), y: num(e, 'y'), w: num(e, 'width') })),
      stones: rects('#hstones').map((e) => ({ x: num(e, 'x'), y: num(e, 'y'), w: num(e, 'width'), s1: e.classList.contains('s1') }))
    };
  });
}

describe('scene graphic', () => {
  test('the seeded stars, lines and stones are the same on every start and follow the generator', async () => {
    const a = await openPage(browser, server);
    const b = await openPage(browser, server);
    const first = await readSeeding(a.page);
    const second = await readSeeding(b.page);
    await a.context.close();
    await b.context.close();
    assert.equal(first.markup, second.markup);
    const want = expectedSeeding();
    assert.deepEqual(first.stars, want.stars);
    assert.deepEqual(first.lines, want.lines);
    assert.deepEqual(first.stones, want.stones);
    assert.ok(first.stones.every((s) => Math.abs(s.x - 260) >= 26), 'no stone in the fire');
  });

  test('every part is present, back to front, and the theme decides what shows', async () => {
    const parts = ['.sky', '#hstars', '.moon', '.moon2', '.sun', '.crater', '.shoot', '.far', '.fog.a', '.mid', '.fog.b',
      '.near', '.ground', '#hlines', '#hstones', '.fire .glow', '.fire .ring', '.fire .wood', '.fire .wood2',
      '.flame.f1', '.flame.f2', '.flame.f3', '.flame.f4', '.spark.a', '.spark.b', '.spark.c', '.ember', '.smoke.a', '.smoke.b'];
    const nightOnly = ['.moon2', '.crater', '#hstars rect', '.shoot', '.glow', '.flame', '.spark'];
    const dayOnly = ['.sun', '.ember', '.smoke'];
    for (const theme of ['white', 'dark']) {
      const { page, context } = await openPage(browser, server, { theme });
      const info = await page.evaluate(({ parts, nightOnly, dayOnly }) => {
        const svg = document.querySelector('#display svg.scene');
        const all = Array.from(svg.querySelectorAll('*'));
        const shown = (sel) => Array.from(svg.querySelectorAll(sel)).some((e) => getComputedStyle(e).display !== 'none');
        return {
          viewBox: svg.getAttribute('viewBox'),
          aspect: svg.getAttribute('preserveAspectRatio'),
          hidden: svg.getAttribute('aria-hidden'),
          order: parts.map((sel) => all.indexOf(svg.querySelector(sel))),
          night: nightOnly.map(shown),
          day: dayOnly.map(shown),
          white: document.body.classList.contains('white')
        };
      }, { parts, nightOnly, dayOnly });
      await context.close();
      assert.equal(info.viewBox, '0 0 520 124');
      assert.equal(info.aspect, 'none');
      assert.equal(info.hidden, 'true');
      assert.ok(info.order.every((i) => i >= 0), 'missing part: ' + parts.filter((_, i) => info.order[i] < 0));
      assert.deepEqual([...info.order].sort((x, y) => x - y), info.order, 'parts out of order');
      const day = theme === 'white';
      assert.equal(info.white, day);
      assert.deepEqual(info.night, nightOnly.map(() => !day), theme + ': night parts');
      assert.deepEqual(info.day, dayOnly.map(() => day), theme + ': day parts');
    }
  });

  test('reduced motion: nothing animates, only the first flame shows, the shooting star stays hidden', async () => {
    const { page, context } = await openPage(browser, server, { theme: 'dark', reducedMotion: true });
    await until(() => page.evaluate(() => document.querySelectorAll('#display .being').length === 3));
    const before = await page.evaluate(() => Array.from(document.querySelectorAll('#display .being')).map((e) => e.style.left + e.style.top + e.innerHTML.length));
    await page.waitForTimeout(1500);
    const info = await page.evaluate(() => ({
      running: document.getAnimations().filter((a) => a.playState === 'running').length,
      flames: ['.f1', '.f2', '.f3', '.f4'].map((f) => getComputedStyle(document.querySelector('.flame' + f)).visibility),
      shoot: getComputedStyle(document.querySelector('.scene .shoot')).opacity,
      figures: Array.from(document.querySelectorAll('#display .being')).map((e) => e.style.left + e.style.top + e.innerHTML.length)
    }));
    await context.close();
    assert.equal(info.running, 0);
    assert.deepEqual(info.flames, ['visible', 'hidden', 'hidden', 'hidden']);
    assert.equal(info.shoot, '0');
    assert.deepEqual(info.figures, before, 'mascots stand still and do not flap');
  });

  test('the scene moves in the listed steps: flames, glow, sparks, shooting star, fog, twinkling', async () => {
    const { page, context } = await openPage(browser, server, { theme: 'dark' });
    const samples = await page.evaluate(() => {
      const at = (t) => window.Fernhall.scene.lookAt(t);
      const out = [];
      for (let t = 0; t < 13000; t += 10) out.push({ t, looks: at(t) });
      return { out, fogs: [0, 19000, 37999, 38000, 57000, 76000].map((t) => at(t).filter((l) => l.part.startsWith('fog'))) };
    });
    await context.close();
    const of = (looks, part) => looks.filter((l) => l.part === part);
    const flames = (t) => samples.out[t / 10].looks.filter((l) => l.part.startsWith('flame')).map((l) => l.v);
    // Exactly one flame frame at any time, each for a quarter of 0.48 s.
    for (let t = 0; t < 960; t += 10) assert.equal(flames(t).filter(Boolean).length, 1, 'one flame at ' + t);
    assert.deepEqual(flames(0), [true, false, false, false]);
    assert.deepEqual(flames(480), [true, false, false, false]);
    assert.notDeepEqual(flames(130), flames(0));
    // Glow: 0.16, from 46 % 0.11, from 73 % 0.19 of 0.96 s.
    const glow = (t) => of(samples.out[t / 10].looks, 'glow')[0].o;
    assert.deepEqual([0, 430, 450, 690, 710, 950, 960].map(glow), [0.16, 0.16, 0.11, 0.11, 0.19, 0.19, 0.16]);
    // Shooting star: hidden but for 1 % to 9 % of 12 s, sliding to (-54, 20) in 14 steps.
    const shoot = samples.out.slice(0, 1200).map((s) => of(s.looks, 'shoot')[0]);
    const visible = shoot.map((l, i) => (l.o > 0 ? i * 10 : -1)).filter((t) => t >= 0);
    assert.equal(visible[0], 120);
    assert.equal(visible[visible.length - 1], 1070);
    const positions = new Set(shoot.filter((l) => l.o > 0).map((l) => l.tx + ',' + l.ty));
    assert.equal(positions.size, 14);
    assert.ok(shoot.every((l) => !(l.tx < -54 || l.ty > 20)));
    // Sparks: 8 steps of 1.6 s, fading while they rise up to 15 units.
    const spark = samples.out.slice(0, 160).map((s) => of(s.looks, 'spark a')[0]);
    assert.equal(new Set(spark.map((l) => l.ty)).size, 8);
    assert.ok(spark.every((l) => l.o <= 0.9 && l.ty >= -15 && l.ty <= 0));
    assert.equal(spark[0].o, 0);
    // Fog a goes out and back over 2 × 38 s; fog b starts at the far end.
    const fog = samples.fogs.map((pair) => pair.map((l) => Math.round(l.tx || 0) + 0));
    assert.deepEqual(fog.map((p) => p[0]), [0, -13, -25, -25, -13, 0]);
    assert.ok(fog[0][1] <= -25, 'fog b starts at the far end');
    // Twinkling stars: full for 58 % of 3.4 s, then dim.
    const tw = samples.out.slice(0, 340).map((s) => s.looks.filter((l) => l.part.includes('tw'))[0].o);
    assert.ok(Math.abs(tw.filter((o) => o === 1).length - 340 * 0.58) <= 1.5);
    assert.ok(tw.every((o) => o === 1 || o === 0.3));
  });

  test('screenshots of the night and the day scene with three mascots', async () => {
    for (const theme of ['dark', 'white']) {
      const { page, context } = await openPage(browser, server, { theme });
      await until(() => page.evaluate(() => document.querySelectorAll('#display .being.drawn').length === 3));
      await page.evaluate(() => window.Fernhall.selectProduct && window.Fernhall.selectProduct('grumbot-lite'));
      await page.waitForTimeout(200);
      const name = theme === 'dark' ? 'scene-night.png' : 'scene-day.png';
      await page.screenshot({ path: path.join(artifactDir(), name) });
      await page.locator('#display').screenshot({ path: path.join(artifactDir(), name.replace('.png', '-display.png')) });
      await context.close();
    }
  });
});

describe('mascots', () => {
  test('one figure per product: walkers with spot and shadow, the flyer without, bubbles with name and status', async () => {
    const state = baseState();
    state.products[1] = product('grumbot-lite', { tagline: '' });
    state.products.push({ id: 'old-thing', name: 'Old Thing', tagline: '', installed: true, installedVersion: '1.0', update: false, orphan: true });
    const { page, context, errors } = await openPage(browser, server, { state });
    await until(() => page.evaluate(() => document.querySelectorAll('#display .being').length === 4));
    await until(() => page.evaluate(() => document.querySelectorAll('#display .being.drawn').length === 3));
    const info = await page.evaluate(() => {
      const d = document.getElementById('display');
      return {
        order: Array.from(d.children).filter((e) => !e.matches('svg.scene, #banner, #upd')).map((e) => e.className.split(' ')[0]),
        figures: Array.from(d.querySelectorAll('.being')).map((e) => ({
          id: e.getAttribute('data-id'), flyer: e.classList.contains('flyer'), none: e.classList.contains('none'),
          w: e.offsetWidth, h: e.offsetHeight
        })),
        spots: d.querySelectorAll('.spot').length,
        shadows: d.querySelectorAll('.shadow').length,
        bubbles: Array.from(d.querySelectorAll('.say')).map((s) => ({
          name: s.querySelector('.sn').textContent, status: s.querySelector('.ss').textContent,
          statusShown: !s.querySelector('.ss').classList.contains('hidden'), below: s.classList.contains('below')
        }))
      };
    });
    await context.close();
    assert.deepEqual(errors, []);
    assert.deepEqual(info.order, ['shadow', 'spot', 'being', 'say', 'shadow', 'spot', 'being', 'say',
      'being', 'say', 'shadow', 'spot', 'being', 'say']);
    assert.deepEqual(info.figures.map((f) => [f.id, f.flyer, f.none, f.w, f.h]), [
      ['grumbot-2', false, false, 44, 44], ['grumbot-lite', false, false, 44, 44],
      ['hissmoth', true, false, 36, 40], ['old-thing', false, true, 44, 44]]);
    assert.equal(info.spots, 3);
    assert.equal(info.shadows, 3);
    assert.deepEqual(info.bubbles, [
      { name: 'Grumbot 2', status: 'Sample tagline of grumbot-2', statusShown: true, below: false },
      { name: 'Grumbot Lite', status: '', statusShown: false, below: false },
      { name: 'Hissmoth', status: 'Sample tagline of hissmoth', statusShown: true, below: true },
      { name: 'Old Thing', status: 'Installed, not in catalog', statusShown: true, below: false }]);
  });

  test('a module that fails shows the still image, neither gives an empty figure, and clicking still selects', async () => {
    const state = baseState({ products: [
      product('grumbot-2', { mascotModule: '/mascots/broken.mjs?v=1' }),
      product('grumbot-lite', { mascotModule: '/mascots/missing.mjs?v=1' }),
      product('hissmoth', { mascot: '', mascotModule: '' }),
      product('ghost', { mascot: '/mascots/ghost.svg?v=1', mascotModule: '' })
    ] });
    const { page, context } = await openPage(browser, server, { state, theme: 'dark' });
    await until(() => page.evaluate(() => document.querySelectorAll('#display .being').length === 4));
    await page.waitForTimeout(300);
    const figures = () => page.evaluate(() => Array.from(document.querySelectorAll('#display .being')).map((e) => ({
      id: e.getAttribute('data-id'), none: e.classList.contains('none'),
      img: (e.querySelector('img') || {}).getAttribute?.('src') || '', svg: e.classList.contains('drawn'), left: e.style.left
    })));
    const first = await figures();
    assert.deepEqual(first.map((f) => [f.id, f.none, f.img, f.svg]), [
      ['grumbot-2', false, '/mascots/grumbot-2.svg?v=1', false],
      ['grumbot-lite', false, '/mascots/grumbot-lite.svg?v=1', false],
      ['hissmoth', true, '', false],
      ['ghost', true, '', false]]);
    await page.waitForTimeout(1500);
    assert.deepEqual((await figures()).map((f) => f.left), first.map((f) => f.left), 'still figures never move');

    await page.locator('#display .being[data-id="hissmoth"]').click();
    await until(() => page.evaluate(() => document.querySelector('#display .being[data-id="hissmoth"]').classList.contains('sel')));
    const sel = await page.evaluate(() => ({
      bubble: document.querySelectorAll('#display .say')[2].classList.contains('show'),
      spot: document.querySelectorAll('#display .spot')[2].classList.contains('on'),
      others: Array.from(document.querySelectorAll('#display .being.sel')).length
    }));
    await context.close();
    assert.deepEqual(sel, { bubble: true, spot: true, others: 1 });
  });

  test('rendering again without a change keeps every mascot; an install change builds them anew', async () => {
    const { page, context, bridge } = await openPage(browser, server);
    await until(() => page.evaluate(() => document.querySelectorAll('#display .being.drawn').length === 3));
    await page.evaluate(() => document.querySelectorAll('#display .being').forEach((e, i) => { e.__mark = i + 1; }));
    const left = () => page.evaluate(() => Array.from(document.querySelectorAll('#display .being')).map((e) => [e.__mark, e.style.left]));
    const beforeLeft = await left();
    await rerender(page);
    await rerender(page);
    const same = await left();
    assert.deepEqual(same.map((m) => m[0]), [1, 2, 3], 'the same figures stay');
    // They may have taken a step of their own meanwhile, but were not thrown to new places.
    same.forEach((m, i) => assert.ok(Math.abs(parseFloat(m[1]) - parseFloat(beforeLeft[i][1])) <= 8));

    bridge.state = baseState();
    bridge.state.products[0].installed = true;
    bridge.state.products[0].installedVersion = '1.0.0';
    await rerender(page);
    await until(() => page.evaluate(() => document.querySelectorAll('#display .being.drawn').length === 3 &&
      Array.from(document.querySelectorAll('#display .being')).every((e) => !e.__mark)));
    assert.equal(await page.evaluate(() => document.querySelectorAll('#display .being, #display .say, #display .spot').length), 8);
    await context.close();
  });

  test('a newer stage replaces one whose modules are still loading, without leftovers', async () => {
    const slow = baseState();
    slow.products[0] = product('grumbot-2', { mascotModule: '/mascots/grumbot-2.mjs?v=1&delay=700' });
    const { page, context, bridge } = await openPage(browser, server, { state: slow });
    bridge.state = baseState();
    bridge.state.products[2] = product('hissmoth', { installed: true, installedVersion: '1.0.0' });
    await rerender(page);
    await page.waitForTimeout(1200);
    const figures = await page.evaluate(() => Array.from(document.querySelectorAll('#display .being')).map((e) => e.getAttribute('data-id')));
    const extras = await page.evaluate(() => document.querySelectorAll('#display .say, #display .spot, #display .shadow').length);
    await context.close();
    assert.deepEqual(figures, ['grumbot-2', 'grumbot-lite', 'hissmoth']);
    assert.equal(extras, 3 + 2 + 2);
  });

  test('walkers step 2 px at a time inside the display, flyers flap, and the poses follow the walk', async () => {
    const { page, context: ctx } = await openPage(browser, server, { theme: 'dark' });
    await until(() => page.evaluate(() => document.querySelectorAll('#display .being.drawn').length === 3));
    const samples = await page.evaluate(async () => {
      const width = document.getElementById('display').clientWidth;
      const ms = window.Fernhall.mascots.list();
      const seen = ms.map(() => ({ xs: [], svgs: new Set() }));
      const end = performance.now() + 9000;
      while (performance.now() < end) {
        ms.forEach((m, i) => { seen[i].xs.push(m.x); seen[i].svgs.add(m.shownKey); });
        await new Promise((r) => setTimeout(r, 55));
      }
      return { width, seen: seen.map((s) => ({ xs: s.xs, frames: s.svgs.size })), flyer: ms.map((m) => m.flyer) };
    });
    await ctx.close();
    const walkers = samples.seen.filter((_, i) => !samples.flyer[i]);
    const flyer = samples.seen.find((_, i) => samples.flyer[i]);
    let moved = 0;
    for (const w of walkers) {
      for (let i = 1; i < w.xs.length; i++) {
        const dx = Math.abs(w.xs[i] - w.xs[i - 1]);
        assert.ok(dx <= 4.0001, 'no jumps between two samples, got ' + dx);
        if (dx > 0) moved++;
      }
      const walked = w.xs.filter((x, i) => i > 0 && x !== w.xs[i - 1]);
      walked.forEach((x) => assert.ok(x >= 30 && x <= samples.width - 30, 'walker outside 30..width-30: ' + x));
    }
    assert.ok(moved > 0, 'some walker walked within 9 s');
    assert.ok(flyer.frames >= 3, 'the flyer drew its wing frames');
  });

  test('walk targets keep 30 px from the edges and 34 px from the fire in a narrow display', async () => {
    const { page, context } = await openPage(browser, server, { reducedMotion: true });
    const targets = await page.evaluate(() => {
      const walk = window.Fernhall.mascots.Walker.prototype.walkTarget;
      const out = {};
      for (const width of [200, 520]) out[width] = Array.from({ length: 2000 }, () => walk.call({}, width));
      return out;
    });
    await context.close();
    for (const [width, list] of Object.entries(targets)) {
      const w = Number(width);
      assert.ok(list.every((t) => t >= 30 && t <= w - 30), width + ': inside the margins');
      assert.ok(list.every((t) => Math.abs(t - w / 2) >= 34 - 1e-9), width + ': clear of the fire');
      assert.ok(list.some((t) => t < w / 2) && list.some((t) => t > w / 2), width + ': both sides');
    }
  });

  test('bubbles stay inside the display at both edges with the tail on the figure', async () => {
    const { page, context } = await openPage(browser, server, { reducedMotion: true, theme: 'dark' });
    await until(() => page.evaluate(() => document.querySelectorAll('#display .being.drawn').length === 3));
    const cases = [
      { index: 0, x: 4 }, { index: 0, x: 30 }, { index: 1, x: 260 }, { index: 1, x: 'right-4' },
      { index: 2, x: 3 }, { index: 2, x: 'right-2' }
    ];
    for (const c of cases) {
      const r = await page.evaluate(({ index, x }) => {
        const d = document.getElementById('display');
        const m = window.Fernhall.mascots.list()[index];
        m.x = typeof x === 'number' ? x : d.clientWidth - Number(x.split('-')[1]);
        m.place();
        m.setSelected(true);
        const dr = d.getBoundingClientRect();
        const br = m.say.getBoundingClientRect();
        const fr = m.fig.getBoundingClientRect();
        const tail = m.say.querySelector('.t1').getBoundingClientRect();
        m.setSelected(false);
        return { dl: dr.left + d.clientLeft, dr: dr.left + d.clientLeft + d.clientWidth, bl: br.left, br: br.right,
          w: br.width, tail: tail.left + tail.width / 2, fig: fr.left + fr.width / 2 };
      }, c);
      const label = JSON.stringify(c);
      assert.ok(r.bl >= r.dl + 3 - 0.5, label + ' left edge inside');
      assert.ok(r.br <= r.dr - 3 + 0.5, label + ' right edge inside');
      assert.ok(r.tail >= r.bl + 8 - 1 && r.tail <= r.br - 8 + 1, label + ' tail on the bubble');
      const reachable = r.fig >= r.bl + 8 && r.fig <= r.br - 8;
      if (reachable) assert.ok(Math.abs(r.tail - r.fig) <= 1.5, label + ' tail points at the figure ' + JSON.stringify(r));
    }
    const geometry = await page.evaluate(() => {
      const g = window.Fernhall.mascots.placeBubble;
      return [g(60, 10, 520), g(60, 515, 520), g(60, 260, 520), g(0, 260, 520), g(80, 41, 520)];
    });
    await context.close();
    assert.deepEqual(geometry, [{ left: 3, tail: 8 }, { left: 457, tail: 52 }, { left: 230, tail: 30 },
      { left: 230, tail: 30 }, { left: 3, tail: 38 }]);
  });
});
