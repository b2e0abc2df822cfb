# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# VYKOSTRA.dll exports VYKPgrMsgCollapse alone, undecorated, at ordinal 1,
# and imports from msvcrt.dll alone, its diagnostics through the runtime's
# own fprintf and fflush.  It carries no time stamp, is marked
# DYNAMIC_BASE and NX_COMPAT (and NO_SEH where 32-bit), and holds a
# version resource.  Its debug directory names its PDB by file name alone,
# and the PDB beside it has the GUID and age it names (read with PDBUTIL,
# if given).  It and the tool TOOL declare the oldest Windows they run on
# as DLL_VERSION and EXE_VERSION say, and the tool imports nothing that
# Windows lacks (read with COMPILER, for TARGET with SYSROOT, in WORK).
# Variables: OBJDUMP, LIBRARY, TOOL, TOOL_IMPORTS, VERSION, DLL_VERSION,
# EXE_VERSION, X86, PDBUTIL, COMPILER, TARGET, SYSROOT, WORK.
execute_process(COMMAND ${OBJDUMP} -p "${LIBRARY}" OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIBRARY}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports STREQUAL "DLL Name: msvcrt.dll")
  message(FATAL_ERROR "imports: ${imports}; expected only msvcrt.dll")
endif()
# Exactly these six, all in the msvcrt.dll of Windows XP and XP x64: a
# new import could need a newer Windows than the DLL declares.
string(REGEX MATCHALL "\n\t[0-9a-f]+\t +[0-9]+  [A-Za-z_0-9]+" functions "${dump}")
list(TRANSFORM functions REPLACE "^.* " "")
list(SORT functions)
set(wanted _close _iob _open _write fflush fprintf)
if(NOT dump MATCHES "\nMagic\t+010b")
  set(wanted __iob_func _close _open _write fflush fprintf)
endif()
if(NOT functions STREQUAL wanted)
  message(FATAL_ERROR "imports from msvcrt.dll: ${functions}; expected ${wanted}")
endif()

# The oldest Windows that loads each: subsystem and operating system
# version, as DLL_VERSION and EXE_VERSION give them.
function(check_windows_version file dump_variable version)
  foreach(of OSystem Subsystem)
    string(REGEX MATCH "\nMajor${of}Version\t+([0-9]+)\nMinor${of}Version\t+([0-9]+)"
      found "${${dump_variable}}")
    if(NOT "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}" STREQUAL version)
      message(FATAL_ERROR "${file} declares ${of} version "
        "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}, expected ${version}")
    endif()
  endforeach()
endfunction()
check_windows_version(${LIBRARY} dump ${DLL_VERSION})
execute_process(COMMAND ${OBJDUMP} -p "${TOOL}" OUTPUT_VARIABLE tool_dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${TOOL}")
endif()
check_windows_version(${TOOL} tool_dump ${EXE_VERSION})

# The tool imports from kernel32.dll and msvcrt.dll alone, and from them
# only functions that mingw-w64's headers declare for the Windows it
# declares (_WIN32_WINNT 0x0501 for 5.1) and for msvcrt.dll 7.0, that
# Windows' runtime: the headers keep what came later behind
# `_WIN32_WINNT >= 0x0600` and `__MSVCRT_VERSION__ >= 0x800` (Vista's
# GetTickCount64, which winpthreads calls, among them).  A reference to
# each is compiled with those settings.  The runtime's start-up code and
# its stream locks call what no header declares: the functions below,
# all in msvcrt.dll since Windows 2000.
set(undeclared_runtime __getmainargs __initenv __p__commode __set_app_type _amsg_exit
  _commode _initterm _lock _unlock)
string(REGEX MATCHALL "DLL Name: [^\n]+\n[^\n]*(\n\t[0-9a-f]+\t +[0-9]+  [A-Za-z_0-9]+)+"
  blocks "${tool_dump}")
set(functions "")
foreach(block IN LISTS blocks)
  string(REGEX MATCH "^DLL Name: ([^\n]+)" found "${block}")
  string(TOLOWER "${CMAKE_MATCH_1}" dll)
  if(NOT dll MATCHES "^(kernel32|msvcrt)\\.dll$")
    message(FATAL_ERROR "${TOOL} imports from ${CMAKE_MATCH_1}")
  endif()
  string(REGEX MATCHALL "\n\t[0-9a-f]+\t +[0-9]+  [A-Za-z_0-9]+" names "${block}")
  list(TRANSFORM names REPLACE "^.* " "")
  list(APPEND functions ${names})
  list(TRANSFORM names PREPEND "${dll} " OUTPUT_VARIABLE pairs)
  list(APPEND imports_now ${pairs})
endforeach()
list(REMOVE_DUPLICATES functions)
if(NOT functions MATCHES "GetModuleHandle" OR NOT functions MATCHES "fwrite")
  message(FATAL_ERROR "no imports read from ${TOOL}:\n${tool_dump}")
endif()
# The headers do not gate everything that came later (SetThreadStackGuarantee,
# GetCurrentProcessorNumber, msvcrt's _s functions): any import beyond the
# ones TOOL_IMPORTS lists, each known to be in that Windows, fails here.
file(STRINGS ${TOOL_IMPORTS} imports_known REGEX "^[a-z0-9]+\\.dll ")
list(REMOVE_ITEM imports_now ${imports_known})
if(imports_now)
  list(SORT imports_now)
  list(JOIN imports_now "\n  " new)
  message(FATAL_ERROR "${TOOL} imports what ${TOOL_IMPORTS} does not list:\n  ${new}\n"
    "add each only once it is known to be in Windows ${EXE_VERSION}'s DLL")
endif()
set(source "")
foreach(header windows.h stdio.h stdlib.h string.h wchar.h wctype.h ctype.h locale.h io.h
    direct.h fcntl.h sys/stat.h sys/utime.h time.h process.h signal.h setjmp.h math.h
    malloc.h errno.h excpt.h)
  string(APPEND source "#include <${header}>\n")
endforeach()
string(APPEND source "void imported(void) {\n")
foreach(function IN LISTS functions)
  # (A header may give a variable as a macro, as __mb_cur_max.)
  string(APPEND source "#ifndef ${function}\n  (void)&${function};\n#endif\n")
endforeach()
string(APPEND source "}\n")
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/imported.c "${source}")
string(REPLACE "." ";" version ${EXE_VERSION})
list(GET version 0 major)
list(GET version 1 minor)
math(EXPR winnt "${major} * 256 + ${minor}" OUTPUT_FORMAT HEXADECIMAL)
execute_process(COMMAND ${COMPILER} --target=${TARGET} --sysroot=${SYSROOT} -fsyntax-only
    -ferror-limit=0 -w -D_WIN32_WINNT=${winnt} -D__MSVCRT_VERSION__=0x700 ${WORK}/imported.c
  ERROR_VARIABLE errors OUTPUT_VARIABLE errors)
