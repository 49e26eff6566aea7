# SPDX-License-Identifier: MIT
# Runs tapnames-catalogue once in WORKDIR and checks its standard output,
# standard error and exit status separately; on every platform, so Windows'
# separator is compared as "/" (written "\\" in a TSV field and in messages,
# which escape paths alike), and the summary's time as "T":
#   cmake -DTOOL=... [-DEMULATOR=a;b] -DWORKDIR=... -DARGUMENTS=a,b
#         -DEXPECT_OUT=FILE -DEXPECT_ERR=LINE -DEXPECT_STATUS=N -P catalogue_case.cmake
# An EXPECT_OUT of the form "=a,b" is the tool's own standard output for the
# arguments a,b (the help, say, which "/?" must give word for word).
string(REPLACE "," ";" arguments "${ARGUMENTS}")
execute_process(COMMAND ${EMULATOR} ${TOOL} ${arguments} WORKING_DIRECTORY ${WORKDIR}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
string(REPLACE "\\\\" "/" out "${out}")
string(REPLACE "\\\\" "/" err "${err}")
string(REGEX REPLACE " read in [0-9.]+ s\n" " read in T s\n" err "${err}")
if(EXPECT_OUT MATCHES "^=(.*)")
  string(REPLACE "," ";" same_as "${CMAKE_MATCH_1}")
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${same_as} WORKING_DIRECTORY ${WORKDIR}
                  OUTPUT_VARIABLE expected_out)
  string(REPLACE "\\\\" "/" expected_out "${expected_out}")
else()
  file(READ "${EXPECT_OUT}" expected_out)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/../support/expect_run.cmake)
expect_run("${TOOL} ${arguments}" "${out}" "${err}" "${status}" "${expected_out}" "${EXPECT_ERR}"
           "${EXPECT_STATUS}")
