// The page's worker: lists one file at a time with Vexmira's own core. The
// page says which build of the module to load (with vector instructions or
// without) and ends the worker to stop a file at once, starting a new one for
// the next (which ends its reader.js too). The file is read through WORKERFS
// in slices of at least a MiB, so a file of any size is listed without being
// loaded. Nothing is fetched but the module's .js and .wasm and reader.js,
// from beside this file.
'use strict';

let listing = null;  // { lines: [], errors: [], plans: [] } for the run going on
let runtime = null;

function loadRuntime(moduleScript) {
  if (!runtime) {
    // Only the page's own two builds: the name comes from the page, and is checked all the same.
    if (!['vexmira.js', 'vexmira-simd.js'].includes(moduleScript)) throw new Error(`no module ${moduleScript}`);
    importScripts(moduleScript);
    runtime = createVexmira({
      onLines: (text) => listing.lines.push(text),
      onErrorLine: (line) => listing.errors.push(line),
      onPlan: (text) => listing.plans.push(JSON.parse(text)),
      print: (line) => listing?.errors.push(line),
      printErr: (line) => listing?.errors.push(line),
    });
  }
  return runtime;
}

// Progress in bytes, five times a second at most. The walks read back
// behind the scan, so the furthest byte read is what is shown.
const kProgressInterval = 200;

function progressReporter(phase, size) {
  let last = -Infinity;
  let furthest = 0;
  return (position) => {
    furthest = Math.max(furthest, position);
    const now = performance.now();
    if (now - last < kProgressInterval) return;
    last = now;
    postMessage({ type: 'progress', phase, position: furthest, size });
  };
}

// Every read hands back a new ArrayBuffer, which Chromium frees only when the
// worker's JavaScript heap collects; a scan that runs in WebAssembly allocates
// almost nothing there, so gigabytes of read buffers would pile up first. A
// little short-lived allocation per read makes the young generation collect
// every few reads (a 3 GiB scan: 1.7 GiB of renderer memory without, about
// 330 MiB with).
let churned = null;
function churnFor(count) {
  for (let i = 0; i < count / 8192; i += 1) churned = new Array(1024).fill(i);
}

// The file's bytes come from Blob slices of kSlice bytes, and reads are
// served from the last one: a slice costs a round trip through the browser's
// file reader whatever its size, which held 1 MiB slices (the scans' own
// reads) to about 170 MiB/s here, and 16 MiB ones to 650 MiB/s.
const kSlice = 16 * 1024 * 1024;

// Where the page is cross-origin isolated (memory shared between workers),
// reader.js reads kAheadSlots slices of kAheadSlice bytes ahead of the scans,
// several at once, while the module searches; reads elsewhere (a walk far
// from the scan) are this worker's own, as without it. The slots are the
// memory it costs: 32 MiB.
const kAheadSlice = 4 * 1024 * 1024;
const kAheadSlots = 8;
// A read-ahead that has held up a read this long is given up for the file.
const kAheadPatience = 10_000;

class ReadAhead {
  // Not for a file that one of this worker's own slices holds: nothing to
  // overlap, and a second worker per file would slow a folder of small ones.
  static usable(file) {
    return file.size > kSlice && self.crossOriginIsolated === true && typeof SharedArrayBuffer === 'function' &&
           typeof Atomics.waitAsync === 'function';
  }

  constructor(file) {
    this.size = file.size;
    this.bytes = new Uint8Array(new SharedArrayBuffer(kAheadSlots * kAheadSlice));
    // Per slot the slice index + 1 it holds, then the first slice wanted, then a failure flag (see reader.js).
    this.control = new Int32Array(new SharedArrayBuffer((kAheadSlots + 2) * 4));
    this.lowAt = kAheadSlots;
    this.failedAt = kAheadSlots + 1;
    this.lastIndex = 0;
    this.broken = false;
    this.reader = new Worker('reader.js');
    this.reader.postMessage({ file, slice: kAheadSlice, slots: kAheadSlots, bytes: this.bytes.buffer, control: this.control.buffer });
    // A worker starts only while the one that made it is free to answer,
    // which this one is not while the module runs: it waits to hear from the
    // reader first, and reads alone if it never does.
    this.started = new Promise((resolve) => {
      const timer = setTimeout(() => {
        this.broken = true;
        resolve();
      }, kAheadPatience);
      this.reader.onmessage = () => {
        clearTimeout(timer);
        resolve();
      };
    });
  }

