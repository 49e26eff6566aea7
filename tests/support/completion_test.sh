#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The bash completion of either program:
#   completion_test.sh COMPLETION_FILE tapnames|tapnames-catalogue|tapnames-inspect
# tapnames: options, *.tap files and folders, nothing after the path.
# tapnames-catalogue: options, their values, and folders, images and archives
# in any case. tapnames-inspect: the same, with its options and formats.
set -u
source "$1"
program=$2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" && mkdir games &&
  touch one.tap TWO.TAP three.Tap.GZ four.tap.zst pack.zip old.tar.xz notes.txt ||
  exit 1
failures=0
expect() {  # expected words, then the command line with the word being completed last
  local want=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "_${program//-/_}"
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
  if [[ $got != "$want" ]]; then
    echo "FAIL: '$*' gave '$got', expected '$want'"
    failures=$((failures + 1))
  fi
}
case $program in
  tapnames)
    expect "-a -e" tapnames -
    expect "-e" tapnames -a -e
    expect "TWO.TAP games one.tap" tapnames ""
    expect "one.tap" tapnames -a o
    expect "" tapnames one.tap ""
    expect "" tapnames one.tap -
    ;;
  tapnames-catalogue)
    expect "--files-from --follow --format" tapnames-catalogue --f
    expect "--escape --exclude" tapnames-catalogue --e
    expect "--images" tapnames-catalogue --im
    expect "csv" tapnames-catalogue --format c
    expect "csv" tapnames-catalogue --format=c
    expect "csv jsonl tsv" tapnames-catalogue --format =
    expect "jsonl" tapnames-catalogue --format = j
    expect "" tapnames-catalogue --exclude ""
    expect "0 1 2 3 4 5 6 7 8 9" tapnames-catalogue --max-depth=
    expect "TWO.TAP four.tap.zst games old.tar.xz one.tap pack.zip three.Tap.GZ" \
      tapnames-catalogue -e ""
    expect "--db --duplicates" tapnames-catalogue --d
    expect "md5" tapnames-catalogue --hashes m
    expect "notes.txt" tapnames-catalogue --db n
    expect "notes.txt" tapnames-catalogue --files-from n
    ;;
  tapnames-inspect)
    expect "--format" tapnames-inspect --f
    expect "jsonl" tapnames-inspect --format j
    expect "TWO.TAP games old.tar.xz one.tap pack.zip three.Tap.GZ" tapnames-inspect -a ""
    ;;
  *)
    echo "no cases for $program"
    exit 1
    ;;
esac
exit $((failures > 0))
