// SPDX-License-Identifier: MIT
// Scan speed of the web page's modules alone, in node, through the page's
// own driver (src/web/scan_core.js), slices of 1 MiB as the page's worker reads:
//   node bench/web_module.js build-web/src/web IMAGE [RUNS]
// Make an image with build/tests/web/make_web_tapes --large IMAGE 256. The image
// is held in memory, so this measures the module, not reading.
'use strict';

const fs = require('fs');
const path = require('path');
const {ScanCore} = require(path.join(__dirname, '..', 'src', 'web', 'scan_core.js'));

const [wasmDir, imagePath, runsText] = process.argv.slice(2);
if (!imagePath) {
  console.error('usage: node bench/web_module.js WASM_DIR IMAGE [RUNS]');
  process.exit(2);
}
const runs = Number(runsText || 10);
const image = fs.readFileSync(imagePath);
const kSlice = 1 << 20;

for (const build of ['simd', 'plain']) {
  const module = new WebAssembly.Module(fs.readFileSync(path.join(wasmDir, `tapnames-${build}.wasm`)));
  const core = new ScanCore(new WebAssembly.Instance(module, {}));
  const rates = [];
  let names = 0;
  for (let run = 0; run <= runs; ++run) {
    const started = process.hrtime.bigint();
    core.begin(true);
    for (let at = 0; at < image.length; at += kSlice) core.feed(image.subarray(at, at + kSlice));
    names = core.finish().length;
    const seconds = Number(process.hrtime.bigint() - started) / 1e9;
    if (run > 0) rates.push(image.length / 1e6 / seconds);  // run 0 warms up
  }
  rates.sort((a, b) => a - b);
  const mean = rates.reduce((a, b) => a + b, 0) / rates.length;
  console.log(`${build}: ${mean.toFixed(0)} MB/s mean (${rates[0].toFixed(0)}-` +
              `${rates[rates.length - 1].toFixed(0)}) over ${runs} runs of ` +
              `${(image.length / 2 ** 20).toFixed(0)} MiB, ${names} names`);
}
