# The shared library's dynamic symbol table defines VYKPgrMsgCollapse and
# nothing else.
execute_process(COMMAND ${NM} -D --defined-only "${LIBRARY}"
  OUTPUT_VARIABLE out RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names "${name}")
endforeach()
if(NOT names STREQUAL "VYKPgrMsgCollapse")
  message(FATAL_ERROR "exported: ${names}; expected only VYKPgrMsgCollapse")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/check_vector_code.cmake)
