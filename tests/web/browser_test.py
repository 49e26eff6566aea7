#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The web page in Debian's headless Chromium, offline, against the command-line tool.

  browser_test.py --page tapnames.html --cli tapnames --demo demo.tap [--catalogue PROGRAM]
                  [--inspect PROGRAM] [--tapes DIR] [--many DIR] [--large FILE] [--huge FILE]
                  [--screenshot PNG] [--phone-screenshot PNG] [--quick]

Every image's [data-image] element must hold the tool's standard output. From file://, with
the SIMD and the plain module: the demo and DIR's tapes in all four option sets, the output
without -a rendered again from what -a read and -e changing only the rendering; files dropped;
options and rows by keyboard; the folder DIR/folder; the TSV download; phone width (no
sideways scrolling, the table on the first screen, code names whole); sorting by a column;
the filter; images added to those shown; each image's detail opened, its tape map's marks
with the offsets and kinds of tapnames-inspect's JSON Lines and its histogram's bars with their
counts, a click on a mark selecting its row; a file changed after it was chosen, failing in words
without "network"; contrast of every text in both themes; a folder without tapes clearing the
results. The collection --many: all of it from one folder, then 20 scans of 40 of its images,
each completing. A --huge image cancelled while it is read. Over HTTP on 127.0.0.1: the demo,
one request seen by the server, a fetch refused by the page's policy. A large image: identity,
MB/s, progress and the browser's peak memory. After each browser: no request but the page's in
the DevTools log, no resource timing entry, no console error.
--quick: the demo from file:// alone (the release zip's check).
"""

import argparse
import contextlib
import functools
import http.server
import json
import os
import pathlib
import re
import subprocess
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

OPTION_SETS = [(), ('-a',), ('-a', '-e'), ('-e',)]  # each one click from the last
FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--no-first-run',
         '--disable-dev-shm-usage', '--window-size=1100,1000']
checks = 0


def check(condition, message):
    global checks
    if not condition:
        raise AssertionError(message)
    checks += 1


@contextlib.contextmanager
def browser():
    with tempfile.TemporaryDirectory(prefix='tapnames-chromium-') as profile:
        options = Options()
        options.binary_location = '/usr/bin/chromium'
        for flag in FLAGS + [f'--user-data-dir={profile}']:
            options.add_argument(flag)
        options.set_capability('goog:loggingPrefs', {'performance': 'ALL', 'browser': 'ALL'})
        driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
        driver.pages, driver.downloads = set(), pathlib.Path(profile, 'downloads')
        try:
            driver.execute_cdp_cmd('Browser.setDownloadBehavior',
                                   {'behavior': 'allow', 'downloadPath': str(driver.downloads)})
            yield driver
            check_no_requests(driver)
        finally:
            driver.quit()


def check_no_requests(driver):
    urls = set()
    for entry in driver.get_log('performance'):
        message = json.loads(entry['message'])['message']
        # The browser's own start page (chrome://newtab) loads its parts first: not ours.
        if (message['method'] == 'Network.requestWillBeSent'
                and not message['params'].get('documentURL', '').startswith('chrome')):
            urls.add(message['params']['request']['url'].split('#')[0])
    check(urls & driver.pages, 'the DevTools log saw the page')
    strays = [url for url in urls - driver.pages if not url.startswith(('blob:', 'data:'))]
    check(not strays, f'requests beyond the page: {strays}')
    errors = [entry['message'] for entry in driver.get_log('browser') if entry['level'] == 'SEVERE']
    check(not errors, f'console errors: {errors}')


def js(driver, script, *args):
    return driver.execute_script('return ' + script, *args)


def open_page(driver, url):
    driver.pages.add(url.split('#')[0])
    driver.get(url)
    WebDriverWait(driver, 30).until(lambda d: js(d, 'document.body.dataset.build'))
    check(js(driver, 'performance.getEntriesByType("resource").length') == 0, 'resources fetched')


def run_number(driver):
    return int(js(driver, 'document.body.dataset.run || "0"'))


def wait_for_scan(driver, before, timeout=120):
    WebDriverWait(driver, timeout, poll_frequency=0.05).until(lambda d: js(
        d, f'document.body.dataset.state === "done" && document.body.dataset.run > {before}'))
    violations = js(driver, 'document.body.dataset.violations')
    check(violations is None, f'Content-Security-Policy violations: {violations}')


@functools.lru_cache(maxsize=None)
def tool_output(cli, args, path):
    return subprocess.run([cli, *args, path], check=True, stdout=subprocess.PIPE).stdout.decode(
        'latin-1')


def choose(driver, input_id, paths):
    before = run_number(driver)
    element = driver.find_element(By.ID, input_id)
    js(driver, 'arguments[0].value = ""', element)  # else chromedriver adds to the files
    element.send_keys('\n'.join(str(pathlib.Path(p).resolve()) for p in paths))
    return before


def set_options(driver, args):
    """Clicks the checkboxes that differ from `args`; each click scans the images again."""
    for option in ('-a', '-e'):
        box = driver.find_element(By.ID, 'opt' + option)
        if box.is_selected() != (option in args):
            before = run_number(driver)
            box.click()
            if js(driver, 'document.querySelector("[data-image]") !== null'):
                wait_for_scan(driver, before)


def check_identity(driver, cli, images, args, what):
    """images: {data-image name: path of the image}."""
    shown = dict(js(driver, '[...document.querySelectorAll("[data-image]")]'
                            '.map((e) => [e.getAttribute("data-image"), e.textContent])'))
    check(sorted(shown) == sorted(images), f'{what}: images shown {sorted(shown)}')
    for name, path in images.items():
        check(shown[name] == tool_output(cli, args, str(path)),
              f'{what}: {name} with {" ".join(args)} differs from the tool')


def check_tsv(driver, cli, catalogue, images):
    """The TSV downloaded with -a -e is byte for byte what tapnames-catalogue -e writes for
    the same images, named as the page names them."""
    set_options(driver, ('-a', '-e'))
    driver.find_element(By.ID, 'download').click()
    target = driver.downloads / 'tapnames.tsv'
    WebDriverWait(driver, 30).until(lambda d: target.exists())
    time.sleep(0.2)
    with tempfile.TemporaryDirectory(prefix='tapnames-tsv-') as folder:
        for name, path in images.items():
            pathlib.Path(folder, name).symlink_to(pathlib.Path(path).resolve())
        expected = subprocess.run([str(pathlib.Path(catalogue).resolve()), '-q', '-e', *images], cwd=folder, check=True,
                                  capture_output=True).stdout
    check(target.read_bytes() == expected, 'TSV as tapnames-catalogue -e writes it')


def check_drop(driver, cli, images):
    """The images dragged from outside and dropped on the page are scanned. (A folder
    dropped this way cannot be walked: its entries do not open in a drag made by DevTools.)"""
    before = run_number(driver)
    data = {'items': [], 'dragOperationsMask': 1,
            'files': [str(pathlib.Path(p).resolve()) for p in images.values()]}
    for kind in ('dragEnter', 'dragOver', 'drop'):
        driver.execute_cdp_cmd('Input.dispatchDragEvent',
                               {'type': kind, 'x': 300, 'y': 300, 'data': data})
    wait_for_scan(driver, before)
    check_identity(driver, cli, images, ('-e',), 'dropped files')


def check_inspection(driver, inspect, images):
    """Each image's detail, opened, draws svg.histogram and svg.tape-map: the marks carry the
    offsets (a near miss's at) and kinds of tapnames-inspect --format jsonl, in tape order, the
    bars the counts of its histogram; clicking a mark selects its row of the events."""
    for name, path in images.items():
        lines = subprocess.run([inspect, '--format', 'jsonl', str(path)], check=True,
                               stdout=subprocess.PIPE).stdout.decode().splitlines()
        objects = [json.loads(line) for line in lines]
        expected = [[str(o['offset'] if o['kind'] == 'name' else o['at']), o['kind']]
                    for o in objects if o['kind'] in ('name', 'near-miss')]
        counts = next(o['counts'] for o in objects if o['kind'] == 'histogram')
        row = f'document.querySelector(`tr[data-image-row="${{CSS.escape({json.dumps(name)})}}"]`)'
        detail = f'{row}.nextElementSibling'
        if js(driver, f'{detail}.hidden'):
            js(driver, f'{row}.querySelector("button.open").click()')
        WebDriverWait(driver, 30).until(lambda d: js(d, f'{detail}.querySelector("svg.tape-map") !== null'))
        marks = js(driver, f'[...{detail}.querySelectorAll("svg.tape-map .mark")]'
                           '.map((m) => [m.dataset.offset, m.dataset.kind])')
        check(marks == expected, f'{name}: marks {marks}, tapnames-inspect {expected}')
        bars = dict(js(driver, f'[...{detail}.querySelectorAll("svg.histogram .bar")]'
                               '.map((b) => [b.dataset.value, Number(b.dataset.count)])'))
        check(bars == {str(v): c for v, c in enumerate(counts) if c}, f'{name}: histogram bars')
        if marks:
            js(driver, f'{detail}.querySelector("svg.tape-map .mark:last-of-type")'
                       '.dispatchEvent(new MouseEvent("click", {bubbles: true}))')
            selected = js(driver, f'[...{detail}.querySelectorAll("table.events tbody tr")]'
                                  '.map((r) => r.getAttribute("aria-selected"))')
            check(selected == [None] * (len(marks) - 1) + ['true'], f'{name}: selected {selected}')
        js(driver, f'{row}.querySelector("button.open").click()')  # closed again


def check_keyboard(driver):
    """Tab reaches the inputs in order; Space on -e toggles it and shows the names again
    without reading; Enter on a row's button opens and closes its detail, on a column's
    heading sorts by it."""
    driver.find_element(By.TAG_NAME, 'h1').click()  # Tab starts from there
    order = []
    for _ in range(4):
        ActionChains(driver).send_keys(Keys.TAB).perform()
        order.append(driver.switch_to.active_element.get_attribute('id'))
    check(order == ['files', 'folder', 'opt-a', 'opt-e'], f'tab order {order}')
    for _ in range(2):
        before = run_number(driver)
        ActionChains(driver).send_keys(Keys.SPACE).perform()
        wait_for_scan(driver, before)  # Space on -e toggled it: shown again
        check('shown again from what was read' in summary(driver), f'-e read: {summary(driver)}')
    first = 'document.querySelector("tr[data-image-row]")'
    js(driver, f'{first}.querySelector("button").focus()')
    for expanded in ('true', 'false'):
        ActionChains(driver).send_keys(Keys.ENTER).perform()
        check(js(driver, f'{first}.querySelector("button").getAttribute("aria-expanded")') ==
              expanded and js(driver, f'{first}.nextElementSibling.hidden') == (expanded == 'false'),
              f'Enter on a row: not {expanded}')
    js(driver, 'document.querySelector("#images thead button[data-sort=names]").focus()')
    ActionChains(driver).send_keys(Keys.ENTER).perform()
    check(js(driver, 'document.querySelector("th[aria-sort]").textContent') == 'Names',
          'Enter on a heading did not sort by it')
    js(driver, 'document.querySelector("#images thead button[data-sort=path]").click()')


def summary(driver):
    return js(driver, 'document.getElementById("summary").textContent')


def rows(driver, shown_only=False):
    return js(driver, '[...document.querySelectorAll("tr[data-image-row]")]'
                      f'.filter((r) => !{str(shown_only).lower()} || !r.hidden)'
                      '.map((r) => r.dataset.imageRow)')


def names_in(output):
    """The names between the quotes of the tool's result lines."""
    return [line[line.index('"') + 1:-1] for line in output.split('\n')[1:-1]]


def check_sort(driver, images):
    """A click on Size sorts the rows by size, a second the other way; Image by path."""
    sizes = {name: os.path.getsize(path) for name, path in images.items()}
    by_size = sorted(sizes, key=lambda name: (sizes[name], name.encode()))
    for expected in (by_size, by_size[::-1]):
        driver.find_element(By.CSS_SELECTOR, '#images thead button[data-sort="size"]').click()
        check(rows(driver) == expected, f'sorted by size: {rows(driver)}')
    driver.find_element(By.CSS_SELECTOR, '#images thead button[data-sort="path"]').click()
    check(rows(driver) == sorted(images, key=str.encode), f'sorted by path: {rows(driver)}')


def check_filter(driver, cli, images, args):
    """#filter shows the rows whose path or names (as shown) hold its text, in any case."""
    box = driver.find_element(By.ID, 'filter')
    for text in ('LaSt OnE', 'AT_', '{rEd}', 'no such name', ''):
        box.send_keys(Keys.CONTROL, 'a')
        box.send_keys(Keys.BACKSPACE)
        box.send_keys(text)
        expected = [name for name, path in images.items()
                    if any(text.lower() in shown.lower()
                           for shown in [name, *names_in(tool_output(cli, args, str(path)))])]
        check(sorted(rows(driver, True)) == sorted(expected), f'filter {text!r}: {rows(driver, True)}')
        open_hidden = js(driver, '[...document.querySelectorAll("tr.detail")]'
                                 '.filter((r) => r.checkVisibility()'
                                 ' && r.previousElementSibling.hidden).length')
        check(open_hidden == 0, f'filter {text!r}: a hidden row\'s detail shows')


def check_added(driver, cli, images, extra):
    """With "add to them", the images chosen join those shown."""
    driver.find_element(By.ID, 'mode-add').click()
    wait_for_scan(driver, choose(driver, 'files', [extra]))
    driver.find_element(By.ID, 'mode-replace').click()
    check_identity(driver, cli, {**images, extra.name: extra}, ('-a', '-e'), 'added')


def check_changed_file(driver, cli, demo):
    """An image changed on disk after it was chosen fails when it is read again, in words
    that say so (a browser calls it a network error); its row says so. Its detail is left
    open for the contrast check."""
    with tempfile.TemporaryDirectory(prefix='tapnames-changed-') as folder:
        target = pathlib.Path(folder, 'changed.tap')
        target.write_bytes(pathlib.Path(demo).read_bytes())
        set_options(driver, ())
        wait_for_scan(driver, choose(driver, 'files', [target]))
        with target.open('ab') as image:
            image.write(pathlib.Path(demo).read_bytes())
        set_options(driver, ('-a',))  # the first name is not all: read again
    row = 'document.querySelector("tr[data-image-row]")'
    state = js(driver, f'{row}.cells[4].textContent')
    check(js(driver, f'{row}.dataset.state') == 'failed' and 'could not be read' in state
          and 'network' not in state.lower(), f'changed file: {state}')
    check('1 could not be read' in summary(driver), f'changed file: {summary(driver)}')
    js(driver, f'{row}.querySelector("button").click()')


CONTRAST = r"""
const channel = (v) => (v /= 255) <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4;
const parse = (c) => c.match(/[\d.]+/g).map(Number);
const luminance = ([r, g, b]) => 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b);
const background = (e) => {
  for (; e; e = e.parentElement) {
    const c = parse(getComputedStyle(e).backgroundColor);
    if (c.length < 4 || c[3] > 0) return c;
  }
  return [255, 255, 255];
};
const low = [];
let seen = 0;
for (const e of document.querySelectorAll('body *')) {
  if (e.disabled || !e.checkVisibility()) continue;
  if (![...e.childNodes].some((n) => n.nodeType === 3 && n.textContent.trim())) continue;
  seen += 1;
  const [a, b] = [luminance(parse(getComputedStyle(e).color)), luminance(background(e))];
  const ratio = (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
  if (ratio < 4.5) low.push(`${e.tagName}.${e.className} "${e.textContent.slice(0, 20)}" ${ratio.toFixed(2)}`);
}
return [seen, low];"""


def check_contrast(driver):
    """Every text shown, an error among them, stands out from its background by 4.5:1 at
    least, in the light and the dark theme."""
    for theme in ('light', 'dark'):
        driver.execute_cdp_cmd('Emulation.setEmulatedMedia',
                               {'features': [{'name': 'prefers-color-scheme', 'value': theme}]})
        seen, low = driver.execute_script(CONTRAST)
        check(seen > 20 and not low, f'{theme} theme, contrast under 4.5:1: {low}')
    driver.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': []})


def check_empty_folder(driver):
    """A folder without tapes clears the rows and outputs shown, and says so."""
    with tempfile.TemporaryDirectory(prefix='tapnames-empty-') as folder:
        pathlib.Path(folder, 'notes.txt').write_text('not a tape\n')
        wait_for_scan(driver, choose(driver, 'folder', [folder]))
    left = js(driver, 'document.querySelectorAll("[data-image-row], [data-image]").length')
    check(left == 0 and 'cleared' in summary(driver), f'{left} left after a folder without tapes')
    check(js(driver, 'document.getElementById("download").disabled'), 'TSV of nothing offered')


def check_many(driver, cli, many):
    """A whole collection from one folder, then 20 scans of 40 of its images: each
    completes (a worker that ran out of buffers stopped for good after some dozens)."""
    set_options(driver, ('-a', '-e'))
    folder = pathlib.Path(many).resolve()
    found = {f'{folder.name}/{p.name}': p for p in sorted(folder.glob('*.tap'))}
    started = time.monotonic()
    wait_for_scan(driver, choose(driver, 'folder', [folder]), timeout=300)
    seconds = time.monotonic() - started
    check_identity(driver, cli, found, ('-a', '-e'), 'collection')
    print(f'{len(found)} images from a folder: {seconds:.1f} s', flush=True)
    some = {p.name: p for p in list(found.values())[:40]}
    started = time.monotonic()
    for scan in range(20):
        wait_for_scan(driver, choose(driver, 'files', some.values()), timeout=60)
        check_identity(driver, cli, some, ('-a', '-e'), f'scan {scan + 1} of {len(some)} images')
    print(f'20 scans of {len(some)} images: {time.monotonic() - started:.1f} s', flush=True)


def viewport(driver, width, height):
    """The page seen as in a window of exactly width by height, a phone's under 500 wide."""
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
        'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': width < 500})


