# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# The library's ABI against the baseline of its release (abi/ARCH.abi, the
# abidw description of the released library): the exported function and
# its symbol version, and the layout of every record it reaches.  abidiff
# fails on any change to them (its status is a bit mask: 4 an ABI change,
# 8 an incompatible one).  Reading the built library's types needs its
# debug information; a library without it fails rather than passes.
# With -DUPDATE=ON the baseline is written anew from the built library
# instead: a deliberate change, made in the same commit as the change and
# said so in CHANGELOG.md (`cmake --build build/PRESET --target abi-baseline`).
# Variables: ABIDW, ABIDIFF, LIBRARY, BASELINE, HEADERS, UPDATE.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/script_run.cmake)

if(UPDATE)
  # Only what a host sees: no build paths, no line numbers, no undefined
  # symbols, no types but those of the public header; type ids by content.
  run(${ABIDW} --no-corpus-path --no-show-locs --drop-undefined-syms
    --drop-private-types --headers-dir ${HEADERS} --type-id-style hash ${LIBRARY})
  file(WRITE ${BASELINE} "${out}")
  message(STATUS "Wrote ${BASELINE}")
  return()
endif()

execute_process(COMMAND ${ABIDIFF} --no-show-locs --fail-no-debug-info ${BASELINE} ${LIBRARY}
  RESULT_VARIABLE status OUTPUT_VARIABLE report ERROR_VARIABLE report)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${LIBRARY} differs from the ABI of its release (abidiff status "
    "${status}):\n${report}\nIf the change is deliberate, write the baseline anew with "
    "the target abi-baseline and say so in CHANGELOG.md.")
endif()
