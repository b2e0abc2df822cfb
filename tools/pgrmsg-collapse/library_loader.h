// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// Loading the collapse library at run time through the platform's loader,
// the way a host does: by file name, then the function by its export name.
#ifndef PGRMSG_LIBRARY_LOADER_H
#define PGRMSG_LIBRARY_LOADER_H

#include <string>

#include "vykostra.h"

// The library built or installed beside this program.
std::string DefaultLibraryPath();

// Loads `path` and finds VYKPgrMsgCollapse in it.  On failure returns
// nullptr and says why in `error`.  The library stays loaded.
PFN_VYKPgrMsgCollapse LoadCollapse(const std::string &path, std::string &error);

#endif
