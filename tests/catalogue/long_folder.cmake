# SPDX-License-Identifier: MIT
# A folder path of 351 characters, past Windows' old limit of 260, walked
# from a relative and from an absolute root: the image at its end is listed.
# The folder lives in a scratch folder of this run, removed at the end.
#   cmake -DTOOL=... [-DEMULATOR=a;b] -DTAPE=plain.tap -DSCRATCH=DIR -P long_folder.cmake
string(RANDOM LENGTH 12 suffix)
set(work "${SCRATCH}/long-${suffix}")
# "long/" and folders of 49 characters, the last one cut to make 351.
set(folder "long")
set(part 1)
string(LENGTH "${folder}" length)
while(length LESS 351)
  string(REPEAT "${part}" 49 name)
  string(APPEND folder "/${name}")
  string(SUBSTRING "${folder}" 0 351 folder)
  string(LENGTH "${folder}" length)
  math(EXPR part "${part} + 1")
endwhile()
file(MAKE_DIRECTORY "${work}/${folder}")
file(COPY_FILE "${TAPE}" "${work}/${folder}/plain.tap")

# The absolute root in the system's own form: on Windows with its drive.
set(absolute "${work}/long")
if(TOOL MATCHES "\\.exe$")
  set(absolute "Z:${absolute}")
endif()
set(failures "")
foreach(root "long" "${absolute}")
  execute_process(COMMAND ${EMULATOR} ${TOOL} -q ${root} WORKING_DIRECTORY "${work}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  string(REPLACE "\\\\" "/" out "${out}")
  string(REGEX REPLACE "^long" "${root}" path "${folder}/plain.tap")
  string(CONCAT expected "path\tnumber\toffset\tblock_type\tname\n"
                "${path}\t1\t8000\t1\tFIRST\n${path}\t2\t24728\t2\tSECOND\n")
  if(NOT out STREQUAL expected OR NOT err STREQUAL "" OR NOT status EQUAL 0)
    string(APPEND failures "root ${root}: status ${status}\n--- got\n${out}${err}--- expected\n"
                           "${expected}---\n")
  endif()
endforeach()
file(REMOVE_RECURSE "${work}")
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
