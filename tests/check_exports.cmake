# The shared library: its dynamic symbol table defines VYKPgrMsgCollapse
# in the version node VYKOSTRA_1.0 and nothing else; its soname is
# libVYKOSTRA.so.1; it is hardened as Debian builds its libraries (full
# RELRO with immediate binding, a stack that cannot run, the stack
# protector, and, where the build optimises, the C library's checked calls).
# Variables: NM, READELF, OBJDUMP, LIBRARY, X86, FORTIFIED.
include(${CMAKE_CURRENT_LIST_DIR}/script_run.cmake)

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

run(${READELF} -dW "${LIBRARY}")
set(dynamic "${out}")
run(${READELF} -lW "${LIBRARY}")
set(segments "${out}")
run(${NM} -D --undefined-only "${LIBRARY}")
set(imports "${out}")
set(expect
  "dynamic:\\(SONAME\\) +Library soname: \\[libVYKOSTRA\\.so\\.1\\]"
  "dynamic:\\(FLAGS\\) +BIND_NOW"
  "dynamic:\\(FLAGS_1\\) +(Flags: )?NOW"
  "segments:GNU_RELRO"
  "segments:GNU_STACK( +[0-9a-fx]+)+ RW +0x"
  "imports:__stack_chk_fail")
if(FORTIFIED)
  list(APPEND expect "imports:__fprintf_chk")
endif()
foreach(item IN LISTS expect)
  string(REGEX REPLACE ":.*" "" where "${item}")
  string(REGEX REPLACE "^[a-z]+:" "" pattern "${item}")
  if(NOT "${${where}}" MATCHES "${pattern}")
    message(FATAL_ERROR "${LIBRARY}: no '${pattern}' in its ${where}:\n${${where}}")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/check_vector_code.cmake)
