# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# THIRD-PARTY-NOTICES.txt, at the top of the Windows packages: the notices
# of mingw-w64's C runtime, parts of which the binaries hold, from the
# copyright file of Debian's mingw-w64-ARCH-dev (packaging/notices.py);
# VYKOSTRA_MINGW_COPYRIGHT names another such file.
string(REPLACE "_" "-" arch ${CMAKE_SYSTEM_PROCESSOR})
set(VYKOSTRA_MINGW_COPYRIGHT /usr/share/doc/mingw-w64-${arch}-dev/copyright
  CACHE FILEPATH "mingw-w64's copyright file, in Debian's machine-readable form")
if(NOT EXISTS ${VYKOSTRA_MINGW_COPYRIGHT})
  message(FATAL_ERROR "no ${VYKOSTRA_MINGW_COPYRIGHT}: the Windows packages must carry "
    "mingw-w64's notices (Debian: mingw-w64-${arch}-dev; or set VYKOSTRA_MINGW_COPYRIGHT)")
endif()
set(notices ${PROJECT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
add_custom_command(OUTPUT ${notices}
  COMMAND ${Python3_EXECUTABLE} -B ${CMAKE_CURRENT_LIST_DIR}/notices.py
    ${VYKOSTRA_MINGW_COPYRIGHT} ${arch} ${notices}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/notices.py ${VYKOSTRA_MINGW_COPYRIGHT}
  COMMENT "mingw-w64's notices for the Windows packages")
add_custom_target(vykostra_notices ALL DEPENDS ${notices})
install(FILES ${notices} DESTINATION . COMPONENT docs)
