// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The tool's standard descriptors.  Standard error caught in a file around
// a call: the descriptor behind it is switched, so what any part of the
// process prints there, the library through its own C runtime included,
// lands in the file.
#ifndef PGRMSG_STDERR_CAPTURE_H
#define PGRMSG_STDERR_CAPTURE_H

#include <string>

// Descriptors 0, 1 and 2 that the tool was started without are opened on
// the null device, so that no file it opens later (a capture, a message)
// becomes one of them; 1 read-only, so that a report written there is
// lost as it would be on the closed descriptor, and says so.  A reader
// of standard output that leaves early fails the report's writes (EPIPE)
// rather than killing the tool with SIGPIPE.  First thing in main.
void OpenClosedStandardStreams();

// Closes descriptor 1, once the report is flushed: some file systems (NFS,
// FUSE, quotas) tell of a write they could not make only there.  False,
// with errno, where the close failed.
bool CloseStandardOutput();

struct StderrCapture {
    int saved = -1;  // standard error's own descriptor, kept meanwhile
};

// From now on, standard error writes to `path` (created or truncated).
// Returns false, changing nothing, if that cannot be done.
bool BeginStderrCapture(const std::string &path, StderrCapture &capture);

// Standard error is what it was before.
void EndStderrCapture(StderrCapture &capture);

#endif
