// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
#include "library_loader.h"

#include <windows.h>

// The tool is linked with GCC's C++ library in its win32 thread model, the
// one without threads, which runs on Windows XP (cmake/shipped.cmake); its
// objects must be compiled against that model's headers, not the POSIX
// model's that the tests use.
#if defined(__GLIBCXX__) && defined(_GLIBCXX_HAS_GTHREADS)
#error "compiled against a C++ library with threads: not the one the tool links"
#endif

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
