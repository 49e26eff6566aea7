#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Decoder throughput in G pulses/s: the per-pulse loop, the bulk path and the
# scan core (with each classifier the CPU has, named: bulk/portable,
# scan/avx2...) on the same synthetic tape, repeated, with the range over
# repetitions. The classifiers the CPU lacks are named as skipped.
#
#   bench/decoder.sh [BUILD_DIR] [REPETITIONS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
repetitions=${2:-10}
[[ -x $build/bench/decoder_bench ]] || {
  echo "decoder.sh: configure $build with -DTAPNAMES_BUILD_BENCH=ON (needs libbenchmark-dev)" >&2
  exit 2
}
cmake --build "$build" --target decoder_bench >/dev/null
"$build/bench/decoder_bench" --benchmark_repetitions="$repetitions" --benchmark_format=csv \
    2> >(grep skipped >&2) | awk -F, '
  /^"(per_pulse|bulk\/[a-z0-9-]+|scan\/[a-z0-9-]+)",/ {
    gsub(/"/, "", $1); rate = $7 / 1e9; n[$1]++; sum[$1] += rate
    if (!($1 in low) || rate < low[$1]) low[$1] = rate
    if (rate > high[$1]) high[$1] = rate
  }
  END {
    for (name in n) printf "  %-18s %5.2f G pulses/s mean  (range %5.2f-%5.2f, %d runs)\n", name,
                           sum[name] / n[name], low[name], high[name], n[name]
  }' | sort
