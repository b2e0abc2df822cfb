# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# Installation: the header, the library (on Windows the DLL, its import
# library and the .def), the host tool, a CMake package, a pkg-config file
# and the documents.  Both find the installed tree relative to themselves,
# so the tree may be moved.  Each file belongs to one component, as the
# Debian packages split them:
#   runtime      the library a host loads
#   development  header, link library, CMake and pkg-config files, manual (3)
#   tool         pgrmsg-collapse and its manual (1)
#   docs         README, licence, changelog
include(CMakePackageConfigHelpers)

set(VYKOSTRA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VYKOSTRA)

# `cmake --install --strip` (and CPack) strip a Windows binary with a time
# stamp of the moment, so that no two installs are alike, unless
# SOURCE_DATE_EPOCH names one: strip with none (0), as the linker left it.
# The install rules take the strip tool from the cache.
if(WIN32 AND CMAKE_STRIP)
  if(NOT VYKOSTRA_STRIP_TOOL)
    set(VYKOSTRA_STRIP_TOOL ${CMAKE_STRIP} CACHE INTERNAL "The toolchain's strip")
  endif()
  set(strip ${PROJECT_BINARY_DIR}/strip-without-timestamp)
  file(CONFIGURE OUTPUT ${strip}
    CONTENT "#!/bin/sh\nSOURCE_DATE_EPOCH=0 exec '${VYKOSTRA_STRIP_TOOL}' \"$@\"\n")
  file(CHMOD ${strip} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_STRIP ${strip} CACHE FILEPATH "Strips without a time stamp" FORCE)
endif()

install(TARGETS VYKOSTRA EXPORT VYKOSTRATargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
    NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(TARGET pgrmsg-collapse)
  install(TARGETS pgrmsg-collapse RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()
if(WIN32)
  if(VYKOSTRA_MSVC_IMPORT_LIBRARY)
    install(FILES ${VYKOSTRA_MSVC_IMPORT_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR}
      COMPONENT development)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/src/vykostra.def DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RENAME VYKOSTRA.def COMPONENT development)
endif()

install(EXPORT VYKOSTRATargets NAMESPACE VYKOSTRA:: DESTINATION ${VYKOSTRA_CMAKE_DIR}
  COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VYKOSTRAConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VYKOSTRAConfig.cmake INSTALL_DESTINATION ${VYKOSTRA_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VYKOSTRAConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VYKOSTRAConfig.cmake
  ${PROJECT_BINARY_DIR}/VYKOSTRAConfigVersion.cmake DESTINATION ${VYKOSTRA_CMAKE_DIR}
  COMPONENT development)

file(RELATIVE_PATH VYKOSTRA_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" VYKOSTRA_PC_TO_PREFIX "${VYKOSTRA_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/vykostra.pc.in ${PROJECT_BINARY_DIR}/vykostra.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vykostra.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

# README, licence and changelog: at the top of a Windows package, with the
# docs elsewhere.
set(documents README.md LICENSE CHANGELOG.md)
list(TRANSFORM documents PREPEND ${PROJECT_SOURCE_DIR}/)
if(WIN32)
  install(FILES ${documents} DESTINATION . COMPONENT docs)
else()
  install(FILES ${documents} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT docs)
endif()
