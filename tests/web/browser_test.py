#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The web page in Debian's headless Chromium, offline, against the command-line tool.

  browser_test.py --page tapnames.html --cli tapnames --demo demo.tap [--tapes DIR]
                  [--large FILE] [--screenshot PNG] [--phone-screenshot PNG] [--quick]

Every image's [data-image] element must hold the tool's standard output. From file://, with
the SIMD and the plain module: the demo and DIR's tapes in all four option sets; files dropped;
options by keyboard; the folder DIR/folder; the TSV download; phone width. Over HTTP on
127.0.0.1: the demo, one request seen by the server, a fetch refused by the page's policy. A
large image: identity, MB/s, progress and the browser's peak memory. After each browser: no
request but the page's in the DevTools log, no resource timing entry, no console error.
--quick: the demo from file:// alone (the release zip's check).
"""

import argparse
import contextlib
import functools
import http.server
import json
import os
import pathlib
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


def check_tsv(driver, cli, images):
    """The TSV downloaded with -a -e is byte for byte what tapnames-catalogue -e writes for
    the same images, named as the page names them."""
    set_options(driver, ('-a', '-e'))
    driver.find_element(By.ID, 'download').click()
    target = driver.downloads / 'tapnames.tsv'
    WebDriverWait(driver, 30).until(lambda d: target.exists())
    time.sleep(0.2)
    catalogue = pathlib.Path(cli).with_name('tapnames-catalogue').resolve()
    with tempfile.TemporaryDirectory(prefix='tapnames-tsv-') as folder:
        for name, path in images.items():
            pathlib.Path(folder, name).symlink_to(pathlib.Path(path).resolve())
        expected = subprocess.run([str(catalogue), '-q', '-e', *images], cwd=folder, check=True,
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


def check_keyboard(driver):
    """Tab reaches the inputs in order; Space on an option toggles it and scans again."""
    driver.find_element(By.TAG_NAME, 'h1').click()  # Tab starts from there
    order = []
    for _ in range(4):
        ActionChains(driver).send_keys(Keys.TAB).perform()
        order.append(driver.switch_to.active_element.get_attribute('id'))
    check(order == ['files', 'folder', 'opt-a', 'opt-e'], f'tab order {order}')
    for _ in range(2):
        before = run_number(driver)
        ActionChains(driver).send_keys(Keys.SPACE).perform()
        wait_for_scan(driver, before)  # Space on -e toggled it: scanned again


def check_phone_width(driver):
    driver.set_window_size(390, 844)
    time.sleep(0.3)
    wide = js(driver, 'document.documentElement.scrollWidth - document.documentElement.clientWidth')
    check(wide <= 0, f'at phone width the page scrolls sideways by {wide} px')
    driver.set_window_size(1100, 1000)


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
            if build == 'plain' or args.quick:
                continue
            check_drop(driver, args.cli, images)
            check_keyboard(driver)
            check_tsv(driver, args.cli, images)
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
    wait_for_scan(driver, choose(driver, 'files', [args.demo]))
    driver.set_window_size(1000, 1040)
    js(driver, 'window.scrollTo(0, 0)')
    time.sleep(0.3)
    driver.save_screenshot(args.screenshot)
    if args.phone_screenshot:  # the results at phone width, to look at
        driver.set_window_size(390, 844)
        js(driver, 'document.getElementById("summary").scrollIntoView()')
        time.sleep(0.3)
        driver.save_screenshot(args.phone_screenshot)


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
                started, shown = time.monotonic(), set()
                before = choose(driver, 'files', [args.large])
                while run_number(driver) <= before or js(
                        driver, 'document.body.dataset.state !== "done"'):
                    shown.add(js(driver, 'document.getElementById("progress").value'))
                    time.sleep(0.05)
                seconds = time.monotonic() - started
            wait_for_scan(driver, before)
            check_identity(driver, args.cli, {name: args.large}, ('-a',), f'large {build}')
            check(seconds < 2 or any(0 < value < 1 for value in shown), 'no progress shown')
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
    for name in ('tapes', 'large', 'screenshot', 'phone-screenshot'):
        parser.add_argument('--' + name)
    parser.add_argument('--quick', action='store_true')
    args = parser.parse_args()
    started = time.monotonic()
    scan_from_files(args)
    if not args.quick:
        scan_over_http(args)
    if args.large:
        scan_large(args)
    print(f'browser_test: {checks} checks passed in {time.monotonic() - started:.1f} s')


if __name__ == '__main__':
    main()
