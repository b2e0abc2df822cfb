# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64); programs
# run under Wine's 64-bit loader (Debian: wine64), which needs no 32-bit
# execution on the host.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run /usr/lib/wine/wine64)
