# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# facts.json in the build folder: what this build is and where its pieces
# lie, for the checks (tests/check) and the packaging steps (packaging/),
# which read it rather than taking each fact as an argument.
set(facts_targets "")
foreach(pair library:VYKOSTRA tool:pgrmsg-collapse layout_test:layout_test
    portable_tests:vykostra_portable_tests runner_probe:runner_probe
    scrub_probe_glibc:scrub_probe_glibc scrub_probe_cpuid:scrub_probe_cpuid
    scrub_probe_windows:scrub_probe_windows close_fails:close_fails
    variant_walk:variant_walk variant_diagnostic:variant_diagnostic
    variant_scrub:variant_scrub variant_quiet:variant_quiet collapse_fuzz:collapse_fuzz)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 key)
  list(GET pair 1 target)
  if(TARGET ${target})
    string(APPEND facts_targets "\"${key}\": \"$<TARGET_FILE:${target}>\", ")
  endif()
endforeach()
# The library as hosts load it: the soname's link, or the DLL.
set(loaded $<IF:$<BOOL:${WIN32}>,TARGET_FILE,TARGET_SONAME_FILE>)
foreach(target VYKOSTRA variant_walk variant_diagnostic variant_scrub variant_quiet)
  if(TARGET ${target})
    string(APPEND facts_targets "\"${target}_loaded\": \"$<${loaded}:${target}>\", ")
  endif()
endforeach()
set(objects "")
foreach(target pgrmsg-collapse pgrmsg_host)
  if(TARGET ${target})
    list(APPEND objects "$<JOIN:$<TARGET_OBJECTS:${target}>,\", \">")
  endif()
endforeach()
list(JOIN objects "\", \"" objects)
string(APPEND facts_targets "\"tool_objects\": [\"${objects}\"]")

math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
string(REPLACE ";" "\", \"" emulator "${VYKOSTRA_TOOLCHAIN_EMULATOR}")
if(emulator)
  set(emulator "\"${emulator}\"")
endif()
# Strings as JSON holds them: a flag may quote.
foreach(var PROJECT_SOURCE_DIR PROJECT_BINARY_DIR CMAKE_C_FLAGS CMAKE_EXE_LINKER_FLAGS
    CMAKE_TOOLCHAIN_FILE CMAKE_C_COMPILER CMAKE_SYSROOT VYKOSTRA_SANITIZE)
  string(REPLACE "\\" "\\\\" json_${var} "${${var}}")
  string(REPLACE "\"" "\\\"" json_${var} "${json_${var}}")
endforeach()
foreach(flag VYKOSTRA_COVERAGE VYKOSTRA_DEBS BUILD_TESTING WIN32 CMAKE_CROSSCOMPILING)
  if(${flag})
    set(json_${flag} true)
  else()
    set(json_${flag} false)
  endif()
endforeach()
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/facts.json CONTENT "{
  \"source\": \"${json_PROJECT_SOURCE_DIR}\",
  \"build\": \"${json_PROJECT_BINARY_DIR}\",
  \"version\": \"${PROJECT_VERSION}\",
  \"system\": \"${CMAKE_SYSTEM_NAME}\",
  \"processor\": \"${CMAKE_SYSTEM_PROCESSOR}\",
  \"bits\": ${bits},
  \"windows\": ${json_WIN32},
  \"crosscompiling\": ${json_CMAKE_CROSSCOMPILING},
  \"emulator\": [${emulator}],
  \"build_type\": \"${CMAKE_BUILD_TYPE}\",
  \"sanitize\": \"${json_VYKOSTRA_SANITIZE}\",
  \"coverage\": ${json_VYKOSTRA_COVERAGE},
  \"testing\": ${json_BUILD_TESTING},
  \"debs\": ${json_VYKOSTRA_DEBS},
  \"library_architecture\": \"${CMAKE_LIBRARY_ARCHITECTURE}\",
  \"generator\": \"${CMAKE_GENERATOR}\",
  \"toolchain\": \"${json_CMAKE_TOOLCHAIN_FILE}\",
  \"c_compiler\": \"${json_CMAKE_C_COMPILER}\",
  \"c_target\": \"${CMAKE_C_COMPILER_TARGET}\",
  \"sysroot\": \"${json_CMAKE_SYSROOT}\",
  \"c_flags\": \"${json_CMAKE_C_FLAGS}\",
  \"link_flags\": \"${json_CMAKE_EXE_LINKER_FLAGS}\",
  \"objdump\": \"${CMAKE_OBJDUMP}\",
  \"nm\": \"${CMAKE_NM}\",
  \"readelf\": \"${CMAKE_READELF}\",
  \"dlltool\": \"${VYKOSTRA_DLLTOOL}\",
  \"msvc_import_library\": \"${VYKOSTRA_MSVC_IMPORT_LIBRARY}\",
  \"mingw_gcc_win32\": \"${VYKOSTRA_MINGW_GCC_win32}\",
  \"targets\": {${facts_targets}}
}
")