def check_phone_width(driver):
    """At 390 px: no sideways scrolling, the table's first rows on the first screen, and no
    code name such as {REVERSE ON} broken over two lines (every row open)."""
    viewport(driver, 390, 844)
    js(driver, 'window.scrollTo(0, 0)')
    time.sleep(0.3)
    wide = js(driver, 'document.documentElement.scrollWidth - document.documentElement.clientWidth')
    check(wide <= 0, f'at phone width the page scrolls sideways by {wide} px')
    bottom = js(driver, 'document.querySelector("tr[data-image-row]:nth-of-type(3)")'
                        '.getBoundingClientRect().bottom - innerHeight')
    check(bottom < 0, f'at phone width the second row is {bottom} px below the screen')
    js(driver, 'document.querySelectorAll("button.open").forEach((b) => b.click())')
    codes, broken = js(driver, '((c) => [c.length, c.filter((e) => e.getClientRects().length > 1)'
                               '.map((e) => e.textContent)])'
                               '([...document.querySelectorAll("#images .code")])')
    check(codes > 0 and not broken, f'at phone width, {codes} code names, broken: {broken}')
    js(driver, 'document.querySelectorAll("button.open").forEach((b) => b.click())')
    driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})


def check_policy_holds(driver):
    """A request the page tried would be refused: a fetch of its own address."""
    check(not driver.get_log('browser'), 'console messages before the probe')
    outcome = driver.execute_async_script(
        'fetch(location.href).then(() => arguments[0]("loaded"), () => arguments[0]("refused"))')
    check(outcome == 'refused' and js(driver, 'document.body.dataset.violations') == '1',
          f'a fetch was {outcome}')
    logged = driver.get_log('browser')  # the refusal, not an error of the page
    check(all('Content Security Policy' in e['message'] for e in logged), f'console: {logged}')


