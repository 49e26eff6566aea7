// SPDX-License-Identifier: MIT
// The page's worker: scans the images it is sent, one after another, each
// read as a stream of slices (never whole), and posts progress and results.
// Messages in: {type: 'module', module} once, then {type: 'scan', run,
// images: [{file, path}], options: {all, escape}}. Messages out: ready,
// progress, image, done (each with its run).
'use strict';

let resolveCore;
const coreReady = new Promise((resolve) => { resolveCore = resolve; });

// The size of the slices read; the module takes them in pieces of its input.
const kSliceSize = 1 << 20;
const kProgressInterval = 100;  // ms between progress messages

// The slices of `file` in order. A byte stream is read into one buffer that
// goes round and round, so a long image costs no more memory than a short one.
// `how.reader` says which way was taken; `how.chunks` asks for the second.
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
  let buffer = byob === null ? null : new ArrayBuffer(kSliceSize);
  try {
    for (;;) {
      const {value, done} = await (byob === null
        ? reader.read()
        : reader.read(new Uint8Array(buffer, 0, kSliceSize)));
      if (done) return;
      if (yield value) return;
      if (byob !== null) buffer = value.buffer;
    }
  } finally {
    reader.releaseLock();
    stream.cancel().catch(() => {});
  }
}

async function scanImage(core, run, index, image, options, chunks) {
  const started = performance.now();
  const record = core.begin(options);
  let read = 0;
  let reported = started;
  let error = null;
  const how = {reader: '', chunks};
  try {
    const source = slices(image.file, how);
    for (let step = await source.next(); !step.done;) {
      read += step.value.length;
      const more = core.feed(step.value);
      const now = performance.now();
      if (now - reported >= kProgressInterval) {
        reported = now;
        postMessage({type: 'progress', run, index, read, size: image.file.size});
      }
      step = await source.next(!more);
    }
  } catch (caught) {
    error = String(caught && caught.message ? caught.message : caught);
  }
  if (error === null) {
    core.finish();
  }
  postMessage({
    type: 'image', run, index, path: image.path, size: image.file.size, read,
    output: record.output, names: record.names, error, reader: how.reader,
    ms: performance.now() - started,
  });
  return read;
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
  if (message.type === 'scan') {
    const core = await coreReady;
    const started = performance.now();
    let bytes = 0;
    for (let index = 0; index < message.images.length; ++index) {
      bytes += await scanImage(core, message.run, index, message.images[index], message.options,
          message.chunks);
    }
    postMessage({type: 'done', run: message.run, bytes, ms: performance.now() - started});
  }
};
