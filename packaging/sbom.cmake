# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# What the toolchain says of the code it links into our binaries, asked
# here, at configure time, for the bill of materials that
# packaging/make-sbom.cmake writes beside each package: each component's
# version as the toolchain reports it, and its licence.  Which components
# went into which binary the linker's maps say (cmake/shipped.cmake).
set(sbom_gcc_version "")
set(sbom_runtime_version "")
if(WIN32)
  # clang compiles; GCC's C++ library and libgcc come from mingw-w64's
  # GCC, whose runtime (and winpthreads) is mingw-w64's.
  find_program(VYKOSTRA_MINGW_GCC NAMES ${triple}-gcc-posix ${triple}-gcc)
  if(VYKOSTRA_MINGW_GCC)
    execute_process(COMMAND ${VYKOSTRA_MINGW_GCC} -dumpfullversion
      OUTPUT_VARIABLE sbom_gcc_version OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  file(STRINGS ${CMAKE_SYSROOT}/include/_mingw_mac.h mingw_version
    REGEX "^#define __MINGW64_VERSION_(MAJOR|MINOR|BUGFIX) [0-9]+")
  string(REGEX REPLACE "[^;]* ([0-9]+)" "\\1" mingw_version "${mingw_version}")
  list(JOIN mingw_version "." sbom_runtime_version)
else()
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpfullversion
    OUTPUT_VARIABLE sbom_gcc_version OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(sbom_gcc_version "")  # clang links the system's GCC libraries
  endif()
  separate_arguments(c_flags UNIX_COMMAND "${CMAKE_C_FLAGS}")
  execute_process(COMMAND ${CMAKE_C_COMPILER} ${c_flags} -dM -E -include features.h -x c /dev/null
    OUTPUT_VARIABLE macros ERROR_QUIET)
  if(macros MATCHES "#define __GLIBC__ ([0-9]+)" )
    set(major ${CMAKE_MATCH_1})
    string(REGEX MATCH "#define __GLIBC_MINOR__ ([0-9]+)" found "${macros}")
    set(sbom_runtime_version ${major}.${CMAKE_MATCH_1})
  endif()
endif()

# COMPONENT|VERSION|LICENCE (an SPDX expression); read by make-sbom.cmake.
set(CPACK_VYKOSTRA_SBOM_COMPONENTS
  "libgcc|${sbom_gcc_version}|GPL-3.0-or-later WITH GCC-exception-3.1"
  "libstdc++|${sbom_gcc_version}|GPL-3.0-or-later WITH GCC-exception-3.1")
if(WIN32)
  list(APPEND CPACK_VYKOSTRA_SBOM_COMPONENTS
    "mingw-w64-crt|${sbom_runtime_version}|ZPL-2.1"
    "winpthreads|${sbom_runtime_version}|MIT")
else()
  list(APPEND CPACK_VYKOSTRA_SBOM_COMPONENTS "glibc|${sbom_runtime_version}|LGPL-2.1-or-later")
endif()
set(CPACK_VYKOSTRA_SBOM_WINDOWS ${WIN32})
set(CPACK_VYKOSTRA_LINK_MAPS ${PROJECT_BINARY_DIR}/link-maps)
set(CPACK_VYKOSTRA_OBJDUMP ${CMAKE_OBJDUMP})
set(CPACK_VYKOSTRA_READELF ${CMAKE_READELF})
# (dpkg-deb, for the Debian packages' contents, is debian.cmake's.)
