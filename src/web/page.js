// SPDX-License-Identifier: MIT
// The page: takes images (chosen, dropped, or a whole folder), has the worker
// scan them with the module that suits this browser, and shows each image's
// result as the command line prints it, with where each name lies. Makes no
// network request: the module and the worker's script are in this page.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);

  // Anything the page's policy refused is counted where the tests look.
  let violations = 0;
  document.addEventListener('securitypolicyviolation', () => {
    violations += 1;
    document.body.dataset.violations = String(violations);
  });

  // A module of one function that uses a SIMD instruction (i8x16.splat):
  // it validates only where the browser has WebAssembly SIMD.
  const kSimdProbe = new Uint8Array([
    0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0,
    10, 8, 1, 6, 0, 65, 0, 253, 15, 11,
  ]);
  // For the tests: '#plain' in the address takes the plain module even where
  // SIMD works, '#chunks' reads images as the stream's chunks come, as where
  // a browser has no byte streams ('#plain,chunks' both).
  const testFlags = new Set(location.hash.slice(1).split(','));
  const useSimd = !testFlags.has('plain') && WebAssembly.validate(kSimdProbe);

  function fromBase64(text) {
    const binary = atob(text.trim());
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  const moduleReady = WebAssembly.compile(
      fromBase64($(useSimd ? 'module-simd' : 'module-plain').textContent));
  const workerUrl = URL.createObjectURL(
      new Blob([$('worker-source').textContent], {type: 'text/javascript'}));

  // Paths compared as UTF-8 bytes, the catalogue's order.
  const encoder = new TextEncoder();
  function byteOrder(a, b) {
    const x = encoder.encode(a);
    const y = encoder.encode(b);
    for (let i = 0; i < x.length && i < y.length; ++i) {
      if (x[i] !== y[i]) return x[i] - y[i];
    }
    return x.length - y.length;
  }

  const isTapeImage = (path) => /\.tap$/i.test(path);

  let worker = null;
  let busy = false;
  let run = 0;
  let selection = [];  // [{file, path}], sorted by path
  let results = [];    // per image of the selection, once scanned
  let scanStarted = 0;
  let totalBytes = 0;
  let doneBytes = 0;

  function newWorker() {
    const created = new Worker(workerUrl);
    created.onmessage = (event) => receive(event.data);
    created.onerror = (event) => {
      showSummary(`The scan stopped: ${event.message || 'the worker failed'}.`);
      finishRun();
    };
    moduleReady.then((module) => created.postMessage({type: 'module', module}),
        (error) => receive({type: 'failed', message: error.message}));
    return created;
  }

  function options() {
    return {all: $('opt-a').checked, escape: $('opt-e').checked};
  }

  function formatBytes(bytes) {
    if (bytes >= 1e9) return `${(bytes / 1e9).toFixed(2)} GB`;
    if (bytes >= 1e6) return `${(bytes / 1e6).toFixed(1)} MB`;
    if (bytes >= 1e3) return `${(bytes / 1e3).toFixed(1)} kB`;
    return `${bytes} bytes`;
  }

  function rate(bytes, ms) {
    return ms > 0 ? `${(bytes / 1e3 / ms).toFixed(0)} MB/s` : '—';
  }

  function showSummary(text) {
    $('summary').textContent = text;
  }

  function plural(count, word) {
    return `${count} ${word}${count === 1 ? '' : 's'}`;
  }

  // Starts a scan of the whole selection with the options as they stand.
  function scan() {
    if (selection.length === 0) return;
    run += 1;
    if (busy && worker) {
      worker.terminate();  // a new choice replaces the scan under way
      worker = null;
    }
    if (!worker) worker = newWorker();
    busy = true;
    results = new Array(selection.length).fill(null);
    totalBytes = selection.reduce((sum, image) => sum + image.file.size, 0);
    doneBytes = 0;
    scanStarted = performance.now();
    document.body.dataset.state = 'scanning';
    $('results').replaceChildren(...selection.map((image, index) => placeholder(image, index)));
    say('');
    $('copy').disabled = true;
    $('download').disabled = true;
    $('progress-box').hidden = false;
    showProgress(0, 0);
    showSummary(`Scanning ${plural(selection.length, 'image')}, ${formatBytes(totalBytes)}…`);
    worker.postMessage({type: 'scan', run, images: selection, options: options(),
      chunks: testFlags.has('chunks')});
  }

  function showProgress(index, read) {
    const done = doneBytes + read;
    $('progress').value = totalBytes > 0 ? done / totalBytes : 1;
    const image = selection[index];
    $('progress-text').textContent = image ?
      `${image.path}: ${formatBytes(read)} of ${formatBytes(image.file.size)}` : '';
  }

  function placeholder(image, index) {
    const article = document.createElement('article');
    article.className = 'image';
    article.id = `image-${index}`;
    const heading = document.createElement('h3');
    heading.textContent = image.path;
    const meta = document.createElement('p');
    meta.className = 'meta';
    meta.textContent = `${formatBytes(image.file.size)}, waiting`;
    article.append(heading, meta);
    return article;
  }

  function cell(row, text, className) {
    const element = document.createElement(row.parentElement?.tagName === 'THEAD' ? 'th' : 'td');
    element.textContent = text;
    if (className) element.className = className;
    row.append(element);
  }

  function showImage(message) {
    const article = $(`image-${message.index}`);
    const meta = article.querySelector('.meta');
    const parts = [formatBytes(message.size), plural(message.names.length, 'name')];
    if (message.read < message.size && !message.error) parts.push('stopped at the first name');
    if (message.read >= 1e7) parts.push(rate(message.read, message.ms));
    meta.textContent = parts.join(', ');
    if (message.error) {
      const error = document.createElement('p');
      error.className = 'error';
      error.textContent = `Could not read the image: ${message.error}`;
      article.append(error);
    }
    const columns = document.createElement('div');
    columns.className = 'columns';
    const output = document.createElement('pre');
    output.className = 'output';
    output.dataset.image = message.path;
    output.textContent = message.output;
    output.tabIndex = 0;
    output.setAttribute('aria-label', `Output for ${message.path}`);
    columns.append(output);
    if (message.names.length > 0) {
      const table = document.createElement('table');
      table.className = 'names';
      const caption = document.createElement('caption');
      caption.textContent = 'Where each name lies';
      const head = document.createElement('thead');
      const headRow = head.insertRow();
      cell(headRow, '#', 'number');
      cell(headRow, 'name');
      cell(headRow, 'offset', 'number');
      cell(headRow, 'block type', 'number');
      const body = document.createElement('tbody');
      for (const name of message.names) {
        const row = body.insertRow();
        cell(row, String(name.number), 'number');
        cell(row, name.name, 'name');
        cell(row, String(name.offset), 'number');
        cell(row, String(name.blockType), 'number');
      }
      table.append(caption, head, body);
      columns.append(table);
    }
    article.append(columns);
  }

  function receive(message) {
    if (message.type === 'ready') {
      $('build').textContent = message.simd ? 'the WebAssembly module with SIMD' : 'the plain WebAssembly module';
      document.body.dataset.build = message.simd ? 'simd' : 'plain';
      return;
    }
    if (message.type === 'failed') {
      showSummary(`This browser cannot run the page's WebAssembly: ${message.message}`);
      finishRun();
      return;
    }
    if (message.run !== run) return;  // from a scan that was replaced
    if (message.type === 'progress') {
      showProgress(message.index, message.read);
    } else if (message.type === 'image') {
      results[message.index] = message;
      document.body.dataset.reader = message.reader;  // how images are read, for the tests
      doneBytes += message.size;
      showImage(message);
      showProgress(message.index + 1, 0);
    } else if (message.type === 'done') {
      const names = results.reduce((sum, image) => sum + image.names.length, 0);
      const failed = results.filter((image) => image.error).length;
      const ms = performance.now() - scanStarted;
      const summary = `${plural(results.length, 'image')}, ${plural(names, 'name')}, ` +
        `${formatBytes(message.bytes)} in ${(ms / 1000).toFixed(2)} s, ${rate(message.bytes, ms)}`;
      showSummary(failed ? `${summary}; ${failed} could not be read` : summary);
      document.body.dataset.mbPerSecond = (message.bytes / 1e3 / ms).toFixed(1);
      finishRun();
      $('copy').disabled = false;
      $('download').disabled = false;
    }
  }

  function finishRun() {
    busy = false;
    $('progress-box').hidden = true;
    document.body.dataset.run = String(run);
    document.body.dataset.state = 'done';
  }

  // The catalogue's TSV: one record per name, images by path, names in tape
  // order; tab, newline and backslash escaped in every field.
  function tsv() {
    const escape = (text) => String(text).replace(/[\\\t\n]/g,
        (c) => (c === '\\' ? '\\\\' : c === '\t' ? '\\t' : '\\n'));
    const lines = ['path\tnumber\toffset\tblock_type\tname'];
    for (const image of results) {
      if (!image) continue;
      for (const name of image.names) {
        lines.push([image.path, name.number, name.offset, name.blockType, name.name]
            .map(escape).join('\t'));
      }
    }
    return lines.join('\n') + '\n';
  }

  function say(text) {
    $('copied').textContent = text;
  }

  async function copy() {
    const text = tsv();
    try {
      await navigator.clipboard.writeText(text);
      say('Copied.');
    } catch (error) {
      const area = document.createElement('textarea');
      area.value = text;
      document.body.append(area);
      area.select();
      const copied = document.execCommand('copy');
      area.remove();
      say(copied ? 'Copied.' : 'This browser did not allow copying; use Download instead.');
    }
  }

  function download() {
    const url = URL.createObjectURL(new Blob([tsv()], {type: 'text/tab-separated-values'}));
    const link = document.createElement('a');
    link.href = url;
    link.download = 'tapnames.tsv';
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 10000);
    say('Saved as tapnames.tsv.');
  }

  function choose(images) {
    selection = images.slice().sort((a, b) => byteOrder(a.path, b.path));
    if (selection.length === 0) {
      showSummary('No tape images there (only files ending in .tap are taken from a folder).');
      return;
    }
    scan();
  }

  // Every file under a dropped folder, as {file, path} with its path inside.
  async function walk(entry, found) {
    if (entry.isFile) {
      const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
      found.push({file, path: entry.fullPath.replace(/^\//, '')});
    } else if (entry.isDirectory) {
      const reader = entry.createReader();
      for (;;) {
        const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
        if (batch.length === 0) break;
        for (const child of batch) await walk(child, found);
      }
    }
  }

  // What was dropped must be taken before the drop event ends: the items'
  // entries (to walk folders) and files (a dropped file is taken as it is).
  async function dropped(transfer) {
    const items = [...transfer.items].filter((item) => item.kind === 'file').map((item) => ({
      entry: item.webkitGetAsEntry ? item.webkitGetAsEntry() : null,
      file: item.getAsFile(),
    }));
    const images = [];
    for (const {entry, file} of items) {
      if (entry && entry.isDirectory) {
        const found = [];
        await walk(entry, found);
        images.push(...found.filter((image) => isTapeImage(image.path)));
      } else if (file) {
        images.push({file, path: file.name});
      }
    }
    choose(images);
  }

  $('files').addEventListener('change', (event) => {
    choose([...event.target.files].map((file) => ({file, path: file.name})));
  });
  $('folder').addEventListener('change', (event) => {
    choose([...event.target.files]
        .map((file) => ({file, path: file.webkitRelativePath || file.name}))
        .filter((image) => isTapeImage(image.path)));
  });
  for (const id of ['opt-a', 'opt-e']) $(id).addEventListener('change', scan);
  $('copy').addEventListener('click', copy);
  $('download').addEventListener('click', download);

  const drop = $('drop');
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
  document.addEventListener('dragleave', (event) => {
    if (event.relatedTarget === null) drop.classList.remove('over');
  });
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    dropped(event.dataTransfer).catch((error) => showSummary(`Could not open what was dropped: ${error.message}`));
  });

  worker = newWorker();
})();
