// web/serve.py, as a user starts it from the page's folder: the page it
// serves is cross-origin isolated (so it reads ahead), the module comes as
// WebAssembly, and a wrong argument is refused.
//   node serve_test.mjs SITE

import { spawn, spawnSync } from 'node:child_process';
import http from 'node:http';
import path from 'node:path';
import { openBrowser } from './harness.mjs';

const [site] = process.argv.slice(2);
const script = path.resolve(site, 'serve.py');
let failures = 0;
function check(ok, what) {
  console.log(`${ok ? 'ok' : 'FAIL'} - ${what}`);
  if (!ok) failures += 1;
}

const usage = spawnSync('/usr/bin/python3', [script, 'eighty']);
check(usage.status === 64 && usage.stderr.toString().includes('usage: serve.py [PORT]'), 'a port that is no number is refused');

const server = spawn('/usr/bin/python3', [script, '0'], { cwd: '/', stdio: ['ignore', 'pipe', 'inherit'] });
const origin = await new Promise((resolve, reject) => {
  let said = '';
  server.stdout.on('data', (chunk) => {
    said += chunk;
    const found = /http:\/\/127\.0\.0\.1:\d+\//.exec(said);
    if (found) resolve(found[0]);
  });
  server.on('exit', (code) => reject(new Error(`serve.py ended with ${code} before serving`)));
});
const browser = await openBrowser();
try {
  const answer = await browser.page.goto(origin);
  check(answer.status() === 200, `${origin} serves the page from its own folder, wherever it was started`);
  check(await browser.page.evaluate(() => self.crossOriginIsolated), 'the page is cross-origin isolated');
  const module = await new Promise((resolve, reject) => {
    http.get(`${origin}vexmira.wasm`, (response) => {
      response.resume();
      resolve(response);
    }).on('error', reject);
  });
  check(module.statusCode === 200 && module.headers['content-type'] === 'application/wasm' &&
        module.headers['cross-origin-embedder-policy'] === 'require-corp',
        `the module comes as application/wasm with the isolation headers (${module.headers['content-type']})`);
} finally {
  await browser.close();
  server.kill();
}
process.exit(failures === 0 ? 0 : 1);
