# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# Included by check_install.cmake and check_signed.cmake once CPack has
# made the packages in PACKAGES: each package has its bill of materials
# beside it, listed in SHA256SUMS, and each document holds, as CycloneDX
# 1.6 words it:
#   - containment: the package (the main component) nests every regular
#     file it ships, a `file` component whose SHA-256 is the file's, and
#     nothing else; each binary nests what is linked into it, at least
#     the parts its row below names, each with the version of the Debian
#     package that holds it (as dpkg says now: never the compiler's
#     folder name), a package URL of that version and a licence, which
#     the binary's licence and the package's name too;
#   - dependencies: each binary's entry names what it loads, at least its
#     row's; every file has an entry; every reference is a bom-ref of the
#     document, and no bom-ref is given twice;
#   - its serial number derived from the rest of the document.
# Where VALIDATOR (the folder tests/sbom/install.cmake installed) and NODE
# are given, the CycloneDX library's strict JSON validator checks every
# document.  Where CPACK_CONFIG is given (a build's CPackConfig.cmake), a
# binary without its link map stops the bill of materials.
cmake_policy(PUSH)
cmake_policy(VERSION 3.25)

# PACKAGE BINARY (regular expressions) LINKED-IN LOADED (lists apart by
# ','): every binary a package ships has its row, naming what must be
# there at least.  A part given as NAME:PATTERN comes from a Debian
# package whose name matches PATTERN (the Windows tool's C++ library is
# GCC's win32 thread model, not the POSIX one beside it).
set(binaries
  "\\.zip$ /bin/VYKOSTRA\\.dll$ mingw-w64-crt msvcrt.dll"
  "\\.zip$ /bin/pgrmsg-collapse\\.exe$ libgcc:-win32$,libstdc++:-win32$,mingw-w64-crt KERNEL32.dll,msvcrt.dll"
  "\\.(deb|tar\\.gz)$ /libVYKOSTRA\\.so\\.[0-9.]+$ glibc,libgcc libc.so.6"
  "\\.(deb|tar\\.gz)$ /bin/pgrmsg-collapse$ glibc,libgcc libc.so.6,libstdc++.so.6")

find_program(DPKG_QUERY dpkg-query)

