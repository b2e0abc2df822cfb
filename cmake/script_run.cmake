# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# run(COMMAND...): runs a command and stops the script with all it printed
# if it fails; otherwise leaves its standard output in `out`.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    # Indented, so that CMake prints the command's lines as they are
    # instead of wrapping them.
    string(REPLACE "\n" "\n  " printed "\n${out}${err}")
    message(FATAL_ERROR "${command}${printed}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()
