# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# What packaging/make-sbom.cmake needs to know, beside the linker's maps
# (cmake/shipped.cmake), to say what is linked into our binaries: the
# licence of each component the toolchain links in, where the linker
# looked for the archives it names, and the tools that read binaries and
# ask dpkg which package (and so which version) a linked file came from.

# COMPONENT|LICENCE (an SPDX expression), as the Debian copyright files of
# the packages that ship them say (/usr/share/doc/PACKAGE/copyright):
#   libgcc, libstdc++, gcc-12-base, gcc-mingw-w64-base: GCC's runtime
#   libgcov            libraries (libgcov: in a build with gcov counters),
#                      GPL 3 or later with the GCC Runtime Library
#                      Exception 3.1
#   glibc              libc6-dev: LGPL 2.1 or later
#   mingw-w64-crt      mingw-w64-*-dev: ZPL 2.1, its start-up code and
#                      headers in the public domain, and the number
#                      formatting and parsing in libmingwex (gdtoa,
#                      mingw_pformat: the tool's printf and strtod) under
#                      Lucent's, David M. Gay's and Keith Marshall's
#                      notices, which ship in the Windows packages
#                      (packaging/notices.cmake).  One licence for the
#                      component: the DLL, which links no libmingwex, is
#                      given the last three too.
#   winpthreads        mingw-w64-*-dev: expat (MIT), its pthread.h under a
#                      3-clause BSD licence
set(CPACK_VYKOSTRA_SBOM_COMPONENTS
  "libgcc|GPL-3.0-or-later WITH GCC-exception-3.1"
  "libstdc++|GPL-3.0-or-later WITH GCC-exception-3.1"
  "libgcov|GPL-3.0-or-later WITH GCC-exception-3.1"
  "glibc|LGPL-2.1-or-later"
  "mingw-w64-crt|ZPL-2.1 AND LicenseRef-mingw-w64-public-domain AND LicenseRef-Lucent-gdtoa AND LicenseRef-David-Gay AND LicenseRef-Keith-Marshall"
  "winpthreads|MIT AND BSD-3-Clause")

# LLD's map in the form of Microsoft's linker names archives without their
# folders: the folders are the linker's search path, in its order, as the
# compiler driver gives it to the linker.
set(CPACK_VYKOSTRA_LINK_DIRS "")
if(WIN32)
  set(probe ${PROJECT_BINARY_DIR}/CMakeFiles/sbom-probe.o)
  file(TOUCH ${probe})
  separate_arguments(link_flags UNIX_COMMAND "${CMAKE_EXE_LINKER_FLAGS}")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} --target=${CMAKE_CXX_COMPILER_TARGET}
      --sysroot=${CMAKE_SYSROOT} ${link_flags} -static "-###" -o sbom-probe.exe ${probe}
    OUTPUT_VARIABLE driver ERROR_VARIABLE driver RESULT_VARIABLE status)
  string(REGEX MATCHALL "\"-L[^\"]+\"" dirs "${driver}")
  list(TRANSFORM dirs REPLACE "^\"-L(.*)\"$" "\\1")
  if(NOT status EQUAL 0 OR NOT dirs)
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not say where the linker looks for "
      "archives, which the packages' bills of materials name:\n${driver}")
  endif()
  set(CPACK_VYKOSTRA_LINK_DIRS ${dirs})
  # The programs link GCC's win32-model archives ahead of the driver's
  # (cmake/shipped.cmake): for them, that folder is searched first.
  set(CPACK_VYKOSTRA_PROGRAM_LINK_DIRS ${VYKOSTRA_MINGW_GCC_win32} ${dirs})
endif()

find_program(VYKOSTRA_DPKG_QUERY dpkg-query)
set(CPACK_VYKOSTRA_DPKG_QUERY ${VYKOSTRA_DPKG_QUERY})
set(CPACK_VYKOSTRA_SBOM_WINDOWS ${WIN32})
set(CPACK_VYKOSTRA_LINK_MAPS ${PROJECT_BINARY_DIR}/link-maps)
set(CPACK_VYKOSTRA_OBJDUMP ${CMAKE_OBJDUMP})
set(CPACK_VYKOSTRA_READELF ${CMAKE_READELF})
# (dpkg-deb, for the Debian packages' contents, is debian.cmake's.)