class Memory:
    """The peak of the summed resident set size of every process under chromedriver."""

    def __init__(self, root_pid):
        self.root, self.peak, self.stop = root_pid, 0, threading.Event()
        self.thread = threading.Thread(target=self.sample, daemon=True)

    def total(self):
        children = {}
        for stat in pathlib.Path('/proc').glob('[0-9]*/stat'):
            with contextlib.suppress(OSError):
                parent = int(stat.read_text().rsplit(')', 1)[1].split()[1])
                children.setdefault(parent, []).append(stat.parent)
        total, todo = 0, list(children.get(self.root, []))
        while todo:
            process = todo.pop()
            todo.extend(children.get(int(process.name), []))
            # Resident set from the counters: walking the mappings (smaps) would stall a
            # renderer that reserves gigabytes of address space for WebAssembly.
            with contextlib.suppress(OSError):
                for line in (process / 'status').read_text().splitlines():
                    if line.startswith('VmRSS:'):
                        total += int(line.split()[1]) * 1024
        return total

    def sample(self):
        while not self.stop.is_set():
            self.peak = max(self.peak, self.total())
            time.sleep(0.1)

    def __enter__(self):
        self.base = self.total()
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join()


def page_url(args, build, flags=''):
    return pathlib.Path(args.page).resolve().as_uri() + ('#plain' if build == 'plain' else '#') + flags


