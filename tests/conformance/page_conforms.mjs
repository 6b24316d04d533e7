// The page against the tool on the one corpus (corpus.py, its names that are
// UTF-8 only): in headless chromium, the JSON the page downloads, the carved
// archives it offers (the located one and each candidate's) and its refusals
// are the tool's. Every difference is printed, naming the file, the page and
// the first key that differs; the exit status is 1 when there is any.
//
//   node page_conforms.mjs SITE VEXMIRA VEXMIRA_SAMPLE WORKDIR

import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { downloaded, openBrowser, requireNativeTools, serveSite, waitIdle } from '../web/harness.mjs';

const [site, vexmira, sampleTool, workdir] = process.argv.slice(2, 6).map((arg) => arg && path.resolve(arg));
if (!workdir) {
  console.error('usage: node page_conforms.mjs SITE VEXMIRA VEXMIRA_SAMPLE WORKDIR');
  process.exit(64);
}
requireNativeTools(vexmira, sampleTool);
const deadline = setTimeout(() => {
  console.error('FAIL: the page did not finish the corpus in 600 s');
  process.exit(1);
}, 600_000);

const corpus = path.join(path.dirname(fileURLToPath(import.meta.url)), 'corpus.py');
const names = execFileSync('/usr/bin/python3', [corpus, sampleTool, workdir, '--utf8-names'])
  .toString('utf8').split('\n').filter((name) => name.length > 0);

const failures = [];
const fail = (name, what) => failures.push(`${JSON.stringify(name)}: page ${what}`);

function tool(...args) {
  return spawnSync(vexmira, args, { cwd: workdir, maxBuffer: 256 * 1024 * 1024 }).stdout;
}

// The path of the first key (or index) where `got` differs from `expected`.
function firstDifference(expected, got, where = '') {
  if (expected && got && typeof expected === 'object' && typeof got === 'object' &&
      Array.isArray(expected) === Array.isArray(got)) {
    const keys = [...new Set([...Object.keys(expected), ...Object.keys(got)])];
    for (const key of keys) {
      const at = Array.isArray(expected) ? `${where}[${key}]` : `${where}.${key}`;
      if (!(key in got) || !(key in expected)) return `${at} (only in ${key in expected ? 'the tool' : 'the page'})`;
      const found = firstDifference(expected[key], got[key], at);
      if (found) return found;
    }
    return null;
  }
  return Object.is(expected, got) ? null
    : `${where || 'the value'}: tool ${JSON.stringify(expected)}, page ${JSON.stringify(got)}`;
}

// JSON lines compared as bytes; where they differ, the line and key named.
function compareLines(name, what, expected, got) {
  if (expected.equals(got)) return;
  const wanted = expected.toString('utf8').split('\n');
  const given = got.toString('utf8').split('\n');
  const line = wanted.findIndex((text, index) => text !== given[index]);
  let key = `${wanted.length} lines against ${given.length}`;
  try {
    key = firstDifference(JSON.parse(wanted[line]), JSON.parse(given[line])) ?? 'the same values, other bytes';
  } catch { /* a line that is no JSON: the counts say it */ }
  fail(name, `${what} differs from the tool's at line ${line + 1}: ${key}`);
}

// The reason a refusal gives, without the path the tool could not create.
const reason = (error) => error.replace(/^Cannot create file ".*"\. /s, '');

// What the tool's --carve did for one listing: a file, a refusal or nothing.
function toolCarve(object) {
  if (object.carved) {
    return { file: path.basename(object.carved.path), bytes: fs.readFileSync(path.join(workdir, object.carved.path)) };
  }
  if (object.error?.includes('Nothing to carve')) return { refusal: reason(object.error) };
  return {};
}

function compareCarve(name, what, expected, got) {
  const describe = (carve) => (carve.file ? `${carve.file} (${carve.bytes.length} bytes)`
    : carve.refusal ? `the refusal "${carve.refusal}"` : 'nothing');
  const same = expected.file ? got.file === expected.file && got.bytes.equals(expected.bytes)
    : expected.refusal ? got.refusal === expected.refusal : !got.file && !got.refusal;
  if (!same) fail(name, `${what}: the tool's --carve gives ${describe(expected)}, the page ${describe(got)}`);
}

