#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The web page in Debian's headless Chromium, offline, against the command-line tool.

  browser_test.py --page tapnames.html --cli build/tapnames --demo examples/demo.tap \
      [--tapes DIR] [--large FILE] [--screenshot PNG] [--quick]

Checks, each image's element [data-image] against the tool's standard output:
- from file://: the demo and the tapes of DIR (make_web_tapes) in all four option sets, with
  the SIMD module and with the plain one ('#plain'); the options changed by keyboard; the
  folder DIR/folder chosen whole; the TSV download; no horizontal scrolling at phone width;
- over a local HTTP server on 127.0.0.1: the demo, and that the server saw one request;
- a large image (--large), streamed: identity, MB/s and the browser's peak memory;
- every request the browser made (DevTools log and the page's resource timing): none but the
  page itself, and no Content-Security-Policy violation or console error.
--quick scans the demo from file:// only (the release zip's check).
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
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

OPTION_SETS = [(), ('-a',), ('-a', '-e'), ('-e',)]  # each one click away from the last
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
        try:
            driver.downloads = os.path.join(profile, 'downloads')
            driver.execute_cdp_cmd('Browser.setDownloadBehavior',
                                   {'behavior': 'allow', 'downloadPath': driver.downloads})
            yield driver
            check_no_requests(driver)
        finally:
            driver.quit()


def check_no_requests(driver):
    """Nothing but the page itself was requested, and nothing was refused or failed."""
    urls = set()
    for entry in driver.get_log('performance'):
        message = json.loads(entry['message'])['message']
        # The browser's own start page (chrome://newtab) loads its parts first: not ours.
        if (message['method'] == 'Network.requestWillBeSent'
                and not message['params'].get('documentURL', '').startswith('chrome')):
            urls.add(message['params']['request']['url'])
    pages = {url.split('#')[0] for url in driver.pages}
    strays = [url for url in urls if url.split('#')[0] not in pages
              and not url.startswith(('blob:', 'data:'))]
    check(not strays, f'requests beyond the page: {strays}')
    check(any(url.split('#')[0] in pages for url in urls), 'the DevTools log saw the page')
    errors = [entry['message'] for entry in driver.get_log('browser')
              if entry['level'] == 'SEVERE']
    check(not errors, f'console errors: {errors}')


def open_page(driver, url):
    driver.pages = getattr(driver, 'pages', []) + [url]
    driver.get(url)
    WebDriverWait(driver, 30).until(lambda d: d.execute_script(
        'return document.body.dataset.build !== undefined'))
    check(driver.execute_script('return performance.getEntriesByType("resource").length') == 0,
          'the page fetched resources')


def run_number(driver):
    return int(driver.execute_script('return document.body.dataset.run || "0"'))


def wait_for_scan(driver, before, timeout=120):
    WebDriverWait(driver, timeout, poll_frequency=0.05).until(lambda d: d.execute_script(
        'return document.body.dataset.state === "done" && Number(document.body.dataset.run) > '
        + str(before)))
    violations = driver.execute_script('return document.body.dataset.violations || "0"')
    check(violations == '0', f'Content-Security-Policy violations: {violations}')


def outputs(driver):
    return dict(driver.execute_script(
        'return [...document.querySelectorAll("[data-image]")]'
        '.map((e) => [e.getAttribute("data-image"), e.textContent])'))


@functools.lru_cache(maxsize=None)
def tool_output(cli, args, path):
    return subprocess.run([cli, *args, path], check=True, stdout=subprocess.PIPE).stdout.decode(
        'latin-1')


def choose(driver, input_id, paths):
    before = run_number(driver)
    element = driver.find_element(By.ID, input_id)
    driver.execute_script('arguments[0].value = ""', element)  # else chromedriver adds to it
    element.send_keys('\n'.join(str(p) for p in paths))
    return before


def set_options(driver, args):
    """Clicks the checkboxes that differ from `args`; each click rescans the selection."""
    for option, box in (('-a', 'opt-a'), ('-e', 'opt-e')):
        element = driver.find_element(By.ID, box)
        if element.is_selected() != (option in args):
            before = run_number(driver)
            element.click()
            if driver.execute_script('return document.querySelector("[data-image]") !== null'):
                wait_for_scan(driver, before)


def check_identity(driver, cli, images, args, what):
    """images: {data-image name: path of the file}."""
    shown = outputs(driver)
    check(sorted(shown) == sorted(images), f'{what}: images shown {sorted(shown)}')
    for name, path in images.items():
        check(shown[name] == tool_output(cli, args, str(path)),
              f'{what}: {name} with {" ".join(args)} differs from the tool')


def byte_at(image, at):
    value = 0
    for pulse in image[at:at + 8]:
        value = (value << 1) | (33 <= pulse <= 47)
    return value


def check_tsv(driver, cli, images, what):
    """The downloaded TSV: the tool's -a -e names, in path order, at offsets that hold a
    header (sync byte 9 there, the block type 72 pulses on)."""
    set_options(driver, ('-a', '-e'))
    driver.find_element(By.ID, 'download').click()
    target = pathlib.Path(driver.downloads) / 'tapnames.tsv'
    WebDriverWait(driver, 30).until(lambda d: target.exists())
    time.sleep(0.2)
    lines = target.read_bytes().decode('utf-8').split('\n')
    target.unlink()
    check(lines[0] == 'path\tnumber\toffset\tblock_type\tname' and lines[-1] == '',
          f'{what}: TSV header and last line end')
    records = [line.split('\t') for line in lines[1:-1]]
    expected = []
    for name in sorted(images, key=lambda n: n.encode()):
        output = tool_output(cli, ('-a', '-e'), str(images[name]))
        for line in output.split('\n')[1:-1]:
            number, text = line[len('FOUND ('):].split('): "', 1)
            escaped = text[:-1].replace('\\', '\\\\')
            expected.append([name, str(int(number)), escaped])
    check([[r[0], r[1], r[4]] for r in records] == expected, f'{what}: TSV names')
    for path, _, offset, block_type, _ in records:
        image = pathlib.Path(images[path]).read_bytes()
        at = int(offset)
        check(byte_at(image, at) == 9 and byte_at(image, at + 72) == int(block_type),
              f'{what}: {path} has no header of type {block_type} at {offset}')


def check_drop(driver, cli, images):
    """Files dropped on the page (here the chosen ones, in a script-made drop) are scanned."""
    before = run_number(driver)
    driver.execute_script(
        'const transfer = new DataTransfer();'
        'for (const file of document.getElementById("files").files) transfer.items.add(file);'
        'document.body.dispatchEvent(new DragEvent("drop", {dataTransfer: transfer, '
        'bubbles: true, cancelable: true}));')
    wait_for_scan(driver, before)
    check_identity(driver, cli, images, ('-e',), 'dropped files')


def check_keyboard(driver):
    """Tab reaches the inputs in order; Space on a focused option rescans."""
    driver.find_element(By.TAG_NAME, 'h1').click()  # Tab starts from there
    order = []
    for _ in range(8):
        ActionChains(driver).send_keys(Keys.TAB).perform()
        order.append(driver.switch_to.active_element.get_attribute('id'))
    check(order[:4] == ['files', 'folder', 'opt-a', 'opt-e'], f'tab order {order}')
    before = run_number(driver)
    checked = driver.find_element(By.ID, 'opt-e').is_selected()
    while driver.switch_to.active_element.get_attribute('id') != 'opt-e':
        ActionChains(driver).key_down(Keys.SHIFT).send_keys(Keys.TAB).key_up(Keys.SHIFT).perform()
    ActionChains(driver).send_keys(Keys.SPACE).perform()
    wait_for_scan(driver, before)
    check(driver.find_element(By.ID, 'opt-e').is_selected() != checked, 'Space toggles -e')
    ActionChains(driver).send_keys(Keys.SPACE).perform()
    wait_for_scan(driver, before + 1)


def check_phone_width(driver):
    driver.set_window_size(390, 844)
    time.sleep(0.3)
    wide = driver.execute_script(
        'return document.documentElement.scrollWidth - document.documentElement.clientWidth')
    check(wide <= 0, f'at phone width the page scrolls sideways by {wide} px')
    driver.set_window_size(1100, 1000)


class Memory:
    """Samples the proportional set size of every process under chromedriver."""

    def __init__(self, root_pid):
        self.root = root_pid
        self.peak = 0
        self.kinds = {}  # the largest of each kind of process (browser, renderer...)
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.sample, daemon=True)

    def descendants(self):
        children = {}
        for entry in os.listdir('/proc'):
            if entry.isdigit():
                try:
                    stat = pathlib.Path(f'/proc/{entry}/stat').read_text()
                except OSError:
                    continue
                parent = int(stat.rsplit(')', 1)[1].split()[1])
                children.setdefault(parent, []).append(int(entry))
        found, todo = [], list(children.get(self.root, []))
        while todo:
            pid = todo.pop()
            found.append(pid)
            todo.extend(children.get(pid, []))
        return found

    def total(self):
        total = 0
        for pid in self.descendants():
            try:
                # Processes forked by the zygote rewrite their command line as one string.
                found = re.search(rb'--type=([a-z-]+)',
                                  pathlib.Path(f'/proc/{pid}/cmdline').read_bytes())
                kind = found.group(1).decode() if found else 'browser'
                for line in pathlib.Path(f'/proc/{pid}/smaps_rollup').read_text().splitlines():
                    if line.startswith('Pss:'):
                        pss = int(line.split()[1]) * 1024
                        total += pss
                        self.kinds[kind] = max(self.kinds.get(kind, 0), pss)
            except OSError:
                pass
        return total

    def sample(self):
        while not self.stop.is_set():
            self.peak = max(self.peak, self.total())
            time.sleep(0.05)

    def by_kind(self):
        return ', '.join(f'{kind} {size / 2**20:.0f}' for kind, size in sorted(self.kinds.items()))

    def __enter__(self):
        self.base = self.total()
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join()


