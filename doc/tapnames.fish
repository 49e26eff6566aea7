# SPDX-License-Identifier: MIT
# fish completion for tapnames: the options and tape images.
complete -c tapnames -s a -d 'Report every name in the image, numbered'
complete -c tapnames -s e -d 'Write control codes in names by name'
complete -c tapnames -k -x -a '(__fish_complete_suffix .tap; __fish_complete_suffix .TAP)'
