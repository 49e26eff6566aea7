#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Decoder throughput in G pulses/s: the per-pulse loop, the bulk path and the
# scan core (with each classifier the CPU has: bulk/0 and scan/0 portable, /1
# SSE2, /2 AVX2, /3 AVX-512BW) on the same synthetic tape, repeated, with the
# range over repetitions.
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
    2>/dev/null | awk -F, '
  /^"(per_pulse|bulk\/[0-9]|scan\/[0-9])",/ {
    gsub(/"/, "", $1); rate = $7 / 1e9; n[$1]++; sum[$1] += rate
    if (!($1 in low) || rate < low[$1]) low[$1] = rate
    if (rate > high[$1]) high[$1] = rate
  }
  END {
    for (name in n) printf "  %-9s %5.2f G pulses/s mean  (range %5.2f-%5.2f, %d runs)\n", name,
                           sum[name] / n[name], low[name], high[name], n[name]
  }' | sort