def file_url(path):
    return pathlib.Path(path).resolve().as_uri()


def scan_from_files(args, tapes):
    """file://: identity in both builds, keyboard, folder, TSV, phone width, screenshot."""
    images = {pathlib.Path(args.demo).name: args.demo}
    if tapes:
        images.update({p.name: p for p in sorted(tapes.glob('*.tap'))})
    for build in ('simd', 'plain'):
        with browser() as driver:
            open_page(driver, file_url(args.page) + ('#plain' if build == 'plain' else ''))
            check(driver.execute_script('return document.body.dataset.build') == build,
                  f'the {build} module was chosen')
            if args.quick:
                before = choose(driver, 'files', [pathlib.Path(args.demo).resolve()])
                wait_for_scan(driver, before)
                demo = pathlib.Path(args.demo).name
                check_identity(driver, args.cli, {demo: args.demo}, (), 'zip')
                continue
            before = choose(driver, 'files', [pathlib.Path(p).resolve() for p in images.values()])
            wait_for_scan(driver, before)
            for options in OPTION_SETS:
                set_options(driver, options)
                check_identity(driver, args.cli, images, options, f'{build} file://')
            if build == 'plain':
                continue
            check_drop(driver, args.cli, images)
            check_keyboard(driver)
            check_tsv(driver, args.cli, images, 'TSV')
            check_phone_width(driver)
            if tapes:
                folder = (tapes / 'folder').resolve()
                before = choose(driver, 'folder', [folder])
                wait_for_scan(driver, before)
                found = {str(p.relative_to(folder.parent)): p for p in folder.rglob('*')
                         if p.suffix.lower() == '.tap'}
                check_identity(driver, args.cli, found, ('-a', '-e'), 'folder')
            if args.screenshot:
                screenshot(driver, args)


