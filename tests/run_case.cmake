# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# Runs one golden case through pgrmsg-collapse and compares what it left:
#   NAME.msg     the message description (input)
#   NAME.out     the bytes the output file must hold; absent: no file made
#   NAME.err     the standard error expected (absent: none)
#   NAME.stdout  the tool's report, with --show-texts (absent: not checked)
#   NAME.pre     bytes the output file holds before the call (optional)
#   NAME.dir     present: the output path is a folder
#   NAME.status  the expected exit status (absent: 0)
# Variables: TOOL, LIBRARY, CASES, CASE, WORK, and EMULATOR (optional, its
# words apart by '|') and CRLF (ON where text streams end lines in CR LF).
foreach(var TOOL LIBRARY CASES CASE WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_case.cmake needs -D${var}=...")
  endif()
endforeach()

string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
set(base "${CASES}/${CASE}")
set(output "${WORK}/${CASE}.actual")
file(REMOVE_RECURSE "${output}")
file(MAKE_DIRECTORY "${WORK}")
if(EXISTS "${base}.pre")
  file(COPY_FILE "${base}.pre" "${output}")
endif()
if(EXISTS "${base}.dir")
  file(MAKE_DIRECTORY "${output}")
endif()

execute_process(
  COMMAND ${EMULATOR} "${TOOL}" --library "${LIBRARY}" --show-texts "${CASE}.msg" "${output}"
  WORKING_DIRECTORY "${CASES}"
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

set(failures "")
function(expect_text what actual file)
  set(expected "")
  if(EXISTS "${file}")
    file(READ "${file}" expected)
  endif()
  if(CRLF)
    string(REPLACE "\r\n" "\n" actual "${actual}")
  endif()
  if(NOT actual STREQUAL expected)
    set(failures "${failures}\n${what} differs.\n--- expected:\n${expected}\n--- actual:\n${actual}" PARENT_SCOPE)
  endif()
endfunction()

set(expected_status 0)
if(EXISTS "${base}.status")
  file(STRINGS "${base}.status" expected_status LIMIT_COUNT 1)
endif()
if(NOT status STREQUAL expected_status)
  string(APPEND failures "\nexit status ${status}, expected ${expected_status}")
endif()
expect_text("standard error" "${err}" "${base}.err")
if(EXISTS "${base}.stdout")
  expect_text("standard output" "${out}" "${base}.stdout")
endif()

if(EXISTS "${base}.out")
  if(NOT EXISTS "${output}" OR IS_DIRECTORY "${output}")
    string(APPEND failures "\nno output file was written")
  else()
    file(READ "${base}.out" expected_hex HEX)
    file(READ "${output}" actual_hex HEX)
    if(NOT actual_hex STREQUAL expected_hex)
      string(APPEND failures "\noutput file differs.\n--- expected (hex):\n${expected_hex}\n--- actual (hex):\n${actual_hex}")
    endif()
  endif()
elseif(EXISTS "${base}.pre")
  file(READ "${base}.pre" expected_hex HEX)
  file(READ "${output}" actual_hex HEX)
  if(NOT actual_hex STREQUAL expected_hex)
    string(APPEND failures "\nthe existing output file was changed")
  endif()
elseif(NOT EXISTS "${base}.dir" AND EXISTS "${output}")
  string(APPEND failures "\nan output file was created")
endif()

if(failures)
  message(FATAL_ERROR "case ${CASE}:${failures}")
endif()
