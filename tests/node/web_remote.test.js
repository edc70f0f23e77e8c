// The web remote in a real browser (Debian's chromium, headless, driven by puppeteer-core)
// against projectord and the projector simulator, each test starting its own on free ports
// of 127.0.0.1: both models pressed and checked with axe-core, a hold key's repeats counted
// against the time it was held, the line lost and back, the token asked for beyond loopback,
// the keyboard alone.
'use strict';

const { test, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');

const kSim = process.env.PROJECTOR_SIM;
const kDaemon = process.env.PROJECTORD;
const kWork = fs.mkdtempSync(path.join(os.tmpdir(), 'web-remote-'));
after(() => fs.rmSync(kWork, { recursive: true, force: true }));

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
    server.on('error', reject);
  });
}

async function until(what, check, ms = 5000) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await new Promise((r) => setTimeout(r, 20));
  }
}

let serial = 0;

// The simulator on a stable link, with its log of every command received.
class Simulator {
  constructor(model) {
    const id = process.pid + '-' + serial++;
    this.link = path.join(kWork, 'link-' + id);
    this.log = path.join(kWork, 'sim-' + id + '.log');
    this.child = spawn(kSim, ['--model', model, '--link', this.link, '--log', this.log, '--warmup', '0',
                              '--cooldown', '0', '--exit-on-stdin-eof'], { stdio: ['pipe', 'pipe', 'inherit'] });
    this.out = '';
    this.child.stdout.on('data', (d) => { this.out += d; });
  }
  started() { return until('the simulator', () => this.out.includes('\n')); }
  async control(line) {
    this.child.stdin.write(line + '\n');
    await until('OK ' + line, () => this.out.includes('OK ' + line + '\n'));
    this.out = '';
  }
  // Commands received with this code.
  count(code) {
    const text = fs.existsSync(this.log) ? fs.readFileSync(this.log, 'utf8') : '';
    return text.split('\n').filter((l) => l.split(' ').slice(1).join(' ') === 'RX ' + code).length;
  }
  stop() {
    this.child.stdin.end();
    this.child.kill('SIGTERM');
  }
}

class Daemon {
  constructor(args) {
    this.child = spawn(kDaemon, args, { stdio: ['ignore', 'ignore', 'pipe'] });
    this.err = '';
    this.child.stderr.on('data', (d) => { this.err += d; });
  }
  started() { return until('projectord to start', () => this.err.includes('started') || this.child.exitCode !== null); }
  // Ends it with SIGTERM; its exit status, 0 when all went well (a sanitizer's report or a
  // crash makes it another).
  stop() {
    this.child.kill('SIGTERM');
    return new Promise((r) => (this.child.exitCode !== null ? r(this.child.exitCode) : this.child.on('exit', r)));
  }
}

// A projector of the model behind projectord's HTTP port; `extra` are further options.
async function gateway(t, model, extra = []) {
  const sim = new Simulator(model);
  await sim.started();
  const port = await freePort();
  const httpArg = extra.includes('--http') ? [] : ['--http', String(port)];
  const args = ['--port', sim.link, '--model', model, ...httpArg, ...extra.map((a) => a.replace('PORT', port))];
  const daemon = new Daemon(args);
  await daemon.started();
  assert.match(daemon.err, /started/, daemon.err);
  t.after(async () => {
    const status = await daemon.stop();
    sim.stop();
    assert.equal(status, 0, daemon.err);
  });
  return { sim, daemon, url: 'http://127.0.0.1:' + port + '/' };
}

let browser;
// A fresh page on the url, at a phone's size, once its live events are connected (`live`).
async function page(t, url, { viewport = { width: 390, height: 844 }, live = true } = {}) {
  if (!browser) {
    browser = await puppeteer.launch({
      executablePath: '/usr/bin/chromium',
      headless: true,
      args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
             '--disable-sync', '--no-first-run', '--user-data-dir=' + path.join(kWork, 'chromium')],
    });
  }
  const p = await browser.newPage();
  const errors = [];
  p.on('pageerror', (e) => errors.push(e.message));
  if (process.env.WEB_REMOTE_DEBUG) p.on('console', (m) => console.log('page:', m.text()));
  await p.setBypassCSP(true);  // for axe-core's script; the page itself needs no exemption
  await p.setViewport(viewport);
  await p.bringToFront();  // a page in the background is hidden, and a hidden page holds no key
  t.after(async () => {
    await p.close();
    assert.deepEqual(errors, []);
  });
  if (url) await p.goto(url);
  if (url && live) await p.waitForSelector('body[data-live]');
  return p;
}
after(async () => { if (browser) await browser.close(); });

const text = (p, selector) => p.$eval(selector, (e) => e.textContent);
const waitText = (p, selector, want) =>
  p.waitForFunction((s, w) => document.querySelector(s).textContent.includes(w), { timeout: 5000 }, selector, want);

// The box of a button scrolled to the middle of the view, clear of the displays on top.
async function centred(p, name) {
  const button = await p.$('button[data-name="' + name + '"]');
  await button.evaluate((e) => e.scrollIntoView({ block: 'center' }));
  return button.boundingBox();
}

async function axeViolations(p) {
  await p.addScriptTag({ path: require.resolve('axe-core') });
  const results = await p.evaluate(() => window.axe.run());
  return results.violations.map((v) => v.id + ': ' + v.nodes.map((n) => n.target.join(' ')).join(', '));
}