def screenshot(driver, args):
    set_options(driver, ('-a', '-e'))
    before = choose(driver, 'files', [pathlib.Path(args.demo).resolve()])
    wait_for_scan(driver, before)
    driver.set_window_size(1000, 1040)
    driver.execute_script('window.scrollTo(0, 0)')
    time.sleep(0.3)
    driver.save_screenshot(args.screenshot)
    if args.phone_screenshot:  # the results at phone width, to look at
        driver.set_window_size(390, 844)
        driver.execute_script('document.getElementById("summary").scrollIntoView()')
        time.sleep(0.3)
        driver.save_screenshot(args.phone_screenshot)
    driver.set_window_size(1100, 1000)


def check_policy_holds(driver):
    """A request the page tried would be refused: fetch of the page's own address."""
    check(not driver.get_log('browser'), 'console messages before the probe')
    outcome = driver.execute_async_script(
        'const done = arguments[0];'
        'fetch(location.href).then(() => done("loaded"), () => done("refused"))')
    check(outcome == 'refused', f'a fetch was {outcome}')
    check(driver.execute_script('return document.body.dataset.violations') == '1',
          'the refusal was reported')
    logged = driver.get_log('browser')  # the refusal, which is not an error of the page
    check(all('Content Security Policy' in entry['message'] for entry in logged),
          f'console after the probe: {logged}')


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    requests = []

    def log_message(self, *args):
        QuietHandler.requests.append(self.path)


