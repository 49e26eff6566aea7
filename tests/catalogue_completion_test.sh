#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The bash completion of tapnames-catalogue: options, their values, and
# folders, images and archives in any case.
set -u
source "$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && mkdir games && touch one.tap TWO.TAP three.Tap.GZ pack.zip old.tar.xz notes.txt
failures=0
expect() {  # expected words, then the command line with the word being completed last
  local want=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _tapnames_catalogue
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
  if [[ $got != "$want" ]]; then
    echo "FAIL: '$*' gave '$got', expected '$want'"
    failures=$((failures + 1))
  fi
}
expect "--files-from --follow --format" tapnames-catalogue --f
expect "csv" tapnames-catalogue --format c
expect "TWO.TAP games old.tar.xz one.tap pack.zip three.Tap.GZ" tapnames-catalogue -e ""
expect "notes.txt" tapnames-catalogue --files-from n
exit $((failures > 0))
