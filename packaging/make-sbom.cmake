# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# After each CPack generator, before the sums: beside each package in the
# packages folder, PACKAGE.cdx.json, its bill of materials in CycloneDX
# 1.6 JSON, made from what the package and its binaries say:
#   - the package as the main component (its SHA-256), and what it holds
#     as its nested components: every regular file it ships, a `file`
#     component with its SHA-256;
#   - nested in each binary, what the linker put into it from outside our
#     sources (its map, link-maps/NAME.map: a binary without one stops the
#     package), one library component per project, with the version of
#     the Debian package the linked files came from (dpkg) and the licence
#     their sources give (packaging/sbom.cmake); the binary's licence, and
#     the package's, name theirs beside ours;
#   - in the dependency graph, what each binary loads (DT_NEEDED entries,
#     or the DLLs it imports), each a component of its own outside the
#     package; files that load nothing depend on nothing.
# No time stamp: the same package gives the same document.  The serial
# number is derived from the document's content (all of it but the serial
# number), so that a document that differs in anything is another
# document, not a second one under the same serial number and version.
cmake_policy(PUSH)
cmake_policy(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/script_run.cmake)

set(windows ${CPACK_VYKOSTRA_SBOM_WINDOWS})
set(work ${CPACK_TOPLEVEL_DIRECTORY}/sbom)

# The components that linked files (archives and objects) belong to; a
# file of no known component is named by itself.
function(component_of entry result)
  if(entry MATCHES "^lib(std|sup)c\\+\\+\\.a$")
    set(name libstdc++)
  elseif(entry MATCHES "^libgcc(_eh|_s)?\\.a$" OR (NOT windows AND entry MATCHES "^crt(begin|end)"))
    set(name libgcc)
  elseif(entry STREQUAL "libgcov.a")
    set(name libgcov)
  elseif(windows AND entry MATCHES "^lib(win)?pthread\\.a$")
    set(name winpthreads)
  elseif(windows)
    set(name mingw-w64-crt)  # its start files, CRT code and import libraries
  elseif(entry MATCHES "^([gSr]?crt1|crti|crtn)\\.o$" OR entry MATCHES "^lib(c|c_nonshared|dl|m|pthread|rt)\\.a$")
    set(name glibc)
  else()
    set(name "${entry}")
  endif()
  set(${result} ${name} PARENT_SCOPE)
endfunction()

# The files from outside our sources that went into the binary `name`, by
# its map, as absolute paths.
function(linked_files name result)
  set(map ${CPACK_VYKOSTRA_LINK_MAPS}/${name}.map)
  if(NOT EXISTS ${map})
    message(FATAL_ERROR "${name} has no link map (${map}): its bill of materials could "
      "not say what is linked into it, so the package is not made. Build it again "
      "(cmake/shipped.cmake asks the linker for the map).")
  endif()
  file(READ ${map} text)
  set(paths "")
  if(windows)
    # Microsoft's form: "Lib:Object" for an archive's member, the object
    # alone for an object file given to the linker; both found where the
    # linker looks.
    string(REGEX MATCHALL " lib[A-Za-z0-9_+-]+:" archives "${text}")
    list(TRANSFORM archives REPLACE "^ (.*):$" "\\1.a")
    string(REGEX MATCHALL " [A-Za-z0-9_+-]+\\.o\n" objects "${text}")
    list(TRANSFORM objects STRIP)
    list(REMOVE_DUPLICATES archives)
    list(REMOVE_DUPLICATES objects)
    set(dirs ${CPACK_VYKOSTRA_LINK_DIRS})
    if(name MATCHES "\\.exe$")
      set(dirs ${CPACK_VYKOSTRA_PROGRAM_LINK_DIRS})
    endif()
    foreach(entry IN LISTS archives objects)
      set(found "")
      foreach(dir IN LISTS dirs)
        if(EXISTS ${dir}/${entry})
          set(found ${dir}/${entry})
          break()
        endif()
      endforeach()
      if(NOT found)
        message(FATAL_ERROR "${name}.map names ${entry}, found in none of the linker's "
          "folders: ${dirs}")
      endif()
      list(APPEND paths ${found})
    endforeach()
  else()
    # GNU ld's: archive members as /PATH/ARCHIVE(MEMBER), objects by
    # their paths; ours are named relative to the build folder.
    string(REGEX MATCHALL "[ \t\n]/[^ \t\n()]+\\.a\\(" archives "${text}")
    list(TRANSFORM archives REPLACE "^[ \t\n](.*)\\($" "\\1")
    string(REGEX MATCHALL "[ \t\n]/[^ \t\n()]+\\.o[ \t\n]" objects "${text}")
    list(TRANSFORM objects STRIP)
    list(APPEND paths ${archives} ${objects})
  endif()
  list(TRANSFORM paths REPLACE "/+$" "")
  set(normal "")
  foreach(path IN LISTS paths)
    cmake_path(NORMAL_PATH path)
    list(APPEND normal ${path})
  endforeach()
  list(REMOVE_DUPLICATES normal)
  list(SORT normal)
  set(${result} "${normal}" PARENT_SCOPE)
