// SPDX-License-Identifier: MIT
// Drives the WebAssembly module: scans one image at a time (copies the slices
// read into the module's input buffer, feeds them and takes the names found,
// each as its 16 bytes) and renders kept names into the command line's text.
// Shared by the page's worker (scanning), the page (rendering) and the node
// tests, so all three use the same path. Inspects an image too: the events of
// its pilots (names and near misses, as tapnames-inspect tells them) and the
// count of each pulse length. The module does all the decoding
// and writes every character of the text.
'use strict';

class ScanCore {
  constructor(instance) {
    this.exports = instance.exports;
    this.inputSize = this.exports.input_size();
    this.simd = this.exports.simd() === 1;
    this.banner = this.text(this.exports.banner());
    this.names = null;
  }

  // The module's text buffer, `length` characters of it (all ASCII).
  text(length) {
    const bytes = new Uint8Array(this.exports.memory.buffer, this.exports.text(), length);
    return String.fromCharCode.apply(null, bytes);
  }

  // Starts an image: every name (`all`, the command line's -a) or the first.
  begin(all) {
    this.exports.reset(all ? 1 : 0);
    this.names = [];
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

  // The end of the image; returns its names [{number, offset, blockType,
  // bytes}], bytes the 16 of the name as on tape.
  finish() {
    this.exports.finish();
    this.take();
    return this.names;
  }

  take() {
    const x = this.exports;
    const count = x.result_count();
    for (let i = 0; i < count; ++i) {
      x.result_name(i);
      this.names.push({
        number: x.result_number(i),
        offset: x.result_offset(i),
        blockType: x.result_block_type(i),
        bytes: new Uint8Array(x.memory.buffer, x.name(), 16).slice(),
      });
    }
    x.clear_results();
  }

  // Starts the inspection of an image: pilots of `minPilot` bytes or more.
  beginInspection(minPilot) {
    this.exports.inspect_reset(minPilot);
    this.events = [];
  }

  // Inspects the pulses of `chunk` (a Uint8Array of any length).
  inspect(chunk) {
    const x = this.exports;
    const piece = 1 << 16;  // the module's most at once
    for (let at = 0; at < chunk.length; at += piece) {
      const count = Math.min(chunk.length - at, piece);
      new Uint8Array(x.memory.buffer, x.input(), count).set(chunk.subarray(at, at + count));
      x.inspect_feed(0, count);
      this.takeEvents();
    }
  }

  // The end of the inspected image: {events, counts (256), size, dropped}.
  // An event: {kind ('name' or 'near-miss'), reason, at, offset, pilotStart,
  // pilotBytes, position, got, want, blockType, bytes, header}; a near miss's
  // offset is its at.
  finishInspection() {
    const x = this.exports;
    x.inspect_finish();
    this.takeEvents();
    const counts = [];
    for (let value = 0; value < 256; ++value) counts.push(x.histogram_count(value));
    return {events: this.events, counts, size: x.inspect_size(), dropped: x.event_dropped()};
  }

  takeEvents() {
    const x = this.exports;
    const reasons = ['short-pilot', 'sync', 'block-type', 'out-of-range', 'end-of-image'];
    for (let i = 0; i < x.event_count(); ++i) {
      const kind = x.event_kind(i);
      x.event_name(i);
      const at = x.event_at(i);
      this.events.push({
        kind: kind === 0 ? 'name' : 'near-miss',
        reason: kind === 0 ? '' : reasons[kind - 1],
        at,
        offset: kind === 0 ? x.event_offset(i) : at,
        pilotStart: x.event_pilot_start(i),
        pilotBytes: x.event_pilot_bytes(i),
        position: x.event_position(i),
        got: x.event_got(i),
        want: x.event_want(i),
        blockType: x.event_block_type(i),
        bytes: new Uint8Array(x.memory.buffer, x.name(), 16).slice(),
        header: new Uint8Array(x.memory.buffer, x.text(), 5).slice(),
      });
    }
    x.event_clear();
  }

  // Renders kept names as the command line with options {all, escape} (-a,
  // -e) prints them: output, its standard output (banner first), and texts,
  // each name shown as between the quotes. Without -a only the first name is
  // shown, so names found with -a give the output without it too.
  render(names, options) {
    const x = this.exports;
    const shown = options.all ? names : names.slice(0, 1);
    const flags = (options.all ? 1 : 0) | (options.escape ? 2 : 0);
    let output = this.banner;
    const texts = [];
    for (const name of shown) {
      new Uint8Array(x.memory.buffer, x.name(), 16).set(name.bytes);
      output += this.text(x.render_line(flags, name.number));
      texts.push(this.text(x.render_name(options.escape ? 1 : 0)));
    }
    return {output, texts};
  }
}

// `text` as a field of a tab-separated record, escaped by the module as
// every front end escapes one.
ScanCore.prototype.tsvField = function(text) {
  const x = this.exports;
  const bytes = new TextEncoder().encode(String(text));
  new Uint8Array(x.memory.buffer, x.input(), bytes.length).set(bytes);
  const length = x.tsv_field(bytes.length);
  if (length === 0 && bytes.length !== 0) throw new Error('a field too long for a record');
  return new TextDecoder().decode(
      new Uint8Array(x.memory.buffer, x.input() + bytes.length, length));
};

if (typeof module === 'object' && module.exports) {
  module.exports = {ScanCore};
}
