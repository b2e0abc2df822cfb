# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# Debian packages by Debian policy, made beside the .tar.gz by CPack's
# External generator and debian/make-debs.cmake:
#   libvykostra1      the shared library (component runtime)
#   libvykostra-dev   header, link, CMake and pkg-config files, manual (3)
#                     (component development)
#   pgrmsg-collapse   the tool and its manual (1) (component tool)
#   libvykostra1-dbgsym, pgrmsg-collapse-dbgsym
#                     the debug information of the library and the tool,
#                     by build ID (component debug)
# Here, at configure time: the architecture, the maintainer, and the two
# files every package carries in /usr/share/doc/PACKAGE: a machine-readable
# copyright made from LICENSE, and a Debian changelog made from the
# CHANGELOG.md section of this version.
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

set(debian ${PROJECT_BINARY_DIR}/packaging/debian)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md)

# copyright: DEP-5, the licence text indented by one blank, "." for an
# empty line.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license)
list(POP_FRONT license)  # its title: the Expat licence
set(copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: VYKOSTRA\nUpstream-Contact: ${VYKOSTRA_MAINTAINER}\n\n"
  "Files: *\nCopyright: 2026 The VYKOSTRA developers\nLicense: Expat\n")
set(copyright_started OFF)
foreach(line IN LISTS license)
  if(line MATCHES "^Copyright")
    continue()
  endif()
  if(line STREQUAL "")
    if(copyright_started)
      list(APPEND copyright " .\n")
    endif()
    continue()
  endif()
  set(copyright_started ON)
  list(APPEND copyright " ${line}\n")
endforeach()
list(JOIN copyright "" copyright)
file(WRITE ${debian}/copyright "${copyright}")

# changelog: this version's section of CHANGELOG.md, each item one entry.
# Semicolons stand apart from CMake's lists, as the byte 0x1F, until
# written.
string(ASCII 31 semicolon)
file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG.md changes)
string(REPLACE ";" "${semicolon}" changes "${changes}")
string(REPLACE "\n" ";" changes "${changes}")
set(in_section OFF)
set(date "")
set(items "")
foreach(line IN LISTS changes)
  if(line MATCHES "^## ")
    set(in_section OFF)
    if(line MATCHES "^## \\[${PROJECT_VERSION}\\] - ([0-9-]+)$")
      set(in_section ON)
      set(date ${CMAKE_MATCH_1})
    endif()
  elseif(in_section AND line MATCHES "^- (.*)$")
    list(APPEND items "${CMAKE_MATCH_1}")
  elseif(in_section AND items AND line MATCHES "^  +(.*)$")
    list(POP_BACK items item)
    list(APPEND items "${item} ${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT date OR NOT items)
  message(FATAL_ERROR "CHANGELOG.md has no section '## [${PROJECT_VERSION}] - DATE' "
    "with items: the Debian packages' changelog is made from it")
endif()
execute_process(COMMAND date -u -R -d "${date} 00:00" OUTPUT_VARIABLE stamp
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND date -u -d "${date} 00:00" +%s OUTPUT_VARIABLE epoch
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(entry "vykostra (${PROJECT_VERSION}) unstable; urgency=medium\n\n")
foreach(item IN LISTS items)
  string(REPLACE "`" "" item "${item}")
  string(REGEX MATCHALL "[^ ]+" words "${item}")
  set(line "  *")
  foreach(word IN LISTS words)
    string(LENGTH "${line} ${word}" length)
    if(length GREATER 78)
      string(APPEND entry "${line}\n")
      set(line "   ")
    endif()
    string(APPEND line " ${word}")
  endforeach()
  string(APPEND entry "${line}\n")
endforeach()
string(APPEND entry "\n -- ${VYKOSTRA_MAINTAINER}  ${stamp}\n")
string(REPLACE "${semicolon}" ";" entry "${entry}")
file(WRITE ${debian}/changelog "${entry}")
execute_process(COMMAND ${VYKOSTRA_GZIP} -9n -f -k ${debian}/changelog COMMAND_ERROR_IS_FATAL ANY)

set(VYKOSTRA_DEBS ON)
list(APPEND CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/debian/make-debs.cmake)
set(CPACK_VYKOSTRA_DEBIAN ${debian})
set(CPACK_VYKOSTRA_ARCHITECTURE ${deb_architecture})
set(CPACK_VYKOSTRA_MAINTAINER "${VYKOSTRA_MAINTAINER}")
set(CPACK_VYKOSTRA_SOURCE_DATE_EPOCH ${epoch})
set(CPACK_VYKOSTRA_DPKG_DEB ${VYKOSTRA_DPKG_DEB})
set(CPACK_VYKOSTRA_DPKG_SHLIBDEPS ${VYKOSTRA_DPKG_SHLIBDEPS})
set(CPACK_VYKOSTRA_READELF ${CMAKE_READELF})
