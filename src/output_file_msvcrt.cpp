// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// <stdio.h> comes first, before any C++ header: on MinGW those switch
// fprintf to MinGW's own printf, and the library must use the runtime's.
#include <stdio.h>

#include "output_file.h"

#include <fcntl.h>
#include <io.h>
#include <limits.h>
#include <sys/stat.h>

namespace {

// Binary: the texts reach the file byte for byte, no CR before LF.
// Not inherited by child processes (Windows' close-on-exec).
const int kFlags = _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT;
const int kMode = _S_IREAD | _S_IWRITE;

} // namespace

bool OutputFileOpen(OutputFile &file, const char *path) {
    // The runtime hands out the lowest free descriptor, so a host that has
    // closed standard error would get the file as descriptor 2, and the
    // diagnostics written into it.  Such a descriptor is held while the
    // file is opened again; three at most, and all let go afterwards.
    int held[3];
    int count = 0;
    int fd = _open(path, kFlags, kMode);
    while (fd >= 0 && fd <= 2 && count < 3) {
        held[count++] = fd;
        fd = _open(path, kFlags, kMode);
    }
    while (count > 0)
        _close(held[--count]);
    file.descriptor = fd;
    return fd != -1;
}

bool OutputFileWrite(OutputFile &file, const char *bytes, std::size_t length) {
    // _write takes an unsigned count but reports it as an int.  MSVCRT
    // raises no signal on a failed write.
    while (length > 0) {
        const unsigned chunk = length < INT_MAX ? static_cast<unsigned>(length) : INT_MAX;
        const int written = _write(file.descriptor, bytes, chunk);
        if (written <= 0) // -1 is failure; 0 would be no progress
            return false;
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

// MSVCRT raises no signal on a failed write to standard error either; a
// line it cannot take is lost.
void OutputFileDiagnose(OutputFile &, const char *module, const char *text) {
    fprintf(stderr, "%s%s", module, text);
    fflush(stderr);
}

void OutputFileClose(OutputFile &file) { _close(file.descriptor); }
