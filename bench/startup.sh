#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Per-run cost on a small image, what a collection of thousands of files
# feels: tapnames -a on examples/demo.tap against cat of the same file and
# /bin/true, each run many times in the same session, with the range; given
# OTHER_TAPNAMES (another build's binary), that too.
#
#   bench/startup.sh [BUILD_DIR] [RUNS] [OTHER_TAPNAMES]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
runs=${2:-1000}
other=${3:-}
for tool in hyperfine awk; do
  command -v "$tool" >/dev/null || { echo "startup.sh needs $tool (apt-get install $tool)" >&2; exit 2; }
done
[[ -x $build/src/cli/tapnames ]] || { echo "startup.sh: build $build first (see README, Performance)" >&2; exit 2; }

csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
commands=(-n true /bin/true -n cat "cat examples/demo.tap"
          -n tapnames "$build/src/cli/tapnames -a examples/demo.tap")
[[ -z $other ]] || commands+=(-n other "$other -a examples/demo.tap")
hyperfine -N --style none --warmup 100 --runs "$runs" --export-csv "$csv" "${commands[@]}" \
  >/dev/null 2>&1
echo "per run on examples/demo.tap ($(stat -c %s examples/demo.tap) bytes), $runs runs each:"
awk -F, 'NR > 1 {
  printf "  %-9s mean %5.0f us  median %5.0f us  range %5.0f-%5.0f us\n", $1, $2 * 1e6, $4 * 1e6,
         $7 * 1e6, $8 * 1e6
  mean[$1] = $2
} END {
  printf "  tapnames / cat: %.2f of the time\n", mean["tapnames"] / mean["cat"]
  if ("other" in mean) printf "  other / cat: %.2f of the time\n", mean["other"] / mean["cat"]
}' "$csv"
