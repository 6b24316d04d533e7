// The page's speed beside the tool's on one file, in one run: the time the
// module takes in headless chromium to locate the archive and to list every
// candidate (as the worker measures its two calls), and the time the native
// tool takes for `--json --in-place FILE` and `--json --in-place --all FILE`;
// each the median of RUNS runs, taking turns, and the peak resident memory of
// the tab's renderer. The last line holds the ratios.
//
//   node bench_page.mjs SITE VEXMIRA FILE [QUERY]    (QUERY: e.g. ?module=portable)

import { spawnSync } from 'node:child_process';
import path from 'node:path';

import { openBrowser, rendererPeak, serveSite, waitIdle } from './harness.mjs';

const [site, vexmira, file] = process.argv.slice(2, 5).map((arg) => arg && path.resolve(arg));
const query = process.argv[5] ?? '';
if (!file) {
  console.error('usage: node bench_page.mjs SITE VEXMIRA FILE [QUERY]');
  process.exit(64);
}
const runs = Number(process.env.RUNS ?? 3);

function tool(...args) {
  const started = process.hrtime.bigint();
  const run = spawnSync(vexmira, [...args, path.basename(file)], { cwd: path.dirname(file), stdio: ['ignore', 'ignore', 'ignore'] });
  if (run.status === null || run.status > 1) throw new Error(`vexmira ${args.join(' ')} failed (${run.status})`);
  return Number(process.hrtime.bigint() - started) / 1e6;
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
// ISOLATED=0: served without the headers that let the page read ahead.
const server = await serveSite(site, { isolated: process.env.ISOLATED !== '0' });
const browser = await openBrowser();
const { page } = browser;
const times = { pageLocate: [], pageAll: [], pageWall: [], toolLocate: [], toolAll: [] };
let module = '';
let readAhead = false;
let peak = 0;
try {
  for (let run = 0; run < runs; run += 1) {
    times.toolLocate.push(tool('--json', '--in-place'));
    times.toolAll.push(tool('--json', '--in-place', '--all'));
    await page.goto(`${server.origin}/index.html${query}`);
    const started = Date.now();
    await page.setInputFiles('#file-input', file);
    await waitIdle(page, 3_600_000);
    times.pageWall.push(Date.now() - started);
    const shown = await page.evaluate(() => ({ timings: JSON.parse(document.body.dataset.timings ?? '{}'),
                                               module: document.body.dataset.module, state: document.body.dataset.state,
                                               memory: JSON.parse(document.body.dataset.memory ?? '{}') }));
    if (shown.state !== 'done' || shown.timings.candidates == null) throw new Error(`the page did not list ${file}`);
    module = shown.module;
    readAhead = shown.memory.readAhead === true;
    times.pageLocate.push(shown.timings.located);
    times.pageAll.push(shown.timings.candidates);
  }
  peak = rendererPeak(browser.profile);
} finally {
  await browser.close();
  server.close();
}

const s = (ms) => (ms / 1000).toFixed(2);
const m = Object.fromEntries(Object.entries(times).map(([key, values]) => [key, median(values)]));
console.log(`file: ${file}, median of ${runs} runs, the page's ${module} module, ${readAhead ? 'reading ahead' : 'reading in the worker alone'}`);
console.log(`page: locate ${s(m.pageLocate)} s, list every candidate ${s(m.pageAll)} s (wall, from choosing the file: ${s(m.pageWall)} s)`);
console.log(`tab memory: renderer peak resident ${(peak / 1048576).toFixed(0)} MiB (goal under 300 MB)`);
console.log(`tool: locate ${s(m.toolLocate)} s, list every candidate ${s(m.toolAll)} s`);
console.log(`page/tool: locate ${(m.pageLocate / m.toolLocate).toFixed(2)}x (goal 3x), ` +
            `list every candidate ${(m.pageAll / m.toolAll).toFixed(2)}x (goal 4x)`);
