// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// Preloaded into a program: its close() of standard output closes the
// descriptor and reports EIO, as a file system that defers its errors to
// the close (NFS, FUSE, quotas) reports a write it could not make.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <unistd.h>

int close(int fd) {
    int (*const real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "close");
    const int status = real(fd);
    if (fd != STDOUT_FILENO || status != 0)
        return status;
    errno = EIO;
    return -1;
}
