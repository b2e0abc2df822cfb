# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# The Windows DLL's benchmark (dll_bench.cpp), run by the target bench
# under the Wine the tests use, in this build folder's prefix: this build's
# VYKOSTRA.dll against one built here from an earlier revision's src/ and
# include/ (VYKOSTRA_BENCH_BASELINE; taken with `git archive`), both loaded
# in one process and called in turn.  Without git, the revision or Wine,
# it says what it cannot do: no comparison, or no run at all (exit 0).
set(VYKOSTRA_BENCH_BASELINE 466d272 CACHE STRING
  "Revision whose DLL the Windows benchmark compares this build's with (empty: none)")

add_executable(vykostra_dll_bench dll_bench.cpp)
target_link_libraries(vykostra_dll_bench PRIVATE vykostra_objects pgrmsg_host vykostra_warnings)
target_link_options(vykostra_dll_bench PRIVATE -static)

# The baseline's sources, extracted again only when the revision changes.
set(baseline_why "")
set(baseline_dir ${CMAKE_CURRENT_BINARY_DIR}/baseline-source)
find_package(Git QUIET)
if(NOT VYKOSTRA_BENCH_BASELINE)
  set(baseline_why "VYKOSTRA_BENCH_BASELINE is empty")
elseif(NOT GIT_FOUND)
  set(baseline_why "git is not installed")
else()
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} rev-parse --verify --quiet
      "${VYKOSTRA_BENCH_BASELINE}^{commit}"
    OUTPUT_VARIABLE baseline_commit OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0)
    set(baseline_why "${PROJECT_SOURCE_DIR} has no git history holding ${VYKOSTRA_BENCH_BASELINE}")
  endif()
endif()
if(NOT baseline_why)
  set(stamp ${baseline_dir}/commit.txt)
  set(extracted "")
  if(EXISTS ${stamp})
    file(READ ${stamp} extracted)
  endif()
  if(NOT extracted STREQUAL baseline_commit)
    file(REMOVE_RECURSE ${baseline_dir})
    file(MAKE_DIRECTORY ${baseline_dir})
    # Its toolchain file too, where it has one, for the flags below.
    set(paths src include)
    set(toolchain cmake/toolchain-${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32.cmake)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} cat-file -e
        ${baseline_commit}:${toolchain}
      RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(status EQUAL 0)
      list(APPEND paths ${toolchain})
    endif()
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} archive
        -o ${baseline_dir}/source.tar ${baseline_commit} ${paths}
      RESULT_VARIABLE status ERROR_VARIABLE error)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "git archive of ${VYKOSTRA_BENCH_BASELINE} failed: ${error}")
    endif()
    file(ARCHIVE_EXTRACT INPUT ${baseline_dir}/source.tar DESTINATION ${baseline_dir})
    file(REMOVE ${baseline_dir}/source.tar)
    file(WRITE ${stamp} "${baseline_commit}")
  endif()

  # Built as that revision built its DLL: the instruction sets its
  # toolchain file gave every compile (466d272's 32-bit one: -msse2), the
  # DLL's definitions, options and link, this build's optimisation.
  set(baseline_flags "")
  file(GLOB toolchain_file ${baseline_dir}/cmake/toolchain-*.cmake)
  if(toolchain_file)
    file(STRINGS ${toolchain_file} lines REGEX "CMAKE_CXX_FLAGS_INIT")
    foreach(line IN LISTS lines)
      string(REGEX MATCHALL " -m[a-z0-9.=-]+" found "${line}")
      list(APPEND baseline_flags ${found})
    endforeach()
    list(TRANSFORM baseline_flags STRIP)
  endif()
  file(GLOB baseline_sources ${baseline_dir}/src/*.cpp)
  list(FILTER baseline_sources EXCLUDE REGEX "_posix\\.cpp$")
  add_library(vykostra_baseline SHARED ${baseline_sources})
  target_compile_features(vykostra_baseline PRIVATE cxx_std_17)
  target_include_directories(vykostra_baseline PRIVATE ${baseline_dir}/include ${baseline_dir}/src)
  target_compile_definitions(vykostra_baseline PRIVATE VYKOSTRA_BUILDING __USE_MINGW_ANSI_STDIO=0)
  target_compile_options(vykostra_baseline PRIVATE -fno-exceptions -fno-rtti ${baseline_flags})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(entry _VykostraDllEntry@12)
  else()
    set(entry VykostraDllEntry)
  endif()
  target_link_options(vykostra_baseline PRIVATE -nostdlib -Wl,--entry,${entry})
  target_link_libraries(vykostra_baseline PRIVATE msvcrt kernel32 gcc)
  set_target_properties(vykostra_baseline PROPERTIES OUTPUT_NAME VYKOSTRA PREFIX ""
    CXX_VISIBILITY_PRESET hidden RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/baseline
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/baseline)
  set(baseline_arguments $<TARGET_FILE:vykostra_baseline> ${VYKOSTRA_BENCH_BASELINE})
  add_dependencies(vykostra_dll_bench vykostra_baseline)
else()
  set(baseline_arguments - "${baseline_why}")
endif()
add_dependencies(vykostra_dll_bench VYKOSTRA)

# Under the Wine the tests use (the runner decides: natively on the CPU,
# as a timing needs); where none runs it, the target says why and ends.
add_custom_target(bench
  COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${PROJECT_SOURCE_DIR}/tests PYTHONDONTWRITEBYTECODE=1
    ${Python3_EXECUTABLE} -m check --bench ${PROJECT_BINARY_DIR}/facts.json --
    $<TARGET_FILE:vykostra_dll_bench> $<TARGET_FILE:VYKOSTRA> ${baseline_arguments}
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  USES_TERMINAL
  COMMENT "The DLL against ${VYKOSTRA_BENCH_BASELINE}'s, under Wine"
  VERBATIM)
add_dependencies(bench vykostra_dll_bench)
