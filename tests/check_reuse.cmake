# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# `reuse lint` on the sources alone, copied into WORK/sources: the files
# git lists (tracked, and new ones it does not ignore) where git answers
# for SOURCE; elsewhere (a source archive, a clone git refuses as owned by
# another user, or GIT empty) every file of SOURCE but those of .git, of
# build folders (any folder with a CMakeCache.txt) and those the simple
# patterns of SOURCE/.gitignore name (build/: CI's logs too).  `reuse` tells
# sources from build output only through git, so it is never pointed at
# SOURCE itself.
# Variables: REUSE, SOURCE, WORK, GIT (optional).
cmake_policy(VERSION 3.25)
set(files "")
set(how "")
if(GIT)
  # Names come one a line, as they stand (ours need no quoting).
  execute_process(COMMAND ${GIT} -C ${SOURCE} -c core.quotePath=off
      ls-files --cached --others --exclude-standard
    RESULT_VARIABLE status OUTPUT_VARIABLE listed ERROR_VARIABLE why)
  if(status EQUAL 0)
    string(REGEX REPLACE "\n$" "" listed "${listed}")
    string(REPLACE "\n" ";" files "${listed}")
  endif()
  if(NOT status EQUAL 0)
    string(REGEX REPLACE "\n.*" "" why "${why}")
    set(how "git does not answer for ${SOURCE} (${why})")
  elseif(NOT "CMakeLists.txt" IN_LIST files)
    set(files "")
    set(how "git lists none of the sources in ${SOURCE}")
  else()
    set(how "the files git lists")
  endif()
else()
  set(how "git is not used")
endif()

if(NOT files)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${SOURCE} ${SOURCE}/*)
  set(caches ${files})
  list(FILTER caches INCLUDE REGEX "(^|/)CMakeCache\\.txt$")
  set(excluded "^(.*/)?\\.git(/|$)")
  foreach(cache IN LISTS caches)
    get_filename_component(folder ${cache} DIRECTORY)
    string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" folder "${folder}")
    string(APPEND excluded "|^${folder}/")
  endforeach()
  # .gitignore's patterns without '!', '[' or '**': a trailing '/' for a
  # folder, a '/' before the end anchors the pattern at SOURCE.
  set(patterns "")
  if(EXISTS ${SOURCE}/.gitignore)
    file(STRINGS ${SOURCE}/.gitignore patterns REGEX "^[^#!]")
  endif()
  foreach(pattern IN LISTS patterns)
    string(STRIP "${pattern}" pattern)
    if(pattern STREQUAL "" OR pattern MATCHES "[[]" OR pattern MATCHES "[*][*]")
      continue()
    endif()
    set(end "(/|$)")
    if(pattern MATCHES "/$")
      set(end "/")
      string(REGEX REPLACE "/$" "" pattern "${pattern}")
    endif()
    set(start "^(.*/)?")
    if(pattern MATCHES "/")
      set(start "^")
      string(REGEX REPLACE "^/" "" pattern "${pattern}")
    endif()
    string(REGEX REPLACE "([+.()^$|])" "\\\\\\1" pattern "${pattern}")
    string(REPLACE "*" "[^/]*" pattern "${pattern}")
    string(REPLACE "?" "[^/]" pattern "${pattern}")
    string(APPEND excluded "|${start}${pattern}${end}")
  endforeach()
  list(FILTER files EXCLUDE REGEX "${excluded}")
  string(APPEND how ": every file of the tree but .git, build folders and what .gitignore names")
endif()
message(STATUS "reuse lint on a copy of ${SOURCE}: ${how}")

file(REMOVE_RECURSE ${WORK})
foreach(file IN LISTS files)
  if(EXISTS ${SOURCE}/${file} OR IS_SYMLINK ${SOURCE}/${file})
    get_filename_component(folder ${WORK}/sources/${file} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(COPY_FILE ${SOURCE}/${file} ${WORK}/sources/${file})
  endif()
endforeach()
# The copy lies in the build folder, which may lie in a git work tree that
# ignores it: `reuse` must not find that one.
set(ENV{GIT_CEILING_DIRECTORIES} ${WORK})
execute_process(COMMAND ${REUSE} --root ${WORK}/sources lint RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "reuse lint failed on the sources (${how})")
endif()
