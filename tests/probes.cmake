# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# Test programs that probe the library's decisions from inside, for the
# tests of this folder (included after its other targets).
#
# scrub_probe_windows: which scrub loop a Windows build's call runs, seen
# by a probe build of the library's own sources (scrub_probe.cpp, its
# vector searches counted) in which IsProcessorFeaturePresent answers as
# a row of the test says:
#   scrub_probe_windows LOOP OUTPUT-FILE [FEATURES]
# FEATURES are the processor features Windows is to say are present
# (numbers apart by commas, or "none"); without them Windows' own answers
# stand, and LOOP "native" expects the loop this CPU has.  It exits 0 when
# the long text took LOOP and every byte is the scrub's, 1 when not, and
# 77 with a "skipped: " line when a row says more than this CPU runs (AVX2
# on a CPU without it) or, native, Windows does not say whether this CPU's
# AVX2 runs.  The rows, each with both builds' expected loop:
#   10,40        avx2  (Windows knows AVX2)
#   10           sse2  (it does not: XP to early Windows 10)
#   10,39,41     sse2  (AVX and AVX-512F without AVX2: feature 40 alone)
#   none         nosse on i686, sse2 on x86_64
#   6            nosse on i686 (SSE is not SSE2), sse2 on x86_64
#   (no FEATURES) native
if(WIN32 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86)$"
   AND NOT VYKOSTRA_SANITIZE AND NOT VYKOSTRA_COVERAGE)
  add_executable(scrub_probe_windows ${CMAKE_CURRENT_LIST_DIR}/scrub_probe.cpp)
  target_include_directories(scrub_probe_windows PRIVATE
    ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
  # Compiled as the DLL's sources are: the runtime's own fprintf.
  target_compile_definitions(scrub_probe_windows PRIVATE
    VYKOSTRA_BUILDING __USE_MINGW_ANSI_STDIO=0)
  target_link_libraries(scrub_probe_windows PRIVATE vykostra_warnings)
  target_link_options(scrub_probe_windows PRIVATE -static)
endif()
