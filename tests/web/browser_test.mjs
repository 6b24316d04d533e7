// The page in a real browser: the system's chromium, headless, driven by
// playwright-core, on a static server on 127.0.0.1 that serves the site alone.
// For every sample file, what the page offers for download must be what the
// native tool prints and carves, and no request may go anywhere else.
//
//   node browser_test.mjs SITE VEXMIRA VEXMIRA_SAMPLE WORKDIR [--huge | --screenshot PNG]
//
// The sample files by default; --huge: the 3 GiB sparse file (archive at
// 2.5 GiB) alone, and the worker's memory bound; --screenshot: the page with
// the worst carrier (program-tail.exe) listed, written to PNG, and nothing else.

import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

import { downloaded as downloadedBy, openBrowser, rendererPeak, requireNativeTools, serveSite, waitIdle } from './harness.mjs';

const [site, vexmira, sampleTool, workdir] = process.argv.slice(2, 6).map((arg) => arg && path.resolve(arg));
const rest = process.argv.slice(6);
const huge = rest.includes('--huge');
const screenshot = rest.includes('--screenshot') ? rest[rest.indexOf('--screenshot') + 1] : null;
if (!workdir) {
  console.error('usage: node browser_test.mjs SITE VEXMIRA VEXMIRA_SAMPLE WORKDIR [--huge | --screenshot PNG]');
  process.exit(64);
}
requireNativeTools(vexmira, sampleTool);

const GiB = 1024 ** 3;
// The worker's bounds while it lists the 3 GiB file: its WebAssembly memory,
// its largest single read of the file, and the peak resident memory of the
// renderer process that runs the page and its worker.
const kWasmBound = 32 * 1024 * 1024;
const kReadBound = 16 * 1024 * 1024;  // the worker's slice
const kRendererBound = 512 * 1024 * 1024;

// The whole run stops by itself, whatever hangs.
const deadline = setTimeout(() => {
  console.error('FAIL: the browser tests did not finish in 600 s');
  process.exit(1);
}, 600_000);

let failures = 0;
function check(condition, what) {
  if (condition) {
    console.log(`ok   ${what}`);
  } else {
    failures += 1;
    console.log(`FAIL ${what}`);
  }
}

// ---------------------------------------------------------------------------
// The files, made by the native build's sample tool.

fs.rmSync(workdir, { recursive: true, force: true });
fs.mkdirSync(workdir, { recursive: true });
const sample = (...args) => execFileSync(sampleTool, args, { cwd: workdir });
const files = [];
// The analyst's worst carrier: an archive and then 80 KiB of a program's
// bytes, which a walk reads on as entries (names of thousands of bytes,
// methods past the table, sizes that make no sense).
function programTail() {
  fs.writeFileSync(path.join(workdir, 'program-tail.exe'), Buffer.concat([
    fs.readFileSync(path.join(workdir, 'setup.exe')), fs.readFileSync(process.execPath).subarray(0, 80 * 1024)]));
}
if (screenshot) {
  sample('carrier', 'setup.exe');
  programTail();
} else if (huge) {
  sample('sparse', 'huge.exe', String(3 * GiB), String(2.5 * GiB));
  files.push('huge.exe');
} else {
  sample('carrier', 'setup.exe');
  // Lower case: the tool's rule for .ARC is case-sensitive, so this one is located.
  sample('carrier', 'x.arc');
  sample('archive', 'SAMPLE.ARC');
  sample('hostile', 'hostile.exe');
  sample('noise', 'noise.bin', '300000');
  sample('tail', 'tail.exe', '100000');
  sample('many', 'MANY.ARC', '3000');
  // One small archive over and over: a candidate every 64 bytes, folded into runs.
  sample('filler', 'archives', 'repeated.bin', '65536');
  // An archive header and nothing after it: located, listed empty, and not carved.
  const header = Buffer.alloc(21);
  header.write('SPIS\x1aLZH', 0, 'latin1');  // signature, compression id
  header.writeInt32LE(0, 8);                   // size value
  header.writeUInt8(1, 12);                    // archive type: multi
  fs.writeFileSync(path.join(workdir, 'empty.exe'), Buffer.concat([Buffer.from('MZ'), Buffer.alloc(39998), header]));
  // One entry whose name is longer than a table's column, then one whose method byte is past the table.
  const entry = (name, method) => {
    const fields = Buffer.alloc(25);
    fields.writeInt16LE(name.length, 0);
    fields.writeUInt8(method, 16);
    return Buffer.concat([fields, Buffer.from(name, 'latin1')]);
  };
  fs.writeFileSync(path.join(workdir, 'long.exe'), Buffer.concat([Buffer.from('MZ'), Buffer.alloc(39998), header,
    entry(`A_NAME_OF_SIXTY_CHARACTERS_${'X'.repeat(29)}.TXT`, 4), entry('ODD.BIN', 176)]));
  programTail();
  // The carrier cut short inside its last entry's stored data.
  fs.writeFileSync(path.join(workdir, 'cut.exe'), fs.readFileSync(path.join(workdir, 'setup.exe')).subarray(0, 141_212));
  // Archives across the 4 MiB slices the page reads ahead, the last one past
  // its 8 slots (so a slot is used again), in the same noise every run.
  const MiB = 1024 ** 2;
  const archive = fs.readFileSync(path.join(workdir, 'SAMPLE.ARC'));
  const spread = Buffer.alloc(40 * MiB);
  for (let at = 0, word = 0x9e3779b9; at < spread.length; at += 4) {
    word ^= word << 13;
    word ^= word >>> 17;
    word ^= word << 5;
    spread.writeInt32LE(word | 0, at);
  }
  for (const at of [4 * MiB - 3, 8 * MiB - Math.floor(archive.length / 2), 37 * MiB - 1]) archive.copy(spread, at);
  fs.writeFileSync(path.join(workdir, 'spread.bin'), spread);
  files.push('cut.exe', 'setup.exe', 'x.arc', 'SAMPLE.ARC', 'hostile.exe', 'noise.bin', 'tail.exe', 'MANY.ARC', 'repeated.bin', 'empty.exe',
             'long.exe', 'program-tail.exe', 'spread.bin');
  // For Stop: a file whose scan takes a while (the archive at 2.5 GiB of 3).
  sample('sparse', 'slow.exe', String(3 * GiB), String(2.5 * GiB));
}

