#include "output_file.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

// The signals a write can raise: SIGPIPE (the reader of a pipe or socket
// has gone) and SIGXFSZ (the file size limit is reached).  Both kill the
// process by default; the host must get a failed write instead.  Both are
// sent to the writing thread, so blocking them in that thread alone is
// enough, and the host's other threads and dispositions stay as they are.
void WriteSignals(sigset_t &set) {
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    sigaddset(&set, SIGXFSZ);
}

// Takes back `signal` if our own write left it pending, unless the host
// had it pending (so blocked) before the call: then it stays, as it was.
void ConsumeOwn(const OutputFile &file, int signal) {
    if (sigismember(&file.hostPending, signal))
        return;
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    // Ours is pending, so this takes it at once: with no wait, there is
    // nothing to interrupt.
    const timespec now{0, 0};
    sigtimedwait(&one, nullptr, &now);
}

// Before the call's first write: SIGPIPE and SIGXFSZ blocked in this
// thread, the host's mask and (where it blocks one of them itself) its
// pending signals kept.  A call that writes nothing leaves the mask alone.
void BlockWriteSignals(OutputFile &file) {
    sigset_t block;
    WriteSignals(block);
    pthread_sigmask(SIG_BLOCK, &block, &file.hostMask);
    // Only a signal the thread blocks can be pending; ask only then.
    sigemptyset(&file.hostPending);
    if (sigismember(&file.hostMask, SIGPIPE) || sigismember(&file.hostMask, SIGXFSZ))
        sigpending(&file.hostPending);
    file.blocked = true;
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
    file.raisedPipe = false;
    file.raisedSize = false;
    return true;
}

bool OutputFileWrite(OutputFile &file, const char *bytes, std::size_t length) {
    if (!file.blocked)
        BlockWriteSignals(file);
    // One write per text on the plain path; the loop only runs again when
    // the system took less than it was given.
    while (length > 0) {
        const std::size_t chunk = length < SSIZE_MAX ? length : SSIZE_MAX;
        const ssize_t written = write(file.descriptor, bytes, chunk);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            file.raisedPipe = file.raisedPipe || errno == EPIPE;
            file.raisedSize = file.raisedSize || errno == EFBIG;
            return false;
        }
        if (written == 0) // no progress and no error: do not spin
            return false;
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

void OutputFileClose(OutputFile &file) {
    close(file.descriptor);
    if (!file.blocked)
        return;
    if (file.raisedPipe)
        ConsumeOwn(file, SIGPIPE);
    if (file.raisedSize)
        ConsumeOwn(file, SIGXFSZ);
    pthread_sigmask(SIG_SETMASK, &file.hostMask, nullptr);
}
