// The built page on the real native side: the page test host (fernhall_pagehost)
// serves the application's resource provider and native functions over loopback,
// with fixture plug-in folders and the loopback HTTPS registry server. No scripted
// bridge: every call the page makes goes to the real manager logic.
import { test, before, after, describe } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import { launch, artifactDir, readList, rowOf, press, select, cardSettled, until } from '../page/view-harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const mascotFixtures = path.resolve(here, '../support/fixtures/mascots');

function hostProgram() {
  const exe = process.env.FERNHALL_PAGEHOST;
  if (!exe || !fs.existsSync(exe)) throw new Error('FERNHALL_PAGEHOST must name the built fernhall_pagehost program');
  return exe;
}

function write(file, text) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, text);
}

// A plug-in bundle as the scan reads it: Contents/Info.plist with identifier and version.
function bundle(folder, name, id, version) {
  write(path.join(folder, name, 'Contents', 'Info.plist'),
    '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>' +
    `<key>CFBundleIdentifier</key><string>${id}</string>` +
    `<key>CFBundleShortVersionString</key><string>${version}</string></dict></plist>\n`);
  return path.join(folder, name);
}

function registry(root, origin) {
  const files = path.join(root, 'files');
  for (const f of fs.readdirSync(mascotFixtures)) fs.copyFileSync(path.join(mascotFixtures, f), path.join(files, f));
  const entry = (id, name, tagline, latest, motion) => ({
    id, name, tagline, latest, mascotMotion: motion,
    mascot: `${origin}/files/${id}.svg`, mascotModule: `${origin}/files/${id}.mjs`,
    landingUrl: `https://example.invalid/${id}`
  });
  write(path.join(root, 'registry/v1/catalog.json'), JSON.stringify({
    products: [
      entry('grumbot-2', 'Grumbot 2', 'Snarling saturation', { stable: '2.0.0' }, 'walk'),
      entry('grumbot-lite', 'Grumbot Lite', 'The small one', { stable: '1.2.0' }, 'walk'),
      entry('hissmoth', 'Hissmoth', 'Night-time de-esser', { beta: '0.9.0' }, 'fly')
    ],
    notices: [],
    manager: { macos: { version: '1.0.0' } }
  }));
  const doc = (version, channel) => JSON.stringify({ releases: [{ version, channel, artifacts: [
    { kind: 'installer', platform: 'macos', url: `${origin}/files/x-${version}.pkg`, filename: `x-${version}.pkg`, sha256: '0'.repeat(64), size: 10 }
  ] }] });
  write(path.join(root, 'registry/v1/products/grumbot-2.json'), doc('2.0.0', 'stable'));
  write(path.join(root, 'registry/v1/products/grumbot-lite.json'), doc('1.2.0', 'stable'));
  write(path.join(root, 'registry/v1/products/hissmoth.json'), doc('0.9.0', 'beta'));
}

let tmp;
let host;
let hostLines = [];
let port;
let browser;
let bundles;

before(async () => {
  const exe = hostProgram();
  tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'fernhall-pagehost-'));
  const root = path.join(tmp, 'root');
  const reg = path.join(tmp, 'registry');
  fs.mkdirSync(path.join(reg, 'files'), { recursive: true });
  bundles = {
    g2user: bundle(path.join(root, 'user/VST3'), 'Grumbot 2.vst3', 'de.tarvo.grumbot2', '1.0.0'),
    g2sys: bundle(path.join(root, 'sys/Components'), 'Grumbot 2.component', 'de.tarvo.grumbot2', '1.1.0'),
    lite: bundle(path.join(root, 'user/VST3'), 'Grumbot Lite.vst3', 'de.tarvo.grumbotlite', '1.2.0')
  };

  host = spawn(exe, ['--root', root, '--registry-root', reg], { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = readline.createInterface({ input: host.stdout });
  const first = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('the page host did not report its port')), 20000);
    host.once('exit', (code) => reject(new Error('the page host ended early with ' + code)));
    lines.once('line', (l) => { clearTimeout(timer); resolve(l); });
  });
  lines.on('line', (l) => hostLines.push(l));
  const m = /^PORT (\d+) REGISTRY (\S+)$/.exec(first);
  assert.ok(m, 'first line of the host: ' + first);
  port = Number(m[1]);
  registry(reg, m[2]);
  browser = await launch();
});

