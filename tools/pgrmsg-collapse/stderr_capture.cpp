// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
#include "stderr_capture.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>

// The descriptor calls, as each runtime names them.  On Windows they are
// msvcrt.dll's, the library's runtime too, so its standard error is the
// one switched here.
#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
namespace {
int OpenFile(const char *path) {
    return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}
bool IsOpen(int fd) { return _get_osfhandle(fd) != -1; }
int OpenNull(bool writable) { return _open("NUL", (writable ? _O_RDWR : _O_RDONLY) | _O_BINARY); }
int Duplicate(int fd) { return _dup(fd); }
int DuplicateTo(int fd, int to) { return _dup2(fd, to); }
int Close(int fd) { return _close(fd); }
// A write to a pipe whose reader has gone fails there; no signal is raised.
void LetBrokenPipesFail() {}
} // namespace
#else
#include <unistd.h>
namespace {
int OpenFile(const char *path) {
    return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}
bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }
int OpenNull(bool writable) { return open("/dev/null", writable ? O_RDWR : O_RDONLY); }
int Duplicate(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 3); }
int DuplicateTo(int fd, int to) { return dup2(fd, to); }
int Close(int fd) { return close(fd); }
void LetBrokenPipesFail() { std::signal(SIGPIPE, SIG_IGN); }
} // namespace
#endif

void OpenClosedStandardStreams() {
    // Each open takes the lowest free descriptor: the closed one itself.
    // Standard output is opened read-only: the report's writes fail there
    // as on the closed descriptor, and the last flush says so.
    for (int fd = 0; fd <= 2; ++fd)
        if (!IsOpen(fd) && OpenNull(fd != 1) != fd)
            break;
    LetBrokenPipesFail();
}

bool CloseStandardOutput() { return Close(1) == 0; }

bool BeginStderrCapture(const std::string &path, StderrCapture &capture) {
    std::fflush(stderr);
    const int file = OpenFile(path.c_str());
    if (file == -1)
        return false;
    capture.saved = Duplicate(2);
    const bool switched = capture.saved != -1 && DuplicateTo(file, 2) != -1;
    Close(file);
    if (!switched && capture.saved != -1) {
        Close(capture.saved);
        capture.saved = -1;
    }
    return switched;
}

void EndStderrCapture(StderrCapture &capture) {
    std::fflush(stderr);
    DuplicateTo(capture.saved, 2);
    Close(capture.saved);
    capture.saved = -1;
}
