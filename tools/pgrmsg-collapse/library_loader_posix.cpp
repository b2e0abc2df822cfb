// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
#include "library_loader.h"

#include <climits>
#include <dlfcn.h>
#include <unistd.h>

namespace {
const char kLibraryName[] = "libVYKOSTRA.so.1";  // the soname: a runtime needs no more
}

std::string DefaultLibraryPath() {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string beside(self, static_cast<std::size_t>(length));
        beside = beside.substr(0, beside.rfind('/') + 1) + kLibraryName;
        if (access(beside.c_str(), F_OK) == 0)
            return beside;
    }
    // Installed apart from the program: the loader's own search (the
    // program's run path, LD_LIBRARY_PATH, the system's folders).
    return kLibraryName;
}

PFN_VYKPgrMsgCollapse LoadCollapse(const std::string &path, std::string &error) {
    void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        error = "cannot load " + path + ": " + dlerror();
        return nullptr;
    }
    void *symbol = dlsym(library, "VYKPgrMsgCollapse");
    if (symbol == nullptr) {
        error = path + " has no VYKPgrMsgCollapse";
        return nullptr;
    }
    return reinterpret_cast<PFN_VYKPgrMsgCollapse>(symbol);
}