// What the native tool prints for NAME, run in the file's folder.
function native(...args) {
  const run = spawnSync(vexmira, args, { cwd: workdir, maxBuffer: 256 * 1024 * 1024 });
  return { stdout: run.stdout.toString('utf8'), status: run.status };
}

// ---------------------------------------------------------------------------
// The server and the browser.

const server = await serveSite(site);
const { origin, served, log: serverLog } = server;
const origins = [origin];  // the test's servers
const browser = await openBrowser();
const { context, page, profile } = browser;
const requests = [];
context.on('request', (request) => requests.push(request.url()));
const pageErrors = [];
page.on('pageerror', (error) => pageErrors.push(String(error)));
page.on('console', (message) => { if (message.type() === 'error') pageErrors.push(message.text()); });

// Chooses files, after clearing the state the last ones left: a wait then
// never ends on the last files' "done".
async function choose(selector, files) {
  await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
  await page.setInputFiles(selector, files);
}

async function examine(name) {
  await choose('#file-input', path.join(workdir, name));
  await waitIdle(page);
  return page.evaluate(() => document.body.dataset.state);
}

// How tall the page is with NAME listed alone, at 1280 px wide: measured in a
// window shorter than the page can be, so that the window's own height does
// not count.
async function heightAlone(name) {
  await page.goto(`${origin}/index.html`);
  const outcome = await examine(name);
  check(outcome === 'done', `${name}: listed alone`);
  const viewport = page.viewportSize();
  await page.setViewportSize({ width: 1280, height: 400 });
  const height = await page.evaluate(() => document.documentElement.scrollHeight);
  await page.setViewportSize(viewport);
  return height;
}

async function downloaded(selector) {
  return downloadedBy(page, selector);
}

