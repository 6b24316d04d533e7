// The page: hands a dropped or chosen file to the worker, shows what the
// tool's JSON objects say, and builds the downloads from them. Keys are read
// so that both the 1.0 and the 2.0 objects show right.
'use strict';

const $ = (id) => document.getElementById(id);

const state = {
  file: null,
  located: null,      // the object `vexmira --json --in-place FILE` prints
  locatedJson: '',    // its line, as printed
  candidates: [],     // the objects of `--all`
  candidatesJson: '',
  shown: null,        // the listing the entry table shows
  worker: null,
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

// A header the locator's rule passes over (reported by --all in 2.0).
function passedOver(object) {
  return object.located === false;
}

function passedOverReason(object) {
  for (const key of ['reason', 'located_reason', 'passed_over_reason']) {
    if (typeof object[key] === 'string') return object[key];
  }
  return 'the locator passes this header over';
}

function hex(offset) {
  return offset.toString(16).toUpperCase().padStart(8, '0');
}

const numberFormat = new Intl.NumberFormat('en');
const bytes = (value) => (value == null ? '' : numberFormat.format(value));

// The file name --carve writes: FILE.OFFSET.ARC, the offset as eight or more
// upper-case hex digits.
function carvedName(object) {
  const path = object.carved && typeof object.carved === 'object' ? object.carved.path : object.carved;
  if (typeof path === 'string') return path.split('/').pop();
  return `${object.file}.${hex(archiveOffset(object))}.ARC`;
}

function carvable(object) {
  if (/\.arc$/i.test(object.file)) return false;  // listed directly: --carve carves only located archives
  return archiveOffset(object) !== null && typeof object.plausible_end === 'number' && object.error == null &&
         object.plausible_end >= archiveOffset(object);
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

function parseLines(text) {
  return text.split('\n').filter((line) => line.length > 0).map((line) => JSON.parse(line));
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

function describeArchive(object) {
  if (notFound(object)) return 'No archive found';
  const offset = archiveOffset(object);
  return offset === null ? 'Listed directly (an .ARC file)' : `At offset ${bytes(offset)} (${hex(offset)} hex)`;
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
}

function showEntries(object) {
  state.shown = object;
  const entries = object.entries ?? [];
  const suspects = entries.filter((entry) => entry.suspect != null);
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
    const cells = [
      [firstNumbers[index], 'num'], [entry.name, 'name'], [bytes(entry.full_size), 'num'], [bytes(entry.compressed_size), 'num'],
      [percent == null ? '(empty)' : `${percent}%`, 'num'], [entry.locked ? 'locked' : '', ''],
      [`${entry.method_name ?? entry.method} (${entry.method})`, ''], [bytes(entry.header_offset), 'num'],
      [entry.suspect ?? '', 'why'],
    ];
    for (const [text, className] of cells) row.append(element('td', text, className));
    if (entry.suspect != null) {
      row.classList.add('suspect');
      row.title = `Suspect: ${entry.suspect}`;
    }
    rows.push(row);
    if (entry.also_at) {
      const run = element('tr', null, entry.suspect != null ? 'run suspect' : 'run');
      const cell = element('td', runText(entry));
      cell.colSpan = 9;
      run.append(cell);
      rows.push(run);
    }
  });
  body.replaceChildren(...rows);

  const totals = entries.reduce((sum, entry) => ({
    full: sum.full + entryCount(entry) * entry.full_size, stored: sum.stored + entryCount(entry) * entry.compressed_size,
    locked: sum.locked + (entry.locked ? entryCount(entry) : 0),
  }), { full: 0, stored: 0, locked: 0 });
  const count = listingEntryCount(object);
  const foot = element('tr');
  foot.append(element('th', `${bytes(count)} ${count === 1 ? 'entry' : 'entries'}`), element('td', ''),
              element('td', bytes(totals.full), 'num'), element('td', bytes(totals.stored), 'num'),
              element('td', ''), element('td', `${totals.locked} locked`), element('td', ''), element('td', ''),
              element('td', ''));
  foot.firstChild.setAttribute('scope', 'row');
  $('entries').tFoot.replaceChildren(foot);

  const note = $('suspect-note');
  note.hidden = suspects.length === 0;
  if (suspects.length > 0) {
    const first = entries.findIndex((entry) => entry.suspect != null);
    const after = count - firstNumbers[first] + 1;
    note.textContent = `Suspect rows are marked: they cannot be real entries (the first, row ${firstNumbers[first]}: ` +
      `${entries[first].suspect}), so ${bytes(after)} ${after === 1 ? 'entry looks' : 'entries look'} ` +
      `like trailing data. The archive plausibly ends at ${bytes(object.plausible_end)}.`;
  }
  selectEntry(entries.length > 0 ? 0 : -1, false);
}

function selectEntry(index, focus) {
  const rows = $('entries').tBodies[0].rows;
  for (const row of rows) {
    const selected = Number(row.dataset.index) === index;
    row.setAttribute('aria-selected', String(selected));
    row.tabIndex = selected ? 0 : -1;
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
}

function showCandidates() {
  const body = $('candidates').tBodies[0];
  const rows = state.candidates.filter((object) => archiveOffset(object) !== null).map((object) => {
    const row = element('tr');
    const offset = archiveOffset(object);
    let stateText = object.error != null ? `Error: ${object.error}` :
      (object.entries?.some((entry) => entry.suspect != null) ? 'Listed, with suspect entries' : 'Listed');
    if (passedOver(object)) {
      row.classList.add('passed-over');
      stateText = `Passed over: ${passedOverReason(object)}. ${stateText}`;
    }
    if (state.located && archiveOffset(state.located) === offset) stateText += ' (the located archive)';
    // A run of candidates whose listings are this one moved on (joining, stopping or refused alike).
    if (object.also_at) {
      const { count, every } = object.also_at;
      const last = offset + count * every;
      stateText += `. The same for ${bytes(count)} more ${count === 1 ? 'candidate' : 'candidates'}, every ` +
        `${bytes(every)} bytes up to ${bytes(last)} (${hex(last)} hex), each with its offsets moved on as much`;
    }
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
  $('candidates-section').hidden = state.located && archiveOffset(state.located) === null && !notFound(state.located);
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
  download(state.file.slice(archiveOffset(object), object.plausible_end, 'application/octet-stream'), carvedName(object));
}

// ---------------------------------------------------------------------------
// Running

function worker() {
  if (state.worker) return state.worker;
  state.worker = new Worker('worker.js');
  state.worker.onmessage = ({ data }) => onWorkerMessage(data);
  state.worker.onerror = (event) => {
    event.preventDefault();
    finish(`The listing stopped: ${event.message || 'the worker failed'}`);
  };
  return state.worker;
}

const kPhaseText = { located: 'Locating the archive', candidates: 'Looking for every candidate' };

function onWorkerMessage(message) {
  if (message.type === 'progress') {
    const percent = message.size > 0 ? Math.floor((100 * message.position) / message.size) : 100;
    setStatus(`${kPhaseText[message.phase]}: ${percent}% of ${bytes(message.size)} bytes`, message.position, message.size);
  } else if (message.type === 'listing') {
    for (const line of message.errors) console.warn(line);
    if (message.phase === 'located') {
      state.locatedJson = message.json;
      [state.located] = parseLines(message.json);
      showSummary(state.located);
      showEntries(state.located);
      $('result').hidden = false;
    } else {
      state.candidatesJson = message.json;
      state.candidates = parseLines(message.json);
      showCandidates();
    }
  } else if (message.type === 'done') {
    state.memory = message.memory;
    document.body.dataset.memory = JSON.stringify(message.memory);
    finish(null);
  } else if (message.type === 'failed') {
    state.worker.terminate();
    state.worker = null;
    finish(`The listing stopped: ${message.message}`);
  }
}

function finish(failure) {
  document.getElementById('file-input').disabled = false;
  if (failure) {
    showError(failure);
    setStatus('Stopped.');
  } else {
    const object = state.located;
    setStatus(object && notFound(object) ? `${object.file}: no archive found.` :
              object && object.error != null ? `${object.file}: the listing failed.` :
              `${object.file}: ${bytes(listingEntryCount(object))} ${listingEntryCount(object) === 1 ? 'entry' : 'entries'} listed.`);
  }
  document.body.dataset.state = failure ? 'failed' : 'done';
}

function examine(file) {
  if (!file) return;
  state.file = file;
  state.located = null;
  state.candidates = [];
  state.locatedJson = state.candidatesJson = '';
  document.body.dataset.state = 'busy';
  $('file-input').disabled = true;
  $('result').hidden = true;
  showError(null);
  setStatus(`Reading ${file.name}…`, 0, file.size);
  worker().postMessage({ file });
}

function onEntryKey(event) {
  const row = event.target.closest('tr');
  if (!row || row.parentElement !== $('entries').tBodies[0]) return;
  const count = state.shown?.entries?.length ?? 0;
  const index = Number(row.dataset.index);
  const moves = { ArrowDown: index + 1, ArrowUp: index - 1, Home: 0, End: count - 1, PageDown: index + 10, PageUp: index - 10 };
  if (event.key in moves) {
    event.preventDefault();
    selectEntry(Math.max(0, Math.min(count - 1, moves[event.key])), true);
  }
}

document.addEventListener('DOMContentLoaded', () => {
  $('file-input').addEventListener('change', (event) => examine(event.target.files[0]));
  $('download-json').addEventListener('click', () =>
    download(new Blob([state.locatedJson], { type: 'application/json' }), `${state.file.name}.json`));
  $('download-all-json').addEventListener('click', () =>
    download(new Blob([state.candidatesJson], { type: 'application/json' }), `${state.file.name}.all.json`));
  $('download-carved').addEventListener('click', () => downloadCarved(state.shown ?? state.located));
  const body = $('entries').tBodies[0];
  body.addEventListener('click', (event) => {
    const row = event.target.closest('tr');
    if (row && row.dataset.index !== undefined) selectEntry(Number(row.dataset.index), true);
  });
  body.addEventListener('keydown', onEntryKey);
  // Dropping anywhere: the browser would otherwise open the file itself.
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    $('drop').classList.add('over');
  });
  document.addEventListener('dragleave', () => $('drop').classList.remove('over'));
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    $('drop').classList.remove('over');
    if ($('file-input').disabled) return;
    examine(event.dataTransfer.files[0]);
  });
  document.body.dataset.state = 'ready';
});
