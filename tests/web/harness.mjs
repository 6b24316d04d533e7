// What the page's browser tests and its benchmark share: a static server on
// 127.0.0.1 that serves the site alone and logs every request, and the
// system's chromium, headless, in a new empty profile that phones nowhere.

import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import playwright from 'playwright-core';

const kTypes = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css',
                 '.wasm': 'application/wasm', '.png': 'image/png' };

// The native tool and sample maker a page test compares with: without them
// the test is skipped (ctest's SKIP_RETURN_CODE 77).
export function requireNativeTools(...tools) {
  for (const tool of tools) {
    if (!fs.existsSync(tool)) {
      console.log(`no native tool at ${tool}: build the native preset first`);
      process.exit(77);
    }
  }
}

// With `isolated`, the headers that make the page cross-origin isolated,
// which lets its workers share memory (the page then reads ahead).
export async function serveSite(site, { isolated = true } = {}) {
  const isolation = isolated ? { 'Cross-Origin-Opener-Policy': 'same-origin', 'Cross-Origin-Embedder-Policy': 'require-corp' } : {};
  const served = new Set(fs.readdirSync(site));
  const log = [];
  const server = http.createServer((request, response) => {
    log.push(request.url);
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/^\/+/, '') || 'index.html';
    if (!served.has(name)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': kTypes[path.extname(name)] ?? 'application/octet-stream', ...isolation });
    fs.createReadStream(path.join(site, name)).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { origin: `http://127.0.0.1:${server.address().port}`, served, log, close: () => server.close() };
}

export async function openBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vexmira-chromium-'));
  const context = await playwright.chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    viewport: { width: 1280, height: 900 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = context.pages()[0] ?? await context.newPage();
  const close = async () => {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return { context, page, profile, close };
}

// Peak resident memory of the renderer processes of the browser that
// openBrowser started with `profile`.
export function rendererPeak(profile) {
  const parents = new Map();
  const commands = new Map();
  for (const pid of fs.readdirSync('/proc').filter((entry) => /^\d+$/.test(entry))) {
    try {
      const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
      parents.set(pid, /PPid:\s+(\d+)/.exec(status)[1]);
      commands.set(pid, fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8'));
    } catch { /* gone meanwhile */ }
  }
  const browser = [...commands].find(([, command]) => command.includes(profile) && !command.includes('--type='))?.[0];
  const descends = (pid) => { for (let p = pid; p && p !== '1'; p = parents.get(p)) if (p === browser) return true; return false; };
  let peak = 0;
  for (const [pid, command] of commands) {
    if (!command.includes('--type=renderer') || !descends(pid)) continue;
    try {
      const hwm = /VmHWM:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
      if (hwm) peak = Math.max(peak, Number(hwm[1]) * 1024);
    } catch { /* gone meanwhile */ }
  }
  return peak;
}

// Waits until the page has listed every file it was given.
export async function waitIdle(page, timeout = 300_000) {
  await page.waitForFunction(() => ['done', 'failed'].includes(document.body.dataset.state), null,
                             { timeout, polling: 200 });
}

// What a click downloads: its suggested name and its bytes. Headless chromium
// now and then starts no download for a click on a button that is there and
// enabled (about one click in fifty here, whatever the page): such a click is
// made once more, and what downloads is checked alike. `target` is a selector
// or a playwright locator.
export async function downloaded(page, target) {
  const click = () => (typeof target === 'string' ? page.click(target) : target.click());
  let download = null;
  for (const wait of [10_000, 30_000]) {
    try {
      [download] = await Promise.all([page.waitForEvent('download', { timeout: wait }), click()]);
      break;
    } catch (error) {
      if (wait === 30_000 || error.name !== 'TimeoutError') throw error;
      console.log(`     ${target}: no download in ${wait / 1000} s, clicked again`);
    }
  }
  return { name: download.suggestedFilename(), bytes: fs.readFileSync(await download.path()) };
}
