#!/bin/sh
# SPDX-License-Identifier: MIT
# The catalogue script on a small collection: paths with spaces, quotes and
# leading dashes, a subfolder, an empty image and one that cannot be opened.
#   catalogue_test.sh CATALOGUE_SCRIPT TAPNAMES DEMO_TAP E2E_TAPE_DIR
set -u
script=$1 tool=$2 demo=$3 tapes=$4
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir -p "./-collection/sub dir" other
cp "$demo" "./-collection/a b.tap"
cp "$tapes/special.tap" "./-collection/sub dir/it's \"q\".tap"
cp "$tapes/empty.tap" "./-collection/-dash.tap"
cp "$demo" other/notes.txt
ln -s nowhere.tap "./-collection/broken.tap"

TAPNAMES=$tool sh "$script" -collection other >out 2>err
status=$?
sort out >sorted
tab=$(printf '\t')
cat >expected <<END
./-collection/a b.tap${tab}HIGH SCORES
./-collection/a b.tap${tab}SPACE RACE
./-collection/a b.tap${tab}TITLE RED
./-collection/sub dir/it's "q".tap${tab}AFTER
END
failures=0
if ! cmp -s sorted expected; then
  echo "FAIL: standard output"; diff sorted expected; failures=1
fi
# In the order of the tape, whatever the order of the files.
if [ "$(grep 'a b.tap' out | cut -f2 | paste -sd,)" != "SPACE RACE,TITLE RED,HIGH SCORES" ]; then
  echo "FAIL: names out of tape order"; failures=1
fi
if [ "$(cat err)" != "catalogue: ./-collection/broken.tap: Could not open input file." ]; then
  echo "FAIL: standard error: $(cat err)"; failures=1
fi
if [ "$status" -ne 1 ]; then
  echo "FAIL: status $status, expected 1"; failures=1
fi
# A collection that reads cleanly exits 0.
rm "./-collection/broken.tap"
TAPNAMES=$tool sh "$script" -collection >/dev/null 2>err || { echo "FAIL: clean run"; failures=1; }
exit "$failures"
