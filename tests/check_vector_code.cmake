# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# On x86 (X86 set), the library's code scrubs with vectors: SSE2 registers
# and, for long texts, AVX2 ones.  Where the build is for i686 without SSE
# (NO_SSE set: the 32-bit builds), no SSE or AVX instruction lies outside
# the functions of the loops that run only once the call has asked the
# CPU, in the library or in the tool's objects (TOOL_OBJECTS, apart by
# '|'): a compiler that vectorises a loop elsewhere kills the host on a
# CPU without SSE.  Read by function, from the symbols objdump shows or,
# for a DLL, its PDB (SYMBOLIZER).
if(NOT X86)
  return()
endif()

# objdump -d -C of `file`, in `code`.
function(disassemble file)
  execute_process(COMMAND ${OBJDUMP} -d -C --no-show-raw-insn "${file}"
    OUTPUT_VARIABLE out RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -d failed on ${file}")
  endif()
  set(code "${out}" PARENT_SCOPE)
endfunction()

disassemble("${LIBRARY}")
foreach(register xmm ymm)
  if(NOT code MATCHES "%${register}[0-9]")
    message(FATAL_ERROR "${LIBRARY} holds no instruction on ${register} registers")
  endif()
endforeach()
if(NOT NO_SSE)
  return()
endif()

# An instruction of MMX (no i686 has it either), SSE or later: on their
# registers, or one of the few that name none.
set(vector "\t([a-z0-9]*(mxcsr|fence|movnt|prefetch|clflush|maskmov)|[^\n]*%[xyz]?mm[0-9])")
# The guarded loops, by their functions' names (as a PDB may give them,
# mangled too).
set(guarded "::(ScrubSse2|ScrubAvx2)([<(]|$)|Vector(128|256)::|^_Z.*[0-9](ScrubSse2|ScrubAvx2|Vector128|Vector256)[0-9A-Z]")

# Every function of `file` that holds one, and its first such instruction.
# A DLL shows objdump no functions, only its sections: its instructions'
# functions are read from its PDB (SYMBOLIZER, llvm-symbolizer).
function(check_guarded file)
  disassemble("${file}")
  if(NOT code MATCHES "${vector}")
    return()
  endif()
  # objdump ends each function with an empty line.  (Brackets and
  # semicolons would split CMake's list elsewhere.)
  string(REGEX REPLACE "[][;]" "_" code "${code}")
  string(REPLACE "\n\n" ";" blocks "${code}")
  set(found "")
  set(addresses "")
  foreach(block IN LISTS blocks)
    string(REGEX MATCH "(^|\n)[0-9a-f]+ <([^\n]*)>:\n" header "${block}")
    set(name "${CMAKE_MATCH_2}")
    if(name MATCHES "^\\.")
      string(REGEX MATCHALL "\n *[0-9a-f]+:${vector}" lines "${block}")
      foreach(line IN LISTS lines)
        string(REGEX MATCH "[0-9a-f]+:" address "${line}")
        string(REPLACE ":" "" address "${address}")
        list(APPEND addresses 0x${address})
      endforeach()
      continue()
    endif()
    string(REGEX MATCH "[^\n]*${vector}[^\n]*" line "${block}")
    if(line AND NOT name MATCHES "${guarded}")
      string(STRIP "${line}" line)
      list(APPEND found "${name}: ${line}")
    endif()
  endforeach()
  if(addresses)
    if(NOT SYMBOLIZER)
      message(FATAL_ERROR "${file} names no functions, and no llvm-symbolizer (Debian: llvm) "
        "was given to read them from its PDB")
    endif()
    execute_process(COMMAND ${SYMBOLIZER} --obj=${file} --no-inlines ${addresses}
      OUTPUT_VARIABLE out RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${SYMBOLIZER} failed on ${file}")
    endif()
    # Per address: its function, its source line, an empty line.
    string(REGEX REPLACE "[][;]" "_" out "${out}")
    string(REGEX REPLACE "\n[^\n]*\n\n" ";" names "${out}")
    string(REGEX REPLACE ";$" "" names "${names}")
    foreach(address name IN ZIP_LISTS addresses names)
      if(NOT name MATCHES "${guarded}")
        list(APPEND found "${name}: the instruction at ${address}")
      endif()
    endforeach()
  endif()
  if(found)
    list(REMOVE_DUPLICATES found)
    list(JOIN found "\n  " found)
    message(FATAL_ERROR "${file} runs vector instructions outside the loops that ask the CPU "
      "first:\n  ${found}")
  endif()
endfunction()

check_guarded("${LIBRARY}")
string(REPLACE "|" ";" TOOL_OBJECTS "${TOOL_OBJECTS}")
foreach(object IN LISTS TOOL_OBJECTS)
  check_guarded("${object}")
endforeach()
