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
// them.  A call finds out at most once (twice where SSE2 and AVX2 have
// different answerers, below), and keeps the answer here, on its own
// stack: the library has no static state.
// (The loops in the order of what they need of the CPU; last, a 32-bit
// call that knows it runs SSE2 and has yet to ask about AVX2.)
enum class ScrubPath : unsigned char { kUnknown, kNoSse, kSse2, kAvx2, kSse2ThenAsk };

// Who is asked decides what asking costs, and so when a call asks.  A
// cpuid always leaves a virtual machine for its hypervisor: 3 to 23 us
// each in the 2-core virtual machine of README's figures (with its
// host's load), natively and under Wine alike, and an ask for AVX2 takes
// three (leaves 0, 1 and 7) and an xgetbv, against 37 to 56 us for a
// whole realistic call to the null device under Wine.  So the library
// asks the CPU itself only where nobody keeps the answer:
//   - glibc 2.33 on asked the CPU and the kernel when the process started
//     and keeps the answer (<sys/platform/x86.h>): a function call.
//   - Windows' kernel publishes the processor's features to every process
//     (the shared user page), and IsProcessorFeaturePresent reads them
//     without a system call: 5 to 11 ns a call under Wine here.  Feature
//     10, SSE2 (PF_XMMI64_INSTRUCTIONS_AVAILABLE), is answered from
//     Windows XP on; feature 40, AVX2 (PF_AVX2_INSTRUCTIONS_AVAILABLE),
//     only by recent Windows 10 and 11 (Microsoft's reference does not say
//     from which; Server 2019 has been seen to say no on a CPU that has
//     it), and an older Windows' no leaves its calls the SSE2 loop.
//     kernel32.dll is in every process, so the import adds no module.
//   - Elsewhere (a glibc before 2.33, another C library; VYKOSTRA_ASK_CPUID
//     builds this way where glibc would answer, so the tests run it on
//     Linux): a 32-bit call learns SSE2 from the auxiliary vector the
//     kernel gave the process (getauxval, 4 ns), and any call asks cpuid
//     about AVX2 only once a text is long enough to pay for it.
#if defined(__i386__) || defined(__x86_64__)
#define VYKOSTRA_X86 1
#if defined(_WIN32)
#define VYKOSTRA_CPU_FROM_WINDOWS 1
#elif defined(__GLIBC__) && __has_include(<sys/platform/x86.h>) && !defined(VYKOSTRA_ASK_CPUID)
#define VYKOSTRA_CPU_FROM_RUNTIME 1
#elif defined(__linux__) && !defined(__SSE2__)
#define VYKOSTRA_SSE2_FROM_HWCAP 1
#endif
#endif

// How long a text must be for cpuid's answer to pay for itself, measured
// on that machine: CpuScrubPath() built the cpuid way, timed 200 times
// (median 28 us, both builds), and the SSE2 and AVX2 loops timed over the
// same texts of 4 KiB to 8 MiB, taking turns (medians): AVX2 is 53 ns a
// KiB faster up to 2 MiB, so asking comes back after about 520 KiB, and
// asking and AVX2 together first beat SSE2 alone at 1 MiB.  A call asks
// once it has done this many bytes of a text with SSE2, so a text that
// never pays the asking back costs at most the asking more than the best
// choice would have.
constexpr std::size_t kScrubCpuidLongText = std::size_t{512} << 10;

// A call asks once the loop it starts with has done this many bytes of a
// text without meeting its NUL: never for a text this long or shorter,
// always for one 32 bytes longer.  A 64-bit call starts with SSE2 and asks
// only for AVX2, which pays for asking on long texts alone.  A 32-bit call
// starts without SSE, a byte at a time (20 instructions a byte, 6,000 for
// a 300-byte text): that costs more than any asking but cpuid's, so it
// asks at its first text, and where only cpuid knows about AVX2, learns
// there only whether SSE2 runs.
#if defined(VYKOSTRA_X86) && !defined(__SSE2__)
constexpr std::size_t kScrubLongText = 0;
#elif defined(VYKOSTRA_CPU_FROM_RUNTIME) || defined(VYKOSTRA_CPU_FROM_WINDOWS)
constexpr std::size_t kScrubLongText = 512;
#else
constexpr std::size_t kScrubLongText = kScrubCpuidLongText;
#endif

