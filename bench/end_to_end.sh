#!/usr/bin/env bash
# End-to-end throughput: builds a synthetic image (256 MiB by default) and
# times `tapnames -a` against `cat IMAGE > /dev/null` in the same run, warm
# cache, best of several runs each. Also reports the peak resident memory.
#
#   bench/end_to_end.sh [BUILD_DIR] [MEBIBYTES] [RUNS]
#
# BUILD_DIR must be configured with -DTAPNAMES_BUILD_BENCH=ON (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
mebibytes=${2:-256}
runs=${3:-7}

cmake --build "$build" --target tapnames make_bench_tape >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
image=$work/bench.tap
"$build/bench/make_bench_tape" "$image" "$mebibytes"
bytes=$(stat -c %s "$image")
cat "$image" >/dev/null  # warm the page cache

best_ns() {  # the fastest of $runs runs of the command, in nanoseconds
  local best=0 start end elapsed
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    elapsed=$((end - start))
    if ((best == 0 || elapsed < best)); then best=$elapsed; fi
  done
  echo "$best"
}

cat_ns=$(best_ns cat "$image")
tool_ns=$(best_ns "$build/tapnames" -a "$image")
names=$("$build/tapnames" -a "$image" | grep -c '^FOUND' || true)
rss_kib=$(/usr/bin/time -f %M "$build/tapnames" -a "$image" 2>&1 >/dev/null | tail -n 1)

awk -v bytes="$bytes" -v cat_ns="$cat_ns" -v tool_ns="$tool_ns" -v names="$names" \
    -v rss="$rss_kib" -v runs="$runs" 'BEGIN {
  printf "image: %.0f MiB, %d names; best of %d runs, warm cache\n", bytes / 1048576, names, runs
  printf "cat > /dev/null : %8.1f MB/s\n", bytes / cat_ns * 1000
  printf "tapnames -a     : %8.1f MB/s (%.2f of cat)\n", bytes / tool_ns * 1000, cat_ns / tool_ns
  printf "peak RSS        : %d KiB\n", rss
}'
