# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
# 32-bit Windows with mingw-w64 (Debian: g++-mingw-w64-i686); programs run
# under Wine (Debian: wine, wine32:i386).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# For i686 without SSE, pinned rather than left to the compiler's default
# for this triple: Windows XP runs on CPUs without SSE2, and the library's
# SSE2 and AVX2 loops carry their own target and run only where the CPU
# has them.
string(APPEND CMAKE_C_FLAGS_INIT " -march=i686")
string(APPEND CMAKE_CXX_FLAGS_INIT " -march=i686")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run wine)