def scan_from_files(args):
    demo = {pathlib.Path(args.demo).name: args.demo}
    tapes = pathlib.Path(args.tapes) if args.tapes and not args.quick else None
    images = dict(demo)
    if tapes:
        images.update({p.name: p for p in sorted(tapes.glob('*.tap'))})
    for build in ('simd', 'plain'):
        with browser() as driver:
            open_page(driver, page_url(args, build))
            check(js(driver, 'document.body.dataset.build') == build, f'{build} module chosen')
            before = choose(driver, 'files', images.values())
            wait_for_scan(driver, before)
            for options in OPTION_SETS if not args.quick else [()]:
                set_options(driver, options)
                check_identity(driver, args.cli, images, options, f'{build} file://')
                # After -a, ticking -e or leaving -a reads nothing again.
                check(options[-1:] != ('-e',) or 'shown again' in summary(driver),
                      f'{options} read again: {summary(driver)}')
            if build == 'plain' or args.quick:
                continue
            check_drop(driver, args.cli, images)
            check_keyboard(driver)
            check_tsv(driver, args.cli, args.catalogue, images)
            check_phone_width(driver)
            check_sort(driver, images)
            check_filter(driver, args.cli, images, ('-a', '-e'))
            if args.inspect:
                check_inspection(driver, args.inspect, images)
            if tapes:
                check_added(driver, args.cli, images, tapes / 'folder' / 'one.tap')
                folder = (tapes / 'folder').resolve()
                before = choose(driver, 'folder', [folder])
                wait_for_scan(driver, before)
                found = {str(p.relative_to(folder.parent)): p for p in folder.rglob('*')
                         if p.suffix.lower() == '.tap'}
                check_identity(driver, args.cli, found, ('-a', '-e'), 'folder')
            check_changed_file(driver, args.cli, args.demo)
            check_contrast(driver)
            check_empty_folder(driver)
            if args.many:
                check_many(driver, args.cli, args.many)
            if args.screenshot:
                screenshot(driver, args, images)


