# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# Windows with mingw-w64's headers, C runtime and GCC's C++ library, for
# the toolchain files that set `triple` and CMAKE_SYSTEM_PROCESSOR first.
# Compiled by clang and linked by LLD, which write the DLL's debug
# information as a PDB, as Windows' debuggers read it (GCC and GNU ld
# cannot).  Debian: g++-mingw-w64-<arch> (headers, runtime, libstdc++,
# binutils), clang-19, lld-19.
set(CMAKE_SYSTEM_NAME Windows)
# CMake reads a toolchain file more than once: flags start afresh.
set(CMAKE_C_FLAGS_INIT "")

# Clang and LLD from LLVM 17 on: earlier LLDs give every DLL an export
# table whose ordinals start at 0, with an empty slot before ordinal 1, and
# earlier clangs write their whole command line, build folders and all,
# into the PDB.  Debian: clang-19, lld-19.
find_program(VYKOSTRA_MINGW_CLANG NAMES clang-19 clang-18 clang-17)
find_program(VYKOSTRA_LLD NAMES ld.lld-19 ld.lld-18 ld.lld-17)
if(NOT VYKOSTRA_MINGW_CLANG OR NOT VYKOSTRA_LLD)
  message(FATAL_ERROR "no clang and LLD 17 or later: install clang-19 and lld-19")
endif()
string(REGEX REPLACE "clang(-[0-9]+)$" "clang++\\1" cxx ${VYKOSTRA_MINGW_CLANG})
set(CMAKE_C_COMPILER ${VYKOSTRA_MINGW_CLANG})
set(CMAKE_CXX_COMPILER ${cxx})
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER_TARGET ${triple})
set(CMAKE_SYSROOT /usr/${triple})
set(CMAKE_RC_COMPILER ${triple}-windres)
foreach(tool AR RANLIB OBJDUMP STRIP)
  string(TOLOWER ${tool} name)
  set(CMAKE_${tool} /usr/bin/${triple}-${name} CACHE FILEPATH "mingw-w64's ${name}")
endforeach()

# GCC's C++ library and libgcc come in two thread models, each in a
# folder clang does not find by itself (the newest
# /usr/lib/gcc/TRIPLE/N-posix and N-win32; Debian:
# g++-mingw-w64-<arch>-posix and -win32).  Their headers differ only in the
# configuration of include/c++/TRIPLE, so objects must be linked with the
# model they were compiled for.
#   - POSIX: std::mutex and std::thread (GoogleTest needs them), through
#     winpthreads, which calls GetTickCount64, new in Vista (6.0): every
#     program's by default.
#   - win32: no std::mutex, no winpthreads: what the programs we ship link,
#     to run where the DLL does (cmake/shipped.cmake).
# The default's folders are in the flags of every compile and link (CMake
# itself links with them, to learn the compilers); a target of the win32
# model puts that model's configuration headers and archives ahead of
# them.
string(REPLACE "_" "-" package_arch ${CMAKE_SYSTEM_PROCESSOR})
foreach(model posix win32)
  file(GLOB gcc_folders /usr/lib/gcc/${triple}/*-${model})
  list(SORT gcc_folders COMPARE NATURAL)
  list(POP_BACK gcc_folders VYKOSTRA_MINGW_GCC_${model})
  if(NOT VYKOSTRA_MINGW_GCC_${model})
    message(FATAL_ERROR "no /usr/lib/gcc/${triple}/*-${model}: "
      "install g++-mingw-w64-${package_arch}-${model}")
  endif()
endforeach()
# One GCC's: a win32-model target takes only the configuration headers
# from its own folder.
string(REGEX REPLACE "-posix$" "-win32" gcc ${VYKOSTRA_MINGW_GCC_posix})
if(NOT gcc STREQUAL VYKOSTRA_MINGW_GCC_win32)
  message(FATAL_ERROR "GCC's thread models come from two versions: "
    "${VYKOSTRA_MINGW_GCC_posix} and ${VYKOSTRA_MINGW_GCC_win32}")
endif()
set(gcc ${VYKOSTRA_MINGW_GCC_posix})
set(CMAKE_CXX_FLAGS_INIT
  "-isystem ${gcc}/include/c++ -isystem ${gcc}/include/c++/${triple}")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld --ld-path=${VYKOSTRA_LLD} -L${gcc}")
endforeach()
# The oldest Windows each binary declares it runs on (subsystem and
# operating system version alike): a loader refuses an image that asks
# for a newer one than itself, and LLD's default is 6.0 (Vista).  The
# DLL's code needs no more than Windows XP (5.1) and, 64-bit, Windows XP
# x64 and Server 2003 (5.2): six functions of msvcrt.dll.  So do the
# programs we ship, in the win32 thread model; the others, in the POSIX
# model, need Vista (6.0) for winpthreads.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(VYKOSTRA_WINDOWS_DLL_VERSION 5.1)
else()
  set(VYKOSTRA_WINDOWS_DLL_VERSION 5.2)
endif()
set(VYKOSTRA_WINDOWS_EXE_VERSION 6.0)
foreach(which DLL EXE)
  string(REPLACE "." ";" version ${VYKOSTRA_WINDOWS_${which}_VERSION})
  list(GET version 0 major)
  list(GET version 1 minor)
  set(VYKOSTRA_WINDOWS_${which}_VERSION_FLAGS "")
  foreach(of os subsystem)
    list(APPEND VYKOSTRA_WINDOWS_${which}_VERSION_FLAGS
      -Wl,--major-${of}-version,${major} -Wl,--minor-${of}-version,${minor})
  endforeach()
endforeach()
foreach(kind SHARED:DLL MODULE:DLL EXE:EXE)
  string(REPLACE ":" ";" kind ${kind})
  list(GET kind 0 target_kind)
  list(GET kind 1 which)
  list(JOIN VYKOSTRA_WINDOWS_${which}_VERSION_FLAGS " " flags)
  string(APPEND CMAKE_${target_kind}_LINKER_FLAGS_INIT " ${flags}")
endforeach()
# The programs are linked statically; with the POSIX thread model,
# libstdc++ needs winpthreads, which GCC's driver adds by itself.
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -lpthread")

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
