#!/bin/sh
# SPDX-License-Identifier: MIT
# Catalogues a collection: scans every tape image (*.tap) under the folders
# given (the current folder if none) and prints one "PATH<TAB>NAME" line per
# name found, in the order of each tape, with names written as `tapnames -a`
# writes them. An image that cannot be opened or read is named on standard
# error, and the status is then 1.
#
#   catalogue.sh [FOLDER...] > catalogue.tsv
#
# Set TAPNAMES to the tool to run if it is not `tapnames` on the PATH. Paths
# may hold spaces, quotes and leading dashes; a path holding a tab or a
# newline cannot be told apart in the output.
set -u
tool=${TAPNAMES:-tapnames}
[ "$#" -gt 0 ] || set -- .
errors=$(mktemp) || exit 2
trap 'rm -f "$errors"' EXIT
status=0
for folder in "$@"; do
  case $folder in -*) folder=./$folder ;; esac  # not an option of find
  if [ ! -d "$folder" ]; then
    printf 'catalogue: %s: not a folder\n' "$folder" >&2
    status=1
    continue
  fi
  find "$folder" -name '*.tap' ! -type d -print | {
    failed=0
    while IFS= read -r path; do
      if found=$("$tool" -a "$path" 2>"$errors" </dev/null); then
        printf '%s\n' "$found" | sed -n 's/^FOUND ([0-9]*): "\(.*\)"$/\1/p' |
          while IFS= read -r name; do printf '%s\t%s\n' "$path" "$name"; done
      else
        printf 'catalogue: %s: %s\n' "$path" "$(cat "$errors")" >&2
        failed=1
      fi
    done
    exit "$failed"
  } || status=1
done
exit "$status"
