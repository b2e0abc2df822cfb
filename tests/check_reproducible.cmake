# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# Reproducible builds: two copies of the source tree in different folders,
# each configured with the same preset, built and installed stripped with
# their debug information apart, must give byte-identical libraries (.so,
# .dll, .lib, .dll.a) and debug information (.debug, .pdb).  No time
# stamps, no build paths.  Run by .ci/run; by hand:
#   cmake -DSOURCE=$PWD -DWORK=/tmp/repro -DPRESETS="default;windows-x86_64" \
#         -P tests/check_reproducible.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/script_run.cmake)

file(REMOVE_RECURSE ${WORK})
set(trees ${WORK}/one/VYKOSTRA ${WORK}/two/elsewhere/vykostra-src)
foreach(tree IN LISTS trees)
  file(COPY ${SOURCE}/ DESTINATION ${tree} PATTERN .git EXCLUDE PATTERN build EXCLUDE)
endforeach()

set(failures "")
foreach(preset IN LISTS PRESETS)
  set(sums "")
  foreach(tree IN LISTS trees)
    run(${CMAKE_COMMAND} --preset ${preset} -DBUILD_TESTING=OFF WORKING_DIRECTORY ${tree})
    run(${CMAKE_COMMAND} --build ${tree}/build/${preset})
    set(prefix ${tree}/prefix-${preset})
    run(${CMAKE_COMMAND} --install ${tree}/build/${preset} --prefix ${prefix} --strip)
    run(${CMAKE_COMMAND} --install ${tree}/build/${preset} --prefix ${prefix} --component debug)
    file(GLOB_RECURSE libraries RELATIVE ${prefix} LIST_DIRECTORIES false
      ${prefix}/*.so.* ${prefix}/*.dll ${prefix}/*.lib ${prefix}/*.dll.a
      ${prefix}/*.debug ${prefix}/*.pdb)
    list(SORT libraries)
    set(sum "")
    foreach(library IN LISTS libraries)
      if(IS_SYMLINK ${prefix}/${library})
        continue()
      endif()
      file(SHA256 ${prefix}/${library} hash)
      string(APPEND sum "${library} ${hash}\n")
    endforeach()
    list(APPEND sums "${sum}")
  endforeach()
  list(GET sums 0 first)
  list(GET sums 1 second)
  if(first STREQUAL "")
    string(APPEND failures "${preset}: no library installed\n")
  elseif(NOT first STREQUAL second)
    string(APPEND failures "${preset} differs:\n${first}--- against ---\n${second}")
  else()
    message(STATUS "${preset}: reproducible\n${first}")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
