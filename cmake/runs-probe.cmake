# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# The probe says a word and exits with a status of its own: a Wine that
# runs nothing and exits 0 is not taken for one that runs programs.
set(VYKOSTRA_PROBE_SOURCE
  "#include <stdio.h>\nint main(void) { puts(\"vykostra-probe\"); return 42; }\n")

# vykostra_runs_probe(PROBE RUNS WHY [EMULATOR...]): RUNS is true if PROBE
# ran (under the emulator, if given): its word came back, and its exit
# status; else WHY says what happened instead.
function(vykostra_runs_probe probe runs why)
  execute_process(COMMAND ${ARGN} ${probe} RESULT_VARIABLE status
    OUTPUT_VARIABLE out ERROR_VARIABLE error TIMEOUT 300)
  if(status STREQUAL "42" AND out MATCHES "vykostra-probe")
    set(${runs} TRUE PARENT_SCOPE)
    return()
  endif()
  # What it said, less Wine's lines about making the prefix.
  string(REGEX REPLACE "[^\n]*(configuration (in|directory)|working directory)[^\n]*" ""
    said "${error}\n${out}")
  string(STRIP "${said}" said)
  string(REGEX REPLACE "^.*\n" "" last "${said}")
  if(status STREQUAL "0")
    set(last "exit status 0 without running the program")
  elseif(last STREQUAL "")
    set(last "exit status ${status}, without a word")
  else()
    set(last "exit status ${status}: ${last}")
  endif()
  set(${runs} FALSE PARENT_SCOPE)
  set(${why} "${last}" PARENT_SCOPE)
endfunction()