def screenshot(driver, args, images):
    """The page after the images with -a and -e, the last row open: at 1280 by 800 and, if
    asked, at 390 by 844 (a phone), each from the top; then, beside the first,
    web-page-inspect.png: that row's pilots and pulse lengths."""
    set_options(driver, ('-a', '-e'))
    wait_for_scan(driver, choose(driver, 'files', images.values()))
    js(driver, '[...document.querySelectorAll("button.open")].pop().click()')
    for path, width, height in ((args.screenshot, 1280, 800), (args.phone_screenshot, 390, 844)):
        if path:
            viewport(driver, width, height)
            js(driver, 'window.scrollTo(0, 0)')
            time.sleep(0.3)
            driver.save_screenshot(path)
    if args.screenshot:
        # The last image's pilots and pulse lengths, a mark of its tape map clicked.
        viewport(driver, 1280, 800)
        detail = 'document.querySelector("section.inspection")'
        WebDriverWait(driver, 30).until(lambda d: js(d, f'{detail} !== null'))
        js(driver, f'{detail}.querySelector(".mark").dispatchEvent(new MouseEvent("click"))')
        js(driver, f'{detail}.scrollIntoView()')
        time.sleep(0.3)
        driver.save_screenshot(str(pathlib.Path(args.screenshot).with_name('web-page-inspect.png')))
    driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})


