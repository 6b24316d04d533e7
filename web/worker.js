// The page's worker: lists one file with Vexmira's own core (vexmira.wasm).
// The file is mounted through WORKERFS, whose reads are Blob.slice reads of
// the bytes asked for, so a file of any size is listed without being loaded.
// Nothing is fetched but vexmira.js and vexmira.wasm, from beside this file.
'use strict';

importScripts('vexmira.js');

let listing = null;  // { lines: [], errors: [] } for the run going on
let runtime = null;

function loadRuntime() {
  runtime ??= createVexmira({
    onLines: (text) => listing.lines.push(text),
    onErrorLine: (line) => listing.errors.push(line),
    print: (line) => listing?.errors.push(line),
    printErr: (line) => listing?.errors.push(line),
  });
  return runtime;
}

// Reports how far the reads have got, ten times a second at most.
function progressReporter(phase, size) {
  let last = 0;
  return (position) => {
    const now = performance.now();
    if (now - last < 100) return;
    last = now;
    postMessage({ type: 'progress', phase, position, size });
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

// Wraps the mounted file's reads, for the progress line and for the largest
// single read (which the tests hold to a bound).
function watchReads(FS, path, stats) {
  const node = FS.lookupPath(path).node;
  const ops = node.stream_ops;
  node.stream_ops = Object.assign({}, ops, {
    read(stream, buffer, offset, length, position) {
      const count = ops.read(stream, buffer, offset, length, position);
      churnFor(count);
      stats.reads += 1;
      stats.largestRead = Math.max(stats.largestRead, count);
      stats.report(position + count);
      return count;
    },
  });
}

const kMount = '/input';

async function list(file) {
  const vexmira = await loadRuntime();
  const FS = vexmira.FS;
  if (!FS.analyzePath(kMount).exists) FS.mkdir(kMount);
  FS.mount(FS.filesystems.WORKERFS, { files: [file] }, kMount);
  const stats = { reads: 0, largestRead: 0, report: () => {} };
  try {
    watchReads(FS, `${kMount}/${file.name}`, stats);
    // The name as given on the command line, in the file's own folder: the
    // objects read as `vexmira --json --in-place NAME` run there prints them.
    FS.chdir(kMount);
    // The located archive as the plug-in finds it, then every candidate (--all).
    for (const [phase, all] of [['located', 0], ['candidates', 1]]) {
      listing = { lines: [], errors: [] };
      stats.report = progressReporter(phase, file.size);
      postMessage({ type: 'progress', phase, position: 0, size: file.size });
      const status = vexmira.ccall('vexmira_list_json', 'number', ['string', 'number'], [file.name, all]);
      postMessage({ type: 'listing', phase, status, json: listing.lines.join(''), errors: listing.errors });
    }
  } finally {
    listing = null;
    FS.chdir('/');
    FS.unmount(kMount);
  }
  postMessage({
    type: 'done',
    memory: { wasmBytes: vexmira.HEAP8.length, largestRead: stats.largestRead, reads: stats.reads },
  });
}

self.onmessage = async (event) => {
  try {
    await list(event.data.file);
  } catch (error) {
    postMessage({ type: 'failed', message: String(error && error.message ? error.message : error) });
  }
};
