# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# Builds msvc_host/host.c for the MSVC ABI (clang, lld-link) against
# VYKOSTRA.lib and an import library for the few kernel32 functions it
# calls, made here from a .def; then checks that the program's import
# table names VYKOSTRA.dll and VYKPgrMsgCollapse.  Running it (with the
# DLL copied beside it) is another test's work.
# Variables: CLANG, LLD_LINK, DLLTOOL, OBJDUMP, SOURCE, IMPORT_LIBRARY,
# DLL, WORK, BITS (32 or 64).
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/script_run.cmake)

file(MAKE_DIRECTORY ${WORK})
file(COPY ${DLL} DESTINATION ${WORK})
if(BITS EQUAL 32)
  set(target i686-pc-windows-msvc)
  set(machine i386)
  set(stdcall_sizes CreateFileA@28 ReadFile@20 CloseHandle@4 ExitProcess@4)
else()
  set(target x86_64-pc-windows-msvc)
  set(machine i386:x86-64)
  set(stdcall_sizes CreateFileA ReadFile CloseHandle ExitProcess)
endif()
list(JOIN stdcall_sizes "\n  " exports)
file(WRITE ${WORK}/kernel32.def "LIBRARY kernel32.dll\nEXPORTS\n  ${exports}\n")
run(${DLLTOOL} -m ${machine} -k -d ${WORK}/kernel32.def -l ${WORK}/kernel32.lib)

run(${CLANG} --target=${target} -ffreestanding -fno-builtin -O2 -Wall -Werror
  -I${SOURCE}/include -c ${SOURCE}/tests/msvc_host/host.c -o ${WORK}/host.obj)
run(${LLD_LINK} /nologo /subsystem:console /entry:mainCRTStartup /nodefaultlib
  /out:${WORK}/msvc-host.exe ${WORK}/host.obj ${IMPORT_LIBRARY} ${WORK}/kernel32.lib)

run(${OBJDUMP} -p ${WORK}/msvc-host.exe)
if(NOT out MATCHES "DLL Name: VYKOSTRA\\.dll\n[^\n]*\n\t[0-9a-f]+\t +[0-9]+  VYKPgrMsgCollapse\n")
  message(FATAL_ERROR "msvc-host.exe does not import VYKPgrMsgCollapse from VYKOSTRA.dll:\n${out}")
endif()
