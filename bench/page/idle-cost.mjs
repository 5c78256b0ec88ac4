// Main-thread cost of the page while idle: the display's stepped animations and three
// mascots (two walkers, one flyer) against the same page with reduced motion (a still
// scene), against an empty document and against a page that changes one dot on
// the same 110 ms beat (what any page with that frame rate costs here), all measured in this run through Chromium's
// performance metrics (TaskDuration and ScriptDuration deltas over a quiet window).
//
//   FERNHALL_PAGE_DIR=<build>/page node bench/page/idle-cost.mjs [seconds]
import { startServer, launch, openPage } from '../../tests/page/scene-harness.mjs';

const seconds = Number(process.argv[2]) > 0 ? Number(process.argv[2]) : 5;

async function metrics(cdp) {
  const { metrics: list } = await cdp.send('Performance.getMetrics');
  const m = Object.fromEntries(list.map((x) => [x.name, x.value]));
  return { task: m.TaskDuration, script: m.ScriptDuration, layout: m.LayoutDuration, style: m.RecalcStyleDuration };
}

async function measure(browser, server, label, options) {
  let page, context;
  if (options === 'blank' || options === 'floor') {
    context = await browser.newContext({ viewport: { width: 560, height: 640 } });
    page = await context.newPage();
    await page.setContent('<!doctype html><html><body><div id="d" style="width:8px;height:8px;background:#888"></div></body></html>');
    // The least a page can do that changes something on the same 110 ms beat.
    if (options === 'floor')
      await page.evaluate(() => { const d = document.getElementById('d'); let o = 0; setInterval(() => { d.style.opacity = (o = 1 - o) ? '1' : '.5'; }, 110); });
  } else {
    ({ page, context } = await openPage(browser, server, options));
    await page.waitForFunction(() => document.querySelectorAll('#display .being.drawn').length === 3, null, { timeout: 10000 });
  }
  const cdp = await context.newCDPSession(page);
  await cdp.send('Performance.enable', { timeDomain: 'timeTicks' });
  await page.waitForTimeout(1000); // let the start settle
  const a = await metrics(cdp);
  const t0 = Date.now();
  await page.waitForTimeout(seconds * 1000);
  const b = await metrics(cdp);
  const wall = (Date.now() - t0) / 1000;
  await context.close();
  const per = (k) => ((b[k] - a[k]) * 1000) / wall;
  const r = { label, task: per('task'), script: per('script'), layout: per('layout'), style: per('style') };
  console.log(`${label.padEnd(34)} task ${r.task.toFixed(2).padStart(7)} ms/s   script ${r.script.toFixed(2).padStart(6)} ms/s` +
              `   style ${r.style.toFixed(2).padStart(6)} ms/s   layout ${r.layout.toFixed(2).padStart(6)} ms/s`);
  return r;
}

const server = await startServer();
const browser = await launch();
try {
  console.log(`main-thread time per second of wall time, over ${seconds} s idle (560 x 640, dark scene)`);
  const blank = await measure(browser, server, 'empty document (reference)', 'blank');
  const floor = await measure(browser, server, 'one dot blinking every 110 ms (ref)', 'floor');
  const still = await measure(browser, server, 'page, reduced motion (reference)', { theme: 'dark', reducedMotion: true });
  const live = await measure(browser, server, 'page, animated, three mascots', { theme: 'dark' });
  const day = await measure(browser, server, 'page, animated, day theme', { theme: 'white' });
  console.log(`ratio animated / still page:    ${(live.task / Math.max(still.task, 0.01)).toFixed(1)}x (task time)`);
  console.log(`ratio animated / empty document: ${(live.task / Math.max(blank.task, 0.01)).toFixed(1)}x (task time)`);
  console.log(`ratio animated / blinking dot:  ${(live.task / Math.max(floor.task, 0.01)).toFixed(2)}x (task time; the frames themselves cost most)`);
  console.log(`share of one core while idle:    ${(live.task / 10).toFixed(2)} % night, ${(day.task / 10).toFixed(2)} % day`);
} finally {
  await browser.close();
  await server.close();
}
