// The page: hands dropped or chosen files to the worker one after another,
// shows what the tool's JSON objects say, and builds the downloads from them.
// Keys are read so that both the 1.0 and the 2.0 objects show right. Only the
// listing shown is kept whole; the table of files keeps a line of each.
'use strict';

const $ = (id) => document.getElementById(id);

const state = {
  file: null,
  located: null,      // the object `vexmira --json --in-place FILE` prints
  locatedJson: '',    // its line, as printed
  candidates: [],     // the objects of `--all`
  candidatesJson: '',
  shown: null,        // the listing the entry table shows
  shownItem: null,    // the file whose listing the panes show
  worker: null,
  workersStarted: 0,
  items: [],          // every file chosen: { file, row, status, summary }
  current: null,      // the item the worker lists
  moduleScript: null,
  showTrailing: false,  // the toggle: list the entries past the plausible end
  hashes: false,        // the toggle: each entry's SHA-256 and entropy, as --hash
  // What the worker read with --hash for the listings of the file shown, by
  // hashKey: null while asked; { object, json, byHeader, shortDigest } or { error }.
  hashed: new Map(),
};

// ---------------------------------------------------------------------------
// Reading the objects

const kMethodChoices = ['None', 'RLE', 'LZH1', 'LZH5'];

// The dialog's choice for a method: 0 None, 1 RLE, 2 LZH1, anything else LZH5.
function methodChoice(method) {
  return kMethodChoices[Math.min(Number(method), 3)] ?? 'LZH5';
}

// Nothing was listed and nothing failed: the locator found no archive.
function notFound(object) {
  return object.error == null && object.listed == null;
}

// The located offset, or null (1.0 says -1 for none and null for an .ARC
// listed directly; 2.0 says null for none and 0 for an .ARC).
function archiveOffset(object) {
  return typeof object.offset === 'number' && object.offset >= 0 ? object.offset : null;
}

// What the dialog shows as the percentage, as a number (null for "(empty)").
function percentCompressed(entry) {
  if ('percent_compressed' in entry) return entry.percent_compressed;
  const match = /^(-?\d+)%/.exec(entry.percentage ?? '');
  return match ? Number(match[1]) : null;
}

// A header the locator's rule passes over (--all lists it, with the reason).
function passedOver(object) {
  return typeof object.passed_over === 'string';
}

function hex(offset) {
  return offset.toString(16).toUpperCase().padStart(8, '0');
}

const numberFormat = new Intl.NumberFormat('en');
const bytes = (value) => (value == null ? '' : numberFormat.format(value));

// What the module says --carve writes for a listing (its plan rides on the
// object as `carvePlan`): a range and the name's suffix, or a refusal.
function carvePlan(object) {
  return object.carvePlan?.carve ?? null;
}

function carvedName(object) {
  return `${object.file}${carvePlan(object).suffix}`;
}

function carvable(object) {
  return carvePlan(object) !== null;
}

// How many entries an entry object stands for: with --all, a run of entries
// each the one before it moved on comes as its first with "also_at".
function entryCount(entry) {
  return 1 + (entry.also_at?.count ?? 0);
}

function listingEntryCount(object) {
  return (object.entries ?? []).reduce((sum, entry) => sum + entryCount(entry), 0);
}

// What the tool's plain output says after a run's first row.
function runText(entry) {
  const { count, every } = entry.also_at;
  return `The same for ${bytes(count)} more ${count === 1 ? 'entry' : 'entries'}, every ${bytes(every)} bytes from ` +
    `${bytes(entry.header_offset + every)} to ${bytes(entry.header_offset + count * every)}, each with its offsets ` +
    'moved on as much';
}

// The objects of a listing message, each with what the module decided for
// it: the route its name took, and its carve plan.
function parseListing(message) {
  return message.json.split('\n').filter((line) => line.length > 0).map((line, index) =>
    Object.assign(JSON.parse(line), { route: message.route, carvePlan: message.carves[index] ?? null,
                                      view: message.carves[index]?.view ?? null }));
}

// ---------------------------------------------------------------------------
// Showing

function element(tag, text, className) {
  const node = document.createElement(tag);
  if (text != null) node.textContent = String(text);
  if (className) node.className = className;
  return node;
}