  close() {
    this.reader.terminate();
  }

  // Reads ahead from `position` on: a new pass over the file.
  restart(position) {
    this.moveLow(Math.floor(position / kAheadSlice));
    this.lastIndex = Math.floor(position / kAheadSlice);
  }

  moveLow(index) {
    Atomics.store(this.control, this.lowAt, index);
    Atomics.notify(this.control, this.lowAt);
  }

  // Copies bytes from `position` (before the file's end) on, up to `length`
  // and the end of their slice, to `into` at `offset`; returns the count, or
  // 0 when the bytes are not read ahead (the caller reads them itself).
  read(into, offset, position, length) {
    if (this.broken) return 0;
    const index = Math.floor(position / kAheadSlice);
    const low = Atomics.load(this.control, this.lowAt);
    if (index < low || index - low >= kAheadSlots) return 0;
    const slot = index % kAheadSlots;
    const within = position - index * kAheadSlice;
    const count = Math.min(length, kAheadSlice - within, this.size - position);
    const from = slot * kAheadSlice + within;
    for (;;) {
      const held = Atomics.load(this.control, slot);
      if (held === index + 1) {
        into.set(this.bytes.subarray(from, from + count), offset);
        // Checked again: a slot written meanwhile is read again.
        if (Atomics.load(this.control, slot) === index + 1) break;
        continue;
      }
      if (Atomics.load(this.control, this.failedAt) !== 0 ||
          Atomics.wait(this.control, slot, held, kAheadPatience) === 'timed-out') {
        this.broken = true;
        return 0;
      }
    }
    // A pass that goes on to the next slice lets go of all but the one
    // before it (the walks read back a little); a jump ahead keeps them.
    if (index <= this.lastIndex + 1 && index - 1 > low) this.moveLow(index - 1);
    this.lastIndex = index;
    return count;
  }
}

function slicedReads(FS, path, file, stats, ahead) {
  const node = FS.lookupPath(path).node;
  const reader = new FileReaderSync();
  const size = file.size;  // a File's size is fixed when it is chosen
  let cached = new Uint8Array(0);
  let cachedAt = 0;
  const fetch = (from, to) => {
    const bytes = new Uint8Array(reader.readAsArrayBuffer(file.slice(from, to)));
    churnFor(bytes.length);
    stats.reads += 1;
    stats.largestRead = Math.max(stats.largestRead, bytes.length);
    return bytes;
  };
  // This worker's own read of [position, end), whole.
  const readHere = (into, offset, position, end) => {
    let bytes;
    if (end - position >= kSlice) {
      bytes = fetch(position, end);
    } else {
      if (position < cachedAt || end - cachedAt > cached.length) {
        cachedAt = position;
        cached = fetch(position, Math.min(size, position + kSlice));
      }
      bytes = cached.subarray(position - cachedAt, end - cachedAt);
    }
    into.set(bytes, offset);
  };
  node.stream_ops = Object.assign({}, node.stream_ops, {
    read(stream, buffer, offset, length, position) {
      if (position >= size || length <= 0) return 0;
      const end = Math.min(size, position + length);
      const into = new Uint8Array(buffer.buffer, buffer.byteOffset, buffer.length);
      let at = position;
      while (at < end) {
        const copied = ahead ? ahead.read(into, offset + (at - position), at, end - at) : 0;
        if (copied === 0) {
          readHere(into, offset + (at - position), at, end);
          at = end;
        } else {
          at += copied;
          stats.aheadBytes += copied;
        }
      }
      stats.report(end);
      return end - position;
    },
  });
}

const kMount = '/input';