def scan_huge(args):
    """A scan of the huge image with -a, cancelled while it is read: stopped within a second,
    said so, and the page scans again after it."""
    with browser() as driver:
        open_page(driver, page_url(args, 'simd'))
        set_options(driver, ('-a',))
        before = choose(driver, 'files', [args.huge])
        WebDriverWait(driver, 30, poll_frequency=0.02).until(lambda d: js(
            d, 'document.getElementById("progress").value > 0'))
        started = time.monotonic()
        driver.find_element(By.ID, 'cancel').click()
        WebDriverWait(driver, 10, poll_frequency=0.01).until(
            lambda d: js(d, 'document.body.dataset.state') == 'cancelled')
        seconds = time.monotonic() - started
        print(f'cancel of a {os.path.getsize(args.huge) / 2**30:.0f} GiB scan: {seconds:.3f} s',
              flush=True)
        check(seconds < 1, f'cancelled in {seconds:.2f} s')
        time.sleep(0.5)  # nothing more arrives from the scan that was stopped
        row = 'document.querySelector("tr[data-image-row]")'
        check(js(driver, f'{row}.cells[4].textContent') == 'not read (cancelled)'
              and js(driver, 'document.body.dataset.state') == 'cancelled'
              and run_number(driver) > before and summary(driver).startswith('Cancelled'),
              f'after cancel: {summary(driver)}')
        set_options(driver, ())  # reading stops at the first name, and the row says so
        wait_for_scan(driver, choose(driver, 'files', [args.huge]))
        state = js(driver, f'{row}.cells[4].textContent')
        check(state.startswith('stopped at the first name (') and 'GB' not in state,
              f'first name of the huge image: {state}')
        check_identity(driver, args.cli, {pathlib.Path(args.huge).name: args.huge}, (),
                       'after a cancel')
        # Ticking -a reads it again, whole: cancelled, its first name is not shown as all.
        driver.find_element(By.ID, 'opt-a').click()
        WebDriverWait(driver, 30, poll_frequency=0.02).until(lambda d: js(
            d, 'document.getElementById("progress").value > 0'))
        driver.find_element(By.ID, 'cancel').click()
        check(js(driver, f'{row}.cells[4].textContent') == 'not read (cancelled)'
              and js(driver, 'document.querySelector("[data-image]")') is None,
              'a first name shown as if it were every name')


