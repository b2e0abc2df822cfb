# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# After each CPack generator: SHA256SUMS in the packages folder, in the
# form `sha256sum -c SHA256SUMS` checks there.  CPack runs this before it
# copies the generator's packages into the folder, so their sums are taken
# where they were made, and merged with the sums of the packages already
# there (other generators'), with each package's bill of materials
# (PACKAGE.cdx.json, made before by make-sbom.cmake).  The External
# generator's component list (.json) is not a package.
set(sums_file ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS)
set(lines "")
set(names "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name ${package} NAME)
  if(name MATCHES "\\.(deb|tar\\.gz|zip)$")
    file(SHA256 ${package} hash)
    list(APPEND lines "${name} ${hash}")
    list(APPEND names ${name})
    # Its bill of materials, already in the folder.
    set(sbom ${CPACK_PACKAGE_DIRECTORY}/${name}.cdx.json)
    if(EXISTS ${sbom})
      file(SHA256 ${sbom} hash)
      list(APPEND lines "${name}.cdx.json ${hash}")
      list(APPEND names ${name}.cdx.json)
    endif()
  endif()
endforeach()
if(EXISTS ${sums_file})
  file(STRINGS ${sums_file} old)
  foreach(line IN LISTS old)
    if(line MATCHES "^([0-9a-f]+)  (.*)$" AND NOT CMAKE_MATCH_2 IN_LIST names
       AND EXISTS ${CPACK_PACKAGE_DIRECTORY}/${CMAKE_MATCH_2})
      list(APPEND lines "${CMAKE_MATCH_2} ${CMAKE_MATCH_1}")
    endif()
  endforeach()
endif()
list(SORT lines)
set(sums "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^(.*) ([0-9a-f]+)$" "\\2  \\1\n" line "${line}")
  string(APPEND sums "${line}")
endforeach()
file(WRITE ${sums_file} "${sums}")