const hex = (offset) => offset.toString(16).toUpperCase().padStart(8, '0');

const server = await serveSite(site);
const browser = await openBrowser();
const { page } = browser;
const pageErrors = [];
page.on('pageerror', (error) => pageErrors.push(String(error)));
try {
  await page.goto(`${server.origin}/index.html`);
  for (const name of names) {
    await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
    await page.setInputFiles('#file-input', path.join(workdir, name));
    await waitIdle(page);
    const state = await page.evaluate(() => document.body.dataset.state);
    if (state !== 'done') {
      fail(name, `did not list the file (${state})`);
      continue;
    }
    compareLines(name, 'JSON', tool('--json', '--in-place', name), (await downloaded(page, '#download-json')).bytes);
    compareLines(name, 'JSON of every candidate', tool('--json', '--in-place', '--all', name),
                 (await downloaded(page, '#download-all-json')).bytes);

    // The located archive's carve.
    fs.rmSync(path.join(workdir, 'carved'), { recursive: true, force: true });
    const located = JSON.parse(tool('--json', '--carve', '--output-dir', 'carved', name).toString('utf8').split('\n')[0]);
    let offered = {};
    if (await page.isEnabled('#download-carved')) {
      // The name the page gives (the browser's download may replace a " or a tab in it).
      const label = await page.textContent('#download-carved');
      offered = { file: label.replace(/^Download carved archive \((.*)\)$/s, '$1'),
                  bytes: (await downloaded(page, '#download-carved')).bytes };
    } else {
      const refusal = await page.getAttribute('#download-carved', 'title');
      if (refusal) offered = { refusal };
    }
    compareCarve(name, 'the located archive\'s carve', toolCarve(located), offered);

    // Each candidate's carve, as --all --carve writes it. A candidate that an
    // earlier carve holds is not written again by the tool: the page's offer
    // of it is its own. A candidate folded into a run has no row of its own.
    fs.rmSync(path.join(workdir, 'carved-all'), { recursive: true, force: true });
    const candidates = tool('--json', '--all', '--carve', '--output-dir', 'carved-all', name).toString('utf8')
      .split('\n').filter((line) => line.length > 0).map((line) => JSON.parse(line))
      .filter((object) => typeof object.offset === 'number' && object.offset >= 0);
    // The table folds away behind its summary line when it has one row.
    await page.evaluate(() => { document.getElementById('candidates-section').open = true; });
    const rows = page.locator('#candidates tbody tr');
    const shown = await page.evaluate(() => [...document.querySelectorAll('#candidates tbody tr')].map((row) =>
      row.querySelector('button[aria-label^="Show the entries of the candidate at "]')?.getAttribute('aria-label').split(' ').pop()));
    for (const object of candidates) {
      if (object.carved_in) continue;
      const index = shown.indexOf(hex(object.offset));
      if (index < 0) continue;
      const button = rows.nth(index).locator('button[aria-label^="Download "]');
      let candidateOffer = {};
      if (await button.count() > 0) {
        candidateOffer = { file: (await button.getAttribute('aria-label')).replace(/^Download /, ''),
                           bytes: (await downloaded(page, button)).bytes };
      }
      const expected = toolCarve(object);
      // The candidates' table offers a carve or none; a refusal is none there.
      compareCarve(name, `the carve of the candidate at ${object.offset}`, expected.refusal ? {} : expected, candidateOffer);
    }
    console.log(`     ${name}: compared`);
  }
} finally {
  await browser.close();
  server.close();
  clearTimeout(deadline);
}
if (pageErrors.length > 0) failures.push(`script errors: ${pageErrors.join('; ')}`);
for (const failure of failures) console.log(`FAIL ${failure}`);
console.log(`${names.length} files, ${failures.length} differences`);
process.exit(failures.length === 0 ? 0 : 1);
