// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// Helpers for the library's tests on POSIX systems.
#ifndef VYKOSTRA_TEST_SUPPORT_H
#define VYKOSTRA_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "message.h"

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string Path(const std::string &name) const { return path + "/" + name; }
    std::string path;
};

bool FileExists(const std::string &path);
// The bytes of a regular file; "" for anything else.
std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);

// A message built from description lines, as the host tool builds it.
void Build(HostMessage &message, const std::string &description);

// The text of item `i` (0-based) as it stands in memory.
std::string TextOf(const HostMessage &message, std::size_t i);

// What a call left: its result, the file's bytes, its diagnostics.
struct Collapsed {
    uint32_t result;
    std::string file;
    std::string err;
};

// Collapses `message` into `path` with standard error captured; `around`,
// if given, is called with true right before the call and false right after.
Collapsed CollapseCapturing(HostMessage &message, const std::string &path,
                            void (*around)(bool) = nullptr);

// Ends a child process at once, as _exit does; in a coverage build through
// exit, so that the counters of the library's calls in it are kept.
[[noreturn]] void ExitChild(int status);

// Runs `body` in a child process with its standard error read through a pipe;
// returns the child's exit status and sets `err` to what it printed.
int RunInChild(void (*body)(void *), void *context, std::string &err);

// What a call must leave of the calling thread's signal state as it found
// it: the mask, the pending signals and the dispositions of the two
// signals a write can raise (SIGPIPE, SIGXFSZ).  Sets are listed as text.
struct SignalState {
    std::string mask, pending, dispositions;
    bool operator==(const SignalState &o) const {
        return mask == o.mask && pending == o.pending && dispositions == o.dispositions;
    }
};
SignalState CurrentSignalState();

// Blocks `signal` in the calling thread.
void BlockInThisThread(int signal);

extern const char kEmptyLine[];
extern const char kWriteFailedLine[];

#endif
