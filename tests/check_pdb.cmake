# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# check_pdb_reads_export(DLL): the PDB beside DLL reads the address of its
# one export back to VYKPgrMsgCollapse and a line of src/collapse.cpp, as
# a debugger reads a crash address.  OBJDUMP and SYMBOLIZER are the
# includer's.
function(check_pdb_reads_export dll)
  run(${OBJDUMP} -p ${dll})
  string(REGEX MATCH "\nImageBase\t+([0-9a-f]+)" found "${out}")
  set(base ${CMAKE_MATCH_1})
  string(REGEX MATCH "\\+base\\[ +1\\] ([0-9a-f]+) Export RVA" found "${out}")
  math(EXPR address "0x${base} + 0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
  run(${SYMBOLIZER} --obj=${dll} ${address})
  if(NOT out MATCHES "^VYKPgrMsgCollapse\n[^\n]*[/\\]src[/\\]collapse\\.cpp:[0-9]+")
    message(FATAL_ERROR "the PDB reads ${address} in ${dll} as:\n${out}")
  endif()
endfunction()
