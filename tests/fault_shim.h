// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// Fault injection for the library's calls into the C library: this test
// program defines write() and sigpending() (and, where no sanitizer owns
// it, malloc and friends) itself, so the library's calls land here first.
#ifndef VYKOSTRA_FAULT_SHIM_H
#define VYKOSTRA_FAULT_SHIM_H

#include <atomic>
#include <cstddef>

enum class WriteFault {
    kNone,
    kZero,          // the next write returns 0: no progress, no error
    kOneByte,       // every write takes one byte at most
    kInterruptOnce, // the next write fails with EINTR, having written nothing
    kInterruptThenZero,  // that, then the next returns 0 (errno still EINTR)
};

struct FaultShim {
    std::atomic<WriteFault> writeFault{WriteFault::kNone};
    std::atomic<int> writes{0};       // write() calls seen while counting
    std::atomic<int> allocations{0};  // heap calls seen while counting
    std::atomic<int> sigpendings{0};  // sigpending() calls seen while counting
    std::atomic<int> lastFd{-1};      // the descriptor the last write was given
    std::atomic<int> lastFdFlags{0};  // its F_GETFD flags then
    std::atomic<bool> counting{false};
};

extern FaultShim g_shim;

// Whether this build can count heap allocations (sanitizers own malloc).
bool ShimCountsAllocations();

#endif