after(async () => {
  await browser?.close();
  if (host && host.exitCode === null) {
    const ended = new Promise((r) => host.once('exit', r));
    host.stdin.end();
    const timer = setTimeout(() => host.kill('SIGKILL'), 20000);
    await ended;
    clearTimeout(timer);
  }
  if (tmp) fs.rmSync(tmp, { recursive: true, force: true });
});

describe('real native side', () => {
  test('boots on getState and refreshCatalog and shows the scanned products; removes a user bundle', async () => {
    const context = await browser.newContext({ viewport: { width: 560, height: 640 } });
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    try {
      await page.goto(`http://127.0.0.1:${port}/`);
      await page.waitForFunction(() => window.__tarvoUiAlive === true, null, { timeout: 15000 });

      // After the registry refresh the catalogue's products appear with the scan's versions.
      await until(async () => (await readList(page)).rows.length === 3, { timeout: 30000 });
      const list = await readList(page);
      assert.equal(list.count, '3 products');
      assert.deepEqual(list.items.map((i) => i.group || i.id),
        ['Installed', 'grumbot-2', 'grumbot-lite', 'Available', 'hissmoth']);
      const byId = Object.fromEntries(list.rows.map((r) => [r.id, r]));
      assert.deepEqual([byId['grumbot-2'].version, byId['grumbot-2'].action], ['1.0.0', 'Update'], 'the oldest installed version while an update is due');
      assert.deepEqual([byId['grumbot-lite'].version, byId['grumbot-lite'].action], ['1.2.0', 'Up to date']);
      assert.deepEqual([byId.hissmoth.version, byId.hissmoth.action], ['0.9.0 beta', 'Install']);
      assert.equal(byId.hissmoth.status, 'Night-time de-esser');

      // Footer from the real answers; display settings from the host: white, high contrast.
      const shell = await page.evaluate(() => ({
        ver: document.getElementById('ver').textContent, hint: document.getElementById('hint').textContent,
        classes: ['white', 'hc'].filter((c) => document.body.classList.contains(c)),
        booterr: !!document.getElementById('booterr')
      }));
      assert.equal(shell.ver, 'v1.0.0');
      assert.match(shell.hint, /^Catalogue \d{4}-\d\d-\d\d$/);
      assert.deepEqual(shell.classes, ['white', 'hc']);
      assert.equal(shell.booterr, false);
      assert.ok(hostLines.includes('size 560 640'), 'window size asked for: ' + hostLines.join(' | '));

      // Mascot images come from the application's cache through the resource provider.
      await until(() => page.evaluate(() => Array.from(document.querySelectorAll('#list img.thumb'))
        .filter((i) => i.complete && i.naturalWidth > 0).length === 3), { timeout: 10000 });

      // The card lists the scanned locations.
      await select(page, 'grumbot-2');
      await cardSettled(page);
      const card = (await readList(page)).card;
      assert.equal(card.kicker, 'installed 1.0.0 · latest 2.0.0');
      // Locations in scan order: the system folders come first.
      assert.deepEqual(card.lines, [['01', 'AU · System', '1.1.0'], ['02', 'VST3 · User', '1.0.0']]);
      await page.waitForTimeout(400);
      await page.screenshot({ path: path.join(artifactDir(), 'native-host.png') });

      // Removing the user-folder product deletes its bundle; it becomes available.
      await select(page, 'grumbot-lite');
      await until(async () => (await readList(page)).card?.buttons?.includes('Uninstall:risk'));
      await press(page, 'grumbot-lite', 'Uninstall', { inCard: true });
      await until(async () => (await readList(page)).card?.question === 'Remove Grumbot Lite from this Mac?');
      assert.equal((await readList(page)).card.note, null, 'no password for the user folder');
      await press(page, 'grumbot-lite', 'Remove', { inCard: true });
      await until(async () => (await rowOf(page, 'grumbot-lite'))?.action === 'Install', { timeout: 30000 });
      assert.equal(fs.existsSync(bundles.lite), false);
      assert.equal(fs.existsSync(bundles.g2user), true);
      assert.deepEqual(errors, []);
    } finally {
      await context.close();
    }
  });
});
