# SPDX-License-Identifier: MIT
# How every binary we install is built, in one place: vykostra_shipped(TARGET)
# for the library's objects, the library and the tool.
#   - No build paths (-ffile-prefix-map): the same sources give the same
#     bytes in any folder, and debug information names ./src/... .
#   - On ELF systems, hardened as Debian builds its binaries: the stack
#     protector, stack clash protection, the C library's checked calls
#     (where the build optimises, as they need, and no sanitizer checks the
#     same calls its own way), position-independent code (PIE for a
#     program), full RELRO with immediate binding, a stack that cannot run.
#     Windows images get their own flags where the DLL is linked.
#   - On ELF systems, a linked binary's debug information kept apart, as
#     distributions keep it: copied into TARGET_FILE.debug once linked, and
#     installed by the component `debug` (not part of a plain install:
#     `cmake --install BUILD --component debug`) as
#     lib/debug/.build-id/NN/REST.debug, named by the binary's build ID,
#     where gdb and debuginfod look.  The binary is installed stripped and
#     keeps its build ID.  (On Windows the linker writes a PDB instead.)
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)

# For C and C++ only: a resource compiler takes none of it.
set(c_or_cxx "$<COMPILE_LANGUAGE:C,CXX>")
add_library(vykostra_shipped_flags INTERFACE)
target_compile_options(vykostra_shipped_flags INTERFACE
  "$<${c_or_cxx}:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.;-ffile-prefix-map=${PROJECT_BINARY_DIR}=.>")
if(NOT WIN32)
  target_compile_options(vykostra_shipped_flags INTERFACE
    "$<${c_or_cxx}:-fstack-protector-strong;-fstack-clash-protection>")
  if(NOT VYKOSTRA_COVERAGE AND NOT VYKOSTRA_SANITIZE)
    target_compile_definitions(vykostra_shipped_flags INTERFACE
      $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  endif()
  target_link_options(vykostra_shipped_flags INTERFACE
    -Wl,-z,relro,-z,now -Wl,-z,noexecstack)
endif()

function(vykostra_shipped target)
  target_link_libraries(${target} PRIVATE vykostra_shipped_flags)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  get_target_property(type ${target} TYPE)
  if(WIN32 OR NOT type MATCHES "^(EXECUTABLE|SHARED_LIBRARY)$"
     OR NOT CMAKE_OBJCOPY OR NOT CMAKE_READELF)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug --compress-debug-sections=zlib
      $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    VERBATIM)
  install(CODE "
    set(binary \"$<TARGET_FILE:${target}>\")
    execute_process(COMMAND \"${CMAKE_READELF}\" -n \"\${binary}\" OUTPUT_VARIABLE notes)
    if(NOT notes MATCHES \"Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)\")
      message(FATAL_ERROR \"\${binary} has no build ID to name its debug information by\")
    endif()
    file(INSTALL \"\${binary}.debug\"
      DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/debug/.build-id/\${CMAKE_MATCH_1}\"
      RENAME \"\${CMAKE_MATCH_2}.debug\")
    " COMPONENT debug EXCLUDE_FROM_ALL)
endfunction()