// Each entry's "Stored bytes" (the trailing ones shown too): the name and
// bytes `--extract --include-suspect` writes for it, or its refusal with the
// manifest's reason.
async function storedBytesAsExtracted(name, object) {
  fs.rmSync(path.join(workdir, 'extracted'), { recursive: true, force: true });
  native('--extract', 'extracted', '--include-suspect', name);
  const folder = path.join(workdir, 'extracted', `${name}.extracted`, object.offset.toString(16).toUpperCase().padStart(8, '0'));
  const manifest = fs.readFileSync(path.join(folder, 'manifest.jsonl'), 'utf8').split('\n').filter((line) => line)
    .map((line) => JSON.parse(line));
  check(manifest.length === object.entries.length, `${name}: --extract's manifest has ${manifest.length} entries`);
  const wrong = [];
  for (const [index, written] of manifest.entries()) {
    const button = page.locator(`#entries tbody tr[data-index="${index}"] button.stored`);
    if (written.path !== null) {
      const got = await downloadedBy(page, button);
      if (got.name !== written.path || !got.bytes.equals(fs.readFileSync(path.join(folder, written.path)))) {
        wrong.push(`entry ${index}: ${got.name} (${got.bytes.length} bytes), --extract wrote ${written.path}`);
      }
    } else {
      await button.click();
      await page.waitForFunction((index) => document.querySelector(
        `#entries tbody tr[data-index="${index}"] button.stored`).disabled, index, { timeout: 30_000 });
      const refusal = await button.getAttribute('title');
      if (refusal !== written.error) wrong.push(`entry ${index}: refused "${refusal}", --extract says "${written.error}"`);
    }
  }
  check(wrong.length === 0, `${name}: every entry's stored bytes as --extract writes them${wrong.length ? `; ${wrong.join(' | ')}` : ''}`);
  if (name === 'cut.exe') {
    check(manifest.some((written) => written.error === 'Its stored data runs past the end of the file'),
          `${name}: an entry's data runs past the end`);
  }
}

// "Hashes": each entry's SHA-256 and entropy and the input's SHA-256 as
// `--hash --json` gives them, and the listing downloaded as it prints it.
async function hashesAsTool(name) {
  const hashedText = native('--json', '--hash', '--in-place', name).stdout;
  const hashed = JSON.parse(hashedText.split('\n')[0]);
  await page.setChecked('#show-hashes', true);
  await page.waitForFunction(() => document.body.dataset.hashes === 'read', null, { timeout: 60_000 });
  const shown = await page.evaluate(() => ({
    input: document.getElementById('input-sha256').textContent,
    rows: [...document.querySelectorAll('#entries tbody tr[data-index]')].map((row) => ({
      sha256: row.cells[8].dataset.sha256, text: row.cells[8].textContent, entropy: row.cells[9].textContent })),
  }));
  check(shown.input === hashed.input_sha256, `${name}: the input's SHA-256 ${shown.input}`);
  const wrong = hashed.entries.map((entry, index) => {
    const row = shown.rows[index];
    const wanted = entry.sha256 === null ? { sha256: '', text: entry.data_error, entropy: '' } :
      { sha256: entry.sha256, text: `${entry.sha256.slice(0, 16)}\u2026`, entropy: entry.entropy.toFixed(2) };
    return JSON.stringify(row) === JSON.stringify(wanted) ? null : `entry ${index}: ${JSON.stringify(row)}, expected ${JSON.stringify(wanted)}`;
  }).filter((text) => text !== null);
  check(shown.rows.length === hashed.entries.length && wrong.length === 0,
        `${name}: ${shown.rows.length} entries' hashes as --hash${wrong.length ? `; ${wrong.join(' | ')}` : ''}`);
  const listing = await downloadedBy(page, '#download-json');
  check(listing.bytes.toString('utf8') === hashedText, `${name}: with Hashes, JSON = vexmira --json --hash --in-place`);
  if (name === 'setup.exe') {
    // A candidate's entries shown: their hashes are those of the archive at its offset.
    const atOffset = JSON.parse(native('--json', '--hash', '--offset', String(hashed.offset), name).stdout.split('\n')[0]);
    await page.evaluate(() => { document.getElementById('candidates-section').open = true; });
    await page.click('#candidates tbody tr button[aria-label^="Show the entries"]');
    await page.waitForFunction(() => document.body.dataset.hashes === 'read', null, { timeout: 60_000 });
    const digests = await page.evaluate(() => [...document.querySelectorAll('#entries tbody tr[data-index]')]
      .map((row) => row.cells[8].dataset.sha256));
    check(JSON.stringify(digests) === JSON.stringify(atOffset.entries.map((entry) => entry.sha256)),
          `${name}: the candidate's hashes as --hash --offset ${hashed.offset}`);
  }
  await page.setChecked('#show-hashes', false);
}

// The table of files as the page shows it, row by row.
function filesTable() {
  return page.evaluate(() => [...document.querySelectorAll('#files tbody tr')].map((row) => ({
    cells: [...row.cells].map((cell) => cell.textContent), status: row.dataset.status })));
}

