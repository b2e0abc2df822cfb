# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# The shared library: its dynamic symbol table defines VYKPgrMsgCollapse
# in the version node VYKOSTRA_1.0 and nothing else; its soname is
# libVYKOSTRA.so.1.  It and the tool are hardened as Debian builds its
# binaries (full RELRO with immediate binding, a stack that cannot run, the
# stack protector, and, where the build optimises, the C library's checked
# calls; the tool is PIE).
# Variables: NM, READELF, OBJDUMP, LIBRARY, TOOL, X86, FORTIFIED, and
# check_vector_code.cmake's.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/script_run.cmake)

run(${NM} -D --defined-only "${LIBRARY}")
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(names "")
foreach(line IN LISTS lines)
  if(line MATCHES " A VYKOSTRA_1\\.0(@@VYKOSTRA_1\\.0)?$")
    continue()  # the version node itself
  endif()
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names "${name}")
endforeach()
if(NOT names STREQUAL "VYKPgrMsgCollapse@@VYKOSTRA_1.0")
  message(FATAL_ERROR "exported: ${names}; expected only VYKPgrMsgCollapse@@VYKOSTRA_1.0")
endif()

# Hardened as Debian builds its binaries: the library and the tool alike.
function(check_hardened file)
  run(${READELF} -dW "${file}")
  set(dynamic "${out}")
  run(${READELF} -lW "${file}")
  set(segments "${out}")
  run(${NM} -D --undefined-only "${file}")
  set(imports "${out}")
  foreach(item IN LISTS ARGN)
    string(REGEX REPLACE ":.*" "" where "${item}")
    string(REGEX REPLACE "^[a-z]+:" "" pattern "${item}")
    if(NOT "${${where}}" MATCHES "${pattern}")
      message(FATAL_ERROR "${file}: no '${pattern}' in its ${where}:\n${${where}}")
    endif()
  endforeach()
endfunction()

set(hardened
  "dynamic:\\(FLAGS\\) +BIND_NOW"
  "dynamic:\\(FLAGS_1\\) +(Flags: )?NOW"
  "segments:GNU_RELRO"
  "segments:GNU_STACK( +[0-9a-fx]+)+ RW +0x"
  "imports:__stack_chk_fail")
if(FORTIFIED)
  list(APPEND hardened "imports:__[a-z]*printf_chk")
endif()
check_hardened("${LIBRARY}" ${hardened}
  "dynamic:\\(SONAME\\) +Library soname: \\[libVYKOSTRA\\.so\\.1\\]")
check_hardened("${TOOL}" ${hardened} "dynamic:\\(FLAGS_1\\) +(Flags: )?NOW PIE")

include(${CMAKE_CURRENT_LIST_DIR}/check_vector_code.cmake)
