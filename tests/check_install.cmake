# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# VYKOSTRA as its users take it in.  Each installed tree (a stripped
# install; then each package CPack makes, unpacked and never installed into
# the system) serves a C consumer built with find_package and one built
# with pkg-config, and its tool finds its library by itself.  Then the
# consumer builds with the source tree as a subproject, which builds the
# library and nothing else.
# Variables: BUILD, SOURCE, WORK, GENERATOR, C_COMPILER, C_FLAGS, VERSION,
# TOOLCHAIN (optional), EMULATOR (optional, its words apart by '|'),
# WINDOWS (ON/OFF), DEBS (ON/OFF: whether this build makes Debian
# packages), LINTIAN and HARDENING_CHECK (optional: Debian's checkers, run
# on the Debian packages), GDB (optional: reads the installed binaries back
# to source lines through the debug packages), SYMBOLIZER and OBJDUMP
# (optional: the same for the Windows DLL through its PDB), DEPENDS (OFF:
# the packages' Depends are not checked), NODE and VALIDATOR (optional: the
# bills of materials are validated, check_sbom.cmake).
string(REPLACE "|" ";" EMULATOR "${EMULATOR}")

include(${CMAKE_CURRENT_LIST_DIR}/../cmake/script_run.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/check_pdb.cmake)

set(toolchain "")
if(TOOLCHAIN)
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS}")
if(WINDOWS)
  list(APPEND c_flags -static-libgcc)
endif()

# Runs `consumer`, whose library is `library` (Windows: copied beside it).
function(run_consumer consumer library)
  if(WINDOWS)
    get_filename_component(dir ${consumer} DIRECTORY)
    file(COPY ${library} DESTINATION ${dir})
  else()
    get_filename_component(dir ${library} DIRECTORY)
    set(ENV{LD_LIBRARY_PATH} ${dir})
  endif()
  run(${EMULATOR} ${consumer} ${WORK}/out.txt)
  unset(ENV{LD_LIBRARY_PATH})
endfunction()

