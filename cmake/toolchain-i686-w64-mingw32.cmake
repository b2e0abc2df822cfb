# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# 32-bit Windows with mingw-w64 (Debian: g++-mingw-w64-i686); programs run
# under Wine (Debian: wine, wine32:i386).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# SSE2 is the baseline, as MSVC has made it for 32-bit code and every
# supported Windows requires.
string(APPEND CMAKE_C_FLAGS_INIT " -msse2")
string(APPEND CMAKE_CXX_FLAGS_INIT " -msse2")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run wine)
