# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# How this build's test programs (and benchmarks) run on this host, found
# out by running one.  Hosts of one kind differ: some execute 32-bit
# programs and some do not, and 32-bit Wine needs that too.  The answer lands in
#   VYKOSTRA_TEST_RUNNER       how: natively, under qemu-i386, under Wine
#                              (the machine's, or the i386 root's)
#   VYKOSTRA_TEST_SKIP_REASON  set when Windows programs cannot run here:
#                              the tests that run one are then reported
#                              skipped, with this reason
# and, for a 32-bit Linux build on a host that cannot execute it, in
# CMAKE_CROSSCOMPILING_EMULATOR (qemu-i386).
set(VYKOSTRA_TEST_RUNNER natively)
set(VYKOSTRA_TEST_SKIP_REASON "")

include(${CMAKE_CURRENT_LIST_DIR}/runs-probe.cmake)

if(CMAKE_CROSSCOMPILING AND (BUILD_TESTING OR VYKOSTRA_BENCH))
  set(probe ${PROJECT_BINARY_DIR}/runner-probe${CMAKE_EXECUTABLE_SUFFIX})
  try_compile(probe_built SOURCE_FROM_CONTENT probe.c "${VYKOSTRA_PROBE_SOURCE}"
    COPY_FILE ${probe})
  if(NOT probe_built)
    message(FATAL_ERROR "cannot build a test program for ${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR}")
  endif()

  if(WIN32)
    # The tests' Wine prefix is made here, once, by the probe itself.
    file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
    set(prefix ${PROJECT_BINARY_DIR}/tests/wineprefix)
    set(ENV{VYKOSTRA_WINEPREFIX} ${prefix})
    vykostra_runs_probe(${probe} runs why ${CMAKE_CROSSCOMPILING_EMULATOR})
    # CI names what it could not install (32-bit Wine is an i386 package).
    if(NOT runs AND DEFINED ENV{VYKOSTRA_I386_UNAVAILABLE} AND CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(why "$ENV{VYKOSTRA_I386_UNAVAILABLE}")
    endif()
    if(runs)
      set(VYKOSTRA_TEST_RUNNER "under Wine (the machine's)")
    elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # The machine's Wine cannot run 32-bit programs: the i386 root's may
      # (cmake/make-i386-root), where this host executes i386 code itself.
      # Wine under an emulator does not get as far as making its prefix.
      set(why "the machine's Wine: ${why}")
      find_program(VYKOSTRA_ARCH_TEST arch-test)
      set(root_why "")
      if(NOT VYKOSTRA_ARCH_TEST)
        set(root_why "arch-test is not installed (Debian: arch-test), so whether this host executes i386 programs is not known")
      else()
        execute_process(COMMAND ${VYKOSTRA_ARCH_TEST} -n i386 RESULT_VARIABLE status
          OUTPUT_QUIET ERROR_QUIET)
        if(NOT status EQUAL 0)
          set(root_why "this host cannot execute i386 programs (arch-test -n i386), and Wine is not run under an emulator")
        endif()
      endif()
      if(NOT root_why)
        execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/make-i386-root --where
          RESULT_VARIABLE status OUTPUT_VARIABLE root OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT status EQUAL 0)
          set(root_why "no complete root at ${root}: make it with cmake/make-i386-root")
          if(DEFINED ENV{VYKOSTRA_I386_ROOT_UNAVAILABLE})
            set(root_why "$ENV{VYKOSTRA_I386_ROOT_UNAVAILABLE}")
          endif()
        endif()
      endif()
      if(NOT root_why)
        # A prefix that the machine's Wine began is not the root's Wine's.
        file(REMOVE_RECURSE ${prefix})
        list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 wine_run)
        set(in_root ${wine_run} --root ${root} --bind ${PROJECT_SOURCE_DIR}
          --bind ${PROJECT_BINARY_DIR} wine)
        vykostra_runs_probe(${probe} runs root_why ${in_root})
        if(runs)
          set(CMAKE_CROSSCOMPILING_EMULATOR ${in_root})
          set(VYKOSTRA_TEST_RUNNER "under Wine (the i386 root's, ${root})")
        endif()
      endif()
      if(NOT runs)
        set(why "${why}; the i386 root: ${root_why}")
      endif()
    endif()
    if(NOT runs)
      set(VYKOSTRA_TEST_RUNNER "not at all (Wine cannot start them)")
      set(VYKOSTRA_TEST_SKIP_REASON
        "Wine cannot start ${CMAKE_SYSTEM_PROCESSOR} Windows programs on this host (${why})")
      message(STATUS "Skipping the tests that run Windows programs: ${VYKOSTRA_TEST_SKIP_REASON}")
    endif()
  elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    vykostra_runs_probe(${probe} runs why)
    if(NOT runs)
      find_program(VYKOSTRA_QEMU qemu-i386)
      if(VYKOSTRA_QEMU)
        vykostra_runs_probe(${probe} runs why ${VYKOSTRA_QEMU})
      endif()
      if(NOT runs)
        message(FATAL_ERROR "This host cannot run ${CMAKE_SYSTEM_PROCESSOR} programs: "
          "install qemu-i386 (Debian package qemu-user) to run the tests under emulation")
      endif()
      set(CMAKE_CROSSCOMPILING_EMULATOR ${VYKOSTRA_QEMU})
      set(VYKOSTRA_TEST_RUNNER "under qemu-i386")
    endif()
  endif()
  file(REMOVE ${probe})
endif()

# CPU models for the scrub's choice of loop: qemu-user answers cpuid as
# the model named by -cpu says (Debian: qemu-user).  VYKOSTRA_QEMU_CPU is
# the emulator for this build's Linux programs, or empty, with
# VYKOSTRA_QEMU_CPU_SKIP_REASON; VYKOSTRA_QEMU_CPU_VERSION its version,
# which says which instructions it runs (AVX2 from 7.2 on).
set(VYKOSTRA_QEMU_CPU "")
set(VYKOSTRA_QEMU_CPU_SKIP_REASON "")
set(VYKOSTRA_QEMU_CPU_VERSION "")
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86)$")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(qemu qemu-i386)
  else()
    set(qemu qemu-x86_64)
  endif()
  find_program(VYKOSTRA_QEMU_${qemu} ${qemu})
  if(VYKOSTRA_QEMU_${qemu})
    set(VYKOSTRA_QEMU_CPU ${VYKOSTRA_QEMU_${qemu}})
    execute_process(COMMAND ${VYKOSTRA_QEMU_CPU} --version OUTPUT_VARIABLE version ERROR_QUIET)
    if(version MATCHES "version ([0-9]+\\.[0-9]+(\\.[0-9]+)?)")
      set(VYKOSTRA_QEMU_CPU_VERSION ${CMAKE_MATCH_1})
    else()
      set(VYKOSTRA_QEMU_CPU "")
      set(VYKOSTRA_QEMU_CPU_SKIP_REASON
        "${qemu} --version gives no version: which instructions it runs is not known")
    endif()
  else()
    set(VYKOSTRA_QEMU_CPU_SKIP_REASON
      "${qemu} is not installed (Debian: qemu-user): no CPU model to run the scrub on")
  endif()
endif()

file(WRITE ${PROJECT_BINARY_DIR}/test-runner.txt
  "${VYKOSTRA_TEST_RUNNER}\n${VYKOSTRA_TEST_SKIP_REASON}\n")
