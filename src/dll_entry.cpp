// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The DLL's entry point.  There is no C runtime start-up code in the DLL:
// the library keeps no state, so there is nothing to set up or tear down
// when a process loads or unloads it.
#include <windows.h>

extern "C" BOOL WINAPI VykostraDllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