endfunction()

# The Debian package that holds `path`, as "NAME|VERSION|ARCHITECTURE",
# or "" where dpkg knows no package of it (or is not there).
function(debian_package_of path result)
  set(found "")
  if(CPACK_VYKOSTRA_DPKG_QUERY)
    file(REAL_PATH ${path} real)
    foreach(candidate ${path} ${real})
      execute_process(COMMAND ${CPACK_VYKOSTRA_DPKG_QUERY} -S ${candidate}
        RESULT_VARIABLE status OUTPUT_VARIABLE owners ERROR_QUIET)
      if(status EQUAL 0 AND owners MATCHES "^([a-z0-9][a-z0-9.+-]*(:[a-z0-9]+)?): ")
        set(package ${CMAKE_MATCH_1})
        execute_process(COMMAND ${CPACK_VYKOSTRA_DPKG_QUERY} -W
            "-f=\${Package}|\${Version}|\${Architecture}" ${package}
          RESULT_VARIABLE status OUTPUT_VARIABLE found ERROR_QUIET)
        if(NOT status EQUAL 0)
          set(found "")
        endif()
        break()
      endif()
    endforeach()
  endif()
  set(${result} "${found}" PARENT_SCOPE)
endfunction()

# A package URL's part, percent-encoded where purl asks.
function(purl_part text result)
  string(REPLACE "%" "%25" text "${text}")
  string(REPLACE "+" "%2B" text "${text}")
  string(REPLACE ":" "%3A" text "${text}")
  set(${result} "${text}" PARENT_SCOPE)
endfunction()

# What the binary `file` loads: its DT_NEEDED entries or imported DLLs.
function(loaded file result)
  set(needed "")
  if(windows)
    run(${CPACK_VYKOSTRA_OBJDUMP} -p ${file})
    string(REGEX MATCHALL "DLL Name: [^\n]+" needed "${out}")
    list(TRANSFORM needed REPLACE "^DLL Name: " "")
  else()
    run(${CPACK_VYKOSTRA_READELF} -d ${file})
    string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" needed "${out}")
    list(TRANSFORM needed REPLACE "^.*\\[(.*)\\]$" "\\1")
  endif()
  list(REMOVE_DUPLICATES needed)
  set(${result} "${needed}" PARENT_SCOPE)
endfunction()

# A JSON string, quoted and escaped.
function(json_string text result)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${result} "\"${text}\"" PARENT_SCOPE)
endfunction()

# The licence packaging/sbom.cmake gives the component `name`, or "".
function(licence_of name result)
  set(licence "")
  foreach(row IN LISTS CPACK_VYKOSTRA_SBOM_COMPONENTS)
    if(row MATCHES "^([^|]*)\\|(.*)$" AND CMAKE_MATCH_1 STREQUAL name)
      set(licence "${CMAKE_MATCH_2}")
    endif()
  endforeach()
  set(${result} "${licence}" PARENT_SCOPE)
endfunction()

function(licence_json expression result)
  json_string("${expression}" quoted)
  if(expression MATCHES " ")
    set(${result} "[{\"expression\":${quoted}}]" PARENT_SCOPE)
  else()
    set(${result} "[{\"license\":{\"id\":${quoted}}}]" PARENT_SCOPE)
  endif()
endfunction()

