// Reads a file ahead of the listing worker, which starts this one where the
// page is cross-origin isolated. The listing runs in WebAssembly and so can
// only read synchronously, one slice at a time, with nothing read while it
// searches; here several asynchronous reads are in flight at once, into
// slots of memory both workers share, while the listing searches.
//
// Shared with the listing worker (see ReadAhead in worker.js): `bytes`, one
// slice per slot, and `control`, an Int32Array: for each slot the index + 1
// of the file's slice it holds (0 while it is written), then the first slice
// still wanted ("low"; slices [low, low + slots) are the ones to hold), then
// a flag set when a read fails. Only the listing worker moves low.
'use strict';

// Each read fills one of kInFlight buffers of this worker's, used over and
// over: a new buffer per read would be freed only when this worker's heap
// collects, which one that allocates nothing else does too seldom (the
// renderer grew by hundreds of MiB on a 3 GiB file). A browser whose file
// streams take no buffer of the reader's gets a new one per read, and the
// heap is made to collect (see churnFor in worker.js).
let churned = null;
function churnFor(count) {
  for (let i = 0; i < count / 8192; i += 1) churned = new Array(1024).fill(i);
}

// A stream read that has not filled its slice in this long is given up, and
// the slice read whole: now and then one here never finished.
const kStreamPatience = 3000;

// Bytes [from, to) of `file` into `buffer`, which the read takes over: the
// promise gives back the buffer that then holds them.
async function readInto(file, from, to, buffer) {
  let reader = null;
  try {
    reader = file.slice(from, to).stream().getReader({ mode: 'byob' });
  } catch { /* streams that take no buffer: read whole below */ }
  if (reader) {
    const timer = setTimeout(() => reader.cancel().catch(() => {}), kStreamPatience);
    try {
      let filled = 0;
      while (filled < to - from) {
        const { done, value } = await reader.read(new Uint8Array(buffer, filled, to - from - filled));
        if (done || value.byteLength === 0) throw new Error('the stream ended early');
        filled += value.byteLength;
        buffer = value.buffer;
      }
      return buffer;
    } catch { /* read whole below */ } finally {
      clearTimeout(timer);
    }
  }
  const read = await file.slice(from, to).arrayBuffer();
  churnFor(read.byteLength);
  return read;
}

// Reads in flight at once: two already read about twice as fast as one here.
const kInFlight = 3;

self.onmessage = ({ data }) => {
  const { file, slice, slots } = data;
  const bytes = new Uint8Array(data.bytes);
  const control = new Int32Array(data.control);
  const lowAt = slots;
  const failedAt = slots + 1;
  const size = file.size;
  const inFlight = new Set();
  const spare = Array.from({ length: kInFlight }, () => new ArrayBuffer(slice));
  let waiting = false;

  const wanted = (index) => {
    const low = Atomics.load(control, lowAt);
    return index >= low && index - low < slots && index * slice < size;
  };

  const store = (index, buffer, length) => {
    if (!wanted(index)) return;  // the listing moved on (or back) meanwhile
    const slot = index % slots;
    Atomics.store(control, slot, 0);
    bytes.set(new Uint8Array(buffer, 0, length), slot * slice);
    Atomics.store(control, slot, index + 1);
    Atomics.notify(control, slot);
  };

  const pump = () => {
    const low = Atomics.load(control, lowAt);
    for (let index = low; index - low < slots && index * slice < size && inFlight.size < kInFlight; index += 1) {
      if (inFlight.has(index) || Atomics.load(control, index % slots) === index + 1) continue;
      inFlight.add(index);
      const from = index * slice;
      const to = Math.min(size, from + slice);
      readInto(file, from, to, spare.pop()).then((buffer) => {
        inFlight.delete(index);
        store(index, buffer, to - from);
        spare.push(buffer.byteLength === slice ? buffer : new ArrayBuffer(slice));
        pump();
      }, () => {
        // The listing worker reads the file itself from now on, and reports what fails.
        Atomics.store(control, failedAt, 1);
        for (let slot = 0; slot <= slots; slot += 1) Atomics.notify(control, slot);
        self.close();
      });
    }
    // Sleeps until the listing moves low.
    if (waiting) return;
    const sleep = Atomics.waitAsync(control, lowAt, low);
    if (!sleep.async) {
      setTimeout(pump, 0);
      return;
    }
    waiting = true;
    sleep.value.then(() => {
      waiting = false;
      pump();
    });
  };
  pump();
  postMessage('started');
};
