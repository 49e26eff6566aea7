# SPDX-License-Identifier: MIT
# Runs the tool once and checks its standard output, standard error and exit
# status separately:
#   cmake -DTOOL=... [-DEMULATOR=a;b] -DARGUMENTS=a,b -DEXPECT_OUT=FILE
#         -DEXPECT_ERR=LINE -DEXPECT_STATUS=N -DRELEASE=1.1 [-DINPUT=FILE] -P run_case.cmake
# EXPECT_OUT names a file holding what follows the banner; EXPECT_ERR is the
# one line expected on standard error, or empty. INPUT, if given, is sent to
# standard input.
string(REPLACE "," ";" arguments "${ARGUMENTS}")
if(INPUT)
  set(input INPUT_FILE "${INPUT}")
endif()
execute_process(COMMAND ${EMULATOR} ${TOOL} ${arguments} ${input}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)

# The help text names the program as it was started: a path here.
string(REGEX REPLACE "Usage: [^\n]* \\[option" "Usage: tapnames [option" out "${out}")

file(READ "${EXPECT_OUT}" expected_out)
set(expected_out "tapnames rel ${RELEASE}\n${expected_out}")
include(${CMAKE_CURRENT_LIST_DIR}/../support/expect_run.cmake)
expect_run("${TOOL} ${arguments}" "${out}" "${err}" "${status}" "${expected_out}" "${EXPECT_ERR}"
           "${EXPECT_STATUS}")