string(REPLACE ";" "," errors "${errors}")  # "did you mean" after a semicolon
string(REGEX MATCHALL "undeclared identifier '[A-Za-z_0-9]+'" undeclared "${errors}")
list(TRANSFORM undeclared REPLACE "^.*'(.*)'$" "\\1")
list(REMOVE_DUPLICATES undeclared)
list(REMOVE_ITEM undeclared ${undeclared_runtime})
if(undeclared)
  message(FATAL_ERROR "${TOOL} imports what Windows ${EXE_VERSION} lacks "
    "(not declared for _WIN32_WINNT ${winnt}): ${undeclared}")
endif()
string(REGEX MATCHALL "error: [^\n]+" other "${errors}")
list(FILTER other EXCLUDE REGEX "undeclared identifier")
if(other)
  message(FATAL_ERROR "the imports could not be checked:\n${errors}")
endif()

if(NOT dump MATCHES "Export Address Table -- Ordinal Base 1\n\t\\[ +0\\] \\+base\\[ +1\\] [0-9a-f]+ Export RVA\n\n")
  message(FATAL_ERROR "expected one export, at ordinal 1:\n${dump}")
endif()
if(NOT dump MATCHES "\\[Ordinal/Name Pointer\\] Table\n\t\\[ +0\\] VYKPgrMsgCollapse\n\n")
  message(FATAL_ERROR "expected the one export to be named VYKPgrMsgCollapse:\n${dump}")
endif()

if(NOT dump MATCHES "\nTime/Date\t+Thu Jan  1 00:00:00 1970\n")
  message(FATAL_ERROR "the DLL carries a time stamp:\n${dump}")
endif()
string(REGEX MATCH "DllCharacteristics\t+([0-9a-f]+)" flags "${dump}")
math(EXPR flags "0x${CMAKE_MATCH_1}")
set(wanted 0x140)  # DYNAMIC_BASE, NX_COMPAT
if(dump MATCHES "\nMagic\t+010b")  # PE32: 32-bit
  set(wanted 0x540)  # and NO_SEH
endif()
math(EXPR missing "${wanted} & ~${flags}")
if(NOT missing EQUAL 0)
  message(FATAL_ERROR "DllCharacteristics ${flags} lacks ${missing}")
endif()

if(NOT dump MATCHES "\\(format RSDS signature ([0-9a-f]+) age ([0-9]+) pdb ([^)\n]*)\\)")
  message(FATAL_ERROR "the DLL names no PDB:\n${dump}")
endif()
set(guid ${CMAKE_MATCH_1})
set(age ${CMAKE_MATCH_2})
if(NOT CMAKE_MATCH_3 STREQUAL "VYKOSTRA.pdb")
  message(FATAL_ERROR "the DLL names its PDB '${CMAKE_MATCH_3}', not 'VYKOSTRA.pdb'")
endif()
if(PDBUTIL)
  get_filename_component(folder "${LIBRARY}" DIRECTORY)
  execute_process(COMMAND ${PDBUTIL} dump -summary ${folder}/VYKOSTRA.pdb
    OUTPUT_VARIABLE summary RESULT_VARIABLE status)
  string(REGEX MATCH "GUID: {([0-9A-F-]+)}" found "${summary}")
  string(REPLACE "-" "" pdb_guid "${CMAKE_MATCH_1}")
  string(TOLOWER "${pdb_guid}" pdb_guid)
  string(REGEX MATCH "Age: ([0-9]+)" found "${summary}")
  if(NOT status EQUAL 0 OR NOT pdb_guid STREQUAL guid OR NOT CMAKE_MATCH_1 STREQUAL age)
    message(FATAL_ERROR "VYKOSTRA.pdb is not the DLL's (GUID ${guid}, age ${age}):\n${summary}")
  endif()
endif()

# The version resource: its keys and values, in UTF-16 as stored.
file(READ "${LIBRARY}" bytes HEX)
foreach(text "FileVersion" "${VERSION}" "ProductVersion" "FileDescription"
        "InternalName" "OriginalFilename" "VYKOSTRA.dll" "ProductName" "VYKOSTRA")
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "\\100" utf16 "${hex}")
  if(NOT bytes MATCHES "${utf16}")
    message(FATAL_ERROR "the version resource holds no '${text}'")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/check_vector_code.cmake)
