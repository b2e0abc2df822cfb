# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# The Windows binaries hold parts of mingw-w64's C runtime (start-up code,
# libmingw32, libmingwex), whose licences ask a binary's distribution to
# carry their notices: ZPL 2.1, and Lucent's, David M. Gay's and Keith
# Marshall's for gdtoa and mingw_pformat.  THIRD-PARTY-NOTICES.txt, at the
# top of the package, holds the runtime's notices as the copyright file of
# Debian's mingw-w64-ARCH-dev gives them: every paragraph about the
# runtime's code, and the licence texts they name by name only;
# VYKOSTRA_MINGW_COPYRIGHT names another such file.  GCC's runtime
# libraries, under its Runtime Library Exception, ask for none.
string(REPLACE "_" "-" arch ${CMAKE_SYSTEM_PROCESSOR})
set(VYKOSTRA_MINGW_COPYRIGHT /usr/share/doc/mingw-w64-${arch}-dev/copyright
  CACHE FILEPATH "mingw-w64's copyright file, in Debian's machine-readable form")
if(NOT EXISTS ${VYKOSTRA_MINGW_COPYRIGHT})
  message(FATAL_ERROR "no ${VYKOSTRA_MINGW_COPYRIGHT}: the Windows packages must carry "
    "mingw-w64's notices (Debian: mingw-w64-${arch}-dev; or set VYKOSTRA_MINGW_COPYRIGHT)")
endif()
# Its paragraphs, apart at blank lines, as a list.
file(READ ${VYKOSTRA_MINGW_COPYRIGHT} copyright)
string(ASCII 31 separator)
string(REPLACE "\n\n" "${separator}" copyright "${copyright}")
string(REPLACE ";" "\\;" copyright "${copyright}")
string(REPLACE "${separator}" ";" paragraphs "${copyright}")
set(notices "The Windows binaries of VYKOSTRA hold parts of mingw-w64's C runtime
(mingw-w64-crt: start-up code, libmingw32, libmingwex).  Below are the
notices of that runtime's code, as Debian's mingw-w64-${arch}-dev gives
them: the binaries hold some of it, not all.  pgrmsg-collapse.exe also
holds GCC's libstdc++ and libgcc, under the GNU GPL version 3 or later
with the GCC Runtime Library Exception 3.1.
")
set(found "")
foreach(paragraph IN LISTS paragraphs)
  string(STRIP "${paragraph}" paragraph)
  if(paragraph MATCHES "^Files: \\*\n" OR paragraph MATCHES "^Files:[^\n]*mingw-w64-crt/")
    string(APPEND notices "\n${paragraph}\n")
    string(REGEX MATCH "\nLicense: [^\n]+" licence "${paragraph}")
    string(REGEX REPLACE "^\nLicense: " "" licence "${licence}")
    string(REGEX REPLACE " (and|or) " ";" names "${licence}")
    list(APPEND found ${names})
  endif()
endforeach()
# The texts of licences that those paragraphs name without giving them.
foreach(paragraph IN LISTS paragraphs)
  string(STRIP "${paragraph}" paragraph)
  if(paragraph MATCHES "^License: ([^\n]+)\n" AND CMAKE_MATCH_1 IN_LIST found)
    string(APPEND notices "\n${paragraph}\n")
  endif()
endforeach()
foreach(licence ZPL-2.1 Lucent David-Gay Keith-Marshall)
  if(NOT licence IN_LIST found)
    message(FATAL_ERROR "${VYKOSTRA_MINGW_COPYRIGHT} gives no ${licence} paragraph "
      "for mingw-w64-crt")
  endif()
endforeach()
file(WRITE ${PROJECT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt "${notices}")
install(FILES ${PROJECT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt DESTINATION . COMPONENT docs)