// Where a call learns about SSE2 and AVX2 apart: after this many bytes of
// a text done with SSE2, it asks about AVX2.
#ifdef VYKOSTRA_SSE2_FROM_HWCAP
constexpr std::size_t kScrubAvx2LongText = kScrubCpuidLongText;
#else
constexpr std::size_t kScrubAvx2LongText = kScrubLongText;
#endif

// Rewrites `text` (NUL-terminated, writable) so that it holds no byte at
// 0x80 or above and no line feed, form feed or carriage return: high bytes
// become 'X', those three become blanks.  Never changes the length; returns
// it (the number of bytes before the NUL) so the caller need not measure
// the text a second time.  `path` is the call's memo of the loop to use;
// a test sets it to run a loop of its choice (one the CPU runs).
std::size_t ScrubItemText(char *text, ScrubPath &path);

// The loop this CPU and operating system run best, from whoever keeps
// the answer: glibc, Windows, else the CPU (cpuid and xgetbv).
ScrubPath CpuScrubPath();

// The decision, from each kind of answer, in one order: AVX2 where it
// runs, else SSE2 where it runs (on every x86-64 CPU), else the byte loop.
// (The forms that only some builds ask are here, inline: the others'
// library is then the same code, byte for byte, as without them.)
inline ScrubPath BestScrubPath(bool sse2, bool avx2) {
    if (avx2)
        return ScrubPath::kAvx2;
#ifdef __SSE2__
    static_cast<void>(sse2);
    return ScrubPath::kSse2;
#else
    return sse2 ? ScrubPath::kSse2 : ScrubPath::kNoSse;
#endif
}

// The words the CPU answers: cpuid leaf 0's EAX (the highest leaf), leaf
// 1's ECX and EDX, XCR0 (as xgetbv reads it where leaf 1 allows), leaf 7's
// EBX (as read whatever the highest leaf: a CPU asked above it answers
// with another leaf's words, so this decision reads it only where the
// highest leaf allows).
ScrubPath ScrubPathFor(unsigned highestLeaf, unsigned leaf1Ecx, unsigned leaf1Edx, unsigned xcr0,
                       unsigned leaf7Ebx);

// Windows' answers: `present(feature)` tells whether Windows says the
// processor feature numbered `feature` is present, as
// IsProcessorFeaturePresent does (a test gives its own).  AVX2 is feature
// 40 (PF_AVX2_INSTRUCTIONS_AVAILABLE), SSE2 feature 10
// (PF_XMMI64_INSTRUCTIONS_AVAILABLE), asked only where AVX2 is not known
// and the build lacks SSE2.  What Windows publishes is what its kernel
// set up for use, the registers' saving included: there is no XCR0 to
// read.
inline ScrubPath ScrubPathForWindows(bool (*present)(unsigned feature)) {
    const bool avx2 = present(40);
#ifdef __SSE2__
    return BestScrubPath(true, avx2);
#else
    return BestScrubPath(avx2 || present(10), avx2);
#endif
}

// What a 32-bit call that asks the CPU itself learns first, from the
// auxiliary vector's AT_HWCAP as getauxval gives it: kNoSse, or
// kSse2ThenAsk (AVX2 is for cpuid, on a long text).  The kernel's word is
// cpuid leaf 1's EDX, SSE2 its bit 26, and every CPU that runs i686 code
// has features above its third bit (TSC, CX8, CMOV); glibc from 2.26 on
// gives its own word instead, whose bits stop there (SSE2, x86-64,
// AVX-512), SSE2 first.
inline ScrubPath ScrubPathForHwcap(unsigned long hwcap) {
#ifdef __SSE2__
    static_cast<void>(hwcap);
    return ScrubPath::kSse2ThenAsk;
#else
    const bool glibcWord = (hwcap & ~7ul) == 0;
    const bool sse2 = (hwcap & (glibcWord ? 1ul : 1ul << 26)) != 0;
    return sse2 ? ScrubPath::kSse2ThenAsk : ScrubPath::kNoSse;
#endif
}

#endif
