// SPDX-License-Identifier: MIT
// Drives the WebAssembly module over one image at a time: copies the slices
// read into the module's input buffer, feeds them and takes the names found.
// Shared by the page's worker and the node tests, so both test the same
// path. The module does all the decoding and writes every line of text.
'use strict';

class ScanCore {
  constructor(instance) {
    this.exports = instance.exports;
    this.inputSize = this.exports.input_size();
    this.simd = this.exports.simd() === 1;
    this.banner = this.text(this.exports.banner());
    this.image = null;
  }

  // The module's text buffer, `length` characters of it (all ASCII).
  text(length) {
    const bytes = new Uint8Array(this.exports.memory.buffer, this.exports.text(), length);
    return String.fromCharCode.apply(null, bytes);
  }

  // Starts an image; options {all, escape} are the command line's -a and -e.
  // Returns the image's record: output (the command line's standard output
  // for it, banner first) and names [{number, offset, blockType, name}].
  begin(options) {
    this.exports.reset((options.all ? 1 : 0) | (options.escape ? 2 : 0));
    this.image = {output: this.banner, names: []};
    return this.image;
  }

  // Feeds the pulses of `chunk` (a Uint8Array of any length). Returns false
  // once the scan needs no more of the image (first-name mode has its name).
  feed(chunk) {
    const x = this.exports;
    for (let at = 0; at < chunk.length && !x.done();) {
      const count = Math.min(chunk.length - at, this.inputSize);
      new Uint8Array(x.memory.buffer, x.input(), count).set(chunk.subarray(at, at + count));
      let used = 0;
      while (used < count && !x.done()) {
        const step = x.feed(used, count - used);
        if (step === 0 && x.result_count() === 0 && !x.done()) {
          throw new Error('the scan made no progress');
        }
        used += step;
        this.take();
      }
      at += used;
    }
    return !x.done();
  }

  // The end of the image; returns its record.
  finish() {
    this.exports.finish();
    this.take();
    return this.image;
  }

  take() {
    const x = this.exports;
    const count = x.result_count();
    for (let i = 0; i < count; ++i) {
      this.image.output += this.text(x.result_line(i));
      this.image.names.push({
        number: x.result_number(i),
        offset: x.result_offset(i),
        blockType: x.result_block_type(i),
        name: this.text(x.result_name(i)),
      });
    }
    x.clear_results();
  }
}

if (typeof module === 'object' && module.exports) {
  module.exports = {ScanCore};
}
