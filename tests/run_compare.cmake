# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# Runs pgrmsg-collapse --compare LIBRARY_A LIBRARY_B MESSAGES... in CASES
# and compares what it left with the expected outputs:
#   EXPECTED.stdout  the report (absent: none)
#   EXPECTED.err     how standard error begins, LIBRARY_B standing for
#                    @LIBRARY_B@ (absent: nothing printed there)
#   EXPECTED.status  the exit status (absent: 0)
# Variables: TOOL, LIBRARY_A, LIBRARY_B, MESSAGES (apart by '|'), CASES,
# EXPECTED, and EMULATOR (optional, its words apart by '|') and CRLF (ON
# where text streams end lines in CR LF).  Optional: ARGS (apart by '|')
# in place of the comparison's operands, and WRAP, a shell command that
# runs the tool as "$@" (to start it with a descriptor closed or
# redirected, or with another environment).
string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
string(REPLACE "|" ";" MESSAGES "${MESSAGES}")
set(command ${EMULATOR} ${TOOL} --compare ${LIBRARY_A} ${LIBRARY_B} ${MESSAGES})
if(DEFINED ARGS)
  string(REPLACE "|" ";" ARGS "${ARGS}")
  set(command ${EMULATOR} ${TOOL} ${ARGS})
endif()
if(WRAP)
  set(command /bin/sh -c "${WRAP}" sh ${command})
endif()
execute_process(COMMAND ${command}
  WORKING_DIRECTORY ${CASES} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(CRLF)
  string(REPLACE "\r\n" "\n" out "${out}")
  string(REPLACE "\r\n" "\n" err "${err}")
endif()

# The expected text EXPECTED.SUFFIX, or `default` without that file.
function(expected suffix default result)
  set(text "${default}")
  if(EXISTS ${EXPECTED}.${suffix})
    file(READ ${EXPECTED}.${suffix} text)
  endif()
  set(${result} "${text}" PARENT_SCOPE)
endfunction()

set(failures "")
expected(status 0 expected_status)
string(STRIP "${expected_status}" expected_status)
if(NOT status STREQUAL expected_status)
  string(APPEND failures "exit status ${status}, expected ${expected_status}\n")
endif()
expected(stdout "" expected_out)
if(NOT out STREQUAL expected_out)
  string(APPEND failures "report:\n${out}--- expected ---\n${expected_out}")
endif()
expected(err "" expected_err)
string(CONFIGURE "${expected_err}" expected_err @ONLY)
string(STRIP "${expected_err}" expected_err)
string(LENGTH "${expected_err}" length)
string(SUBSTRING "${err}" 0 ${length} err_start)
if(NOT err_start STREQUAL expected_err OR (expected_err STREQUAL "" AND NOT err STREQUAL ""))
  string(APPEND failures "standard error:\n${err}--- expected to begin with ---\n${expected_err}\n")
endif()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
