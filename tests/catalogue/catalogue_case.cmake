# SPDX-License-Identifier: MIT
# Runs tapnames-catalogue once in WORKDIR and checks its standard output,
# standard error and exit status separately; on every platform, so Windows'
# separator is compared as "/" (written "\\" in a TSV field and in messages,
# which escape paths alike), and the summary's time as "T":
#   cmake -DTOOL=... [-DEMULATOR=a;b] -DWORKDIR=... -DARGUMENTS=a,b
#         -DEXPECT_OUT=FILE -DEXPECT_ERR=LINE -DEXPECT_STATUS=N -P catalogue_case.cmake
string(REPLACE "," ";" arguments "${ARGUMENTS}")
execute_process(COMMAND ${EMULATOR} ${TOOL} ${arguments} WORKING_DIRECTORY ${WORKDIR}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
string(REPLACE "\\\\" "/" out "${out}")
string(REPLACE "\\\\" "/" err "${err}")
string(REGEX REPLACE " read in [0-9.]+ s\n" " read in T s\n" err "${err}")
file(READ "${EXPECT_OUT}" expected_out)
include(${CMAKE_CURRENT_LIST_DIR}/../support/expect_run.cmake)
expect_run("${TOOL} ${arguments}" "${out}" "${err}" "${status}" "${expected_out}" "${EXPECT_ERR}"
           "${EXPECT_STATUS}")
