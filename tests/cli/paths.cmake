# SPDX-License-Identifier: MIT
# Images whose paths hold Greek, Japanese, an emoji and spaces, and a path of
# more than 260 characters: each is scanned by its relative and by its
# absolute path. The copies live in a scratch folder of this run, removed at
# the end.
#   cmake -DTOOL=... [-DEMULATOR=a;b] -DTAPE=demo.tap -DRELEASE=1.1 -DSCRATCH=DIR -P paths.cmake
string(RANDOM LENGTH 12 suffix)
set(work "${SCRATCH}/paths-${suffix}")
string(REPEAT "a" 100 a)
string(REPEAT "b" 100 b)
string(REPEAT "c" 100 c)
set(names "αβγ.tap" "日本語.tap" "emoji😀.tap" "with spaces/a tape.tap" "${a}/${b}/${c}/long path.tap")
set(expected "tapnames rel ${RELEASE}\nFOUND: \"SPACE RACE\"\n")
set(failures "")
foreach(name IN LISTS names)
  get_filename_component(dir "${work}/${name}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${TAPE}" "${work}/${name}")
  foreach(path "${name}" "${work}/${name}")
    execute_process(COMMAND ${EMULATOR} ${TOOL} ${path} WORKING_DIRECTORY "${work}"
                    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
    if(NOT out STREQUAL expected OR NOT err STREQUAL "" OR NOT status EQUAL 0)
      string(LENGTH "${path}" length)
      string(APPEND failures "${path} (${length} bytes): status ${status}\n${out}${err}\n")
    endif()
  endforeach()
endforeach()
file(REMOVE_RECURSE "${work}")
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
