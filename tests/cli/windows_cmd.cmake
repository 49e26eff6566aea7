# SPDX-License-Identifier: MIT
# Runs windows_status.cmd through cmd.exe (under the emulator of a cross build)
# in a scratch folder of its own with the tool and a tape, checks what it
# prints, and removes the folder:
#   cmake -DTOOL=... [-DEMULATOR=a;b] -DTAPE=special.tap -DSCRIPT=windows_status.cmd
#         -DEXPECT_OUT=special-a.out -DRELEASE=1.1 -DSCRATCH=DIR -P windows_cmd.cmake
string(RANDOM LENGTH 12 suffix)
set(work "${SCRATCH}/cmd-${suffix}")
file(MAKE_DIRECTORY "${work}")
file(COPY_FILE "${TOOL}" "${work}/tapnames.exe")
file(COPY_FILE "${TAPE}" "${work}/special.tap")
file(COPY_FILE "${SCRIPT}" "${work}/status.cmd")
execute_process(COMMAND ${EMULATOR} cmd /c status.cmd WORKING_DIRECTORY "${work}"
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
file(REMOVE_RECURSE "${work}")

string(REPLACE "\r\n" "\n" out "${out}")
file(READ "${EXPECT_OUT}" names)
set(expected "help 255\nmissing 255\ndirectory 255\nmissing: errorlevel 1\nscan: success\n")
string(APPEND expected "tapnames rel ${RELEASE}\n${names}pipe 0\n")
include(${CMAKE_CURRENT_LIST_DIR}/../support/expect_run.cmake)
expect_run("cmd /c status.cmd" "${out}" "${err}" "${status}" "${expected}" "" 0)
