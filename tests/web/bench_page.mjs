// The page's speed beside the tool's on one file, in one run: the time the
// module takes in headless chromium to locate the archive and to list every
// candidate (as the worker measures its two calls), and the time the native
// tool takes for `--json --in-place FILE` and `--json --in-place --all FILE`;
// each the median of RUNS runs, taking turns. The last line holds the ratios.
//
//   node bench_page.mjs SITE VEXMIRA FILE [QUERY]    (QUERY: e.g. ?module=portable)

import { spawnSync } from 'node:child_process';
import path from 'node:path';

import { openBrowser, serveSite, waitIdle } from './harness.mjs';

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
const server = await serveSite(site);
const browser = await openBrowser();
const { page } = browser;
const times = { pageLocate: [], pageAll: [], pageWall: [], toolLocate: [], toolAll: [] };
let module = '';
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
                                               module: document.body.dataset.module, state: document.body.dataset.state }));
    if (shown.state !== 'done' || shown.timings.candidates == null) throw new Error(`the page did not list ${file}`);
    module = shown.module;
    times.pageLocate.push(shown.timings.located);
    times.pageAll.push(shown.timings.candidates);
  }
} finally {
  await browser.close();
  server.close();
}

const s = (ms) => (ms / 1000).toFixed(2);
const m = Object.fromEntries(Object.entries(times).map(([key, values]) => [key, median(values)]));
console.log(`file: ${file}, median of ${runs} runs, the page's ${module} module`);
console.log(`page: locate ${s(m.pageLocate)} s, list every candidate ${s(m.pageAll)} s (wall, from choosing the file: ${s(m.pageWall)} s)`);
console.log(`tool: locate ${s(m.toolLocate)} s, list every candidate ${s(m.toolAll)} s`);
console.log(`page/tool: locate ${(m.pageLocate / m.toolLocate).toFixed(2)}x (goal 3x), ` +
            `list every candidate ${(m.pageAll / m.toolAll).toFixed(2)}x (goal 4x)`);
