# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# CPack's External generator runs this after it has installed each
# component into its own staging folder.  Each Debian package is built
# from its components' files under /usr, the copyright and changelog in
# /usr/share/doc/PACKAGE, and a control file from PACKAGE.control.in with
# what only the build knows: version, architecture, maintainer, installed
# size and the shared libraries it needs (dpkg-shlibdeps).  The library's
# package tells packages built against it what to depend on (shlibs, and
# symbols with the release that brought each), and has no maintainer
# scripts: it asks for ldconfig by a trigger.  Beside the library's and the
# tool's packages, PACKAGE-dbgsym holds the debug information of their
# binaries (component debug), found by build ID, as Debian's own are.
# What the templates name.
set(VERSION ${CPACK_PACKAGE_VERSION})
set(ARCHITECTURE ${CPACK_VYKOSTRA_ARCHITECTURE})
set(MAINTAINER "${CPACK_VYKOSTRA_MAINTAINER}")
set(templates ${CMAKE_CURRENT_LIST_DIR})
set(staging ${CPACK_TEMPORARY_DIRECTORY})
set(work ${CPACK_TOPLEVEL_DIRECTORY}/debs)
file(REMOVE_RECURSE ${work})

include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/script_run.cmake)

set(all_modes OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)
set(file_modes OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Builds the package `package` from the tree `root` and the control file
# template `template`: modes as Debian wants them (0755 for folders and
# programs, 0644 for everything else, shared libraries included),
# md5sums, installed size, and Depends from what the ELF binaries need.
# Leaves the binaries' paths in `binaries` for the caller.
function(build_deb package template root)
  file(GLOB_RECURSE files LIST_DIRECTORIES true RELATIVE ${root} ${root}/usr/*)
  list(SORT files)
  set(elf "")
  set(size 0)
  set(md5sums "")
  foreach(file IN LISTS files)
    set(path ${root}/${file})
    if(IS_SYMLINK ${path})
      continue()
    elseif(IS_DIRECTORY ${path})
      file(CHMOD ${path} PERMISSIONS ${all_modes})
      continue()
    endif()
    if(file MATCHES "^usr/bin/")
      file(CHMOD ${path} PERMISSIONS ${all_modes})
      list(APPEND elf ${path})
    else()
      file(CHMOD ${path} PERMISSIONS ${file_modes})
      if(file MATCHES "/lib[^/]*\\.so\\.[0-9.]+$")
        list(APPEND elf ${path})
      endif()
    endif()
    file(SIZE ${path} bytes)
    math(EXPR size "${size} + (${bytes} + 1023) / 1024")
    file(MD5 ${path} md5)
    string(APPEND md5sums "${md5}  ${file}\n")
  endforeach()
  file(MAKE_DIRECTORY ${root}/DEBIAN)
  file(WRITE ${root}/DEBIAN/md5sums "${md5sums}")

  # What the binaries need, as Depends names it; dpkg-shlibdeps wants a
  # debian/control where it runs, and reads nothing of it.
  set(SHLIBS_DEPENDS "")
  if(elf)
    file(WRITE ${work}/debian/control "")
    run(${CPACK_VYKOSTRA_DPKG_SHLIBDEPS} -O ${elf} WORKING_DIRECTORY ${work})
    string(REGEX REPLACE "^.*shlibs:Depends=([^\n]*).*$" "\\1" SHLIBS_DEPENDS "${out}")
  endif()
  set(PACKAGE ${package})
  set(INSTALLED_SIZE ${size})
  configure_file(${templates}/${template} ${root}/DEBIAN/control @ONLY)
  file(GLOB control ${root}/DEBIAN/*)
  file(CHMOD ${control} PERMISSIONS ${file_modes})

  set(deb ${work}/${package}_${VERSION}_${ARCHITECTURE}.deb)
  run(${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${CPACK_VYKOSTRA_SOURCE_DATE_EPOCH}
    ${CPACK_VYKOSTRA_DPKG_DEB} --root-owner-group -Zxz --build ${root} ${deb})
  set(built ${built} ${deb} PARENT_SCOPE)
  set(binaries ${elf} PARENT_SCOPE)
endfunction()

# PACKAGE:COMPONENT:DEBUG, DEBUG saying whether it has a -dbgsym package.
set(packages libvykostra1:runtime:dbgsym libvykostra-dev:development:
  pgrmsg-collapse:tool:dbgsym)
set(built "")
foreach(entry IN LISTS packages)
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 package)
  list(GET entry 1 component)
  list(GET entry 2 dbgsym)
  set(root ${work}/${package})
  file(COPY ${staging}/${component}/ DESTINATION ${root}/usr)
  file(COPY ${CPACK_VYKOSTRA_DEBIAN}/copyright ${CPACK_VYKOSTRA_DEBIAN}/changelog.gz
    DESTINATION ${root}/usr/share/doc/${package})
  if(package STREQUAL "libvykostra1")
    file(MAKE_DIRECTORY ${root}/DEBIAN)
    configure_file(${templates}/shlibs.in ${root}/DEBIAN/shlibs @ONLY)
    configure_file(${templates}/symbols.in ${root}/DEBIAN/symbols COPYONLY)
    configure_file(${templates}/triggers ${root}/DEBIAN/triggers COPYONLY)
  endif()
  build_deb(${package} ${package}.control.in ${root})
  if(NOT dbgsym)
    continue()
  endif()

  # The binaries' debug information, by build ID; its documents are the
  # package's own, as a link.
  set(root ${work}/${package}-dbgsym)
  set(BUILD_IDS "")
  foreach(binary IN LISTS binaries)
    run(${CPACK_VYKOSTRA_READELF} -n ${binary})
    if(NOT out MATCHES "Build ID: (([0-9a-f][0-9a-f])([0-9a-f]+))")
      message(FATAL_ERROR "${binary} has no build ID")
    endif()
    list(APPEND BUILD_IDS ${CMAKE_MATCH_1})
    set(debug lib/debug/.build-id/${CMAKE_MATCH_2}/${CMAKE_MATCH_3}.debug)
    if(NOT EXISTS ${staging}/debug/${debug})
      message(FATAL_ERROR "no debug information for ${binary} (component debug: ${debug})")
    endif()
    file(COPY ${staging}/debug/${debug} DESTINATION ${root}/usr/lib/debug/.build-id/${CMAKE_MATCH_2})
  endforeach()
  list(JOIN BUILD_IDS " " BUILD_IDS)
  set(PARENT ${package})
  file(MAKE_DIRECTORY ${root}/usr/share/doc)
  file(CREATE_LINK ${package} ${root}/usr/share/doc/${package}-dbgsym SYMBOLIC)
  build_deb(${package}-dbgsym dbgsym.control.in ${root})
endforeach()
set(CPACK_EXTERNAL_BUILT_PACKAGES ${built})