async function list(file, moduleScript) {
  const vexmira = await loadRuntime(moduleScript);
  const ahead = ReadAhead.usable(file) ? new ReadAhead(file) : null;
  await ahead?.started;
  listWith(vexmira, file, ahead);
}

function listWith(vexmira, file, ahead) {
  const FS = vexmira.FS;
  if (!FS.analyzePath(kMount).exists) FS.mkdir(kMount);
  FS.mount(FS.filesystems.WORKERFS, { files: [file] }, kMount);
  const stats = { reads: 0, largestRead: 0, aheadBytes: 0, report: () => {} };
  try {
    slicedReads(FS, `${kMount}/${file.name}`, file, stats, ahead);
    // The name as given on the command line, in the file's own folder: the
    // objects read as `vexmira --json --in-place NAME` run there prints them.
    FS.chdir(kMount);
    // The located archive as the plug-in finds it, then every candidate (--all).
    for (const [phase, all] of [['located', 0], ['candidates', 1]]) {
      listing = { lines: [], errors: [], plans: [] };
      ahead?.restart(0);
      stats.report = progressReporter(phase, file.size);
      stats.report(0);
      const started = performance.now();
      const status = vexmira.ccall('vexmira_list_json', 'number', ['string', 'number'], [file.name, all]);
      const milliseconds = performance.now() - started;
      // The route first, then one carve plan per listing, in the listings' order.
      const [head, ...carves] = listing.plans;
      postMessage({ type: 'listing', phase, status, milliseconds, json: listing.lines.join(''), errors: listing.errors,
                    route: head?.route ?? null, carves });
    }
  } finally {
    ahead?.close();
    listing = null;
    FS.chdir('/');
    FS.unmount(kMount);
  }
  postMessage({
    type: 'done',
    // The largest single read of the file: this worker's, or the reader's slice.
    memory: { wasmBytes: vexmira.HEAP8.length, largestRead: Math.max(stats.largestRead, stats.aheadBytes > 0 ? kAheadSlice : 0),
              reads: stats.reads,
              readAhead: ahead !== null && !ahead.broken, aheadBytes: stats.aheadBytes },
  });
}

self.onmessage = async (event) => {
  try {
    await list(event.data.file, event.data.module);
  } catch (error) {
    postMessage({ type: 'failed', message: String(error && error.message ? error.message : error) });
  }
};

// Requests beside the listing, each answered on its own once the work before
// it is done: a listing with its entries' hashes (`--hash`), and where an
// entry's stored bytes lie with the name `--extract` gives them. Offsets go
// to the module as decimal text, since they may pass 2^31.
const kRequests = {
  hashes: (vexmira, request) => vexmira.ccall('vexmira_hash_json', 'number', ['string', 'string'],
                                              [request.file.name, request.offset ?? '']),
  stored: (vexmira, request) => vexmira.ccall('vexmira_stored_bytes', 'number', ['string', 'string', 'string'],
                                              [request.file.name, request.offset, request.header]),
};

async function answer(request) {
  const reply = { type: request.type, id: request.id };
  try {
    const vexmira = await loadRuntime(request.module);
    const FS = vexmira.FS;
    if (!FS.analyzePath(kMount).exists) FS.mkdir(kMount);
    FS.mount(FS.filesystems.WORKERFS, { files: [request.file] }, kMount);
    listing = { lines: [], errors: [], plans: [] };
    try {
      // Read as a listing reads (the hashes read the whole file).
      slicedReads(FS, `${kMount}/${request.file.name}`, request.file, { reads: 0, largestRead: 0, report: () => {} });
      FS.chdir(kMount);
      reply.status = kRequests[request.type](vexmira, request);
      Object.assign(reply, { json: listing.lines.join(''), plans: listing.plans, errors: listing.errors });
    } finally {
      listing = null;
      FS.chdir('/');
      FS.unmount(kMount);
    }
  } catch (error) {
    reply.failed = String(error && error.message ? error.message : error);
  }
  postMessage(reply);
}

const listRequest = self.onmessage;
self.onmessage = (event) => (event.data.type in kRequests ? answer(event.data) : listRequest(event));