# The three ways in, against the tree installed under `prefix`.
function(check_tree name prefix)
  set(work ${WORK}/${name})
  foreach(file include/vykostra.h)
    if(NOT EXISTS ${prefix}/${file})
      message(FATAL_ERROR "${name}: not installed: ${file}")
    endif()
  endforeach()
  file(GLOB_RECURSE pc_files ${prefix}/*/vykostra.pc)
  list(GET pc_files 0 pc_file)
  get_filename_component(pc_dir ${pc_file} DIRECTORY)
  get_filename_component(libdir ${pc_dir} DIRECTORY)
  if(WINDOWS)
    set(library ${prefix}/bin/VYKOSTRA.dll)
  else()
    set(library ${libdir}/libVYKOSTRA.so.1)
  endif()
  # Installed stripped: no debug information ships, and on Windows no
  # time stamp came with the stripping (the PE header's, at e_lfanew + 8).
  file(STRINGS ${library} debug REGEX "\\.debug_")
  if(debug)
    message(FATAL_ERROR "${name}: ${library} carries debug information")
  endif()
  if(WINDOWS)
    file(READ ${library} lfanew OFFSET 60 LIMIT 4 HEX)
    string(REGEX REPLACE "^(..)(..)(..)(..)$" "\\4\\3\\2\\1" lfanew "${lfanew}")
    math(EXPR stamp_offset "0x${lfanew} + 8")
    file(READ ${library} stamp OFFSET ${stamp_offset} LIMIT 4 HEX)
    if(NOT stamp STREQUAL "00000000")
      message(FATAL_ERROR "${name}: ${library} carries a time stamp (${stamp})")
    endif()
  endif()

  # find_package (a cross build finds packages in its own root only, so it
  # is told where this one is)
  run(${CMAKE_COMMAND} -S ${SOURCE}/tests/consumer -B ${work}/cmake -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DVYKOSTRA_DIR=${libdir}/cmake/VYKOSTRA ${toolchain})
  run(${CMAKE_COMMAND} --build ${work}/cmake)
  file(GLOB consumer ${work}/cmake/consumer ${work}/cmake/consumer.exe)
  run_consumer(${consumer} ${library})

  # pkg-config, with nothing but the installed tree in its search path
  set(ENV{PKG_CONFIG_LIBDIR} ${pc_dir})
  execute_process(COMMAND pkg-config --cflags --libs vykostra
    OUTPUT_VARIABLE flags RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name}: pkg-config does not know vykostra")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(consumer ${work}/pc/consumer)
  if(WINDOWS)
    set(consumer ${consumer}.exe)
  endif()
  file(MAKE_DIRECTORY ${work}/pc)
  run(${C_COMPILER} ${c_flags} ${SOURCE}/tests/consumer/consumer.c ${flags} -o ${consumer})
  run_consumer(${consumer} ${library})

  # The installed tool finds the installed library by itself.
  file(GLOB tool ${prefix}/bin/pgrmsg-collapse*)
  run(${EMULATOR} ${tool} ${SOURCE}/examples/sample.msg ${work}/sample.txt)
endfunction()

file(REMOVE_RECURSE ${WORK})
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix --strip)
check_tree(install ${WORK}/prefix)

# The packages, unpacked: each Debian package's control fields and the
# documents every package carries; Debian's own checkers where given; the
# sums beside them.
if(WINDOWS)
  set(expected zip)
elseif(DEBS)
  set(expected deb tar.gz)
else()
  set(expected tar.gz)
endif()
run(cpack --config ${BUILD}/CPackConfig.cmake -B ${WORK}/packages)
file(GLOB packages ${WORK}/packages/*.deb ${WORK}/packages/*.tar.gz ${WORK}/packages/*.zip)
set(debs libvykostra1 libvykostra-dev pgrmsg-collapse libvykostra1-dbgsym
  pgrmsg-collapse-dbgsym)
# Each package's Depends, as a pattern.
set(depends_libvykostra1 "^libc6 \\(>= [0-9.]+\\)$")
set(depends_libvykostra-dev "^libvykostra1 \\(= ${VERSION}\\)$")
set(depends_pgrmsg-collapse "^libc6 .*, libvykostra1 \\(>= ${VERSION}\\)$")
set(depends_libvykostra1-dbgsym "^libvykostra1 \\(= ${VERSION}\\)$")
set(depends_pgrmsg-collapse-dbgsym "^pgrmsg-collapse \\(= ${VERSION}\\)$")
foreach(kind IN LISTS expected)
  set(found ${packages})
  list(FILTER found INCLUDE REGEX "\\.${kind}$")
  set(root ${WORK}/unpacked-${kind})
  file(MAKE_DIRECTORY ${root})
  if(kind STREQUAL "deb")
    foreach(deb IN LISTS debs)
      set(file ${found})
      list(FILTER file INCLUDE REGEX "/${deb}_${VERSION}_[a-z0-9]+\\.deb$")
      if(NOT file)
        message(FATAL_ERROR "no ${deb} package among: ${found}")
      endif()
      run(dpkg-deb -f ${file} Depends)
      string(STRIP "${out}" depends)
      if(NOT DEPENDS STREQUAL "OFF" AND NOT depends MATCHES "${depends_${deb}}")
        message(FATAL_ERROR "${deb}: Depends: ${depends}")
      endif()
      run(dpkg-deb -x ${file} ${root})
      foreach(doc copyright changelog.gz)
        if(NOT EXISTS ${root}/usr/share/doc/${deb}/${doc})
          message(FATAL_ERROR "${deb} holds no /usr/share/doc/${deb}/${doc}")
        endif()
      endforeach()
    endforeach()
    if(LINTIAN)
      run(${LINTIAN} --fail-on error,warning ${found})
    endif()
    set(prefix ${root}/usr)
    file(GLOB binaries ${prefix}/lib/*-linux-gnu/libVYKOSTRA.so.1 ${prefix}/bin/pgrmsg-collapse)
    if(HARDENING_CHECK)
      run(${HARDENING_CHECK} --nocfprotection ${binaries})
    endif()
    # The stripped binaries, read back to our sources through the debug
    # packages' files, found by build ID.
    if(GDB)
      foreach(binary IN LISTS binaries)
        set(function main)
        if(binary MATCHES "\\.so")
          set(function VYKPgrMsgCollapse)
        endif()
        run(${GDB} -batch -nx -iex "set debug-file-directory ${prefix}/lib/debug"
          -ex "info line ${function}" ${binary})
        if(NOT out MATCHES "Line [0-9]+ of \"\\./(src|tools/pgrmsg-collapse)/[a-z_]+\\.cpp\"")
          message(FATAL_ERROR "gdb finds no source line in ${binary}:\n${out}")
        endif()
      endforeach()
    endif()
  else()
    set(symbols ${found})
    list(FILTER symbols INCLUDE REGEX "-symbols\\.zip$")
    list(FILTER found EXCLUDE REGEX "-symbols\\.zip$")
    list(LENGTH found count)
    if(NOT count EQUAL 1)
      message(FATAL_ERROR "expected one .${kind} package, found: ${found}")
    endif()
    run(${CMAKE_COMMAND} -E chdir ${root} ${CMAKE_COMMAND} -E tar xf ${found})
    file(GLOB prefix ${root}/*)
    # Beside the Windows .zip, its symbols: unpacked over it, they put the
    # PDB beside the DLL, where a debugger looks, and the export's address
    # reads back to its function and a source line of ours.
    if(WINDOWS)
      list(LENGTH symbols count)
      if(NOT count EQUAL 1)
        message(FATAL_ERROR "expected one -symbols.zip beside ${found}, found: ${symbols}")
      endif()
      run(${CMAKE_COMMAND} -E chdir ${root} ${CMAKE_COMMAND} -E tar xf ${symbols})
      set(dll ${prefix}/bin/VYKOSTRA.dll)
      if(NOT EXISTS ${prefix}/bin/VYKOSTRA.pdb)
        message(FATAL_ERROR "the -symbols.zip holds no bin/VYKOSTRA.pdb")
      endif()
      if(SYMBOLIZER)
        check_pdb_reads_export(${dll})
      endif()
    endif()
    if(WINDOWS)
      set(docdir ${prefix})
    else()
      set(docdir ${prefix}/share/doc/VYKOSTRA)
    endif()
    foreach(doc README.md LICENSE CHANGELOG.md)
      if(NOT EXISTS ${docdir}/${doc})
        message(FATAL_ERROR "the .${kind} holds no ${doc}")
      endif()
    endforeach()
  endif()
  if(WINDOWS)
    foreach(file bin/VYKOSTRA.dll bin/pgrmsg-collapse.exe lib/VYKOSTRA.lib
            lib/libVYKOSTRA.dll.a lib/VYKOSTRA.def include/vykostra.h THIRD-PARTY-NOTICES.txt)
      if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "the .zip holds no ${file}")
      endif()
    endforeach()
    # The notices of what the binaries hold from mingw-w64 (its ZPL, and
    # gdtoa's and mingw_pformat's, in the tool's printf and strtod).
    file(READ ${prefix}/THIRD-PARTY-NOTICES.txt notices)
    foreach(licence ZPL-2.1 Lucent David-Gay Keith-Marshall)
      if(NOT notices MATCHES "\nLicense: ${licence}\n")
        message(FATAL_ERROR "THIRD-PARTY-NOTICES.txt in the .zip gives no ${licence} notice")
      endif()
    endforeach()
  else()
    foreach(file share/man/man1/pgrmsg-collapse.1.gz share/man/man3/VYKPgrMsgCollapse.3.gz)
      if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "the .${kind} holds no ${file}")
      endif()
    endforeach()
  endif()
  check_tree(${kind} ${prefix})
endforeach()
run(${CMAKE_COMMAND} -E chdir ${WORK}/packages sha256sum -c SHA256SUMS)
set(PACKAGES ${WORK}/packages)
set(CPACK_CONFIG ${BUILD}/CPackConfig.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/check_sbom.cmake)

# A subproject: the library, and nothing else built.
run(${CMAKE_COMMAND} -S ${SOURCE}/tests/consumer -B ${WORK}/subproject -G ${GENERATOR}
  -DVYKOSTRA_SOURCE=${SOURCE} ${toolchain})
run(${CMAKE_COMMAND} --build ${WORK}/subproject)
file(GLOB_RECURSE extra ${WORK}/subproject/*pgrmsg-collapse* ${WORK}/subproject/*gtest*
  ${WORK}/subproject/*_tests*)
if(extra)
  message(FATAL_ERROR "the subproject built more than its library: ${extra}")
endif()
file(GLOB consumer ${WORK}/subproject/consumer ${WORK}/subproject/consumer.exe)
file(GLOB library ${WORK}/subproject/vykostra/VYKOSTRA.dll
  ${WORK}/subproject/vykostra/libVYKOSTRA.so.1)
run_consumer(${consumer} ${library})
