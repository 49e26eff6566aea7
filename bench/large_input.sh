#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Large input: streams a multi-GB sparse file and a multi-GB generated pipe
# through tapnames and shows that peak memory stays flat. Not a CI test.
#
#   bench/large_input.sh [BUILD_DIR] [GIBIBYTES]
#
# BUILD_DIR must be configured with -DTAPNAMES_BUILD_BENCH=ON (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
gibibytes=${2:-4}

[[ -x /usr/bin/time ]] || { echo "large_input.sh needs /usr/bin/time (apt-get install time)" >&2; exit 2; }
command -v truncate >/dev/null || { echo "large_input.sh needs truncate (coreutils)" >&2; exit 2; }
cmake --build "$build" --target tapnames make_bench_tape >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() {  # label, then the command; prints elapsed time, peak RSS and names
  local label=$1
  shift
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >"$work/out"
  read -r seconds rss <"$work/time"
  printf '%-34s %7.2f s  %6d KiB peak  %6d names\n' "$label" "$seconds" "$rss" \
    "$(grep -c '^FOUND' "$work/out" || true)"
}

truncate -s "${gibibytes}G" "$work/sparse.tap"
# The first read of a new sparse file is spent in the kernel filling its page
# cache with zeros; time the tool on the second.
cat "$work/sparse.tap" >/dev/null
measure "sparse file, ${gibibytes} GiB" "$build/src/cli/tapnames" -a "$work/sparse.tap"
rm "$work/sparse.tap"

"$build/bench/make_bench_tape" "$work/part.tap" 64
generate() {  # the 64 MiB image repeated to the size asked for, into a pipe
  for ((i = 0; i < gibibytes * 16; ++i)); do cat "$work/part.tap"; done
}
export -f generate
export work gibibytes
measure "generated pipe, ${gibibytes} GiB" bash -c "generate | '$build/src/cli/tapnames' -a /dev/stdin"
measure "one 64 MiB image, for comparison" "$build/src/cli/tapnames" -a "$work/part.tap"
