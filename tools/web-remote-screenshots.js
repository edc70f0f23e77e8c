// Pictures of the web remote for ./go demo: projectord on the simulator's device, the page in
// headless Chromium at a phone's size and at a desktop's, after a press of STATUS.
//   node tools/web-remote-screenshots.js PROJECTORD DEVICE MODEL OUT_DIR
// puppeteer-core comes from tests/node, where ./go installs it.
'use strict';

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require(path.join(__dirname, '..', 'tests', 'node', 'node_modules', 'puppeteer-core'));

const [daemonPath, device, model, out] = process.argv.slice(2);

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

(async () => {
  const port = await freePort();
  const daemon = spawn(daemonPath, ['--port', device, '--model', model, '--http', String(port)],
                       { stdio: ['ignore', 'ignore', 'pipe'] });
  let log = '';
  daemon.stderr.on('data', (d) => { log += d; });
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'web-remote-shots-'));
  let browser;
  try {
    for (let i = 0; i < 250 && !log.includes('line up'); ++i) await new Promise((r) => setTimeout(r, 20));
    if (!log.includes('line up')) throw new Error('projectord did not start: ' + log);
    browser = await puppeteer.launch({
      executablePath: '/usr/bin/chromium',
      headless: true,
      args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
             '--disable-sync', '--no-first-run', '--user-data-dir=' + profile],
    });
    const page = await browser.newPage();
    for (const [name, viewport] of [['phone', { width: 390, height: 844, deviceScaleFactor: 2 }],
                                    ['desktop', { width: 1280, height: 900 }]]) {
      await page.setViewport(viewport);
      await page.goto('http://127.0.0.1:' + port + '/');
      await page.waitForSelector('body[data-live]');
      await page.click('button[data-name="status"]');
      await page.waitForFunction(() => document.querySelector('#status').textContent !== '');
      await page.evaluate(() => window.scrollTo(0, 0));
      const file = path.join(out, 'web-remote-' + name + '.png');
      await page.screenshot({ path: file, fullPage: name === 'phone' });
      console.log('web remote, ' + name + ': ' + file);
    }
  } finally {
    if (browser) await browser.close();
    daemon.kill('SIGTERM');
    fs.rmSync(profile, { recursive: true, force: true });
  }
})().catch((e) => {
  console.error(e.message);
  process.exit(1);
});
