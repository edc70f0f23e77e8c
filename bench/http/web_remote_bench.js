// The web remote's first load in headless Chromium over loopback: bytes transferred, first
// contentful paint and the remote ready (its keys built, its live events connected), against
// a floor in the same run: a bare page of one heading served by Node's own HTTP server.
//   node bench/http/web_remote_bench.js PROJECTORD PROJECTOR_SIM [LOADS]
'use strict';

const path = require('node:path');
const modules = path.join(__dirname, '..', '..', 'tests', 'node', 'node_modules');
const puppeteer = require(path.join(modules, 'puppeteer-core'));
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const net = require('node:net');
const os = require('node:os');

const [daemonPath, simPath, loadsArg] = process.argv.slice(2);
const loads = Number(loadsArg || 20);

const freePort = () => new Promise((resolve) => {
  const s = net.createServer();
  s.listen(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => resolve(port)); });
});
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const pct = (v, p) => { const s = [...v].sort((a, b) => a - b); return s[Math.min(s.length - 1, Math.floor(p * s.length))]; };

async function measure(browser, url, ready) {
  const bytes = [], paint = [], done = [];
  for (let i = 0; i < loads; ++i) {
    const context = await browser.createBrowserContext();  // nothing cached
    const page = await context.newPage();
    const cdp = await page.createCDPSession();
    await cdp.send('Network.enable');
    let transferred = 0;
    cdp.on('Network.loadingFinished', (e) => { transferred += e.encodedDataLength; });
    const start = Date.now();
    await page.goto(url);
    if (ready) await page.waitForSelector(ready);
    done.push(Date.now() - start);
    await sleep(50);
    paint.push(await page.evaluate(() => {
      const e = performance.getEntriesByName('first-contentful-paint')[0];
      return e ? e.startTime : NaN;
    }));
    bytes.push(transferred);
    await context.close();
  }
  return { bytes: pct(bytes, 0.5), paint50: pct(paint, 0.5), paint99: pct(paint, 0.99), done50: pct(done, 0.5),
           done99: pct(done, 0.99) };
}

(async () => {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'web-remote-bench-'));
  const link = path.join(work, 'projector');
  const sim = spawn(simPath, ['--link', link, '--exit-on-stdin-eof'], { stdio: ['pipe', 'ignore', 'ignore'] });
  while (!fs.existsSync(link)) await sleep(20);
  const port = await freePort();
  const daemon = spawn(daemonPath, ['--port', link, '--http', String(port)], { stdio: ['ignore', 'ignore', 'pipe'] });
  let log = '';
  daemon.stderr.on('data', (d) => { log += d; });
  while (!log.includes('line up')) await sleep(20);
  const floor = http.createServer((req, res) => {
    res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
    res.end('<!doctype html><html lang="en"><title>Projector remote</title><h1>Projector remote</h1></html>');
  });
  const floorPort = await freePort();
  await new Promise((r) => floor.listen(floorPort, '127.0.0.1', r));
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
           '--disable-sync', '--no-first-run', '--user-data-dir=' + path.join(work, 'chromium')],
  });
  try {
    const remote = await measure(browser, 'http://127.0.0.1:' + port + '/', 'body[data-live]');
    const bare = await measure(browser, 'http://127.0.0.1:' + floorPort + '/', 'h1');
    console.log(`web remote (${loads} loads): ${remote.bytes} bytes; first contentful paint p50 ${remote.paint50.toFixed(0)} ms, ` +
                `p99 ${remote.paint99.toFixed(0)} ms; ready p50 ${remote.done50} ms, p99 ${remote.done99} ms`);
    console.log(`floor, one heading from Node's http: ${bare.bytes} bytes; first contentful paint p50 ` +
                `${bare.paint50.toFixed(0)} ms, p99 ${bare.paint99.toFixed(0)} ms; loaded p50 ${bare.done50} ms`);
  } finally {
    await browser.close();
    floor.close();
    daemon.kill('SIGTERM');
    sim.stdin.end();
    sim.kill('SIGTERM');
    fs.rmSync(work, { recursive: true, force: true });
  }
})();
