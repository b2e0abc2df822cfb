# VYKOSTRA.dll exports VYKPgrMsgCollapse alone, undecorated, at ordinal 1,
# and imports from msvcrt.dll alone, its diagnostics through the runtime's
# own fprintf and fflush.
execute_process(COMMAND ${OBJDUMP} -p "${LIBRARY}" OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIBRARY}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports STREQUAL "DLL Name: msvcrt.dll")
  message(FATAL_ERROR "imports: ${imports}; expected only msvcrt.dll")
endif()
foreach(function _open _write _close fprintf fflush)
  if(NOT dump MATCHES "\n\t[0-9a-f]+\t +[0-9]+  ${function}\n")
    message(FATAL_ERROR "${function} is not imported from msvcrt.dll:\n${dump}")
  endif()
endforeach()

if(NOT dump MATCHES "Export Address Table -- Ordinal Base 1\n\t\\[ +0\\] \\+base\\[ +1\\] [0-9a-f]+ Export RVA\n\n")
  message(FATAL_ERROR "expected one export, at ordinal 1:\n${dump}")
endif()
if(NOT dump MATCHES "\\[Ordinal/Name Pointer\\] Table\n\t\\[ +0\\] VYKPgrMsgCollapse\n\n")
  message(FATAL_ERROR "expected the one export to be named VYKPgrMsgCollapse:\n${dump}")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/check_vector_code.cmake)