# Ours (MIT) and, after it, each licence of `licences` (their terms joined
# by AND taken apart, each once): the licence of a file that holds code
# under them.
function(combined_licence licences result)
  set(terms MIT)
  foreach(licence IN LISTS licences)
    string(REPLACE " AND " ";" parts "${licence}")
    if(licence MATCHES "[()]| OR ")
      set(parts "${licence}")
    endif()
    list(APPEND terms ${parts})
  endforeach()
  list(REMOVE_DUPLICATES terms)
  list(TRANSFORM terms REPLACE "^(.* .*)$" "(\\1)")
  list(JOIN terms " AND " expression)
  set(${result} "${expression}" PARENT_SCOPE)
endfunction()

# The components nested in the binary whose bom-ref is `ref`, one per
# project the linked files `paths` belong to; their licences, apart by
# '|', in `licences`.
function(static_components ref paths result licences_result)
  set(names "")
  foreach(path IN LISTS paths)
    get_filename_component(base ${path} NAME)
    component_of(${base} name)
    list(APPEND names ${name})
    string(MAKE_C_IDENTIFIER "${name}" id)
    list(APPEND files_${id} ${path})
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  set(components "")
  set(licences "")
  foreach(name IN LISTS names)
    string(MAKE_C_IDENTIFIER "${name}" id)
    json_string("${ref}#${name}" r)
    json_string("${name}" n)
    set(c "{\"type\":\"library\",\"bom-ref\":${r},\"name\":${n},\"scope\":\"required\"}")
    # The version: that of the Debian package the files came from.
    set(debs "")
    set(properties "{\"name\":\"vykostra:linkage\",\"value\":\"static\"}")
    foreach(path IN LISTS files_${id})
      debian_package_of(${path} deb)
      json_string("${path}" p)
      list(APPEND properties "{\"name\":\"vykostra:linked-file\",\"value\":${p}}")
      if(deb)
        list(APPEND debs "${deb}")
      else()
        message(WARNING "${path}, linked into ${ref}, belongs to no Debian package dpkg "
          "knows: its component ${name} is given no version")
        list(APPEND debs "unknown")
      endif()
    endforeach()
    list(REMOVE_DUPLICATES debs)
    list(LENGTH debs count)
    if(count EQUAL 1 AND NOT debs STREQUAL "unknown")
      string(REPLACE "|" ";" deb "${debs}")
      list(GET deb 0 package)
      list(GET deb 1 version)
      list(GET deb 2 arch)
      string(REGEX REPLACE ":.*$" "" package "${package}")
      purl_part("${package}" purl_name)
      purl_part("${version}" purl_version)
      string(JSON c SET "${c}" version "\"${version}\"")
      string(JSON c SET "${c}" purl "\"pkg:deb/debian/${purl_name}@${purl_version}?arch=${arch}\"")
    elseif(count GREATER 1)
      list(JOIN debs ", " debs)
      message(FATAL_ERROR "${ref}: the files of ${name} come from more than one package "
        "(${debs}): its version is not one")
    endif()
    licence_of(${name} licence)
    if(NOT licence)
      message(FATAL_ERROR "${ref}: linked into it is ${name} (${files_${id}}), whose licence "
        "packaging/sbom.cmake does not give")
    endif()
    licence_json("${licence}" l)
    string(JSON c SET "${c}" licenses "${l}")
    list(JOIN properties "," properties)
    string(JSON c SET "${c}" properties "[${properties}]")
    list(APPEND components "${c}")
    list(APPEND licences "${licence}")
  endforeach()
  list(JOIN components "," components)
  string(REPLACE ";" "|" licences "${licences}")
  set(${result} "[${components}]" PARENT_SCOPE)
  set(${licences_result} "${licences}" PARENT_SCOPE)
endfunction()

