// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// Item text scrubbing: single-line 7-bit text, rewritten in place.
#ifndef VYKOSTRA_SCRUB_H
#define VYKOSTRA_SCRUB_H

#include <cstddef>

// The loops that do the rewrite, all giving the same bytes: one without
// SSE, one on SSE2 registers and, for long texts, one compiled for AVX2.
// SSE2 is part of x86-64, so 64-bit builds run their SSE2 loop from the
// start; 32-bit builds are compiled for i686 (Pentium Pro) and run the
// SSE2 and AVX2 loops only where the CPU and the operating system support
// them.  A call finds out at most once, and keeps the answer here, on its
// own stack: the library has no static state.
// (In the order of what they need of the CPU.)
enum class ScrubPath : unsigned char { kUnknown, kNoSse, kSse2, kAvx2 };

// Where the C runtime keeps what it asked the CPU and the operating system
// when the process started (glibc 2.33 on), asking it is a function call.
// Elsewhere the library asks the CPU itself: a cpuid costs microseconds in
// a virtual machine, and more again in the caches its exit to the
// hypervisor disturbs.  (VYKOSTRA_ASK_CPUID builds the asking way where
// glibc would answer: the tests run the Windows builds' decision on Linux.)
#if defined(__i386__) || defined(__x86_64__)
#define VYKOSTRA_X86 1
#if defined(__GLIBC__) && __has_include(<sys/platform/x86.h>) && !defined(VYKOSTRA_ASK_CPUID)
#define VYKOSTRA_CPU_FROM_RUNTIME 1
#endif
#endif

// A call asks once the loop it starts with has done this many bytes of a
// text without meeting its NUL: never for a text this long or shorter,
// always for one 32 bytes longer.  A 64-bit call starts with SSE2 and asks
// only for AVX2, which pays for asking on long texts alone.  A 32-bit call
// starts without SSE, a byte at a time (20 instructions a byte, 6,000 for
// a 300-byte text): over the few kilobytes of a pager message that costs
// more than asking, even where asking is three cpuids in a virtual
// machine (about 2 us each here), so it asks at its first text.
#if defined(VYKOSTRA_X86) && !defined(__SSE2__)
constexpr std::size_t kScrubLongText = 0;
#elif defined(VYKOSTRA_CPU_FROM_RUNTIME)
constexpr std::size_t kScrubLongText = 512;
#else
constexpr std::size_t kScrubLongText = 16384;
#endif

// Rewrites `text` (NUL-terminated, writable) so that it holds no byte at
// 0x80 or above and no line feed, form feed or carriage return: high bytes
// become 'X', those three become blanks.  Never changes the length; returns
// it (the number of bytes before the NUL) so the caller need not measure
// the text a second time.  `path` is the call's memo of the loop to use;
// a test sets it to run a loop of its choice (one the CPU runs).
std::size_t ScrubItemText(char *text, ScrubPath &path);

// The loop this CPU and operating system run best: the C runtime's answer
// where it keeps one, else cpuid's and xgetbv's.
ScrubPath CpuScrubPath();

// The same decision from the words the CPU answers: cpuid leaf 0's EAX
// (the highest leaf), leaf 1's ECX and EDX, XCR0 (as xgetbv reads it where
// leaf 1 allows), leaf 7's EBX (as read whatever the highest leaf: a CPU
// asked above it answers with another leaf's words, so this decision
// reads it only where the highest leaf allows).
ScrubPath ScrubPathFor(unsigned highestLeaf, unsigned leaf1Ecx, unsigned leaf1Edx, unsigned xcr0,
                       unsigned leaf7Ebx);

#endif
