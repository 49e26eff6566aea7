#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The bash completion: options, *.tap files and directories, nothing after the path.
set -u
source "$1"
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" && mkdir games && touch one.tap TWO.TAP notes.txt || exit 1
failures=0
expect() {  # expected words, then the command line with the word being completed last
  local want=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _tapnames
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
  if [[ $got != "$want" ]]; then
    echo "FAIL: '$*' gave '$got', expected '$want'"
    failures=$((failures + 1))
  fi
}
expect "-a -e" tapnames -
expect "-e" tapnames -a -e
expect "TWO.TAP games one.tap" tapnames ""
expect "one.tap" tapnames -a o
expect "" tapnames one.tap ""
expect "" tapnames one.tap -
exit $((failures > 0))