function setStatus(text, position, size) {
  $('status-text').textContent = text;
  const bar = $('progress');
  if (size > 0 && position != null) {
    bar.hidden = false;
    bar.value = Math.round((1000 * Math.min(position, size)) / size);
  } else {
    bar.hidden = true;
  }
}

function showError(text) {
  const box = $('error');
  box.hidden = text == null;
  box.textContent = text ?? '';
}

// The route the module says the name took.
function listedDirectly(object) {
  return object.route === 'direct';
}

function describeArchive(object) {
  if (notFound(object)) return 'No archive found';
  const offset = archiveOffset(object);
  return listedDirectly(object) ? 'Listed directly (an .ARC file)' : `At offset ${bytes(offset)} (${hex(offset)} hex)`;
}

function showSummary(object) {
  $('file-name').textContent = object.file;
  $('file-size').textContent = `${bytes(state.file.size)} bytes`;
  $('located').textContent = describeArchive(object);
  $('plausible-end').textContent = object.plausible_end == null ? '–' : bytes(object.plausible_end);
  const end = object.archive_end == null ? '–' :
    `${bytes(object.archive_end)}${object.truncated ? ' (cut short)' : ''}` +
    (object.trailing_bytes ? `, then ${bytes(object.trailing_bytes)} trailing bytes` : '');
  $('archive-end').textContent = end;

  const messages = $('messages');
  messages.replaceChildren(...(object.messages ?? []).map((text) => element('li', text)));
  showError(object.error == null ? null : `${object.file}: ${object.error}`);

  const carve = $('download-carved');
  carve.disabled = !carvable(object);
  carve.textContent = carvable(object) ? `Download carved archive (${carvedName(object)})` : 'Download carved archive';
  // Why not, where the core refuses (an archive without a single entry).
  carve.title = object.carvePlan?.refusal ?? '';
}

// The entries the table lists: up to the plausible end unless the toggle
// shows the rest (where that end lies is the module's word, `fold_from`).
function shownEntries(object) {
  const entries = object.entries ?? [];
  const foldFrom = object.view?.fold_from ?? null;
  return state.showTrailing || foldFrom === null ? entries : entries.slice(0, foldFrom);
}

// The entries table's columns: the hashes', the stored bytes' button, and in all.
const kDigestColumn = 8;
const kDataColumn = 10;
const kColumns = 12;

