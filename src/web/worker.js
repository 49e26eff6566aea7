// SPDX-License-Identifier: MIT
// The page's worker: scans the images it is sent, one after another, each
// read as a stream of slices (never whole), and posts progress and the names
// found (their bytes: the page renders them). Messages in: {type: 'module',
// module} once, then {type: 'scan', run, images: [{index, file}], all,
// chunks}, or {type: 'inspect', index, file, minPilot} (the worker made for
// the images' details). Messages out: ready, progress, image, done (each with
// its run), inspected.
// The page stops a scan by ending the worker and starting another.
'use strict';

let resolveCore;
let inspections = Promise.resolve();
const coreReady = new Promise((resolve) => { resolveCore = resolve; });

// The size of the slices read; the module takes them in pieces of its input.
const kSliceSize = 1 << 20;
const kProgressInterval = 100;  // ms between progress messages

// The one buffer a byte stream is read into, for the worker's whole life: each
// read hands it to the stream and gets it back, so images of any size and
// number cost no more memory than one. (A worker that made a buffer for each
// image stopped for good after a few dozen images in Chromium.)
let buffer = new ArrayBuffer(kSliceSize);

// The slices of `file` in order. `how.reader` says which way was taken;
// `how.chunks` asks for the stream's chunks as they come.
async function* slices(file, how) {
  const stream = file.stream();
  let byob = null;
  try {
    byob = how.chunks ? null : stream.getReader({mode: 'byob'});
  } catch (error) {
    byob = null;  // not a byte stream here: take its chunks as they come
  }
  how.reader = byob === null ? 'chunks' : 'byob';
  const reader = byob ?? stream.getReader();
  try {
    for (;;) {
      let step;
      try {
        if (byob === null) {
          step = await reader.read();
        } else {
          const lent = buffer;
          buffer = null;  // with the stream until the read comes back
          step = await reader.read(new Uint8Array(lent, 0, kSliceSize));
          if (step.value) buffer = step.value.buffer;
        }
      } catch (caught) {
        throw new ReadFailure(caught);
      }
      if (step.done) return;
      if (yield step.value) return;
    }
  } finally {
    // A read that failed keeps the buffer it was lent: make the next one.
    if (buffer === null) buffer = new ArrayBuffer(kSliceSize);
    reader.releaseLock();
    stream.cancel().catch(() => {});
  }
}

// A read of the file that failed. Browsers report a file changed or gone
// since it was chosen as a "network error" or the like, words that do not
// fit a file on this device.
class ReadFailure extends Error {
  constructor(cause) {
    super(cause && cause.name === 'NotFoundError' ? 'the file is no longer there' :
      'the file could not be read: it may have been changed, moved or deleted since it was chosen');
  }
}

function errorText(caught) {
  return String(caught && caught.message ? caught.message : caught);
}

async function scanImage(core, run, index, file, all, chunks) {
  const started = performance.now();
  core.begin(all);
  let read = 0;
  let reported = started;
  let error = null;
  let stopped = false;  // first-name mode had its name before the end
  const how = {reader: '', chunks};
  postMessage({type: 'progress', run, index, read});  // its row says it is being read
  const source = slices(file, how);
  try {
    for (let step = await source.next(); !step.done;) {
      read += step.value.length;
      const more = core.feed(step.value);
      const now = performance.now();
      if (now - reported >= kProgressInterval) {
        reported = now;
        postMessage({type: 'progress', run, index, read});
      }
      stopped = !more && read < file.size;
      step = await source.next(!more);
    }
  } catch (caught) {
    error = errorText(caught);
    await source.return().catch(() => {});  // the reader released, the buffer kept
  }
  const names = error === null ? core.finish() : core.names;
  postMessage({
    type: 'image', run, index, size: file.size, read, names, error, stopped,
    reader: how.reader, ms: performance.now() - started,
  });
  return read;
}

// The events of an image's pilots and the count of its pulse lengths.
async function inspectImage(core, index, file, minPilot) {
  core.beginInspection(minPilot);
  let error = null;
  const source = slices(file, {reader: '', chunks: false});
  try {
    for (let step = await source.next(); !step.done; step = await source.next()) {
      core.inspect(step.value);
    }
  } catch (caught) {
    error = errorText(caught);
    await source.return().catch(() => {});
  }
  const inspection = error === null ? core.finishInspection() : null;
  postMessage({type: 'inspected', index, inspection, error});
}

self.onmessage = async (event) => {
  const message = event.data;
  if (message.type === 'module') {
    try {
      const instance = await WebAssembly.instantiate(message.module, {});
      const core = new ScanCore(instance);
      resolveCore(core);
      postMessage({type: 'ready', simd: core.simd});
    } catch (error) {
      postMessage({type: 'failed', message: String(error && error.message ? error.message : error)});
    }
    return;
  }
  if (message.type === 'inspect') {
    // One after another: the read buffer is the worker's one.
    inspections = inspections.then(async () =>
      inspectImage(await coreReady, message.index, message.file, message.minPilot));
    return;
  }
  if (message.type === 'scan') {
    const core = await coreReady;
    const started = performance.now();
    let bytes = 0;
    for (const image of message.images) {
      bytes += await scanImage(core, message.run, image.index, image.file, message.all,
          message.chunks);
    }
    postMessage({type: 'done', run: message.run, bytes, ms: performance.now() - started});
  }
};
