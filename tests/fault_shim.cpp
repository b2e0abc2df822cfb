// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
#include "fault_shim.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

FaultShim g_shim;

extern "C" ssize_t write(int fd, const void *bytes, size_t length) {
    if (g_shim.counting.load()) {
        ++g_shim.writes;
        g_shim.lastFd = fd;
        g_shim.lastFdFlags = fcntl(fd, F_GETFD);
    }
    switch (g_shim.writeFault.load()) {
    case WriteFault::kZero:
        g_shim.writeFault = WriteFault::kNone;
        return 0;
    case WriteFault::kInterruptOnce:
        g_shim.writeFault = WriteFault::kNone;
        errno = EINTR;
        return -1;
    case WriteFault::kInterruptThenZero:
        g_shim.writeFault = WriteFault::kZero;
        errno = EINTR;
        return -1;
    case WriteFault::kOneByte:
        if (length > 1)
            length = 1;
        break;
    case WriteFault::kNone:
        break;
    }
    return syscall(SYS_write, fd, bytes, length);
}

// The kernel's signal set is 64 bits; the rest of glibc's is zero.
extern "C" int sigpending(sigset_t *set) {
    if (g_shim.counting.load())
        ++g_shim.sigpendings;
    std::memset(set, 0, sizeof *set);
    return static_cast<int>(syscall(SYS_rt_sigpending, set, 8));
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define VYKOSTRA_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VYKOSTRA_SANITIZED 1
#endif

#if defined(VYKOSTRA_SANITIZED) || !defined(__GLIBC__)
bool ShimCountsAllocations() { return false; }
#else
// glibc's own entry points, for the counting wrappers below.
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void *__libc_memalign(size_t, size_t);
extern "C" void __libc_free(void *);

namespace {
void Count() {
    if (g_shim.counting.load(std::memory_order_relaxed))
        ++g_shim.allocations;
}
} // namespace

extern "C" void *malloc(size_t n) { Count(); return __libc_malloc(n); }
extern "C" void *calloc(size_t n, size_t m) { Count(); return __libc_calloc(n, m); }
extern "C" void *realloc(void *p, size_t n) { Count(); return __libc_realloc(p, n); }
extern "C" void *memalign(size_t a, size_t n) { Count(); return __libc_memalign(a, n); }
extern "C" void *aligned_alloc(size_t a, size_t n) { Count(); return __libc_memalign(a, n); }
extern "C" int posix_memalign(void **p, size_t a, size_t n) {
    Count();
    *p = __libc_memalign(a, n);
    return *p != nullptr ? 0 : ENOMEM;
}
extern "C" void free(void *p) { __libc_free(p); }
bool ShimCountsAllocations() { return true; }
#endif