try {
  await page.goto(`${origin}/index.html`);
  if (screenshot) {
    // The analyst's worst carrier, with its trailing entries folded.
    const height = await heightAlone('program-tail.exe');
    check(height <= 1000, `program-tail.exe: the page is ${height} px tall, within 1000`);
    await page.focus('#entries tbody tr');
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('ArrowDown');
    await page.screenshot({ path: screenshot, fullPage: true });
    check(fs.statSync(screenshot).size > 0, `screenshot in ${screenshot}`);
  }
  // Each sample alone, with the vector build and then with the portable one.
  for (const [query, build] of screenshot || huge ? [['', 'simd']] : [['', 'simd'], ['?module=portable', 'portable']]) {
  if (!screenshot) {
    await page.goto(`${origin}/index.html${query}`);
    const chosen = await page.evaluate(() => document.body.dataset.module);
    check(chosen === build, `index.html${query}: the ${chosen} module chosen, ${build} expected`);
  }
  for (const name of screenshot ? [] : files) {
    const started = Date.now();
    const outcome = await examine(name);
    const seconds = ((Date.now() - started) / 1000).toFixed(1);
    check(outcome === 'done', `${name}: the page finished (${seconds} s)`);
    // The test server isolates the page, so a second worker reads ahead a
    // file larger than one of the worker's own 16 MiB slices.
    const reading = JSON.parse(await page.evaluate(() => document.body.dataset.memory ?? '{}'));
    const aheadWanted = fs.statSync(path.join(workdir, name)).size > 16 * 1024 * 1024;
    check(reading.readAhead === aheadWanted && reading.aheadBytes > 0 === aheadWanted,
          `${name}: ${reading.readAhead ? '' : 'not '}read ahead by a second worker (${reading.aheadBytes} bytes; ` +
          `${reading.reads} read by the worker itself)`);

    // The listing and every candidate, byte for byte as the tool prints them.
    const located = native('--json', '--in-place', name);
    const all = native('--json', '--in-place', '--all', name);
    const listing = await downloaded('#download-json');
    check(listing.bytes.toString('utf8') === located.stdout, `${name}: JSON = vexmira --json --in-place`);
    check(listing.name === `${name}.json`, `${name}: listing named ${listing.name}`);
    const candidates = await downloaded('#download-all-json');
    check(candidates.bytes.toString('utf8') === all.stdout, `${name}: every candidate = vexmira --json --in-place --all`);

    // What the page shows of it: first with the entries past the plausible
    // end folded into the line the tool's plain output gives for them.
    const object = JSON.parse(located.stdout.split('\n')[0]);
    const firstSuspect = object.entries.findIndex((entry) => entry.suspect != null);
    const toggled = await page.isVisible('#show-trailing');
    check(toggled === (firstSuspect >= 0), `${name}: the toggle for trailing entries ${toggled ? 'offered' : 'not offered'}`);
    if (toggled) {
      await page.setChecked('#show-trailing', false);
      const folded = await page.evaluate(() => ({
        rows: document.querySelectorAll('#entries tbody tr[data-index]').length,
        line: document.querySelector('#entries tbody tr.folded')?.textContent ?? null,
        total: document.querySelector('#entries tfoot th').textContent,
      }));
      const plainLine = /^(.* like trailing data): --show-suspect lists them$/m.exec(native(name).stdout)?.[1];
      check(folded.rows === firstSuspect, `${name}: ${folded.rows} rows up to the plausible end, of ${firstSuspect}`);
      check(plainLine !== undefined && folded.line === `${plainLine}: \u201cShow trailing entries\u201d lists them`,
            `${name}: the folded line "${folded.line}", as the tool's "${plainLine}"`);
      check(folded.total === `${firstSuspect} ${firstSuspect === 1 ? 'entry' : 'entries'}`,
            `${name}: totals up to the plausible end ("${folded.total}")`);
      await page.setChecked('#show-trailing', true);
    }
    const shown = await page.evaluate(() => ({
      rows: document.querySelectorAll('#entries tbody tr').length,
      suspectRows: document.querySelectorAll('#entries tbody tr.suspect').length,
      located: document.getElementById('located').textContent,
      error: document.getElementById('error').hidden ? null : document.getElementById('error').textContent,
      candidates: document.querySelectorAll('#candidates tbody tr button[aria-label^="Show"]').length,
    }));
    check(shown.rows === object.entries.length, `${name}: ${shown.rows} rows for ${object.entries.length} entries`);
    check(shown.suspectRows === object.entries.filter((entry) => entry.suspect != null).length,
          `${name}: ${shown.suspectRows} suspect rows marked`);
    check(object.listed == null && object.error == null ? shown.located === 'No archive found' : shown.located !== 'No archive found',
          `${name}: archive shown as "${shown.located}"`);
    // The route as the tool took it: listed directly only where the locator was not asked.
    check(shown.located.startsWith('Listed directly') === (object.located === null),
          `${name}: "${shown.located}" for located ${object.located}`);
    check(object.error == null ? shown.error === null : shown.error.includes(object.error),
          `${name}: error shown ${shown.error === null ? 'none' : `"${shown.error}"`}`);
    const candidateCount = all.stdout.split('\n').filter((line) => line && typeof JSON.parse(line).offset === 'number' && JSON.parse(line).offset >= 0).length;
    check(shown.candidates === candidateCount, `${name}: ${shown.candidates} candidates shown of ${candidateCount}`);
    // What became of each candidate, in the tool's words.
    const allObjects = all.stdout.split('\n').filter((line) => line).map((line) => JSON.parse(line));
    const format = new Intl.NumberFormat('en');
    const stateTexts = await page.evaluate(() => [...document.querySelectorAll('#candidates tbody tr')]
      .map((row) => row.cells[4]?.textContent ?? ''));
    const told = allObjects.filter((candidate) => typeof candidate.offset === 'number').map((candidate, index) => {
      const wanted = [];
      if (candidate.passed_over != null) wanted.push(`Passed over: ${candidate.passed_over}`);
      if (candidate.joins != null) wanted.push(`Joins an earlier candidate's walk at entry header ${format.format(candidate.joins)}`);
      if (candidate.stopped) wanted.push(`Stops before entry header ${format.format(candidate.stopped.header_offset)}`);
      return wanted.every((text) => (stateTexts[index] ?? '').includes(text)) ? null : `${candidate.offset}: ${stateTexts[index]}`;
    }).filter((wrong) => wrong !== null);
    check(told.length === 0, `${name}: every candidate's reason shown${told.length ? `; not in ${told.join(' | ')}` : ''}`);
    if (name === 'hostile.exe') check(allObjects.some((candidate) => candidate.passed_over != null), `${name}: the tool passes a header over`);
    if (name === 'repeated.bin') check(allObjects.some((candidate) => candidate.joins != null), `${name}: a walk joins another`);

    const folded = all.stdout.split('\n').filter((line) => line && JSON.parse(line).also_at);
    if (name === 'repeated.bin') check(folded.length > 0, `${name}: the tool folds runs of candidates`);
    if (folded.length > 0) {
      const told = await page.evaluate(() => [...document.querySelectorAll('#candidates tbody tr')]
        .filter((row) => row.textContent.includes('The same for ')).length);
      check(told === folded.length, `${name}: ${told} rows tell of a folded run, of ${folded.length}`);
    }
    // The carved archive: the same name and bytes as --carve writes.
    const carveDir = path.join(workdir, 'carved');
    fs.rmSync(carveDir, { recursive: true, force: true });
    fs.mkdirSync(carveDir);
    const carve = native('--json', '--carve', '--output-dir', 'carved', name);
    const carved = JSON.parse(carve.stdout.split('\n')[0]).carved;
    const carvedPath = typeof carved === 'object' && carved !== null ? carved.path : carved;
    const enabled = await page.isEnabled('#download-carved');
    check(enabled === (carvedPath != null), `${name}: carving offered ${enabled ? 'yes' : 'no'}, as --carve carves`);
    const carveError = JSON.parse(carve.stdout.split('\n')[0]).error ?? '';
    if (carveError.includes('Nothing to carve')) {
      const refusal = await page.getAttribute('#download-carved', 'title');
      check(refusal !== '' && carveError.endsWith(refusal), `${name}: the refusal shown, "${refusal}"`);
    }
    if (name === 'empty.exe') check(carveError.includes('Nothing to carve'), `${name}: --carve refuses`);
    if (enabled && carvedPath != null) {
      const piece = await downloaded('#download-carved');
      check(piece.name === path.basename(carvedPath), `${name}: carved file named ${piece.name}`);
      check(piece.bytes.equals(fs.readFileSync(path.join(workdir, carvedPath))),
            `${name}: carved bytes = --carve's (${piece.bytes.length} bytes)`);
    }

    // The first candidate's walk reads every entry of the file, a run of
    // repeated entries: one row for it, and one saying where the rest lies.
    const firstCandidate = all.stdout.split('\n').filter((line) => line).map((line) => JSON.parse(line))[0];
    const runs = (firstCandidate.entries ?? []).filter((entry) => entry.also_at);
    if (name === 'repeated.bin') check(runs.length > 0, `${name}: the tool folds the first walk's repeated entries`);
    if (runs.length > 0) {
      await page.evaluate(() => { document.getElementById('candidates-section').open = true; });
      await page.click(`#candidates tbody tr button[aria-label="Show the entries of the candidate at ${
        firstCandidate.offset.toString(16).toUpperCase().padStart(8, '0')}"]`);
      const table = await page.evaluate(() => ({
        entryRows: document.querySelectorAll('#entries tbody tr[data-index]').length,
        runRows: [...document.querySelectorAll('#entries tbody tr.run')].map((row) => row.textContent),
        total: document.querySelector('#entries tfoot th').textContent,
      }));
      check(table.entryRows === firstCandidate.entries.length,
            `${name}: ${table.entryRows} rows for the first candidate's ${firstCandidate.entries.length} written entries`);
      const expected = runs.map((entry) => {
        const { count, every } = entry.also_at;
        return `The same for ${format.format(count)} more ${count === 1 ? 'entry' : 'entries'}, every ${format.format(every)} ` +
          `bytes from ${format.format(entry.header_offset + every)} to ${format.format(entry.header_offset + count * every)}, ` +
          'each with its offsets moved on as much';
      });
      check(JSON.stringify(table.runRows) === JSON.stringify(expected), `${name}: run rows ${JSON.stringify(table.runRows)}`);

      // Every entry the walk read is counted, as --offset (which never folds) lists them.
      const whole = JSON.parse(native('--json', '--offset', String(firstCandidate.offset), name).stdout.split('\n')[0]);
      const wholeCount = `${format.format(whole.entries.length)} ${whole.entries.length === 1 ? 'entry' : 'entries'}`;
      check(table.total === wholeCount, `${name}: the first candidate's total "${table.total}", as "${wholeCount}"`);
    }
    // At 1280 px the Suspect column is in view, not behind a scroll.
    const suspectColumn = await page.evaluate(() => {
      const wrap = document.querySelector('#entries').closest('.table-wrap').getBoundingClientRect();
      const header = [...document.querySelectorAll('#entries thead th')].pop().getBoundingClientRect();
      return { right: header.right, wrapRight: wrap.right, viewport: window.innerWidth };
    });
    check(suspectColumn.right <= suspectColumn.wrapRight && suspectColumn.right <= suspectColumn.viewport,
          `${name}: the Suspect column ends at ${suspectColumn.right.toFixed(0)} px, in view (${suspectColumn.wrapRight.toFixed(0)} px)`);

    if (name === 'long.exe' || name === 'hostile.exe') {
      // Names cut as the plain output cuts them (the whole on hover), a method byte past the table as its number.
      const cells = await page.evaluate(() => [...document.querySelectorAll('#entries tbody tr[data-index]')]
        .map((row) => ({ name: row.cells[1].textContent, title: row.cells[1].title, method: row.cells[6].textContent })));
      const plain = native('--show-suspect', name).stdout;
      object.entries.forEach((entry, index) => {
        const cell = cells[index] ?? {};
        if (entry.name.length > 40) {
          check(cell.name.length === 40 && cell.name.endsWith('\u2026') && plain.includes(cell.name) && cell.title === entry.name,
                `${name}: entry ${index}'s name cut to "${cell.name}", as the tool's plain output, whole on hover`);
        }
        if (entry.method > 4) {
          check(cell.method === String(entry.method), `${name}: entry ${index}'s method ${entry.method} shown as "${cell.method}"`);
        }
      });
    }

    if (['setup.exe', 'SAMPLE.ARC', 'cut.exe', 'program-tail.exe'].includes(name) && build === 'simd') {
      await storedBytesAsExtracted(name, object);
      await hashesAsTool(name, object);
    }

    if (name === 'setup.exe') {
      // The keyboard: into the table, two rows down, and the details follow.
      await page.focus('#entries tbody tr');
      await page.keyboard.press('ArrowDown');
      await page.keyboard.press('ArrowDown');
      const details = await page.evaluate(() => ({
        focused: document.activeElement?.dataset.index,
        percentage: document.getElementById('details-percentage').textContent,
        size: document.getElementById('details-size').textContent,
        method: document.querySelector('input[name="method"]:checked')?.value,
      }));
      const third = object.entries[2];
      check(details.focused === '2', 'setup.exe: arrow keys move the selection');
      check(details.percentage === third.percentage && details.size === third.size,
            `setup.exe: details show ${details.percentage}, ${details.size}`);
      check(details.method === ['None', 'RLE', 'LZH1', 'LZH5'][Math.min(third.method, 3)],
            `setup.exe: method ${third.method} shown as ${details.method}`);
    }

    if (name === 'huge.exe') {
      const memory = JSON.parse(await page.evaluate(() => document.body.dataset.memory));
      const peak = rendererPeak(profile);
      console.log(`     huge.exe: wasm memory ${memory.wasmBytes} bytes, largest read ${memory.largestRead} bytes ` +
                  `in ${memory.reads} reads, renderer peak RSS ${(peak / 1048576).toFixed(0)} MiB for a ${3 * GiB}-byte file`);
      check(memory.wasmBytes <= kWasmBound, `huge.exe: wasm memory ${memory.wasmBytes} <= ${kWasmBound}`);
      check(memory.largestRead <= kReadBound, `huge.exe: largest read ${memory.largestRead} <= ${kReadBound}`);
      check(peak > 0 && peak <= kRendererBound, `huge.exe: renderer peak RSS ${peak} <= ${kRendererBound}`);
    }
  }
  }

  if (!screenshot && !huge) {
    // The worst carrier alone, as an analyst opens it: with the trailing
    // entries folded, its 80 KiB of program bytes make the page hardly taller
    // than the same archive without them (a note, a toggle and a line).
    const clean = await heightAlone('setup.exe');
    const trailing = await heightAlone('program-tail.exe');
    check(trailing - clean <= 150, `program-tail.exe: the page is ${trailing} px tall, setup.exe's ${clean} px`);
    // And it answers on one screen: 1280 x 1000 px holds the whole page.
    check(trailing <= 1000, `program-tail.exe: the page is ${trailing} px tall at 1280 px wide, within 1000`);
    // Nothing is lost in the fold: the one candidate's table is behind its summary line.
    const candidatesFolded = await page.evaluate(() => ({
      open: document.getElementById('candidates-section').open,
      summary: document.getElementById('candidates-summary').textContent,
      rows: document.querySelectorAll('#candidates tbody tr').length,
    }));
    check(!candidatesFolded.open && candidatesFolded.rows === 1 && candidatesFolded.summary.includes('(the located archive)'),
          `program-tail.exe: the one candidate folded to "${candidatesFolded.summary}"`);
    await page.click('#candidates-section > summary');
    check(await page.isVisible('#candidates tbody tr button[aria-label^="Show"]'),
          'program-tail.exe: the candidate\'s table opens from its summary line');

    // Several files at once: one line each, in order, each as the tool lists it.
    await page.goto(`${origin}/index.html`);
    const several = ['setup.exe', 'noise.bin', 'tail.exe', 'SAMPLE.ARC', 'repeated.bin'];
    await choose('#file-input', several.map((name) => path.join(workdir, name)));
    await waitIdle(page);
    const rows = await filesTable();
    const order = [...several].sort((a, b) => a.localeCompare(b));
    check(JSON.stringify(rows.map((row) => row.cells[0])) === JSON.stringify(order),
          `several files: listed in order ${rows.map((row) => row.cells[0]).join(', ')}`);
    const format = new Intl.NumberFormat('en');
    const wrongRows = order.map((name, index) => {
      const object = JSON.parse(native('--json', '--in-place', name).stdout.split('\n')[0]);
      const entries = object.entries.length;
      const suspects = object.entries.filter((entry) => entry.suspect != null).length;
      const offset = object.listed == null && object.error == null ? 'none' : object.located === null ? 'listed directly' : format.format(object.offset);
      const wanted = [name, format.format(fs.statSync(path.join(workdir, name)).size), offset, format.format(entries),
                      format.format(suspects), object.plausible_end == null ? '–' : format.format(object.plausible_end)];
      const got = rows[index]?.cells.slice(0, 6) ?? [];
      return JSON.stringify(got) === JSON.stringify(wanted) && rows[index].status === 'done' ? null :
        `${name}: ${JSON.stringify(got)} (${rows[index]?.status}), expected ${JSON.stringify(wanted)}`;
    }).filter((wrong) => wrong !== null);
    check(wrongRows.length === 0, `several files: each line as the tool lists the file${wrongRows.length ? `; ${wrongRows.join(' | ')}` : ''}`);
    // Opening an earlier file lists it again and shows its listing.
    await page.click(`#files button[aria-label="Open the listing of ${order[0]}"]`);
    await waitIdle(page);
    const reopened = await downloaded('#download-json');
    check(reopened.bytes.toString('utf8') === native('--json', '--in-place', order[0]).stdout,
          `several files: ${order[0]} opened again, its JSON as the tool's`);

    // A folder: what it holds, by path.
    const folder = path.join(workdir, 'folder');
    fs.mkdirSync(path.join(folder, 'inner'), { recursive: true });
    fs.copyFileSync(path.join(workdir, 'tail.exe'), path.join(folder, 'inner', 'b.exe'));
    fs.copyFileSync(path.join(workdir, 'setup.exe'), path.join(folder, 'a.exe'));
    await page.goto(`${origin}/index.html`);
    await choose('#folder-input', folder);
    await waitIdle(page);
    const inFolder = (await filesTable()).map((row) => `${row.cells[0]} ${row.cells[3]} ${row.status}`);
    check(JSON.stringify(inFolder) === JSON.stringify(['folder/a.exe 7 done', 'folder/inner/b.exe 1 done']),
          `a folder: ${inFolder.join(', ')}`);

    // Progress and Stop: the slow file stopped part way, the next one listed by a new worker.
    await page.goto(`${origin}/index.html`);
    await choose('#file-input', ['slow.exe', 'tail.exe'].map((name) => path.join(workdir, name)));
    // Until the bar moves: the first report may come from the scan's first small read, before a thousandth of the file.
    await page.waitForFunction(() => document.getElementById('progress').value > 0, null, { timeout: 120_000, polling: 20 });
    const during = await page.evaluate(() => ({ bar: document.getElementById('progress').value,
                                                hidden: document.getElementById('progress').hidden,
                                                status: document.getElementById('status-text').textContent }));
    check(!during.hidden && during.bar > 0 && during.status.includes('slow.exe'), `Stop: progress shown ("${during.status}", bar ${during.bar})`);
    await page.click('#stop');
    await waitIdle(page);
    const stopped = await filesTable();
    const workers = await page.evaluate(() => document.body.dataset.workers);
    check(stopped[0]?.status === 'stopped' && stopped[0].cells[6] === 'Stopped', `Stop: slow.exe says "${stopped[0]?.cells[6]}"`);
    check(stopped[1]?.status === 'done' && stopped[1].cells[3] === '1', `Stop: tail.exe listed after it (${stopped[1]?.cells.join(', ')})`);
    check(workers === '2', `Stop: a new worker for the next file (${workers} started)`);
  }

  if (!screenshot && !huge) {
    // Served without cross-origin isolation (as by `python3 -m http.server`),
    // the workers share no memory: the worker reads alone, and lists the same.
    const plain = await serveSite(site, { isolated: false });
    origins.push(plain.origin);
    try {
      await page.goto(`${plain.origin}/index.html`);
      for (const name of ['setup.exe', 'spread.bin']) {
        check(await examine(name) === 'done', `${name}, not isolated: the page finished`);
        const reading = JSON.parse(await page.evaluate(() => document.body.dataset.memory ?? '{}'));
        check(reading.readAhead === false && reading.aheadBytes === 0 && reading.reads > 0,
              `${name}, not isolated: read by the worker alone (${reading.reads} reads)`);
        const listing = await downloaded('#download-json');
        check(listing.bytes.toString('utf8') === native('--json', '--in-place', name).stdout,
              `${name}, not isolated: JSON = vexmira --json --in-place`);
        const candidates = await downloaded('#download-all-json');
        check(candidates.bytes.toString('utf8') === native('--json', '--in-place', '--all', name).stdout,
              `${name}, not isolated: every candidate = vexmira --json --in-place --all`);
      }
    } finally {
      plain.close();
    }
  }
} finally {
  await browser.close();
  server.close();
  clearTimeout(deadline);
}

// Nothing but the page's own files, and the page's own blob: downloads.
const foreign = requests.filter((url) => !origins.some((site) => url.startsWith(`${site}/`) || url.startsWith(`blob:${site}/`)));
check(foreign.length === 0, `no request but the site's: ${foreign.length ? foreign.join(', ') : 'none other'}`);
const unknown = serverLog.filter((url) => !served.has(url.replace(/^\/+/, '').split('?')[0] || 'index.html'));
check(unknown.length === 0, `the server was asked only for the site's files (${serverLog.length} requests)`);
check(pageErrors.length === 0, `no script errors${pageErrors.length ? `: ${pageErrors.join('; ')}` : ''}`);
console.log(failures === 0 ? 'all passed' : `${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
