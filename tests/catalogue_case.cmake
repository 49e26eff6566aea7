# SPDX-License-Identifier: MIT
# Runs tapnames-catalogue once in WORKDIR and checks its standard output,
# standard error and exit status separately; on every platform, so Windows'
# separator is compared as "/" (written "\\" in a TSV field, "\" in messages):
#   cmake -DTOOL=... [-DEMULATOR=a;b] -DWORKDIR=... -DARGUMENTS=a,b
#         -DEXPECT_OUT=FILE -DEXPECT_ERR=LINE -DEXPECT_STATUS=N -P catalogue_case.cmake
string(REPLACE "," ";" arguments "${ARGUMENTS}")
execute_process(COMMAND ${EMULATOR} ${TOOL} ${arguments} WORKING_DIRECTORY ${WORKDIR}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
string(REPLACE "\\\\" "/" out "${out}")
string(REPLACE "\\" "/" err "${err}")
file(READ "${EXPECT_OUT}" expected_out)
if(EXPECT_ERR STREQUAL "")
  set(expected_err "")
else()
  set(expected_err "${EXPECT_ERR}\n")
endif()
set(failures "")
if(NOT out STREQUAL expected_out)
  string(APPEND failures "standard output:\n--- got\n${out}--- expected\n${expected_out}---\n")
endif()
if(NOT err STREQUAL expected_err)
  string(APPEND failures "standard error:\n--- got\n${err}--- expected\n${expected_err}---\n")
endif()
if(NOT status STREQUAL EXPECT_STATUS)
  string(APPEND failures "exit status: got ${status}, expected ${EXPECT_STATUS}\n")
endif()
if(failures)
  message(FATAL_ERROR "${TOOL} ${arguments}\n${failures}")
endif()
