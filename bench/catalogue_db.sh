#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# tapnames-catalogue --db on the generated collection of bench/catalogue.sh
# (bench/make_collection.cpp), warm cache, side by side in one hyperfine run:
#   - records: the catalogue writing TSV to /dev/null;
#   - first:   --db into a database made anew for each run;
#   - again:   --db into a database already up to date (nothing read but the
#              few broken files, which every run reads again);
#   - hashed:  a first --db run with --hashes crc32,md5,sha1.
# Prints the mean and the range of each, and the ratios first/records
# (target at most 1.3) and again/first (target at most 0.1), from the means
# and from the fastest and the slowest runs; then what the second run says.
#
#   bench/catalogue_db.sh [BUILD_DIR] [RUNS] [IMAGES]
#
# BUILD_DIR must be configured with -DTAPNAMES_BUILD_BENCH=ON (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
runs=${2:-10}
images=${3:-2000}
for tool in hyperfine awk; do
  command -v "$tool" >/dev/null || {
    echo "catalogue_db.sh needs $tool (apt-get install $tool)" >&2
    exit 2
  }
done

cmake --build "$build" --target tapnames-catalogue make_collection >/dev/null
catalogue=$(realpath "$build/src/catalogue/tapnames-catalogue")
"$catalogue" --help | grep -q -- '--db FILE' || { echo "this build has no --db" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
coll=$work/collection
echo "collection: $("$build/bench/make_collection" "$coll" "$images")"
"$catalogue" -q --db "$work/again.db" "$coll" || true  # the broken files fail

fresh="rm -f '$work/first.db' '$work/first.db-wal' '$work/first.db-shm'"
hyperfine --style none --warmup 2 --runs "$runs" -i --export-csv "$work/db.csv" \
  --prepare "$fresh" \
  -n records "'$catalogue' -q '$coll' >/dev/null" \
  -n first "'$catalogue' -q --db '$work/first.db' '$coll'" \
  -n again "'$catalogue' -q --db '$work/again.db' '$coll'" \
  -n hashed "'$catalogue' -q --db '$work/first.db' --hashes crc32,md5,sha1 '$coll'" \
  >/dev/null 2>&1
echo "$runs runs each, warm cache; mean (fastest-slowest):"
awk -F, 'NR > 1 { mean[$1] = $2; low[$1] = $7; high[$1] = $8; order[NR] = $1 }
  END {
    for (i = 2; i <= NR; ++i) {
      name = order[i]
      printf "  %-8s %6.3f s (%.3f-%.3f)\n", name, mean[name], low[name], high[name]
    }
    printf "  first/records %.2f (%.2f-%.2f), target <= 1.3\n", mean["first"] / mean["records"],
           low["first"] / low["records"], high["first"] / high["records"]
    printf "  again/first   %.3f (%.3f-%.3f), target <= 0.1\n", mean["again"] / mean["first"],
           low["again"] / low["first"], high["again"] / high["first"]
  }' "$work/db.csv"
echo "  a run with nothing changed says:"
"$catalogue" --db "$work/again.db" "$coll" 2>&1 >/dev/null | grep -v ': .*Damaged' | sed 's/^/    /' || true
