# Installation: the header, the library (on Windows the DLL, its import
# library and the .def), the host tool, a CMake package and a pkg-config
# file.  Both find the installed tree relative to themselves, so the tree
# may be moved.
include(CMakePackageConfigHelpers)

set(VYKOSTRA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VYKOSTRA)

install(TARGETS VYKOSTRA EXPORT VYKOSTRATargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET pgrmsg-collapse)
  install(TARGETS pgrmsg-collapse RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/src/vykostra.def ${VYKOSTRA_MSVC_IMPORT_LIBRARY}
    DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

install(EXPORT VYKOSTRATargets NAMESPACE VYKOSTRA:: DESTINATION ${VYKOSTRA_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VYKOSTRAConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VYKOSTRAConfig.cmake INSTALL_DESTINATION ${VYKOSTRA_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VYKOSTRAConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VYKOSTRAConfig.cmake
  ${PROJECT_BINARY_DIR}/VYKOSTRAConfigVersion.cmake DESTINATION ${VYKOSTRA_CMAKE_DIR})

file(RELATIVE_PATH VYKOSTRA_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" VYKOSTRA_PC_TO_PREFIX "${VYKOSTRA_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/vykostra.pc.in ${PROJECT_BINARY_DIR}/vykostra.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vykostra.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
