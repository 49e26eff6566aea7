// SPDX-License-Identifier: MIT
// The web page's modules in node, against the command-line tool:
//   node node_test.js WASM_DIR TAPNAMES TAPE...
// - both modules (SIMD and plain) import nothing;
// - the SIMD classifier gives the portable loop's bits (classifier_check.wasm);
// - through scan_core.js, the page's own driver, each module's output for every
//   tape, scanned with and without -a and fed in slices of several sizes, then
//   rendered with and without -e, is byte for byte the tool's standard output;
//   so is the output without -a rendered from the names kept by a scan with -a
//   (the page's re-rendering when an option changes);
// - the rendered names are those between the quotes of the output's lines;
// - each name's offset holds the sync byte 9 and, 72 pulses on, its block type;
// - each module's inspection of every tape (the page's image detail), fed in
//   slices of two sizes, gives the events and histogram of tapnames-inspect
//   --format jsonl (found beside TAPNAMES in the build).
'use strict';

const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const path = require('path');
const {ScanCore} = require(path.join(__dirname, '..', '..', 'src', 'web', 'scan_core.js'));

const [wasmDir, tool, ...tapes] = process.argv.slice(2);
if (!tool || tapes.length === 0) {
  console.error('usage: node node_test.js WASM_DIR TAPNAMES TAPE...');
  process.exit(2);
}

function instantiate(file) {
  const module = new WebAssembly.Module(fs.readFileSync(path.join(wasmDir, file)));
  assert.deepStrictEqual(WebAssembly.Module.imports(module), [], `${file} imports nothing`);
  return new WebAssembly.Instance(module, {});
}

let checks = 0;

// The SIMD classifier against the portable loop.
const checker = instantiate('classifier_check.wasm').exports;
for (let pattern = 0; pattern < 64; ++pattern) {
  assert.strictEqual(checker.mismatches(pattern), 0, `classifier pattern ${pattern}`);
  assert.ok(checker.ones_found() > 0, `pattern ${pattern} has one bits`);
  ++checks;
}

// The byte a header holds at `at`, its eight pulses read most significant bit first.
function byteAt(image, at) {
  let value = 0;
  for (let i = 0; i < 8; ++i) value = (value << 1) | (image[at + i] >= 33 && image[at + i] <= 47);
  return value;
}

const builds = {simd: new ScanCore(instantiate('tapnames-simd.wasm')),
  plain: new ScanCore(instantiate('tapnames-plain.wasm'))};
assert.ok(builds.simd.simd && !builds.plain.simd, 'each module says which it is');

function expectedOutput(tape, all, escape) {
  const args = [...(all ? ['-a'] : []), ...(escape ? ['-e'] : []), tape];
  return childProcess.execFileSync(tool, args).toString('latin1');
}

for (const tape of tapes) {
  const image = fs.readFileSync(tape);
  // Slices: the worker's, one that is not a multiple of anything, and tiny ones.
  const sliceSizes = [1 << 20, 4096 * 3 + 17];
  if (image.length < 300000) sliceSizes.push(61, 1);
  const expected = {};
  for (const all of [false, true]) {
    for (const escape of [false, true]) expected[[all, escape]] = expectedOutput(tape, all, escape);
  }
  for (const all of [false, true]) {
    for (const [build, core] of Object.entries(builds)) {
      for (const size of sliceSizes) {
        const what = `${path.basename(tape)} ${all ? '-a' : ''} ${build} slices of ${size}`;
        core.begin(all);
        for (let at = 0; at < image.length; at += size) {
          if (!core.feed(image.subarray(at, at + size))) break;
        }
        const names = core.finish();
        // Rendered as scanned, and without -a from what a scan with -a kept.
        for (const shown of all ? [true, false] : [false]) {
          for (const escape of [false, true]) {
            const rendered = core.render(names, {all: shown, escape});
            const how = `${what} shown ${shown ? '-a' : ''} ${escape ? '-e' : ''}`;
            assert.strictEqual(rendered.output, expected[[shown, escape]], how);
            const lines = rendered.output.split('\n').slice(1, -1);
            assert.deepStrictEqual(lines.map((line) => line.slice(line.indexOf('"') + 1, -1)),
                rendered.texts, `${how}: names as between the quotes`);
            ++checks;
          }
        }
        for (const name of names) {
          assert.strictEqual(byteAt(image, name.offset), 9, `${what}: sync at ${name.offset}`);
          assert.strictEqual(byteAt(image, name.offset + 72), name.blockType,
              `${what}: block type at ${name.offset}`);
        }
      }
    }
  }
}
// The inspection of the image details against tapnames-inspect.
const inspector = path.join(path.dirname(tool), 'tapnames-inspect');
for (const tape of tapes) {
  const image = fs.readFileSync(tape);
  const objects = childProcess.execFileSync(inspector, ['--format', 'jsonl', tape],
      {maxBuffer: 1 << 30}).toString()
      .split('\n').filter(Boolean).map((line) => JSON.parse(line));
  const expected = objects.filter((o) => o.kind === 'name' || o.kind === 'near-miss').map((o) => ({
    kind: o.kind, reason: o.reason ?? '', at: o.at, offset: o.kind === 'name' ? o.offset : o.at,
    pilotStart: o.pilot_start, pilotBytes: o.pilot_bytes, position: o.position ?? 0,
    got: o.got ?? 0, want: o.want ?? 0,
  }));
  const counts = objects.find((o) => o.kind === 'histogram').counts;
  for (const [build, core] of Object.entries(builds)) {
    for (const size of [1 << 20, 4096 * 3 + 17]) {
      const what = `${path.basename(tape)} inspected by ${build} in slices of ${size}`;
      core.beginInspection(64);
      for (let at = 0; at < image.length; at += size) core.inspect(image.subarray(at, at + size));
      const inspection = core.finishInspection();
      const events = inspection.events.map((e) => ({
        kind: e.kind, reason: e.reason, at: e.at, offset: e.offset, pilotStart: e.pilotStart,
        pilotBytes: e.pilotBytes, position: e.kind === 'name' ? 0 : e.position,
        got: e.kind === 'name' ? 0 : e.got, want: e.kind === 'name' ? 0 : e.want,
      }));
      assert.deepStrictEqual(events, expected, `${what}: events`);
      assert.deepStrictEqual(inspection.counts, counts, `${what}: histogram`);
      assert.strictEqual(inspection.size, image.length, `${what}: size`);
      ++checks;
    }
  }
}
console.log(`node_test: ${checks} checks passed (${tapes.length} tapes)`);
