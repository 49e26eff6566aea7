# SPDX-License-Identifier: MIT
# fish completion for tapnames-catalogue: options, then folders, images and archives.
complete -c tapnames-catalogue -s e -l escape -d 'Write control codes in names by name'
complete -c tapnames-catalogue -s j -l jobs -x -d 'Read N images at once'
complete -c tapnames-catalogue -s L -l follow -d 'Follow symbolic links met while walking'
complete -c tapnames-catalogue -l files-from -r -F -d 'Read paths from a file (- for standard input)'
complete -c tapnames-catalogue -s 0 -l null -d 'Lists of --files-from are separated by NUL'
complete -c tapnames-catalogue -l format -x -a 'tsv csv jsonl' -d 'Output format'
complete -c tapnames-catalogue -l all-images -d 'A record for each image without names too'
complete -c tapnames-catalogue -s q -l quiet -d 'No progress line and no summary'
complete -c tapnames-catalogue -s h -l help -d 'Show the help and exit'
complete -c tapnames-catalogue -s V -l version -d 'Show the version and exit'
