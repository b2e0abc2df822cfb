// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
#include "output_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

// The signals a write can raise: SIGPIPE (the reader of a pipe or socket
// has gone) and SIGXFSZ (the file size limit is reached).  Both kill the
// process by default; the host must get a failed write instead, whether
// the write is the file's or a diagnostic's on standard error.  Both are
// sent to the writing thread, so blocking them in that thread alone is
// enough, and the host's other threads and dispositions stay as they are.
void WriteSignals(sigset_t &set) {
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    sigaddset(&set, SIGXFSZ);
}

// Before the call's first write or diagnostic: SIGPIPE and SIGXFSZ blocked
// in this thread, the host's mask and (where it blocks one of them itself)
// its pending signals kept.  A call that neither writes nor prints leaves
// the mask alone.
void BlockWriteSignals(OutputFile &file) {
    if (file.blocked)
        return;
    sigset_t block;
    WriteSignals(block);
    pthread_sigmask(SIG_BLOCK, &block, &file.hostMask);
    // Only a signal the thread blocks can be pending; ask only then.
    sigemptyset(&file.hostPending);
    if (sigismember(&file.hostMask, SIGPIPE) || sigismember(&file.hostMask, SIGXFSZ))
        sigpending(&file.hostPending);
    file.blocked = true;
}

// Takes back SIGPIPE and SIGXFSZ where a failed write of ours left them
// pending, unless the host had them pending (so blocked) before the call:
// those stay, as they were.  Asked only after a failure, since a write
// that succeeds raises neither.
void ConsumeOwn(const OutputFile &file) {
    sigset_t pending;
    sigpending(&pending);
    const int raised[] = {SIGPIPE, SIGXFSZ};
    for (const int signal : raised) {
        if (!sigismember(&pending, signal) || sigismember(&file.hostPending, signal))
            continue;
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        // It is pending, so this takes it at once: with no wait, there is
        // nothing to interrupt.
        const timespec now{0, 0};
        sigtimedwait(&one, nullptr, &now);
    }
}

} // namespace

bool OutputFileOpen(OutputFile &file, const char *path) {
    // Close-on-exec: a child that another thread of the host starts must not
    // inherit the descriptor.
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd == -1)
        return false;
    if (fd <= 2) {
        // The host has closed standard input, output or error.  The file
        // must not stand in for them: diagnostics would land in it.
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        if (moved == -1)
            return false;
        fd = moved;
    }
    file.descriptor = fd;
    file.blocked = false;
    file.mayHaveRaised = false;
    return true;
}

bool OutputFileWrite(OutputFile &file, const char *bytes, std::size_t length) {
    BlockWriteSignals(file);
    // One write per text on the plain path; the loop only runs again when
    // the system took less than it was given.
    while (length > 0) {
        const std::size_t chunk = length < SSIZE_MAX ? length : SSIZE_MAX;
        const ssize_t written = write(file.descriptor, bytes, chunk);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            file.mayHaveRaised = true;
            return false;
        }
        if (written == 0) // no progress and no error: do not spin
            return false;
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

void OutputFileDiagnose(OutputFile &file, const char *module, const char *text) {
    BlockWriteSignals(file);
    // Both calls are made even if the first fails: the flush is what
    // writes a line a buffered standard error holds.
    const bool printed = fprintf(stderr, "%s%s", module, text) >= 0;
    const bool flushed = fflush(stderr) == 0;
    if (!printed || !flushed)
        file.mayHaveRaised = true;
}

void OutputFileClose(OutputFile &file) {
    close(file.descriptor);
    if (!file.blocked)
        return;
    if (file.mayHaveRaised)
        ConsumeOwn(file);
    pthread_sigmask(SIG_SETMASK, &file.hostMask, nullptr);
}