function showEntries(object) {
  state.shown = object;
  const all = object.entries ?? [];
  const entries = shownEntries(object);
  // What the module shows in place of a name or a method: a cut name, a method byte as its number.
  const cells = new Map((object.view?.cells ?? []).map(([index, name, method]) => [index, { name, method }]));
  const suspects = all.filter((entry) => entry.suspect != null);
  $('entries-caption').textContent = object === state.located ? 'Entries' :
    `Entries of the candidate at ${hex(archiveOffset(object) ?? 0)}`;

  const body = $('entries').tBodies[0];
  // Rows are numbered as the entries they stand for: a run's row, then one
  // row saying where the rest of it lies.
  const rows = [];
  let number = 0;
  const firstNumbers = [];
  entries.forEach((entry, index) => {
    const row = element('tr');
    row.tabIndex = index === 0 ? 0 : -1;
    row.dataset.index = String(index);
    row.setAttribute('aria-selected', 'false');
    firstNumbers.push(number + 1);
    number += entryCount(entry);
    const percent = percentCompressed(entry);
    const shown = cells.get(index) ?? {};
    const rowCells = [
      [firstNumbers[index], 'num'], [shown.name ?? entry.name, 'name'], [bytes(entry.full_size), 'num'], [bytes(entry.compressed_size), 'num'],
      [percent == null ? '(empty)' : `${percent}%`, 'num'], [entry.locked ? 'locked' : '', ''],
      [shown.method ?? `${entry.method_name ?? entry.method} (${entry.method})`, 'method'], [bytes(entry.header_offset), 'num'],
      ['', 'hash-col digest'], ['', 'hash-col num'], ['', ''], [entry.suspect ?? '', 'why'],
    ];
    for (const [text, className] of rowCells) row.append(element('td', text, className));
    const save = element('button', 'Stored bytes', 'stored');
    save.type = 'button';
    save.setAttribute('aria-label', `Download the stored bytes of entry ${firstNumbers[index]}`);
    save.addEventListener('click', () => downloadStored(object, entry, save));
    row.cells[kDataColumn].append(save);
    if (shown.name != null) row.cells[1].title = entry.name;  // the whole name on hover, and in the details
    if (entry.suspect != null) {
      row.classList.add('suspect');
      row.title = `Suspect: ${entry.suspect}`;
    }
    rows.push(row);
    if (entry.also_at) {
      const run = element('tr', null, entry.suspect != null ? 'run suspect' : 'run');
      const cell = element('td', runText(entry));
      cell.colSpan = kColumns;
      run.append(cell);
      rows.push(run);
    }
  });
  const folded = entries.length < all.length;
  if (folded) {
    const line = element('tr', null, 'folded');
    const cell = element('td', object.view.folded_line);
    cell.colSpan = kColumns;
    line.append(cell);
    rows.push(line);
  }
  body.replaceChildren(...rows);
  const toggle = $('show-trailing');
  toggle.checked = state.showTrailing;
  toggle.parentElement.hidden = (object.view?.fold_from ?? null) === null;

  const totals = entries.reduce((sum, entry) => ({
    full: sum.full + entryCount(entry) * entry.full_size, stored: sum.stored + entryCount(entry) * entry.compressed_size,
    locked: sum.locked + (entry.locked ? entryCount(entry) : 0),
  }), { full: 0, stored: 0, locked: 0 });
  // Totals of the entries listed: up to the plausible end while the rest is folded.
  const count = listingEntryCount({ entries });
  const foot = element('tr');
  foot.append(element('th', `${bytes(count)} ${count === 1 ? 'entry' : 'entries'}`),
              element('td', bytes(totals.full), 'num'), element('td', bytes(totals.stored), 'num'),
              element('td', ''), element('td', `${totals.locked} locked`), element('td', ''), element('td', ''),
              element('td', '', 'hash-col'), element('td', '', 'hash-col'), element('td', ''), element('td', ''));
  foot.firstChild.setAttribute('scope', 'row');
  foot.firstChild.colSpan = 2;  // the count under the numbers and the names, which leaves the # column narrow
  $('entries').tFoot.replaceChildren(foot);

  const note = $('suspect-note');
  note.hidden = suspects.length === 0;
  if (suspects.length > 0) {
    const first = all.findIndex((entry) => entry.suspect != null);
    const firstNumber = listingEntryCount({ entries: all.slice(0, first) }) + 1;
    const after = listingEntryCount(object) - firstNumber + 1;
    note.textContent = `Suspect rows are marked: they cannot be real entries (the first, row ${firstNumber}: ` +
      `${all[first].suspect}), so ${bytes(after)} ${after === 1 ? 'entry looks' : 'entries look'} ` +
      `like trailing data. The archive plausibly ends at ${bytes(object.plausible_end)}.`;
  }
  selectEntry(entries.length > 0 ? 0 : -1, false);
  if (state.hashes) requestHashes(object);
  fillHashes();
}

function selectEntry(index, focus) {
  const rows = $('entries').tBodies[0].rows;
  for (const row of rows) {
    const selected = Number(row.dataset.index) === index;
    row.setAttribute('aria-selected', String(selected));
    row.tabIndex = selected ? 0 : -1;
    // Tab goes from the selected row to its button alone, not through one per entry.
    const save = row.querySelector('button.stored');
    if (save) save.tabIndex = selected ? 0 : -1;
    if (selected && focus) row.focus();
  }
  const entry = index >= 0 ? state.shown.entries[index] : null;
  $('details-name').textContent = entry ? entry.name : 'None selected';
  // The dialog's texts: the percentage (with " (locked)") and the size in Kb.
  $('details-percentage').textContent = entry ? entry.percentage : '';
  $('details-size').textContent = entry ? entry.size : '';
  if (entry) {
    for (const radio of document.querySelectorAll('input[name="method"]')) {
      radio.checked = radio.value === methodChoice(entry.method);
    }
  }
  state.selected = index;
  const hashed = entry ? entryHashes(entry) : null;
  $('details-sha256').textContent = hashed?.sha256 ?? hashed?.data_error ?? '';
  $('details-entropy').textContent = hashed?.sha256 ? entropyText(hashed.entropy) : '';
}

