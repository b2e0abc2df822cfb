# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# The test runner's probe against runners that only seem to run it: each
# row a stand-in runner (a shell command, the probe's path its $0) and what
# the runner must conclude.  Variables: RUNNER_PROBE (cmake/runs-probe.cmake).
cmake_minimum_required(VERSION 3.25)
include(${RUNNER_PROBE})
set(rows
  # A Wine without its 32-bit part, as one new user met it: a word about
  # rundll32.exe, nothing run, exit status 0.
  "echo 'wine: failed to open rundll32.exe' >&2 && exit 0|FALSE|exit status 0 without running the program"
  "echo vykostra-probe && exit 0|FALSE|exit status 0 without running the program"
  "exit 42|FALSE|exit status 42, without a word"
  "echo 'wine: configuration in L\"x\" has been updated.' >&2 && echo 'no 32-bit loader' >&2 && exit 1|FALSE|exit status 1: no 32-bit loader"
  "echo vykostra-probe && exit 42|TRUE|")
set(failures "")
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 command)
  list(GET row 1 expected_runs)
  list(GET row 2 expected_why)
  set(why "")
  vykostra_runs_probe(probe runs why sh -c "${command}")
  if(NOT runs STREQUAL expected_runs OR NOT why STREQUAL expected_why)
    string(APPEND failures "\n  ${command}: runs ${runs} (${why}), expected ${expected_runs} (${expected_why})")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "The probe's verdicts:${failures}")
endif()
