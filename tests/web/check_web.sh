#!/bin/sh
# SPDX-License-Identifier: MIT
# The web page's tests, run from the top of the tree after both builds:
#   tests/web/check_web.sh NATIVE_BUILD WEB_BUILD [LARGE_MIB [SCREENSHOT]]
# NATIVE_BUILD holds tapnames and tests/make_web_tapes; WEB_BUILD the wasm
# build (tapnames.html, the zip, web/*.wasm). The large image is LARGE_MIB
# MiB (256 by default); SCREENSHOT, if given, is where the page's picture goes.
set -eu
native=$1
web=$2
large_mib=${3:-256}
screenshot=${4:-}
for tool in node /usr/bin/python3 /usr/bin/chromium /usr/bin/chromedriver unzip; do
  command -v "$tool" >/dev/null || { echo "check_web.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$native/tests/make_web_tapes" "$work/tapes"
"$native/tests/make_web_tapes" --large "$work/large.tap" "$large_mib"

zip=$(echo "$web"/tapnames-*-web.zip)
release=$(basename "$zip" .zip)
ls -l "$web/web/tapnames-simd.wasm" "$web/web/tapnames-plain.wasm" "$web/tapnames.html" "$zip"
node tests/web/node_test.js "$web/web" "$native/tapnames" examples/demo.tap "$work"/tapes/*.tap \
  "$work/large.tap"
/usr/bin/python3 tests/web/browser_test.py --page "$web/tapnames.html" --cli "$native/tapnames" \
  --demo examples/demo.tap --tapes "$work/tapes" --large "$work/large.tap" \
  ${screenshot:+--screenshot "$screenshot"}

# The release zip: one folder with the page, the README and the licence; the
# page unpacked from it scans the demo.
unzip -q "$zip" -d "$work/zip"
(cd "$work/zip" && find . -type f | sort) > "$work/zip.list"
printf "./$release/%s\n" LICENSE.txt README.txt tapnames.html | diff - "$work/zip.list"
/usr/bin/python3 tests/web/browser_test.py --quick --page "$work/zip/$release/tapnames.html" \
  --cli "$native/tapnames" --demo examples/demo.tap
echo "check_web.sh: all passed"
