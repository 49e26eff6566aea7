# SPDX-License-Identifier: MIT
# fish completion for tapnames-inspect: options, then folders, images and archives.
complete -c tapnames-inspect -l format -x -a 'text jsonl tsv' -d 'Output format'
complete -c tapnames-inspect -l min-pilot -x -d 'Tell of pilots of N bytes or more'
complete -c tapnames-inspect -s a -l all -d 'Tell of every pilot, however short'
complete -c tapnames-inspect -s e -l escape -d 'Write control codes in names by name'
complete -c tapnames-inspect -s h -l help -d 'Show the help and exit'
complete -c tapnames-inspect -s V -l version -d 'Show the version and exit'
