#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# End-to-end throughput: builds a synthetic image (256 MiB by default) and
# times `tapnames -a` against `cat IMAGE > /dev/null` in the same session, warm
# cache, with the range over runs, and the user time per run; and, when it is
# built, `tapnames-inspect --format jsonl` against `tapnames -a`. Also reports
# the peak resident memory of each. Given OTHER_TAPNAMES (another build's binary, such as
# one of an earlier commit), times it in the same session too.
#
#   bench/end_to_end.sh [BUILD_DIR] [MEBIBYTES] [RUNS] [OTHER_TAPNAMES]
#
# BUILD_DIR must be configured with -DTAPNAMES_BUILD_BENCH=ON (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
mebibytes=${2:-256}
runs=${3:-20}
other=${4:-}
for tool in hyperfine awk /usr/bin/time; do
  command -v "$tool" >/dev/null || {
    echo "end_to_end.sh needs $tool (apt-get install ${tool##*/})" >&2
    exit 2
  }
done

cmake --build "$build" --target tapnames make_bench_tape >/dev/null
tool=$build/tapnames
inspector=$build/tapnames-inspect
cmake --build "$build" --target tapnames-inspect >/dev/null 2>&1 || inspector=
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
image=$work/bench.tap
"$build/bench/make_bench_tape" "$image" "$mebibytes"
bytes=$(stat -c %s "$image")
names=$("$tool" -a "$image" | grep -c '^FOUND' || true)
rss_kib=$(/usr/bin/time -f %M "$tool" -a "$image" 2>&1 >/dev/null | tail -n 1)
inspect_rss_kib=0
[[ -z $inspector ]] ||
  inspect_rss_kib=$(/usr/bin/time -f %M "$inspector" --format jsonl "$image" 2>&1 >/dev/null | tail -n 1)

# hyperfine sends the commands' output to /dev/null.
commands=(-n cat "cat $image" -n tapnames "$tool -a $image")
[[ -z $other ]] || commands+=(-n other "$other -a $image")
[[ -z $inspector ]] || commands+=(-n inspect "$inspector --format jsonl $image")
hyperfine -N --style none --warmup 3 --runs "$runs" --export-csv "$work/times.csv" \
  "${commands[@]}" >/dev/null 2>&1
echo "image: $((bytes >> 20)) MiB, $names names; $runs runs each, warm cache"
awk -F, -v bytes="$bytes" -v rss="$rss_kib" -v inspect_rss="$inspect_rss_kib" 'NR > 1 {
  printf "  %-9s %6.0f MB/s mean  (range %6.0f-%6.0f MB/s), user %5.1f ms a run\n", $1,
         bytes / $2 / 1e6, bytes / $8 / 1e6, bytes / $7 / 1e6, $5 * 1e3
  mean[$1] = $2; fastest[$1] = $7; slowest[$1] = $8; user[$1] = $5
} END {
  if ("other" in mean)
    printf "  other/tapnames: %.2f of the time, %.2f of the user time\n",
           mean["other"] / mean["tapnames"], user["other"] / user["tapnames"]
  printf "  tapnames: %.2f of cat'"'"'s throughput (mean; %.2f-%.2f comparing like runs)\n",
         mean["cat"] / mean["tapnames"], slowest["cat"] / slowest["tapnames"],
         fastest["cat"] / fastest["tapnames"]
  if ("inspect" in mean)
    printf "  inspect/tapnames: %.2f of the time (%.2f-%.2f comparing like runs); peak RSS %d KiB\n",
           mean["inspect"] / mean["tapnames"], fastest["inspect"] / fastest["tapnames"],
           slowest["inspect"] / slowest["tapnames"], inspect_rss
  printf "  peak RSS: %d KiB\n", rss
}' "$work/times.csv"