function(make_sbom package)
  get_filename_component(name ${package} NAME)
  set(root ${work}/${name})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  if(name MATCHES "\\.deb$")
    run(${CPACK_VYKOSTRA_DPKG_DEB} -x ${package} ${root})
    set(type application)
    if(name MATCHES "^lib")
      set(type library)
    endif()
    string(REGEX REPLACE "_.*$" "" component_name ${name})
  else()
    run(${CMAKE_COMMAND} -E tar xf ${package} WORKING_DIRECTORY ${root})
    set(type application)
    string(REGEX REPLACE "\\.(tar\\.gz|zip)$" "" component_name ${name})
  endif()
  file(SHA256 ${package} package_hash)

  set(files_json "")
  set(dependencies "")
  set(package_licences "")
  set(loads "")  # what the binaries load, from outside the package
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
  list(SORT files)
  foreach(file IN LISTS files)
    if(IS_SYMLINK ${root}/${file})
      continue()
    endif()
    file(SHA256 ${root}/${file} hash)
    json_string("${file}" quoted_file)
    set(ref "file:${file}")
    json_string("${ref}" quoted_ref)
    set(c "{\"type\":\"file\",\"bom-ref\":${quoted_ref},\"name\":${quoted_file},\"hashes\":[{\"alg\":\"SHA-256\",\"content\":\"${hash}\"}]}")
    set(needs "")
    file(READ ${root}/${file} magic LIMIT 4 HEX)
    get_filename_component(base ${file} NAME)
    # A binary: an ELF or PE image, not separate debug information.
    if((magic STREQUAL "7f454c46" OR magic MATCHES "^4d5a")
       AND NOT file MATCHES "(^|/)lib/debug/|\\.debug$")
      linked_files(${base} paths)
      static_components("${ref}" "${paths}" parts licences)
      string(JSON c SET "${c}" components "${parts}")
      string(REPLACE "|" ";" licences "${licences}")
      list(REMOVE_DUPLICATES licences)
      combined_licence("${licences}" expression)
      list(APPEND package_licences ${licences})
      loaded(${root}/${file} dynamic)
      foreach(library IN LISTS dynamic)
        json_string("loads:${library}" r)
        list(APPEND needs ${r})
        list(APPEND loads "${library}")
      endforeach()
    elseif(file MATCHES "(^|/)THIRD-PARTY-NOTICES\\.txt$")
      # Not ours: mingw-w64's notices, under its licences.
      licence_of(mingw-w64-crt expression)
    else()
      set(expression MIT)
    endif()
    licence_json("${expression}" l)
    string(JSON c SET "${c}" licenses "${l}")
    list(APPEND files_json "${c}")
    list(JOIN needs "," needs)
    list(APPEND dependencies "{\"ref\":${quoted_ref},\"dependsOn\":[${needs}]}")
  endforeach()

  set(outside "")
  list(REMOVE_DUPLICATES loads)
  list(SORT loads)
  foreach(library IN LISTS loads)
    json_string("loads:${library}" r)
    json_string("${library}" n)
    list(APPEND outside "{\"type\":\"library\",\"bom-ref\":${r},\"name\":${n},\"scope\":\"required\",\"properties\":[{\"name\":\"vykostra:linkage\",\"value\":\"dynamic\"}]}")
  endforeach()

  list(REMOVE_DUPLICATES package_licences)
  combined_licence("${package_licences}" expression)
  licence_json("${expression}" package_licence)
  json_string("${component_name}" quoted_name)
  list(JOIN files_json "," files_json)
  set(doc "{\"bomFormat\":\"CycloneDX\",\"specVersion\":\"1.6\",\"version\":1}")
  string(JSON doc SET "${doc}" metadata "{}")
  string(JSON doc SET "${doc}" metadata tools "{\"components\":[{\"type\":\"application\",\"name\":\"cmake\",\"version\":\"${CMAKE_VERSION}\",\"description\":\"packaging/make-sbom.cmake\"}]}")
  string(JSON doc SET "${doc}" metadata component
    "{\"type\":\"${type}\",\"bom-ref\":\"package\",\"name\":${quoted_name},\"version\":\"${CPACK_PACKAGE_VERSION}\",\"licenses\":${package_licence},\"hashes\":[{\"alg\":\"SHA-256\",\"content\":\"${package_hash}\"}],\"components\":[${files_json}]}")
  list(JOIN outside "," outside)
  list(JOIN dependencies "," dependencies)
  string(JSON doc SET "${doc}" components "[${outside}]")
  string(JSON doc SET "${doc}" dependencies "[${dependencies}]")
  # The serial number from all the rest: tests/check_sbom.cmake derives it
  # the same way.
  string(SHA256 content "${doc}")
  string(UUID serial NAMESPACE 6ba7b811-9dad-11d1-80b4-00c04fd430c8
    NAME "vykostra-sbom:${content}" TYPE SHA1)
  string(JSON doc SET "${doc}" serialNumber "\"urn:uuid:${serial}\"")
  file(WRITE ${CPACK_PACKAGE_DIRECTORY}/${name}.cdx.json "${doc}\n")
endfunction()

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.(deb|tar\\.gz|zip)$")
    make_sbom(${package})
  endif()
endforeach()
cmake_policy(POP)
