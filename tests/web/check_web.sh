#!/bin/sh
# SPDX-License-Identifier: MIT
# The web page's tests, run from the top of the tree after both builds:
#   tests/web/check_web.sh NATIVE_BUILD WEB_BUILD [LARGE_MIB [SCREENSHOTS]]
# NATIVE_BUILD holds tapnames, tapnames-catalogue, tapnames-inspect and make_web_tapes; WEB_BUILD
# the wasm build (tapnames.html, the zip, the modules). The large image is
# LARGE_MIB MiB (256 by default). The page's pictures after six images,
# web-page.png (1280 by 800) and web-page-phone.png (390 by 844), go to the
# folder SCREENSHOTS (WEB_BUILD by default); doc/ holds copies of them.
set -eu
native=$1
web=$2
large_mib=${3:-256}
screenshots=${4:-$web}
for tool in node /usr/bin/python3 /usr/bin/chromium /usr/bin/chromedriver unzip; do
  command -v "$tool" >/dev/null || { echo "check_web.sh: $tool is missing" >&2; exit 1; }
done
cli=$native/tapnames
modules=$web/web
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$native/tests/make_web_tapes" "$work/tapes"
"$native/tests/make_web_tapes" --many "$work/collection" 500
"$native/tests/make_web_tapes" --large "$work/large.tap" "$large_mib"
"$native/tests/make_web_tapes" --large "$work/huge.tap" 1024

zip=$(echo "$web"/tapnames-*-web.zip)
release=$(basename "$zip" .zip)
ls -l "$modules/tapnames-simd.wasm" "$modules/tapnames-plain.wasm" "$web/tapnames.html" "$zip"

# The sizes the READMEs give must be the build's: the line below, in both.
kb() { awk -v bytes="$(wc -c < "$1")" 'BEGIN { printf "%.1f", bytes / 1000 }'; }
sizes="the page $(kb "$web/tapnames.html") kB, the modules $(kb "$modules/tapnames-simd.wasm") kB \
(SIMD) and $(kb "$modules/tapnames-plain.wasm") kB (plain), the release zip $(kb "$zip") kB"
for readme in README.md src/web/README.md; do
  tr '\n' ' ' < "$readme" | tr -s ' ' | grep -qF "$sizes" || {
    echo "check_web.sh: $readme does not give the built sizes: $sizes" >&2
    exit 1
  }
done

node tests/web/node_test.js "$modules" "$cli" examples/demo.tap "$work"/tapes/*.tap \
  "$work/large.tap"
/usr/bin/python3 tests/web/browser_test.py --page "$web/tapnames.html" --cli "$cli" \
  --catalogue "$native/tapnames-catalogue" \
  --inspect "$native/tapnames-inspect" --demo examples/demo.tap \
  --tapes "$work/tapes" --many "$work/collection" --large "$work/large.tap" \
  --huge "$work/huge.tap" --screenshot "$screenshots/web-page.png" \
  --phone-screenshot "$screenshots/web-page-phone.png"

# The release zip: one folder with the page, the README and the licence; the
# page unpacked from it scans the demo.
unzip -q "$zip" -d "$work/zip"
(cd "$work/zip" && find . -type f | sort) > "$work/zip.list"
printf "./$release/%s\n" LICENSE.txt README.txt tapnames.html | diff - "$work/zip.list"
/usr/bin/python3 tests/web/browser_test.py --quick --page "$work/zip/$release/tapnames.html" \
  --cli "$cli" --demo examples/demo.tap
echo "check_web.sh: all passed"
