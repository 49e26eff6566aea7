#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# tapnames-catalogue on a generated collection (bench/make_collection.cpp:
# 2,000 images by default, about 1.3 GB, nested folders with odd names, a
# tenth gzipped, some in .zip archives, a few broken), warm cache:
#   - plain images against `find ... -exec cat {} + >/dev/null` over the same files;
#   - gzipped images against `gzip -dc` of them to /dev/null;
#   - zipped images against `unzip -p` of the archives to /dev/null;
#   - the whole collection with one job and with the default (one per CPU):
#     wall time, user+system time (above the wall time when both cores work)
#     and peak resident memory.
# Prints the mean and the range over the runs, and each ratio from like runs.
#
#   bench/catalogue.sh [BUILD_DIR] [RUNS] [IMAGES]
#
# BUILD_DIR must be configured with -DTAPNAMES_BUILD_BENCH=ON (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
runs=${2:-10}
images=${3:-2000}
for tool in hyperfine awk /usr/bin/time gzip unzip; do
  command -v "$tool" >/dev/null || {
    echo "catalogue.sh needs $tool (apt-get install ${tool##*/})" >&2
    exit 2
  }
done

cmake --build "$build" --target tapnames-catalogue make_collection >/dev/null
catalogue=$(realpath "$build/src/catalogue/tapnames-catalogue")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
coll=$work/collection
echo "collection: $("$build/bench/make_collection" "$coll" "$images")"

# Pairs of commands over the same files, each preceded by the same find; the
# damaged files are left out, as gzip and unzip stop at them.
compare() {  # label, find pattern, reference name, reference command
  local label=$1 pattern=$2 name=$3 reference=$4
  hyperfine --style none --warmup 2 --runs "$runs" -i --export-csv "$work/$label.csv" \
    -n "$name" "find '$coll' -type f -iname '$pattern' ! -path '*/Damaged/*' $reference >/dev/null" \
    -n catalogue "find '$coll' -type f -iname '$pattern' ! -path '*/Damaged/*' -print0 | '$catalogue' -q -0 --files-from - >/dev/null" \
    >/dev/null 2>&1
  awk -F, -v label="$label" -v name="$name" 'NR > 1 { mean[$1] = $2; low[$1] = $7; high[$1] = $8 }
    END {
      printf "  %-6s %-9s %6.3f s (%.3f-%.3f)   catalogue %6.3f s (%.3f-%.3f)   ratio %.2f (%.2f-%.2f)\n",
             label, name, mean[name], low[name], high[name], mean["catalogue"], low["catalogue"],
             high["catalogue"], mean["catalogue"] / mean[name], low["catalogue"] / low[name],
             high["catalogue"] / high[name]
    }' "$work/$label.csv"
}

echo "$runs runs each, warm cache; mean (fastest-slowest):"
compare plain '*.tap' cat '-exec cat {} +'
compare gzip '*.tap.gz' 'gzip -dc' '-exec gzip -dc {} +'
compare zip '*.zip' 'unzip -p' '-exec unzip -qp {} \;'

for jobs in 1 default; do
  option=()
  [[ $jobs == default ]] || option=(-j "$jobs")
  for ((run = 0; run < runs; ++run)); do
    /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$catalogue" "${option[@]}" -q "$coll" \
      >/dev/null 2>&1 || true
    tail -n 1 "$work/time"  # after "Command exited with non-zero status 1"
  done | awk -v jobs="$jobs" '{
      wall[NR] = $1; cpu[NR] = $2 + $3; rss = rss > $4 ? rss : $4
      sum += $1; cpusum += $2 + $3
      if (NR == 1 || $1 < low) low = $1
      if ($1 > high) high = $1
      busy = ($2 + $3) / $1; if (NR == 1 || busy < blow) blow = busy; if (busy > bhigh) bhigh = busy
    } END {
      printf "  whole collection, -j %-7s wall %.3f s (%.3f-%.3f), user+sys %.3f s: %.2f cores busy (%.2f-%.2f), peak RSS %.1f MiB\n",
             jobs, sum / NR, low, high, cpusum / NR, cpusum / sum, blow, bhigh, rss / 1024
    }'
done
"$catalogue" -q "$coll" >"$work/catalogue.tsv" 2>/dev/null || true
echo "  records: $(($(wc -l <"$work/catalogue.tsv") - 1))"
