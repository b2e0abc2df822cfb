# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
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
#     keeps its build ID.
#   - A map of each linked binary's inputs in link-maps/, for the
#     packages' bill of materials.
#   - On Windows, a program runs where the DLL does: linked with GCC's C++
#     library in its win32 thread model (no winpthreads, which needs Vista)
#     and compiled for it (mingw-w64.cmake), declaring the DLL's Windows.
#   - On Windows, the DLL's debug information in a PDB beside it, as
#     Windows' debuggers read it (CodeView, written by lld), installed by
#     the component `debug` too.  The DLL names the PDB by file name only
#     (no build path), and its record matches the PDB's GUID and age.
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)

# For C and C++ only: a resource compiler takes none of it.
set(c_or_cxx "$<COMPILE_LANGUAGE:C,CXX>")
add_library(vykostra_shipped_flags INTERFACE)
target_compile_options(vykostra_shipped_flags INTERFACE
  "$<${c_or_cxx}:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.;-ffile-prefix-map=${PROJECT_BINARY_DIR}=.>")
if(WIN32)
  # CodeView, without the compiler's command line, and with object files
  # named relative to the build folder, not by it.
  target_compile_options(vykostra_shipped_flags INTERFACE
    "$<${c_or_cxx}:-gcodeview;-gno-codeview-command-line;-fdebug-compilation-dir=.>")
else()
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
  if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY)$")
    # The linker's map: which archives and objects went into the binary,
    # read by the packages' bills of materials (packaging/sbom.py,
    # which makes no package for a binary without one).
    set(maps ${PROJECT_BINARY_DIR}/link-maps)
    set(map_name $<TARGET_FILE_NAME:${target}>.map)
    if(WIN32)
      # LLD's own map names archive members without their archives; the
      # one in the form of Microsoft's linker names both.  Named relative
      # to the folder the linker runs in: the PDB records the linker's
      # command line, and the DLL the PDB's hash.
      # (Ninja links in the top build folder, Makefiles in the target's.)
      set(linker_folder ${CMAKE_CURRENT_BINARY_DIR})
      if(CMAKE_GENERATOR MATCHES "Ninja")
        set(linker_folder ${CMAKE_BINARY_DIR})
      endif()
      file(RELATIVE_PATH relative ${linker_folder} ${maps})
      target_link_options(${target} PRIVATE "-Wl,-Xlink=/map:${relative}/${map_name}")
    else()
      target_link_options(${target} PRIVATE "-Wl,-Map=${maps}/${map_name}")
    endif()
    file(MAKE_DIRECTORY ${maps})
  endif()
  if(WIN32 AND type STREQUAL "EXECUTABLE")
    # The win32 model's configuration headers ahead of the POSIX model's
    # (a target's include folders come before the compiler flags), and its
    # archives ahead of those the compiler's driver names: LLD takes each
    # symbol from the first archive that defines it, so the POSIX model's
    # (and winpthreads) give nothing.
    set(model ${VYKOSTRA_MINGW_GCC_win32})
    target_include_directories(${target} SYSTEM BEFORE PRIVATE
      ${model}/include/c++/${CMAKE_CXX_COMPILER_TARGET})
    target_link_libraries(${target} PRIVATE
      ${model}/libstdc++.a ${model}/libgcc_eh.a ${model}/libgcc.a)
    target_link_options(${target} PRIVATE ${VYKOSTRA_WINDOWS_DLL_VERSION_FLAGS})
  endif()
  if(WIN32 AND type STREQUAL "SHARED_LIBRARY")
    # The PDB beside the DLL, named after it (an empty --pdb=: the linker
    # records no build path for it), with sources and objects under
    # C:/vykostra rather than the build folder.
    set(pdb $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.pdb)
    target_link_options(${target} PRIVATE "-Wl,--pdb=" "-Wl,-Xlink=/pdbaltpath:%_PDB%"
      "-Wl,-Xlink=/pdbsourcepath:C:/vykostra")
    set_property(TARGET ${target} APPEND PROPERTY ADDITIONAL_CLEAN_FILES ${pdb})
    install(FILES ${pdb} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT debug EXCLUDE_FROM_ALL)
    return()
  endif()
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