// What became of a candidate, in the words of the tool's plain listing: passed
// over and why, where its walk joined an earlier one or stopped, the run it
// stands for.
function candidateState(object, offset) {
  const parts = [];
  if (passedOver(object)) parts.push(`Passed over: ${object.passed_over}`);
  parts.push(object.error != null ? `Error: ${object.error}` :
    (object.entries?.some((entry) => entry.suspect != null) ? 'Listed, with suspect entries' : 'Listed'));
  if (state.located && archiveOffset(state.located) === offset) parts[parts.length - 1] += ' (the located archive)';
  if (typeof object.joins === 'number') parts.push(`Joins an earlier candidate's walk at entry header ${bytes(object.joins)}`);
  if (object.stopped) {
    const { header_offset: header, signature, overlaps } = object.stopped;
    parts.push(`Stops before entry header ${bytes(header)}: ` + (signature != null ?
      `it holds the archive signature at ${bytes(signature)}` : `it overlaps the entry listed at header ${bytes(overlaps)}`));
  }
  // A run of candidates whose listings are this one moved on (joining, stopping or refused alike).
  if (object.also_at) {
    const { count, every } = object.also_at;
    const last = offset + count * every;
    parts.push(`The same for ${bytes(count)} more ${count === 1 ? 'candidate' : 'candidates'}, every ` +
      `${bytes(every)} bytes up to ${bytes(last)} (${hex(last)} hex), each with its offsets moved on as much`);
  }
  return parts.join('. ');
}

function showCandidates() {
  const body = $('candidates').tBodies[0];
  const rows = state.candidates.filter((object) => archiveOffset(object) !== null).map((object) => {
    const row = element('tr');
    const offset = archiveOffset(object);
    const stateText = candidateState(object, offset);
    if (passedOver(object)) row.classList.add('passed-over');
    row.append(element('td', bytes(offset), 'num'), element('td', hex(offset)),
               element('td', bytes(listingEntryCount(object)), 'num'),
               element('td', object.plausible_end == null ? '–' : bytes(object.plausible_end), 'num'),
               element('td', stateText));
    const actions = element('td');
    const show = element('button', 'Show entries');
    show.type = 'button';
    show.setAttribute('aria-label', `Show the entries of the candidate at ${hex(offset)}`);
    show.addEventListener('click', () => { showSummary(object); showEntries(object); });
    actions.append(show);
    if (carvable(object)) {
      const carve = element('button', 'Carve');
      carve.type = 'button';
      carve.setAttribute('aria-label', `Download ${carvedName(object)}`);
      carve.addEventListener('click', () => downloadCarved(object));
      actions.append(' ', carve);
    }
    row.append(actions);
    return row;
  });
  if (rows.length === 0) {
    const row = element('tr');
    const cell = element('td', 'None: no archive header anywhere in the file.');
    cell.colSpan = 6;
    row.append(cell);
    rows.push(row);
  }
  body.replaceChildren(...rows);
  const section = $('candidates-section');
  section.hidden = state.located != null && listedDirectly(state.located);
  // One candidate is the listing above: its line says what became of it, and the table folds away.
  const listed = state.candidates.filter((object) => archiveOffset(object) !== null);
  section.open = listed.length !== 1;
  $('candidates-summary').textContent = listed.length === 1 ?
    `one, at ${bytes(archiveOffset(listed[0]))} (${hex(archiveOffset(listed[0]))} hex), ` +
    `${bytes(listingEntryCount(listed[0]))} entries: ${candidateState(listed[0], archiveOffset(listed[0]))}` :
    listed.length === 0 ? 'none' : `${bytes(listed.length)} candidates`;
}

// ---------------------------------------------------------------------------
// Downloads: built from what is already here; the carved archive is a slice
// of the chosen file, never a copy.