# Every bom-ref under the component at JSON path ARGN, into `refs`.
function(collect_refs doc)
  string(JSON ref ERROR_VARIABLE missing GET "${doc}" ${ARGN} bom-ref)
  if(NOT missing)
    if(ref IN_LIST refs)
      message(FATAL_ERROR "${name}.cdx.json gives the bom-ref ${ref} twice")
    endif()
    list(APPEND refs "${ref}")
  endif()
  string(JSON count ERROR_VARIABLE missing LENGTH "${doc}" ${ARGN} components)
  if(NOT missing AND count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
      collect_refs("${doc}" ${ARGN} components ${i})
    endforeach()
  endif()
  set(refs "${refs}" PARENT_SCOPE)
endfunction()

file(STRINGS ${PACKAGES}/SHA256SUMS sums)
file(GLOB packages ${PACKAGES}/*.deb ${PACKAGES}/*.tar.gz ${PACKAGES}/*.zip)
set(documents "")
foreach(package IN LISTS packages)
  get_filename_component(name ${package} NAME)
  set(sbom ${package}.cdx.json)
  if(NOT EXISTS ${sbom})
    message(FATAL_ERROR "${name} has no bill of materials beside it")
  endif()
  if(NOT ";${sums};" MATCHES ";[0-9a-f]+  ${name}\\.cdx\\.json;")
    message(FATAL_ERROR "SHA256SUMS does not cover ${name}.cdx.json")
  endif()
  list(APPEND documents ${sbom})

  set(root ${WORK}/sbom/${name})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  if(name MATCHES "\\.deb$")
    run(dpkg-deb -x ${package} ${root})
  else()
    run(${CMAKE_COMMAND} -E chdir ${root} ${CMAKE_COMMAND} -E tar xf ${package})
  endif()
  file(GLOB_RECURSE shipped LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
  set(regular "")
  foreach(file IN LISTS shipped)
    if(NOT IS_SYMLINK ${root}/${file})
      list(APPEND regular ${file})
    endif()
  endforeach()

  file(READ ${sbom} doc)
  # The serial number: from the document without it, as make-sbom.cmake
  # derives it.
  string(JSON serial GET "${doc}" serialNumber)
  string(JSON rest REMOVE "${doc}" serialNumber)
  string(SHA256 content "${rest}")
  string(UUID expected NAMESPACE 6ba7b811-9dad-11d1-80b4-00c04fd430c8
    NAME "vykostra-sbom:${content}" TYPE SHA1)
  if(NOT serial STREQUAL "urn:uuid:${expected}")
    message(FATAL_ERROR "${name}.cdx.json has the serial number ${serial}, not the one its "
      "content gives (urn:uuid:${expected})")
  endif()

  string(JSON main_hash GET "${doc}" metadata component hashes 0 content)
  file(SHA256 ${package} hash)
  if(NOT main_hash STREQUAL hash)
    message(FATAL_ERROR "${name}.cdx.json gives the package the SHA-256 ${main_hash}, not ${hash}")
  endif()
  string(JSON package_licence GET "${doc}" metadata component licenses 0)
  set(refs "")
  collect_refs("${doc}" metadata component)
  string(JSON count LENGTH "${doc}" components)
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
      string(JSON type GET "${doc}" components ${i} type)
      if(type STREQUAL "file")
        message(FATAL_ERROR "${name}.cdx.json lists a file outside the package")
      endif()
      collect_refs("${doc}" components ${i})
    endforeach()
  endif()

  # Dependencies: by their files' references.
  string(JSON count LENGTH "${doc}" dependencies)
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    string(JSON ref GET "${doc}" dependencies ${i} ref)
    string(JSON needs GET "${doc}" dependencies ${i} dependsOn)
    string(JSON n LENGTH "${needs}")
    set(loads "")
    if(n GREATER 0)
      math(EXPR m "${n} - 1")
      foreach(j RANGE ${m})
        string(JSON need GET "${needs}" ${j})
        list(APPEND loads "${need}")
      endforeach()
    endif()
    foreach(r IN ITEMS "${ref}" ${loads})
      if(NOT r IN_LIST refs)
        message(FATAL_ERROR "${name}.cdx.json: its dependencies name ${r}, no component of it")
      endif()
    endforeach()
    string(MAKE_C_IDENTIFIER "${ref}" id)
    set(loads_${id} "${loads}")
    set(graphed_${id} ON)
  endforeach()

  string(JSON count LENGTH "${doc}" metadata component components)
  math(EXPR last "${count} - 1")
  set(listed "")
  foreach(i RANGE ${last})
    string(JSON component GET "${doc}" metadata component components ${i})
    string(JSON type GET "${component}" type)
    string(JSON file GET "${component}" name)
    string(JSON ref GET "${component}" bom-ref)
    if(NOT type STREQUAL "file")
      message(FATAL_ERROR "${name}.cdx.json: the package holds ${file}, not a file")
    endif()
    string(JSON file_hash GET "${component}" hashes 0 content)
    if(NOT EXISTS ${root}/${file})
      message(FATAL_ERROR "${name}.cdx.json lists ${file}, which it does not hold")
    endif()
    file(SHA256 ${root}/${file} hash)
    if(NOT file_hash STREQUAL hash)
      message(FATAL_ERROR "${name}.cdx.json: ${file} has the SHA-256 ${hash}, not ${file_hash}")
    endif()
    list(APPEND listed ${file})
    string(MAKE_C_IDENTIFIER "${ref}" id)
    if(NOT graphed_${id})
      message(FATAL_ERROR "${name}.cdx.json: ${file} has no entry in the dependencies")
    endif()

    # A binary and its row.
    file(READ ${root}/${file} magic LIMIT 4 HEX)
    if(NOT (magic STREQUAL "7f454c46" OR magic MATCHES "^4d5a")
       OR file MATCHES "(^|/)lib/debug/|\\.debug$")
      continue()
    endif()
    set(row "")
    foreach(candidate IN LISTS binaries)
      string(REPLACE " " ";" candidate "${candidate}")
      list(GET candidate 0 package_pattern)
      list(GET candidate 1 binary_pattern)
      if(name MATCHES "${package_pattern}" AND "/${file}" MATCHES "${binary_pattern}")
        set(row "${candidate}")
      endif()
    endforeach()
    if(NOT row)
      message(FATAL_ERROR "${name} ships the binary ${file}, which has no row in check_sbom.cmake")
    endif()
    list(GET row 2 wanted_parts)
    list(GET row 3 wanted_loads)
    string(REPLACE "," ";" wanted_parts "${wanted_parts}")
    string(REPLACE "," ";" wanted_loads "${wanted_loads}")
    foreach(library IN LISTS wanted_loads)
      if(NOT "loads:${library}" IN_LIST loads_${id})
        message(FATAL_ERROR "${name}.cdx.json: ${file} loads ${library}, which its dependencies "
          "do not name (they name: ${loads_${id}})")
      endif()
    endforeach()
    string(JSON binary_licence GET "${component}" licenses 0)
    string(JSON parts_count ERROR_VARIABLE missing LENGTH "${component}" components)
    if(missing)
      set(parts_count 0)
    endif()
    set(parts "")
    if(parts_count GREATER 0)
      math(EXPR last_part "${parts_count} - 1")
      foreach(j RANGE ${last_part})
        string(JSON part GET "${component}" components ${j})
        string(JSON part_name GET "${part}" name)
        list(APPEND parts ${part_name})
        string(JSON version ERROR_VARIABLE missing GET "${part}" version)
        string(JSON purl ERROR_VARIABLE missing_purl GET "${part}" purl)
        # The version is the Debian package's its URL names, as dpkg gives
        # it.  Without dpkg make-sbom.cmake could not ask, and warned.
        if(missing OR missing_purl)
          if(DPKG_QUERY)
            message(FATAL_ERROR "${name}.cdx.json: ${part_name} in ${file} has no version "
              "or package URL")
          endif()
        elseif(NOT purl MATCHES "^pkg:deb/debian/([^@]+)@([^?]+)\\?arch=")
          message(FATAL_ERROR "${name}.cdx.json: ${part_name} in ${file}: ${purl} is no "
            "Debian package URL")
        else()
          set(deb ${CMAKE_MATCH_1})
          set(purl_version ${CMAKE_MATCH_2})
          string(REPLACE "%2B" "+" deb "${deb}")
          list(APPEND debs_of_${id}_${part_name} ${deb})
          string(REPLACE "%2B" "+" purl_version "${purl_version}")
          string(REPLACE "%3A" ":" purl_version "${purl_version}")
          set(installed "${version}")
          if(DPKG_QUERY)
            execute_process(COMMAND ${DPKG_QUERY} -W "-f=\${Version}" ${deb}
              OUTPUT_VARIABLE installed ERROR_QUIET)
          endif()
          if(NOT purl_version STREQUAL version OR NOT installed STREQUAL version)
            message(FATAL_ERROR "${name}.cdx.json: ${part_name} in ${file} has the version "
              "${version}, its package URL ${purl_version}, dpkg's ${deb} ${installed}")
          endif()
        endif()
        string(JSON licence ERROR_VARIABLE missing GET "${part}" licenses 0 expression)
        if(missing)
          string(JSON licence ERROR_VARIABLE missing GET "${part}" licenses 0 license id)
        endif()
        if(missing)
          message(FATAL_ERROR "${name}.cdx.json: ${part_name} in ${file} has no licence")
        endif()
        string(REPLACE " AND " ";" terms "${licence}")
        foreach(term IN LISTS terms)
          foreach(holder binary_licence package_licence)
            string(FIND "${${holder}}" "${term}" at)
            if(at EQUAL -1)
              message(FATAL_ERROR "${name}.cdx.json: ${file} holds ${part_name} (${licence}), "
                "which its licence or the package's does not name: ${${holder}}")
            endif()
          endforeach()
        endforeach()
      endforeach()
    endif()
    foreach(part IN LISTS wanted_parts)
      string(REGEX REPLACE ":.*$" "" part_name "${part}")
      if(NOT part_name IN_LIST parts)
        message(FATAL_ERROR "${name}.cdx.json: ${file} does not say that ${part_name} is linked "
          "into it (it says: ${parts})")
      endif()
      if(part MATCHES ":(.*)$" AND DPKG_QUERY)
        set(pattern "${CMAKE_MATCH_1}")
        foreach(deb IN LISTS debs_of_${id}_${part_name})
          if(NOT deb MATCHES "${pattern}")
            message(FATAL_ERROR "${name}.cdx.json: ${file} holds ${part_name} from the "
              "package ${deb}, not from one matching ${pattern}")
          endif()
        endforeach()
      endif()
    endforeach()
  endforeach()
  list(SORT listed)
  list(SORT regular)
  if(NOT listed STREQUAL regular)
    message(FATAL_ERROR "${name}.cdx.json lists the files\n${listed}\nwhere the package holds\n${regular}")
  endif()
endforeach()
if(NOT documents)
  message(FATAL_ERROR "no packages in ${PACKAGES}")
endif()

# A binary whose link map is gone: no bill of materials, and so no package.
if(CPACK_CONFIG)
  set(probe ${WORK}/sbom-without-map)
  file(REMOVE_RECURSE ${probe})
  file(MAKE_DIRECTORY ${probe}/maps ${probe}/out)
  list(GET packages 0 package)
  foreach(candidate IN LISTS packages)
    if(candidate MATCHES "(\\.zip|\\.tar\\.gz)$" AND NOT candidate MATCHES "-symbols\\.zip$")
      set(package ${candidate})
    endif()
  endforeach()
  file(WRITE ${probe}/run.cmake "include(\"${CPACK_CONFIG}\")
set(CPACK_TOPLEVEL_DIRECTORY \"${probe}\")
set(CPACK_PACKAGE_DIRECTORY \"${probe}/out\")
set(CPACK_PACKAGE_FILES \"${package}\")
set(CPACK_VYKOSTRA_LINK_MAPS \"${probe}/maps\")
include(\"${SOURCE}/packaging/make-sbom.cmake\")
")
  execute_process(COMMAND ${CMAKE_COMMAND} -P ${probe}/run.cmake
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(status EQUAL 0 OR NOT out MATCHES "has no link map")
    message(FATAL_ERROR "with no link maps, the bill of materials of ${package} is still "
      "made:\n${out}")
  endif()
endif()

if(VALIDATOR AND NODE)
  file(SHA256 ${SOURCE}/tests/sbom/package-lock.json wanted)
  file(SHA256 ${VALIDATOR}/package-lock.json installed)
  if(NOT wanted STREQUAL installed)
    message(FATAL_ERROR "the validator in ${VALIDATOR} is not tests/sbom/package-lock.json's: "
      "run `cmake -P tests/sbom/install.cmake` again")
  endif()
  run(${CMAKE_COMMAND} -E env NODE_PATH=${VALIDATOR}/node_modules
    ${NODE} ${SOURCE}/tests/sbom/validate.js ${documents})
endif()
cmake_policy(POP)
