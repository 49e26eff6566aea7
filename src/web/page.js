// SPDX-License-Identifier: MIT
// The page: takes images (chosen, dropped, or a whole folder), has the worker
// scan them with the module that suits this browser, and shows them in one
// table, a row per image, each opening to the command line's output for it
// and where each name lies. The names found are kept as their bytes, and the
// module renders them: changing -e, or leaving -a, shows them again without
// reading anything. Makes no network request: the module and the worker's
// script are in this page.
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
  // The page renders names with its own instance of the module.
  let renderer = null;
  const rendererReady = moduleReady.then((module) => WebAssembly.instantiate(module, {}))
      .then((instance) => { renderer = new ScanCore(instance); });
  const workerUrl = URL.createObjectURL(new Blob(
      [$('core-source').textContent, '\n', $('worker-source').textContent],
      {type: 'text/javascript'}));

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

  // Every image chosen, sorted by path: {path, file, size, state, read,
  // names (as the worker found them, or null), complete (names holds every
  // name of the image), scannedAll, error, ms, view (the rendered output and
  // name texts), row, detail}. state: waiting, reading, done, failed, cancelled.
  let images = [];
  let worker = null;
  let busy = false;
  let run = 0;
  let runStarted = 0;
  let runBytes = 0;     // the bytes of the images this run reads
  let doneBytes = 0;    // of those, the bytes of the images finished
  let runImages = 0;    // the images this run reads
  let sortKey = 'path';
  let sortDown = false;

  function newWorker() {
    const created = new Worker(workerUrl);
    created.onmessage = (event) => receive(created, event.data);
    created.onerror = (event) => {
      if (created !== worker) return;
      event.preventDefault();
      stopRun('failed', `The scan stopped: ${event.message || 'the worker failed'}.`);
      worker = newWorker();
    };
    rendererReady.then(() => moduleReady).then(
        (module) => created.postMessage({type: 'module', module}),
        (error) => receive(created, {type: 'failed', message: error.message}));
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

  // A speed, only where it means something: at least 1 MB in at least 0.2 s.
  function rate(bytes, ms) {
    return bytes >= 1e6 && ms >= 200 ? `${(bytes / 1e3 / ms).toFixed(0)} MB/s` : '';
  }

  function plural(count, word) {
    return `${count} ${word}${count === 1 ? '' : 's'}`;
  }

  function showSummary(text) {
    $('summary').textContent = text;
  }

  function say(text) {
    $('copied').textContent = text;
  }

  // Does `image` need reading for these options?
  function needsReading(image, all) {
    return image.names === null || image.error !== null || (all && !image.complete);
  }

  // Scans what the options need that was not read yet, and shows again what was.
  function scan() {
    if (images.length === 0) return;
    run += 1;
    if (busy) {
      worker.terminate();  // what the ended scan was reading is read again below
      worker = newWorker();
      for (const image of images) {
        if (image.state === 'reading') image.state = 'waiting';
      }
    }
    const {all} = options();
    const todo = images.filter((image) => needsReading(image, all));
    for (const image of todo) {
      image.state = 'waiting';
      image.read = 0;
    }
    runImages = todo.length;
    runBytes = todo.reduce((sum, image) => sum + image.size, 0);
    doneBytes = 0;
    runStarted = performance.now();
    renderAll();
    say('');
    if (todo.length === 0) {
      finishRun('done', 0);
      return;
    }
    busy = true;
    document.body.dataset.state = 'scanning';
    $('copy').disabled = true;
    $('download').disabled = true;
    $('cancel').disabled = false;
    $('progress-box').hidden = false;
    showProgress(null, 0);
    showSummary(`Reading ${plural(todo.length, 'image')}, ${formatBytes(runBytes)}…`);
    worker.postMessage({type: 'scan', run, all, chunks: testFlags.has('chunks'),
      images: todo.map((image) => ({index: images.indexOf(image), file: image.file}))});
  }

  // -e changes only how names are written: everything is shown again from
  // what was read, and a scan under way goes on.
  function escapeChanged() {
    if (images.length === 0) return;
    if (busy) {
      renderAll();
      return;
    }
    run += 1;
    runImages = 0;
    runStarted = performance.now();
    renderAll();
    finishRun('done', 0);
  }

  function showProgress(image, read) {
    const done = doneBytes + read;
    $('progress').value = runBytes > 0 ? done / runBytes : 1;
    $('progress-text').textContent = image ?
      `${image.path}: ${formatBytes(read)} of ${formatBytes(image.size)}` : '';
  }

  // Texts with their {…} code names kept whole: each code a span that does not wrap.
  function nameInto(element, text) {
    const parts = text.split(/(\{[^{}]*\})/);
    element.replaceChildren(...parts.filter((part) => part !== '').map((part) => {
      if (!/^\{.*\}$/.test(part)) return document.createTextNode(part);
      const code = document.createElement('span');
      code.className = 'code';
      code.textContent = part;
      return code;
    }));
  }

  function cell(row, className) {
    const element = row.insertCell();
    if (className) element.className = className;
    return element;
  }

  // The row of an image and its detail row below it (closed at first).
  function makeRows(image, id) {
    const row = document.createElement('tr');
    row.className = 'image-row';
    row.dataset.imageRow = image.path;
    const open = document.createElement('button');
    open.type = 'button';
    open.className = 'open';
    open.setAttribute('aria-expanded', 'false');
    open.setAttribute('aria-controls', `detail-${id}`);
    open.textContent = image.path;
    open.addEventListener('click', () => {
      const opening = open.getAttribute('aria-expanded') !== 'true';
      open.setAttribute('aria-expanded', String(opening));
      image.detail.hidden = !opening;
      if (opening) inspect(image);
    });
    cell(row, 'path').append(open);
    cell(row, 'number');
    cell(row, 'number');
    cell(row, 'name');
    cell(row, 'state');
    const detail = document.createElement('tr');
    detail.className = 'detail';
    detail.id = `detail-${id}`;
    detail.hidden = true;
    const holder = cell(detail);
    holder.colSpan = 5;
    const body = document.createElement('div');
    body.className = 'detail-body';
    // The image's detail: its output, where each name lies, and after them
    // (.extra) its pilots and pulse lengths, drawn once inspected.
    const extra = document.createElement('div');
    extra.className = 'extra';
    body.append(extra);
    holder.append(body);
    image.row = row;
    image.detail = detail;
  }

  function stateText(image) {
    if (image.state === 'reading') {
      const share = image.size > 0 ? Math.floor((100 * image.read) / image.size) : 0;
      return `reading ${share}%`;
    }
    if (image.state === 'failed') return `failed: ${image.error}`;
    if (image.state === 'cancelled') return image.view ? 'cancelled' : 'not read (cancelled)';
    if (image.state !== 'done') return image.state;
    if (!image.scannedAll && image.read < image.size) {
      return `stopped at the first name (${formatBytes(image.read)} read)`;
    }
    return ['done', rate(image.read, image.ms)].filter(Boolean).join(', ');
  }

  // Can the names kept for `image` be shown with -a as `all`? Only the first
  // name of a scan that stopped there is known; a scan that failed shows
  // what it found before, as the command line does.
  function shows(image, all) {
    return image.names !== null && (!all || image.complete || (image.scannedAll && image.error !== null));
  }

  // The image's row and detail for the options as they stand.
  function render(image) {
    const shown = options();
    image.view = shows(image, shown.all) ? renderer.render(image.names, shown) : null;
    const cells = image.row.cells;
    cells[1].textContent = formatBytes(image.size);
    cells[1].dataset.bytes = String(image.size);
    cells[2].textContent = image.view ? String(image.view.texts.length) : '';
    nameInto(cells[3], image.view && image.view.texts.length > 0 ? image.view.texts[0] : '');
    cells[4].textContent = stateText(image);
    image.row.dataset.state = image.state;
    const body = image.detail.querySelector('.detail-body');
    const extra = body.querySelector('.extra');
    [...body.children].forEach((child) => child !== extra && child.remove());
    if (image.error) {
      const error = document.createElement('p');
      error.className = 'error';
      error.textContent = `Could not read the image: ${image.error}.`;
      body.insertBefore(error, extra);
    }
    if (!image.view) return;
    const output = document.createElement('pre');
    output.className = 'output';
    output.dataset.image = image.path;
    output.textContent = image.view.output;
    output.tabIndex = 0;
    output.setAttribute('aria-label', `Output for ${image.path}`);
    body.insertBefore(output, extra);
    if (image.view.texts.length > 0) body.insertBefore(namesTable(image), extra);
  }

  function namesTable(image) {
    const table = document.createElement('table');
    table.className = 'names';
    const caption = document.createElement('caption');
    caption.textContent = 'Where each name lies';
    const columns = document.createElement('colgroup');
    for (const name of ['number', 'name', 'offset', 'type']) {
      const column = document.createElement('col');
      column.className = name;
      columns.append(column);
    }
    const head = table.createTHead().insertRow();
    for (const [text, className] of [['#', 'number'], ['name', ''], ['offset', 'number'],
      ['block type', 'number']]) {
      const th = document.createElement('th');
      th.textContent = text;
      if (className) th.className = className;
      head.append(th);
    }
    const body = table.createTBody();
    image.view.texts.forEach((text, i) => {
      const name = image.names[i];
      const row = body.insertRow();
      cell(row, 'number').textContent = String(name.number);
      nameInto(cell(row, 'name'), text);
      cell(row, 'number').textContent = String(name.offset);
      cell(row, 'number').textContent = String(name.blockType);
    });
    table.prepend(caption, columns);
    return table;
  }

  // The details' inspector: a worker of its own, made when a detail first
  // opens, which reads the image again as tapnames-inspect does (pilots of
  // 64 bytes or more) while the scan goes on in the other.
  const kMinPilot = 64;
  const kSvg = 'http://www.w3.org/2000/svg';
  let inspector = null;
  let inspections = 0;
  const inspecting = new Map();  // request number -> image

  function inspect(image) {
    if (image.inspection !== undefined) return;
    if (inspector === null) {
      inspector = new Worker(workerUrl);
      inspector.onmessage = (event) => inspected(event.data);
      moduleReady.then((module) => inspector.postMessage({type: 'module', module}));
    }
    image.inspection = null;
    inspections += 1;
    inspecting.set(inspections, image);
    const extra = image.detail.querySelector('.extra');
    const note = document.createElement('p');
    note.className = 'inspecting';
    note.textContent = 'Reading the pilots and pulse lengths…';
    extra.replaceChildren(note);
    inspector.postMessage({type: 'inspect', index: inspections, file: image.file, minPilot: kMinPilot});
  }

  function inspected(message) {
    if (message.type !== 'inspected') return;
    const image = inspecting.get(message.index);
    inspecting.delete(message.index);
    if (!image || !images.includes(image)) return;  // replaced since
    const extra = image.detail.querySelector('.extra');
    if (message.error) {
      image.inspection = undefined;  // opening again tries again
      const error = document.createElement('p');
      error.className = 'error';
      error.textContent = `Could not inspect the image: ${message.error}.`;
      extra.replaceChildren(error);
      return;
    }
    image.inspection = message.inspection;
    drawInspection(image);
  }

  function svgElement(name, attributes, text) {
    const element = document.createElementNS(kSvg, name);
    for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, String(value));
    if (text !== undefined) element.textContent = text;
    return element;
  }

  // What an event says, in words.
  function eventText(image, event) {
    const hex = (value) => `0x${value.toString(16).padStart(2, '0')}`;
    if (event.kind === 'name') {
      const text = renderer.render([{bytes: event.bytes, number: 1}], options()).texts[0];
      const header = [...event.header].map((byte) => byte.toString(16).padStart(2, '0')).join(' ');
      return `name "${text}" at ${event.offset}, block type ${event.blockType}, header ${header}`;
    }
    const where = event.position === 0 ? 'the pilot' : `header byte ${event.position}`;
    switch (event.reason) {
      case 'short-pilot': return `short pilot, ended by ${hex(event.got)}`;
      case 'sync': return `sync: header byte ${event.position} was ${hex(event.got)}, not ${hex(event.want)}`;
      case 'block-type': return `block type ${hex(event.got)}, neither 1 nor 2`;
      case 'out-of-range': return `out-of-range pulse ${event.got} in ${where}`;
      default: return `the image ended inside ${where}`;
    }
  }

  // The histogram: a bar per pulse length that occurs, the zero and one
  // ranges shaded and labelled, heights in proportion or on a log scale.
  function histogramSvg(counts, logScale) {
    const width = 640;
    const height = 150;
    const base = height - 18;
    const present = counts.map((count, value) => value).filter((value) => counts[value] > 0);
    const low = Math.min(19, ...present);
    const high = Math.max(47, ...present);
    const step = width / (high - low + 1);
    const largest = Math.max(1, ...counts);
    const scale = (count) => (logScale ? Math.log10(count + 1) / Math.log10(largest + 1) :
      count / largest) * (base - 14);
    const svg = svgElement('svg', {class: 'histogram', viewBox: `0 0 ${width} ${height}`,
      role: 'img', 'aria-label': `Pulse lengths${logScale ? ', log scale' : ''}`});
    for (const [first, last, label, kind] of [[19, 32, 'zeros 19–32', 'zero'], [33, 47, 'ones 33–47', 'one']]) {
      svg.append(svgElement('rect', {class: `range ${kind}`, x: (first - low) * step, y: 0,
        width: (last - first + 1) * step, height: base}));
      svg.append(svgElement('text', {class: 'range-label', x: (first - low) * step + 3, y: 11}, label));
    }
    for (const value of present) {
      const h = Math.max(1, scale(counts[value]));
      const bar = svgElement('rect', {class: 'bar', x: (value - low) * step + 0.5, y: base - h,
        width: Math.max(1, step - 1), height: h, 'data-value': value, 'data-count': counts[value]});
      bar.append(svgElement('title', {}, `length ${value}: ${counts[value]} pulses`));
      svg.append(bar);
    }
    svg.append(svgElement('line', {class: 'axis', x1: 0, y1: base, x2: width, y2: base}));
    for (const value of [low, 19, 33, 48, high].filter((v, i, all) => v <= high && all.indexOf(v) === i)) {
      svg.append(svgElement('text', {class: 'tick', x: (value - low) * step, y: height - 4}, String(value)));
    }
    return svg;
  }

  // The tape map: the image's length as a strip, a mark per name and near
  // miss at its offset (a near miss's at), each with its details on hover
  // and focus; clicking one selects its row of the table.
  function tapeMapSvg(image, table, said) {
    const {events, size} = image.inspection;
    const width = 640;
    const svg = svgElement('svg', {class: 'tape-map', viewBox: `0 0 ${width} 52`, role: 'group',
      'aria-label': `Tape map: ${size} bytes, ${plural(events.length, 'event')}`});
    svg.append(svgElement('rect', {class: 'strip', x: 0, y: 14, width, height: 12}));
    svg.append(svgElement('text', {class: 'tick', x: 0, y: 49}, '0'));
    svg.append(svgElement('text', {class: 'tick end', x: width, y: 49}, `${size} bytes`));
    events.forEach((event, i) => {
      const x = size > 0 ? (event.offset / size) * (width - 4) + 2 : 2;
      const mark = svgElement('rect', {class: `mark ${event.kind}`, x: x - 2, y: 4, width: 4,
        height: 32, tabindex: 0, 'data-offset': event.offset, 'data-kind': event.kind,
        'data-reason': event.reason, 'aria-label': eventText(image, event)});
      mark.append(svgElement('title', {}, `${event.offset}: ${eventText(image, event)}`));
      const show = () => { said.textContent = `${event.offset}: ${eventText(image, event)}`; };
      mark.addEventListener('mouseenter', show);
      mark.addEventListener('focus', show);
      const select = () => {
        for (const row of table.tBodies[0].rows) row.removeAttribute('aria-selected');
        const row = table.tBodies[0].rows[i];
        row.setAttribute('aria-selected', 'true');
        row.scrollIntoView({block: 'nearest'});
        show();
      };
      mark.addEventListener('click', select);
      mark.addEventListener('keydown', (key) => {
        if (key.key === 'Enter' || key.key === ' ') {
          key.preventDefault();
          select();
        }
      });
      svg.append(mark);
    });
    return svg;
  }

  function eventsTable(image) {
    const table = document.createElement('table');
    table.className = 'events';
    const caption = document.createElement('caption');
    caption.textContent = `Names and pilots of ${kMinPilot} bytes or more that came to nothing`;
    const head = table.createTHead().insertRow();
    for (const [text, className] of [['offset', 'number'], ['pilot start', 'number'],
      ['pilot bytes', 'number'], ['what', '']]) {
      const th = document.createElement('th');
      th.textContent = text;
      if (className) th.className = className;
      head.append(th);
    }
    const body = table.createTBody();
    for (const event of image.inspection.events) {
      const row = body.insertRow();
      row.dataset.offset = String(event.offset);
      row.dataset.kind = event.kind;
      cell(row, 'number').textContent = String(event.offset);
      cell(row, 'number').textContent = String(event.pilotStart);
      cell(row, 'number').textContent = String(event.pilotBytes);
      nameInto(cell(row, 'what'), eventText(image, event));
    }
    table.prepend(caption);
    return table;
  }

  function drawInspection(image) {
    const extra = image.detail.querySelector('.extra');
    const section = document.createElement('section');
    section.className = 'inspection';
    const heading = document.createElement('h3');
    heading.textContent = 'Pilots and pulse lengths';
    const {events, counts, dropped} = image.inspection;
    const misses = events.filter((event) => event.kind !== 'name').length;
    const told = document.createElement('p');
    told.textContent = `${plural(events.length - misses, 'name')}, ` +
      `${plural(misses, 'pilot')} of ${kMinPilot} bytes or more that came to nothing` +
      (dropped ? ` (${dropped} more not shown)` : '') + '.';
    const scale = document.createElement('label');
    const logScale = document.createElement('input');
    logScale.type = 'checkbox';
    logScale.className = 'log-scale';
    scale.append(logScale, ' log scale');
    let histogram = histogramSvg(counts, false);
    logScale.addEventListener('change', () => {
      const redrawn = histogramSvg(counts, logScale.checked);
      histogram.replaceWith(redrawn);
      histogram = redrawn;
    });
    const said = document.createElement('p');
    said.className = 'mark-said';
    said.setAttribute('aria-live', 'polite');
    const table = eventsTable(image);
    section.append(heading, told, scale, histogram, tapeMapSvg(image, table, said), said, table);
    extra.replaceChildren(section);
  }

  function renderAll() {
    images.forEach(render);
    applyFilter();
  }

  // Puts the rows in the order of the chosen column; paths break ties.
  const stateOrder = ['failed', 'cancelled', 'reading', 'waiting', 'done'];
  const sortKeys = {
    path: () => 0,
    size: (a, b) => a.size - b.size,
    names: (a, b) => (a.view ? a.view.texts.length : -1) - (b.view ? b.view.texts.length : -1),
    first: (a, b) => byteOrder(a.view?.texts[0] ?? '', b.view?.texts[0] ?? ''),
    state: (a, b) => stateOrder.indexOf(a.state) - stateOrder.indexOf(b.state),
  };
  function sortRows() {
    const compare = sortKeys[sortKey];
    const order = images.slice().sort((a, b) =>
      (sortDown ? -1 : 1) * (compare(a, b) || byteOrder(a.path, b.path)));
    $('image-rows').replaceChildren(...order.flatMap((image) => [image.row, image.detail]));
    for (const th of document.querySelectorAll('#images > thead th')) {
      const key = th.querySelector('button').dataset.sort;
      if (key === sortKey) th.setAttribute('aria-sort', sortDown ? 'descending' : 'ascending');
      else th.removeAttribute('aria-sort');
    }
  }

  // Hides the rows whose path and names lack the filter's text (any case):
  // those of `only` (an image just read), or all of them.
  function applyFilter(only) {
    const wanted = $('filter').value.toLowerCase();
    for (const image of only ? [only] : images) {
      const texts = [image.path, ...(image.view ? image.view.texts : [])];
      const match = wanted === '' || texts.some((text) => text.toLowerCase().includes(wanted));
      image.row.hidden = !match;
      image.detail.classList.toggle('filtered', !match);
    }
    const shown = images.reduce((count, image) => count + (image.row.hidden ? 0 : 1), 0);
    $('shown').textContent = wanted === '' ? plural(images.length, 'image') :
      `${shown} of ${plural(images.length, 'image')} shown`;
  }

  function receive(from, message) {
    if (from !== worker) return;  // a worker that was ended
    if (message.type === 'ready') {
      $('build').textContent = message.simd ? 'the WebAssembly module with SIMD' : 'the plain WebAssembly module';
      document.body.dataset.build = message.simd ? 'simd' : 'plain';
      return;
    }
    if (message.type === 'failed') {
      stopRun('failed', `This browser cannot run the page's WebAssembly: ${message.message}`);
      return;
    }
    if (message.run !== run) return;  // from a scan that was replaced
    if (message.type === 'progress') {
      const image = images[message.index];
      image.state = 'reading';
      image.read = message.read;
      image.row.cells[4].textContent = stateText(image);
      showProgress(image, message.read);
    } else if (message.type === 'image') {
      const image = images[message.index];
      Object.assign(image, {
        names: message.names, read: message.read, ms: message.ms, error: message.error,
        scannedAll: options().all, state: message.error ? 'failed' : 'done',
      });
      image.complete = message.error === null && (image.scannedAll || message.names.length === 0);
      document.body.dataset.reader = message.reader;  // how images are read, for the tests
      doneBytes += image.size;
      render(image);
      applyFilter(image);
      showProgress(null, 0);
    } else if (message.type === 'done') {
      finishRun('done', message.bytes);
    }
  }

  function summary(bytes) {
    const names = images.reduce((sum, image) => sum + (image.view ? image.view.texts.length : 0), 0);
    const failed = images.filter((image) => image.state === 'failed').length;
    const ms = performance.now() - runStarted;
    const parts = [plural(images.length, 'image'), plural(names, 'name')];
    if (runImages === 0) {
      parts.push('shown again from what was read');
    } else {
      parts.push(`${formatBytes(bytes)} read in ${(ms / 1000).toFixed(2)} s`);
      const speed = rate(bytes, ms);
      if (speed) parts.push(speed);
    }
    document.body.dataset.mbPerSecond = (bytes / 1e3 / Math.max(ms, 1)).toFixed(1);
    return parts.join(', ') + (failed ? `; ${failed} could not be read` : '');
  }

  // The end of a run: `state` done, cancelled or failed.
  function finishRun(state, bytes) {
    if (state === 'done') showSummary(summary(bytes));
    busy = false;
    $('progress-box').hidden = true;
    $('cancel').disabled = true;
    const any = images.some((image) => image.view && image.view.texts.length > 0);
    $('copy').disabled = !any;
    $('download').disabled = !any;
    if (sortKey !== 'path') sortRows();
    document.body.dataset.run = String(run);
    document.body.dataset.state = state;
  }

  // Ends the scan under way; what was read stays, the rest is marked.
  function stopRun(state, text) {
    if (busy) {
      worker.terminate();
      worker = newWorker();
    }
    for (const image of images) {
      if (image.state === 'reading' || image.state === 'waiting') {
        image.state = 'cancelled';
        render(image);
      }
    }
    applyFilter();
    showSummary(text);
    finishRun(state, 0);
  }

  function cancel() {
    if (!busy) return;
    const left = images.filter((image) => image.state === 'reading' || image.state === 'waiting');
    stopRun('cancelled', `Cancelled: ${runImages - left.length} of ` +
      `${plural(runImages, 'image')} read, ${left.length} not read.`);
  }

  // The TSV of tapnames-catalogue: one record per name shown, images by
  // path, names in tape order; every field escaped by the module, as the
  // catalogue escapes it (tab, newline, carriage return and backslash).
  function tsv() {
    const escape = (text) => renderer.tsvField(text);
    const lines = ['path\tnumber\toffset\tblock_type\tname'];
    for (const image of images) {
      if (!image.view) continue;
      image.view.texts.forEach((text, i) => {
        const name = image.names[i];
        lines.push([image.path, name.number, name.offset, name.blockType, text]
            .map(escape).join('\t'));
      });
    }
    return lines.join('\n') + '\n';
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

  let rowsMade = 0;
  // New images replace the ones shown or are added to them (the same path
  // replaced), as the choice on the page says.
  function choose(chosen) {
    const adding = $('mode-add').checked && images.length > 0;
    if (chosen.length === 0) {
      const what = 'No tape images there (only files ending in .tap are taken from a folder)';
      if (adding) {
        showSummary(`${what}; nothing was added.`);
        return;
      }
      if (busy) stopRun('cancelled', '');
      run += 1;
      images = [];
      $('image-rows').replaceChildren();
      $('results').hidden = true;
      finishRun('done', 0);
      showSummary(`${what}; the earlier results were cleared.`);
      return;
    }
    const fresh = chosen.map((image) => ({
      path: image.path, file: image.file, size: image.file.size, state: 'waiting', read: 0,
      names: null, complete: false, scannedAll: false, error: null, ms: 0, view: null,
    }));
    const paths = new Set(fresh.map((image) => image.path));
    const kept = adding ? images.filter((image) => !paths.has(image.path)) : [];
    if (busy) stopRun('cancelled', '');  // a new choice replaces the scan under way
    images = kept.concat(fresh).sort((a, b) => byteOrder(a.path, b.path));
    for (const image of fresh) makeRows(image, rowsMade++);
    $('results').hidden = false;
    document.body.dataset.chosen = 'yes';
    sortRows();
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
    const found = [];
    for (const {entry, file} of items) {
      if (entry && entry.isDirectory) {
        const inside = [];
        await walk(entry, inside);
        found.push(...inside.filter((image) => isTapeImage(image.path)));
      } else if (file) {
        found.push({file, path: file.name});
      }
    }
    choose(found);
  }

  $('files').addEventListener('change', (event) => {
    choose([...event.target.files].map((file) => ({file, path: file.name})));
  });
  $('folder').addEventListener('change', (event) => {
    choose([...event.target.files]
        .map((file) => ({file, path: file.webkitRelativePath || file.name}))
        .filter((image) => isTapeImage(image.path)));
  });
  $('opt-a').addEventListener('change', scan);
  $('opt-e').addEventListener('change', escapeChanged);
  $('cancel').addEventListener('click', cancel);
  $('copy').addEventListener('click', copy);
  $('download').addEventListener('click', download);
  $('filter').addEventListener('input', () => applyFilter());
  for (const button of document.querySelectorAll('#images > thead button')) {
    button.addEventListener('click', () => {
      sortDown = sortKey === button.dataset.sort ? !sortDown : false;
      sortKey = button.dataset.sort;
      sortRows();
    });
  }

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
