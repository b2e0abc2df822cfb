# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# Packages, made by `cpack --preset NAME` after the build, into
# build/NAME/packages with a bill of materials beside each
# (PACKAGE.cdx.json) and a SHA256SUMS over them all:
#   Windows  a .zip of the whole install, and a -symbols.zip beside it
#            with the DLL's PDB (component debug), fetched when needed
#   Linux    a .tar.gz of the whole install and, where dpkg-deb is found,
#            Debian packages by Debian policy (packaging/debian.cmake)
# Installed files are stripped: no debug information ships.
set(CPACK_PACKAGE_NAME vykostra)
set(CPACK_PACKAGE_VENDOR VYKOSTRA)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
# After each generator: a bill of materials beside each package, then the
# sums of both (and, given a key, their signature): Python's, which reads
# the build's facts (cmake/facts.cmake).
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/post-build.cmake)
set(CPACK_VYKOSTRA_PYTHON ${Python3_EXECUTABLE})
set(CPACK_VYKOSTRA_FACTS ${PROJECT_BINARY_DIR}/facts.json)
set(CPACK_VYKOSTRA_SOURCE ${PROJECT_SOURCE_DIR})
include(${CMAKE_CURRENT_LIST_DIR}/sign.cmake)
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/notices.cmake)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  # One .zip per group of components, each with its top folder.
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(name ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
  set(CPACK_ARCHIVE_INSTALL_FILE_NAME ${name})
  set(CPACK_ARCHIVE_SYMBOLS_FILE_NAME ${name}-symbols)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
    set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-i386)
  endif()
  include(${CMAKE_CURRENT_LIST_DIR}/debian.cmake)
endif()
include(CPack)
if(WIN32)
  foreach(component runtime development tool docs)
    cpack_add_component(${component} GROUP install)
  endforeach()
  cpack_add_component(debug GROUP symbols)
endif()
