// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
#include "library_loader.h"

#include <windows.h>

namespace {
const char kLibraryName[] = "VYKOSTRA.dll";
}

std::string DefaultLibraryPath() {
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return kLibraryName;
    std::string beside(self, length);
    return beside.substr(0, beside.find_last_of("\\/") + 1) + kLibraryName;
}

PFN_VYKPgrMsgCollapse LoadCollapse(const std::string &path, std::string &error) {
    std::string native(path);
    for (char &c : native)
        if (c == '/')
            c = '\\';
    HMODULE library = LoadLibraryA(native.c_str());
    if (library == nullptr) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    FARPROC symbol = GetProcAddress(library, "VYKPgrMsgCollapse");
    if (symbol == nullptr) {
        error = path + " has no VYKPgrMsgCollapse";
        return nullptr;
    }
    return reinterpret_cast<PFN_VYKPgrMsgCollapse>(reinterpret_cast<void (*)()>(symbol));
}
