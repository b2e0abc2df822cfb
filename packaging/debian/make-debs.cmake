# SPDX-License-Identifier: MIT
# CPack's External generator runs this after it has installed each
# component into its own staging folder.  Each Debian package is built
# from its components' files under /usr, the copyright and changelog in
# /usr/share/doc/PACKAGE, and a control file from PACKAGE.control.in with
# what only the build knows: version, architecture, maintainer, installed
# size and the shared libraries it needs (dpkg-shlibdeps).  The library's
# package tells packages built against it what to depend on (shlibs, and
# symbols with the release that brought each), and has no maintainer
# scripts: it asks for ldconfig by a trigger.
set(version ${CPACK_PACKAGE_VERSION})
set(architecture ${CPACK_VYKOSTRA_ARCHITECTURE})
set(templates ${CPACK_VYKOSTRA_TEMPLATES})
set(work ${CPACK_TOPLEVEL_DIRECTORY}/debs)
file(REMOVE_RECURSE ${work})

# run(COMMAND...): stops the packaging with all the command printed.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
    ERROR_VARIABLE err WORKING_DIRECTORY ${work})
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}: ${status}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# What the ELF files in `files` need, as the Depends field names it.
# dpkg-shlibdeps wants a debian/control where it runs; nothing is read.
function(shlibs_depends files result)
  file(WRITE ${work}/debian/control "")
  run(${CPACK_VYKOSTRA_DPKG_SHLIBDEPS} -O ${files})
  string(REGEX REPLACE "^.*shlibs:Depends=([^\n]*).*$" "\\1" depends "${out}")
  set(${result} "${depends}" PARENT_SCOPE)
endfunction()

# PACKAGE:COMPONENT
set(packages libvykostra1:runtime libvykostra-dev:development pgrmsg-collapse:tool)
set(built "")
foreach(entry IN LISTS packages)
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 package)
  list(GET entry 1 component)
  set(root ${work}/${package})
  file(MAKE_DIRECTORY ${root}/DEBIAN)
  file(COPY ${CPACK_TEMPORARY_DIRECTORY}/${component}/ DESTINATION ${root}/usr)
  file(COPY ${CPACK_VYKOSTRA_DEBIAN}/copyright ${CPACK_VYKOSTRA_DEBIAN}/changelog.gz
    DESTINATION ${root}/usr/share/doc/${package})

  # Modes as Debian wants them: 0755 for folders and programs, 0644 for
  # everything else, shared libraries included.
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
      file(CHMOD ${path} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
        GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
      continue()
    endif()
    if(file MATCHES "^usr/bin/")
      file(CHMOD ${path} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
        GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
      list(APPEND elf ${path})
    else()
      file(CHMOD ${path} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
      if(file MATCHES "/lib[^/]*\\.so\\.[0-9.]+$")
        list(APPEND elf ${path})
      endif()
    endif()
    file(SIZE ${path} bytes)
    math(EXPR size "${size} + (${bytes} + 1023) / 1024")
    file(MD5 ${path} md5)
    string(APPEND md5sums "${md5}  ${file}\n")
  endforeach()
  file(WRITE ${root}/DEBIAN/md5sums "${md5sums}")

  set(SHLIBS_DEPENDS "")
  if(elf)
    shlibs_depends("${elf}" SHLIBS_DEPENDS)
  endif()
  set(VERSION ${version})
  set(ARCHITECTURE ${architecture})
  set(MAINTAINER "${CPACK_VYKOSTRA_MAINTAINER}")
  set(INSTALLED_SIZE ${size})
  configure_file(${templates}/${package}.control.in ${root}/DEBIAN/control @ONLY)
  if(package STREQUAL "libvykostra1")
    configure_file(${templates}/shlibs.in ${root}/DEBIAN/shlibs @ONLY)
    configure_file(${templates}/symbols.in ${root}/DEBIAN/symbols COPYONLY)
    configure_file(${templates}/triggers ${root}/DEBIAN/triggers COPYONLY)
  endif()
  file(GLOB control RELATIVE ${root} ${root}/DEBIAN/*)
  foreach(file IN LISTS control)
    file(CHMOD ${root}/${file} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endforeach()

  set(deb ${work}/${package}_${version}_${architecture}.deb)
  run(${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${CPACK_VYKOSTRA_SOURCE_DATE_EPOCH}
    ${CPACK_VYKOSTRA_DPKG_DEB} --root-owner-group -Zxz --build ${root} ${deb})
  list(APPEND built ${deb})
endforeach()
set(CPACK_EXTERNAL_BUILT_PACKAGES ${built})
