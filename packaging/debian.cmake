# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# Debian packages by Debian policy, made beside the .tar.gz by CPack's
# External generator (packaging/debs.py says which and how), where this is
# a Debian multiarch build with dpkg's tools.
set(VYKOSTRA_MAINTAINER "VYKOSTRA developers <vykostra@example.org>" CACHE STRING
  "Maintainer of the Debian packages, as 'Name <address>' (set your own to publish them)")
find_program(VYKOSTRA_DPKG_DEB dpkg-deb)
find_program(VYKOSTRA_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(VYKOSTRA_GZIP gzip)
set(deb_architectures "x86_64=amd64" "AMD64=amd64" "i386=i386" "i486=i386" "i586=i386"
  "i686=i386" "aarch64=arm64")
set(deb_architecture "")
foreach(pair IN LISTS deb_architectures)
  if(pair MATCHES "^${CMAKE_SYSTEM_PROCESSOR}=(.*)$")
    set(deb_architecture ${CMAKE_MATCH_1})
  endif()
endforeach()
if(NOT (VYKOSTRA_DPKG_DEB AND VYKOSTRA_DPKG_SHLIBDEPS AND VYKOSTRA_GZIP AND deb_architecture
        AND CMAKE_LIBRARY_ARCHITECTURE AND CMAKE_READELF))
  message(STATUS "No Debian packages: they need dpkg-deb, dpkg-shlibdeps (Debian: "
    "dpkg-dev), gzip and a Debian multiarch build")
  set(VYKOSTRA_DEBS OFF)
  return()
endif()
set(VYKOSTRA_DEBS ON)
list(APPEND CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/debian/make-debs.cmake)
set(CPACK_VYKOSTRA_ARCHITECTURE ${deb_architecture})
set(CPACK_VYKOSTRA_MAINTAINER "${VYKOSTRA_MAINTAINER}")
set(CPACK_VYKOSTRA_READELF ${CMAKE_READELF})
