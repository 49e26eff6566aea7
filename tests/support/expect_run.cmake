# SPDX-License-Identifier: MIT
# expect_run(COMMAND_TEXT OUT ERR STATUS EXPECTED_OUT EXPECTED_ERR_LINE EXPECTED_STATUS):
# fails the test, showing every difference at once, unless standard output,
# standard error (one line, or empty) and the exit status are as expected.
function(expect_run command out err status expected_out expected_err_line expected_status)
  if(expected_err_line STREQUAL "")
    set(expected_err "")
  else()
    set(expected_err "${expected_err_line}\n")
  endif()
  set(failures "")
  if(NOT out STREQUAL expected_out)
    string(APPEND failures "standard output:\n--- got\n${out}--- expected\n${expected_out}---\n")
  endif()
  if(NOT err STREQUAL expected_err)
    string(APPEND failures "standard error:\n--- got\n${err}--- expected\n${expected_err}---\n")
  endif()
  if(NOT status STREQUAL expected_status)
    string(APPEND failures "exit status: got ${status}, expected ${expected_status}\n")
  endif()
  if(failures)
    message(FATAL_ERROR "${command}\n${failures}")
  endif()
endfunction()