def scan_over_http(args):
    page = pathlib.Path(args.page).resolve()
    handler = functools.partial(QuietHandler, directory=str(page.parent))
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        with browser() as driver:
            open_page(driver, f'http://127.0.0.1:{server.server_port}/{page.name}')
            set_options(driver, ('-a',))
            before = choose(driver, 'files', [pathlib.Path(args.demo).resolve()])
            wait_for_scan(driver, before)
            check_identity(driver, args.cli, {pathlib.Path(args.demo).name: args.demo},
                           ('-a',), 'http')
            check_policy_holds(driver)
    finally:
        server.shutdown()
        server.server_close()
    check(QuietHandler.requests == [f'/{page.name}'],
          f'the server saw {QuietHandler.requests}')


def scan_large(args):
    """The large image, streamed: identity, speed and peak memory, SIMD then plain."""
    size = os.path.getsize(args.large)
    name = pathlib.Path(args.large).name
    for build in ('simd', 'plain'):
        with browser() as driver:
            open_page(driver, file_url(args.page) + ('#plain' if build == 'plain' else ''))
            set_options(driver, ('-a',))
            time.sleep(0.5)
            with Memory(driver.service.process.pid) as memory:
                started = time.monotonic()
                before = choose(driver, 'files', [pathlib.Path(args.large).resolve()])
                shown = set()
                while run_number(driver) <= before or driver.execute_script(
                        'return document.body.dataset.state !== "done"'):
                    shown.add(driver.execute_script(
                        'return document.getElementById("progress-box").hidden ? -1 : '
                        'document.getElementById("progress").value'))
                    time.sleep(0.05)
                wait_for_scan(driver, before)
                seconds = time.monotonic() - started
            if seconds > 2:
                check(any(0 < value < 1 for value in shown), f'no progress shown in {seconds} s')
            check_identity(driver, args.cli, {name: args.large}, ('-a',), f'large {build}')
            rate = driver.execute_script('return document.body.dataset.mbPerSecond')
            reader = driver.execute_script('return document.body.dataset.reader')
            print(f'large image {size / 2**20:.0f} MiB, {build}, {reader} reader: {rate} MB/s; '
                  f'browser memory '
                  f'{memory.base / 2**20:.0f} MiB before, peak {memory.peak / 2**20:.0f} MiB '
                  f'(+{(memory.peak - memory.base) / 2**20:.0f} MiB; largest process of each '
                  f'kind, MiB: {memory.by_kind()})', flush=True)
            check(memory.peak - memory.base < 256 * 2**20, 'memory grew by 256 MiB or more')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--page', required=True)
    parser.add_argument('--cli', required=True)
    parser.add_argument('--demo', required=True)
    parser.add_argument('--tapes')
    parser.add_argument('--large')
    parser.add_argument('--screenshot')
    parser.add_argument('--phone-screenshot')
    parser.add_argument('--quick', action='store_true')
    args = parser.parse_args()
    started = time.monotonic()
    scan_from_files(args, pathlib.Path(args.tapes) if args.tapes else None)
    if not args.quick:
        scan_over_http(args)
    if args.large:
        scan_large(args)
    print(f'browser_test: {checks} checks passed in {time.monotonic() - started:.1f} s')


if __name__ == '__main__':
    sys.exit(main())
