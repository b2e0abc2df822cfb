// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The output file and the diagnostics: the library's only contact with the
// platform's file calls, standard error and signals.  One implementation
// per runtime (POSIX, MSVCRT) is linked in.
#ifndef VYKOSTRA_OUTPUT_FILE_H
#define VYKOSTRA_OUTPUT_FILE_H

#include <cstddef>

#if defined(_WIN32)
struct OutputFile {
    int descriptor;
};
#else
#include <signal.h>
// Beside the descriptor, what the call changed of the calling thread's
// signal state while it writes or prints, to be put back exactly when it
// closes.
struct OutputFile {
    int descriptor;
    bool blocked;          // the first write or diagnostic has blocked
                           // SIGPIPE and SIGXFSZ
    sigset_t hostMask;     // the thread's mask before that
    sigset_t hostPending;  // what was pending then (only read if blocked)
    bool mayHaveRaised;    // a write or a diagnostic failed, perhaps by
                           // raising one of them
};
#endif

// Opens `path` write-only and binary, created with owner read/write if
// missing, truncated if present, never inherited by child processes and
// never as standard input, output or error.  Returns false if it cannot.
bool OutputFileOpen(OutputFile &file, const char *path);

// Writes all `length` bytes, continuing after short writes and retrying a
// write interrupted before it wrote anything.  Returns false as soon as a
// write reports failure; what was written until then stays.  Raises no
// signal in the host.
bool OutputFileWrite(OutputFile &file, const char *bytes, std::size_t length);

// Prints one diagnostic line, `module` then `text`, on standard error by
// one formatted print and a flush, so that lines printed by calls in other
// threads come out whole.  A line standard error cannot take is lost
// quietly; it raises no signal in the host.
void OutputFileDiagnose(OutputFile &file, const char *module, const char *text);

// Closes the descriptor and puts back what the writes and diagnostics
// changed of the thread's signal state; the close's result tells the
// caller nothing it can act on.
void OutputFileClose(OutputFile &file);

#endif