def scan_over_http(args):
    page = pathlib.Path(args.page).resolve()
    requests = []

    class Handler(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *_):
            requests.append(self.path)

    server = http.server.ThreadingHTTPServer(
        ('127.0.0.1', 0), functools.partial(Handler, directory=str(page.parent)))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        with browser() as driver:
            open_page(driver, f'http://127.0.0.1:{server.server_port}/{page.name}')
            set_options(driver, ('-a',))
            wait_for_scan(driver, choose(driver, 'files', [args.demo]))
            check_identity(driver, args.cli, {pathlib.Path(args.demo).name: args.demo}, ('-a',),
                           'http')
            state = js(driver, 'document.querySelector("tr[data-image-row]").cells[4].textContent')
            check('MB/s' not in summary(driver) + state, f'a speed of under 1 MB: {state}')
            check_policy_holds(driver)
    finally:
        server.shutdown()
        server.server_close()
    check(requests == [f'/{page.name}'], f'the server saw {requests}')


def scan_large(args):
    """The large image, streamed, with -a: identity, speed, progress and peak memory; read
    into one buffer (SIMD) and as the stream's chunks come (plain)."""
    name, size = pathlib.Path(args.large).name, os.path.getsize(args.large)
    for build in ('simd', 'plain'):
        with browser() as driver:
            open_page(driver, page_url(args, build, ',chunks' if build == 'plain' else ''))
            set_options(driver, ('-a',))
            time.sleep(0.5)
            with Memory(driver.service.process.pid) as memory:
                started, shown, states = time.monotonic(), set(), set()
                before = choose(driver, 'files', [args.large])
                while run_number(driver) <= before or js(
                        driver, 'document.body.dataset.state !== "done"'):
                    shown.add(js(driver, 'document.getElementById("progress").value'))
                    states.add(js(driver, 'document.querySelector("tr[data-image-row]")'
                                          '?.cells[4].textContent'))
                    time.sleep(0.05)
                seconds = time.monotonic() - started
            wait_for_scan(driver, before)
            check_identity(driver, args.cli, {name: args.large}, ('-a',), f'large {build}')
            check(seconds < 2 or any(0 < value < 1 for value in shown), 'no progress shown')
            check(seconds < 2 or any(re.fullmatch(r'reading [1-9]\d?%', str(text)) for text in states),
                  f'no share read shown in the row: {states}')
            state = js(driver, 'document.querySelector("tr[data-image-row]").cells[4].textContent')
            check(seconds < 1 or re.fullmatch(r'done, \d+ MB/s', state), f'the row says {state}')
            growth, reader = memory.peak - memory.base, js(driver, 'document.body.dataset.reader')
            print(f'large image {size / 2**20:.0f} MiB, {build}, {reader} reader: '
                  f'{js(driver, "document.body.dataset.mbPerSecond")} MB/s; browser memory '
                  f'{memory.base / 2**20:.0f} MiB before, peak {memory.peak / 2**20:.0f} MiB '
                  f'(+{growth / 2**20:.0f} MiB)', flush=True)
            # Chunks as they come are new buffers each, freed when the collector decides.
            check(reader == 'chunks' or growth < 256 * 2**20, 'memory grew by 256 MiB or more')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    for name in ('page', 'cli', 'demo'):
        parser.add_argument('--' + name, required=True)
    for name in ('catalogue', 'inspect', 'tapes', 'many', 'large', 'huge', 'screenshot', 'phone-screenshot'):
        parser.add_argument('--' + name)
    parser.add_argument('--quick', action='store_true')
    args = parser.parse_args()
    started = time.monotonic()
    scan_from_files(args)
    if not args.quick:
        scan_over_http(args)
    if args.huge:
        scan_huge(args)
    if args.large:
        scan_large(args)
    print(f'browser_test: {checks} checks passed in {time.monotonic() - started:.1f} s')


if __name__ == '__main__':
    main()