function download(blob, name) {
  const link = element('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

function downloadCarved(object) {
  const { offset, end } = carvePlan(object);
  download(state.file.slice(offset, end, 'application/octet-stream'), carvedName(object));
}

// ---------------------------------------------------------------------------
// Entry data: what the worker reads for them with the core, on request. The
// stored bytes are a slice of the chosen file, over the range and under the
// name the core gives them (as --extract --include-suspect writes them).

const requests = new Map();  // id -> { resolve, reject }: requests the worker has not answered
let lastRequest = 0;

function ask(type, fields) {
  lastRequest += 1;
  const id = lastRequest;
  return new Promise((resolve, reject) => {
    requests.set(id, { resolve, reject });
    worker().postMessage({ type, id, file: state.file, module: state.moduleScript, ...fields });
  });
}

function downloadStored(object, entry, button) {
  const file = state.file;
  ask('stored', { offset: String(archiveOffset(object) ?? 0), header: String(entry.header_offset) }).then((reply) => {
    const plan = reply.plans?.[0];
    if (plan?.name == null) {
      // Refused, with the core's reason: nothing partial is offered.
      const reason = plan?.refusal ?? reply.failed ?? (reply.errors ?? []).join(' ');
      button.disabled = true;
      button.title = reason;
      setStatus(`${entry.name}: no stored bytes to download: ${reason}`);
      return;
    }
    button.title = plan.raw ? `${plan.name}: ${plan.why_raw}` : plan.name;
    download(file.slice(plan.offset, plan.offset + plan.size, 'application/octet-stream'), plan.name);
  }, () => {});
}

// Hashes are read once per listing of the file shown: the located one ('')
// or a candidate's, by its offset.
function hashKey(object) {
  return object === state.located ? '' : String(archiveOffset(object) ?? 0);
}

function requestHashes(object) {
  const key = hashKey(object);
  if (state.hashed.has(key)) return;
  const file = state.file;
  state.hashed.set(key, null);
  ask('hashes', { offset: key }).then((reply) => {
    if (state.file !== file) return;
    if (reply.failed || !reply.json) {
      state.hashed.set(key, { error: reply.failed ?? (reply.errors ?? []).join(' ') });
    } else {
      const hashedObject = JSON.parse(reply.json.split('\n')[0]);
      state.hashed.set(key, {
        object: hashedObject, json: reply.json, shortDigest: reply.plans[0].short_digest,
        byHeader: new Map((hashedObject.entries ?? []).map((entry) => [entry.header_offset, entry])),
      });
    }
    fillHashes();
  }, () => { if (state.file === file) state.hashed.delete(key); });
}

function entryHashes(entry) {
  if (!state.hashes || !state.shown) return null;
  return state.hashed.get(hashKey(state.shown))?.byHeader?.get(entry.header_offset) ?? null;
}

const entropyText = (entropy) => (entropy == null ? '' : Number(entropy).toFixed(2));

// The hashes as far as they are read: in the rows, the listing's head and the details.
function fillHashes() {
  const object = state.shown;
  if (!object) return;
  const known = state.hashes ? state.hashed.get(hashKey(object)) : undefined;
  for (const row of $('entries').tBodies[0].rows) {
    if (row.dataset.index === undefined) continue;
    const hashed = entryHashes(object.entries[Number(row.dataset.index)]);
    const [digest, entropy] = [row.cells[kDigestColumn], row.cells[kDigestColumn + 1]];
    digest.textContent = hashed?.sha256 ? `${hashed.sha256.slice(0, known.shortDigest)}…` :
      hashed?.data_error ?? (known === null ? 'reading…' : known?.error ?? '');
    digest.title = hashed?.sha256 ?? '';
    digest.dataset.sha256 = hashed?.sha256 ?? '';
    entropy.textContent = hashed?.sha256 ? entropyText(hashed.entropy) : '';
  }
  $('input-sha256').textContent = known?.object?.input_sha256 ?? (known === null ? 'reading…' : known?.error ?? '');
  document.body.dataset.hashes = known === null ? 'reading' : known ? 'read' : 'off';
  if (state.selected >= 0) selectEntry(state.selected, false);
}

// ---------------------------------------------------------------------------
// The module: with WebAssembly's vector instructions where the browser has
// them, else the portable build; `?module=portable` asks for the latter.

// The smallest module that uses a vector instruction: () -> v128 { i8x16.splat(0) }.
const kVectorProbe = new Uint8Array([
  0x00, 0x61, 0x73, 0x6d, 0x01, 0x00, 0x00, 0x00,  // "\0asm", version 1
  0x01, 0x05, 0x01, 0x60, 0x00, 0x01, 0x7b,        // one type: () -> v128
  0x03, 0x02, 0x01, 0x00,                          // one function of it
  0x0a, 0x08, 0x01, 0x06, 0x00, 0x41, 0x00, 0xfd, 0x0f, 0x0b,  // i32.const 0, i8x16.splat, end
]);

function chooseModule() {
  const asked = new URLSearchParams(location.search).get('module');
  const vectors = asked !== 'portable' && WebAssembly.validate(kVectorProbe);
  document.body.dataset.module = vectors ? 'simd' : 'portable';
  return vectors ? 'vexmira-simd.js' : 'vexmira.js';
}

// ---------------------------------------------------------------------------
// The files: listed one after another by one worker; Stop ends the worker at
// once, and the next file gets a new one.

function worker() {
  if (state.worker) return state.worker;
  state.worker = new Worker('worker.js');
  state.workersStarted += 1;
  document.body.dataset.workers = String(state.workersStarted);
  state.worker.onmessage = ({ data }) => onWorkerMessage(data);
  state.worker.onerror = (event) => {
    event.preventDefault();
    endWorker();
    finishItem('failed', `The listing stopped: ${event.message || 'the worker failed'}`);
  };
  return state.worker;
}

function endWorker() {
  state.worker?.terminate();
  state.worker = null;
  for (const { reject } of requests.values()) reject(new Error('stopped'));
  requests.clear();
}

const kPhaseText = { located: 'Locating the archive', candidates: 'Looking for every candidate' };

// A line of the table of files: what its located listing says.
function summarise(object) {
  const entries = object.entries ?? [];
  return {
    offset: notFound(object) ? 'none' : listedDirectly(object) ? 'listed directly' : bytes(archiveOffset(object)),
    entries: bytes(listingEntryCount(object)),
    suspects: bytes(entries.reduce((sum, entry) => sum + (entry.suspect != null ? entryCount(entry) : 0), 0)),
    plausibleEnd: object.plausible_end == null ? '–' : bytes(object.plausible_end),
    error: object.error ?? '',
  };
}

function addItemRow(item) {
  const row = element('tr');
  const open = element('button', 'Open');
  open.type = 'button';
  open.disabled = true;
  open.setAttribute('aria-label', `Open the listing of ${item.label}`);
  open.addEventListener('click', () => reopen(item));
  const actions = element('td');
  actions.append(open);
  row.append(element('td', item.label, 'name'), element('td', bytes(item.file.size), 'num'),
             element('td', '', 'num'), element('td', '', 'num'), element('td', '', 'num'), element('td', '', 'num'),
             element('td', 'Waiting', 'state'), actions);
  item.row = row;
  item.open = open;
  $('files').tBodies[0].append(row);
}

function updateItemRow(item) {
  const cells = item.row.cells;
  const summary = item.summary;
  if (summary) {
    [cells[2].textContent, cells[3].textContent, cells[4].textContent, cells[5].textContent] =
      [summary.offset, summary.entries, summary.suspects, summary.plausibleEnd];
  }
  const texts = { waiting: 'Waiting', listing: 'Listing…', done: 'Listed', stopped: 'Stopped', failed: 'Failed' };
  const detail = item.message ?? summary?.error ?? '';
  cells[6].textContent = detail ? `${texts[item.status]}: ${detail}` : texts[item.status];
  item.row.dataset.status = item.status;
  item.row.classList.toggle('current', state.shownItem === item);
  item.open.disabled = item.status === 'waiting' || item.status === 'listing';
}

// The files of a drop, those inside dropped folders too, each with its path.
async function droppedFiles(dataTransfer) {
  const entries = [...dataTransfer.items].map((item) => item.webkitGetAsEntry?.()).filter(Boolean);
  if (entries.length === 0) return [...dataTransfer.files].map((file) => ({ file, label: file.name }));
  const found = [];
  const walk = async (entry) => {
    if (entry.isFile) {
      found.push({ file: await new Promise((resolve, reject) => entry.file(resolve, reject)), label: entry.fullPath.replace(/^\//, '') });
    } else if (entry.isDirectory) {
      const reader = entry.createReader();
      for (;;) {
        const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
        if (batch.length === 0) break;
        for (const child of batch) await walk(child);
      }
    }
  };
  for (const entry of entries) await walk(entry);
  return found;
}

// Files in the order of their paths, so a folder reads as it is laid out.
function examineFiles(chosen) {
  chosen.sort((a, b) => a.label.localeCompare(b.label));
  if (chosen.length === 0) return;
  $('files-section').hidden = false;
  $('drop-about').open = false;  // the box takes one line once there is a listing to show
  for (const { file, label } of chosen) {
    const item = { file, label, row: null, status: 'waiting', summary: null, message: null, show: true };
    state.items.push(item);
    addItemRow(item);
  }
  document.body.dataset.state = 'busy';
  if (!state.current) listNext();
}

// Lists an earlier file again to show it: only the listing shown is kept.
function reopen(item) {
  if (state.shownItem === item || item.status === 'waiting' || item.status === 'listing') return;
  item.message = null;
  item.show = true;
  state.items.splice(state.items.indexOf(item), 1);
  const firstWaiting = state.items.findIndex((other) => other.status === 'waiting');
  state.items.splice(firstWaiting === -1 ? state.items.length : firstWaiting, 0, item);
  item.status = 'waiting';
  updateItemRow(item);
  document.body.dataset.state = 'busy';
  if (!state.current) listNext();
}

function listNext() {
  const item = state.items.find((candidate) => candidate.status === 'waiting');
  state.current = item ?? null;
  $('stop').disabled = !item;
  $('stop-all').disabled = !item;
  if (!item) {
    const failed = state.items.some((other) => other.status === 'failed');
    document.body.dataset.state = failed ? 'failed' : 'done';
    const done = state.items.filter((other) => other.status === 'done').length;
    setStatus(state.items.length === 1 ? state.items[0].finished :
              `${bytes(done)} of ${bytes(state.items.length)} files listed.`);
    return;
  }
  item.status = 'listing';
  updateItemRow(item);
  setStatus(`Reading ${item.file.name}…`, 0, item.file.size);
  worker().postMessage({ file: item.file, module: state.moduleScript });
}

function finishedText(item) {
  const object = item.located;
  if (item.status === 'stopped') return `${item.file.name}: stopped.`;
  if (item.status === 'failed' || !object) return `${item.file.name}: the listing stopped.`;
  if (notFound(object)) return `${object.file}: no archive found.`;
  if (object.error != null) return `${object.file}: the listing failed.`;
  const count = listingEntryCount(object);
  return `${object.file}: ${bytes(count)} ${count === 1 ? 'entry' : 'entries'} listed.`;
}

function finishItem(status, message) {
  const item = state.current;
  if (!item) return;
  item.status = status;
  item.message = message;
  item.finished = finishedText(item);
  item.located = null;  // the summary stays; the listing lives on in the panes alone
  if (message) showError(`${item.file.name}: ${message}`);
  if (state.shownItem === item && status !== 'done') {
    $('candidates-note').textContent = status === 'stopped' ? 'Stopped before every candidate was listed.' : message;
  }
  updateItemRow(item);
  listNext();
}

function onWorkerMessage(message) {
  if (message.id !== undefined && requests.has(message.id)) {
    const { resolve } = requests.get(message.id);
    requests.delete(message.id);
    resolve(message);
    return;
  }
  const item = state.current;
  if (!item) return;
  if (message.type === 'progress') {
    const percent = message.size > 0 ? Math.floor((100 * message.position) / message.size) : 100;
    setStatus(`${item.file.name}: ${kPhaseText[message.phase]}: ${percent}% of ${bytes(message.size)} bytes`,
              message.position, message.size);
    document.body.dataset.progress = String(message.position);
  } else if (message.type === 'listing') {
    for (const line of message.errors) console.warn(line);
    // How long the module took, for scripts/bench-page.sh.
    const timings = message.phase === 'located' ? {} : JSON.parse(document.body.dataset.timings ?? '{}');
    document.body.dataset.timings = JSON.stringify({ ...timings, [message.phase]: message.milliseconds });
    if (message.phase === 'located') {
      const [object] = parseListing(message);
      item.located = object;
      item.summary = summarise(object);
      updateItemRow(item);
      if (item.show) showListing(item, object, message.json);
    } else if (state.shownItem === item) {
      state.candidatesJson = message.json;
      state.candidates = parseListing(message);
      showCandidates();
      $('candidates-note').textContent = '';
    }
  } else if (message.type === 'done') {
    state.memory = message.memory;
    document.body.dataset.memory = JSON.stringify(message.memory);
    finishItem('done', null);
  } else if (message.type === 'failed') {
    endWorker();
    finishItem('failed', `The listing stopped: ${message.message}`);
  }
}

function showListing(item, object, json) {
  const previous = state.shownItem;
  state.file = item.file;
  state.locatedJson = json;
  state.located = object;
  state.candidates = [];
  state.candidatesJson = '';
  state.hashed = new Map();
  showError(null);
  showSummary(object);
  showEntries(object);
  showCandidates();
  $('candidates-note').textContent = 'Looking for every candidate…';
  $('candidates-summary').textContent = 'looking for every candidate…';
  state.shownItem = item;
  if (previous) updateItemRow(previous);
  updateItemRow(item);
  $('result').hidden = false;
}

function stop(all) {
  if (!state.current) return;
  if (all) {
    for (const item of state.items.filter((other) => other.status === 'waiting')) {
      item.status = 'stopped';
      item.message = 'not listed';
      updateItemRow(item);
    }
  }
  endWorker();
  finishItem('stopped', null);
}

function onEntryKey(event) {
  const row = event.target.closest('tr');
  if (!row || row.parentElement !== $('entries').tBodies[0]) return;
  const count = state.shown ? shownEntries(state.shown).length : 0;
  const index = Number(row.dataset.index);
  const moves = { ArrowDown: index + 1, ArrowUp: index - 1, Home: 0, End: count - 1, PageDown: index + 10, PageUp: index - 10 };
  if (event.key in moves) {
    event.preventDefault();
    selectEntry(Math.max(0, Math.min(count - 1, moves[event.key])), true);
  }
}

document.addEventListener('DOMContentLoaded', () => {
  state.moduleScript = chooseModule();
  for (const input of [$('file-input'), $('folder-input')]) {
    input.addEventListener('change', (event) => {
      examineFiles([...event.target.files].map((file) => ({ file, label: file.webkitRelativePath || file.name })));
      event.target.value = '';  // choosing the same files again lists them again
    });
  }
  $('stop').addEventListener('click', () => stop(false));
  $('stop-all').addEventListener('click', () => stop(true));
  // With Hashes, the listing as `--json --hash` prints it, once read.
  $('download-json').addEventListener('click', () =>
    download(new Blob([(state.hashes && state.hashed.get('')?.json) || state.locatedJson], { type: 'application/json' }),
             `${state.file.name}.json`));
  $('download-all-json').addEventListener('click', () =>
    download(new Blob([state.candidatesJson], { type: 'application/json' }), `${state.file.name}.all.json`));
  $('download-carved').addEventListener('click', () => downloadCarved(state.shown ?? state.located));
  const body = $('entries').tBodies[0];
  body.addEventListener('click', (event) => {
    const row = event.target.closest('tr');
    if (row && row.dataset.index !== undefined) selectEntry(Number(row.dataset.index), true);
  });
  body.addEventListener('keydown', onEntryKey);
  $('show-hashes').addEventListener('change', (event) => {
    state.hashes = event.target.checked;
    $('result').classList.toggle('hashes', state.hashes);
    if (state.hashes && state.shown) requestHashes(state.shown);
    fillHashes();
  });
  $('show-trailing').addEventListener('change', (event) => {
    state.showTrailing = event.target.checked;
    if (state.shown) showEntries(state.shown);
  });
  // Dropping anywhere: the browser would otherwise open the file itself.
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    $('drop').classList.add('over');
  });
  document.addEventListener('dragleave', () => $('drop').classList.remove('over'));
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    $('drop').classList.remove('over');
    droppedFiles(event.dataTransfer).then(examineFiles, (error) => showError(`The dropped files: ${error.message}`));
  });
  document.body.dataset.state = 'ready';
});
