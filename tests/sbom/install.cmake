# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# cmake -P tests/sbom/install.cmake: installs the bills of materials'
# validator (this folder's package-lock.json, from npm) into
# build/sbom-validator of the source tree, where every build folder's tests
# find it; .ci/run does it once per run.  Variables (optional):
# DESTINATION (another folder: give the tests the same one in
# VYKOSTRA_SBOM_VALIDATOR), NODE, NPM.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/script_run.cmake)
if(NOT DESTINATION)
  get_filename_component(DESTINATION ${CMAKE_CURRENT_LIST_DIR}/../../build/sbom-validator
    ABSOLUTE)
endif()
if(NOT NODE)
  find_program(NODE node)
endif()
if(NOT NPM)
  find_program(NPM npm)
endif()
if(NOT NODE OR NOT NPM)
  message(FATAL_ERROR "node and npm are not installed")
endif()

# The oldest Node.js the locked packages accept (their `engines`).
file(READ ${CMAKE_CURRENT_LIST_DIR}/package-lock.json lock)
string(REGEX MATCHALL "\"node\": \">=[0-9.]+\"" engines "${lock}")
list(TRANSFORM engines REPLACE "^.*>=([0-9.]+)\"$" "\\1")
set(needed 0)
foreach(version IN LISTS engines)
  if(version VERSION_GREATER needed)
    set(needed ${version})
  endif()
endforeach()
run(${NODE} --version)
string(REGEX REPLACE "^v([0-9.]+).*$" "\\1" have "${out}")
if(have VERSION_LESS needed)
  message(FATAL_ERROR "Node.js ${have} is older than ${needed}, which the validator needs")
endif()

file(MAKE_DIRECTORY ${DESTINATION})
foreach(file package.json package-lock.json validate.js)
  file(COPY_FILE ${CMAKE_CURRENT_LIST_DIR}/${file} ${DESTINATION}/${file})
endforeach()
run(${NPM} ci --no-audit --no-fund WORKING_DIRECTORY ${DESTINATION})
message(STATUS "The validator is installed in ${DESTINATION}")