test('both models: POWER ON and STATUS change TXD, RXD and STATUS; axe-core finds nothing', async (t) => {
  for (const model of ['TR27K', 'TR52']) {
    const g = await gateway(t, model);
    const p = await page(t, g.url);
    await waitText(p, '#line', 'line is up');
    assert.equal(await text(p, '#title'), 'projector · ' + model);
    // The model's own keys: WIRED on the TR27K, the logo keys on the TR52.
    assert.equal(await p.$('button[data-name="wired"]') !== null, model === 'TR27K');
    assert.equal(await p.$('button[data-name="logo-off"]') !== null, model === 'TR52');
    await p.click('button[data-name="power-on"]');
    await waitText(p, '#txd', ' C 0 0 CR ');
    await waitText(p, '#rxd', ' ACK CR ');
    await p.click('button[data-name="status"]');
    await waitText(p, '#status', ' Power ON');
    assert.equal(await text(p, '#txd'), ' C R 0 CR ');
    await waitText(p, '#state', 'Power: on');
    assert.deepEqual(await axeViolations(p), []);
    assert.equal(g.sim.count('C00'), 1);
  }
});

test('a hold key repeats at the panel period while held and stops on release and on leaving it', async (t) => {
  const g = await gateway(t, 'TR27K');
  const p = await page(t, g.url);
  await waitText(p, '#line', 'line is up');
  const box = await centred(p, 'vol-up');
  await p.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  const down = Date.now();
  await p.mouse.down();
  await until('five repeats', () => g.sim.count('C09') >= 5, 5000);
  await p.mouse.up();
  const held = Date.now() - down;
  await new Promise((r) => setTimeout(r, 100));
  const sent = g.sim.count('C09');
  // At the press, then every 250 ms of the hold.
  const expected = 1 + Math.floor(held / 250);
  assert.ok(Math.abs(sent - expected) <= 1, `sent ${sent} in ${held} ms, expected ${expected}`);
  await new Promise((r) => setTimeout(r, 600));
  assert.equal(g.sim.count('C09'), sent, 'a repeat after the release');
  assert.equal(await text(p, '#txd'), '');

  // Dragged off the key: the repeats stop as they do on release.
  const minus = await centred(p, 'vol-down');
  await p.mouse.move(minus.x + minus.width / 2, minus.y + minus.height / 2);
  await p.mouse.down();
  await until('two repeats', () => g.sim.count('C0A') >= 2, 5000);
  await p.mouse.move(minus.x + minus.width / 2, minus.y - 200);
  await new Promise((r) => setTimeout(r, 100));
  const left = g.sim.count('C0A');
  await new Promise((r) => setTimeout(r, 600));
  await p.mouse.up();
  assert.equal(g.sim.count('C0A'), left, 'a repeat after leaving the key');
});

test('the line lost and back is shown on the page', async (t) => {
  const g = await gateway(t, 'TR52');
  const p = await page(t, g.url);
  await waitText(p, '#line', 'line is up');
  await g.sim.control('hangup');
  await waitText(p, '#line', 'line is down');
  await g.sim.control('plug');
  await waitText(p, '#line', 'line is up');
  await p.click('button[data-name="power-on"]');
  await waitText(p, '#rxd', ' ACK CR ');
});

test('beyond loopback the page asks for the token once and keeps it', async (t) => {
  const tokenFile = path.join(kWork, 'token');
  fs.writeFileSync(tokenFile, 'correct-horse-battery-staple\n', { mode: 0o600 });
  const g = await gateway(t, 'TR27K', ['--http', '0.0.0.0:PORT', '--http-token-file', tokenFile]);
  const p = await page(t, g.url, { live: false });
  await p.waitForSelector('dialog[open]');
  assert.equal(await text(p, '#line'), 'Connecting…');
  await p.type('#token', 'wrong-token-0123456789');
  await p.keyboard.press('Enter');
  await waitText(p, '#token-why', 'not taken');
  await p.$eval('#token', (e) => { e.value = ''; });
  await p.type('#token', 'correct-horse-battery-staple');
  await p.keyboard.press('Enter');
  await waitText(p, '#line', 'line is up');
  await p.click('button[data-name="power-on"]');
  await waitText(p, '#rxd', ' ACK CR ');
  await p.reload();
  await waitText(p, '#line', 'line is up');
  assert.equal(await p.$('dialog[open]'), null);
  assert.match(g.daemon.err, /authentication failed: wrong token/);
});

test('the keyboard alone presses a button and holds a key', async (t) => {
  const g = await gateway(t, 'TR27K');
  const p = await page(t, g.url);
  await waitText(p, '#line', 'line is up');
  const focusOn = async (name) => {
    for (let i = 0; i < 80; ++i) {
      await p.keyboard.press('Tab');
      if (await p.evaluate(() => document.activeElement.dataset.name) === name) return;
    }
    throw new Error('Tab never reached ' + name);
  };
  await focusOn('power-on');
  await p.keyboard.press('Enter');
  await waitText(p, '#txd', ' C 0 0 CR ');
  await focusOn('vol-up');
  await p.keyboard.down('Space');
  await until('three repeats', () => g.sim.count('C09') >= 3, 5000);
  await p.keyboard.up('Space');
  await new Promise((r) => setTimeout(r, 100));
  const sent = g.sim.count('C09');
  await new Promise((r) => setTimeout(r, 600));
  assert.equal(g.sim.count('C09'), sent);
});
