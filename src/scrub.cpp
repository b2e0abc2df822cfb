// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
#include "scrub.h"

#include <cstdint>
#include <cstring>

#ifdef VYKOSTRA_X86
#include <immintrin.h>
#if defined(VYKOSTRA_CPU_FROM_WINDOWS)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#elif defined(VYKOSTRA_CPU_FROM_RUNTIME)
// The header is written in C: its _Bool is no C++ keyword (GCC takes it
// as one, clang does not).
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <cpuid.h>
#ifdef VYKOSTRA_SSE2_FROM_HWCAP
#include <sys/auxv.h>
#endif
#endif
#endif

namespace {

// Lanes of bytes (GCC's and clang's vector extension): a single byte, or
// a whole SSE2 register, compiled for whatever the function it is inlined
// into targets.  Written out rather than left to the vectoriser, which
// clang declines for a loop that also searches for the NUL.
typedef unsigned char Lanes1 __attribute__((vector_size(1)));
typedef unsigned char Lanes16 __attribute__((vector_size(16)));

// The rewrite, the same for every lane and branch-free: a comparison gives
// all ones in the lanes where it holds.  A line break is raised to a blank
// by an unsigned maximum with a blank there and 0 elsewhere; a high byte
// is lowered to 'X' by an unsigned minimum with 'X' there and 0xA7 (above
// every other byte) elsewhere.  A maximum or minimum is one instruction,
// where a blend costs three on recent Intel cores.
template <class Lanes> __attribute__((always_inline)) inline void ScrubLanes(Lanes &c) {
    const auto breaks = static_cast<Lanes>(((c | 1) == 0x0D) | (c == 0x0A));  // 0x0C, 0x0D, 0x0A
    const Lanes blanks = breaks & ' ';
    c = c > blanks ? c : blanks;
    const Lanes ceiling = static_cast<Lanes>(c >= 0x80) ^ 0xA7;  // 0xFF ^ 0xA7 is 'X'
    c = c < ceiling ? c : ceiling;
}

// The builtin, not the C library's checked memcpy (_FORTIFY_SOURCE): a
// check of these fixed sizes is useless, and made clang keep `c` in memory.
template <class Lanes> __attribute__((always_inline)) inline void ScrubAt(unsigned char *bytes) {
    Lanes c;
    __builtin_memcpy(&c, bytes, sizeof c);
    ScrubLanes(c);
    __builtin_memcpy(bytes, &c, sizeof c);
}

// Texts shorter than the loop's vector of `kWidth` bytes: two SSE2-wide
// vectors where they fit (over shared bytes where the text is shorter than
// both; scrubbing twice is scrubbing once), else a byte at a time.
template <std::size_t kWidth>
__attribute__((always_inline)) inline void ScrubShort(unsigned char *bytes, std::size_t length) {
    if constexpr (kWidth > sizeof(Lanes16)) {
        if (length >= sizeof(Lanes16)) {
            ScrubAt<Lanes16>(bytes);
            ScrubAt<Lanes16>(bytes + length - sizeof(Lanes16));
            return;
        }
    }
    for (std::size_t i = 0; i < length; ++i)
        ScrubAt<Lanes1>(bytes + i);
}

// The limit of a scrub that goes on to the text's NUL.
constexpr std::size_t kWhole = SIZE_MAX;

// Without SSE, for 32-bit builds (on CPUs without SSE2, and before the
// call has asked): a byte at a time, measured as it goes, so that no C
// library function is called (the Windows DLL imports none it does not
// need).  Stops at the NUL, or once `kLimit` bytes are done.
template <std::size_t kLimit> std::size_t ScrubBytes(unsigned char *text) {
    std::size_t done = 0;
    for (; text[done] != '\0'; ++done) {
        if constexpr (kLimit != kWhole) {
            if (done == kLimit)
                break;
        }
        ScrubAt<Lanes1>(text + done);
    }
    return done;
}

#ifdef VYKOSTRA_X86
// The SSE2 loop's functions: on 32-bit builds, compiled for SSE2 alone
// (the rest of the library is for i686 without SSE) and run only once the
// call has asked the CPU.  On 64-bit ones SSE2 is the whole build's.
#ifdef __SSE2__
#define VYKOSTRA_SSE2
#else
#define VYKOSTRA_SSE2 __attribute__((target("sse2")))
#endif

// Measuring a text and scrubbing it are one pass: each aligned vector is
// searched for the NUL and, if it holds none, rewritten while it is in a
// register's reach.  Measuring first (strlen) reads a long text twice.
//
// An aligned vector never straddles a page, so it can be read whole even
// where the text begins after its first byte or ends before its last:
// only the text's own bytes are written.  Memcheck takes such aligned
// partial reads as they are; the address and thread sanitizers would
// take the bytes outside the text for the host's, so they leave this
// read alone (and, not inlined under them, the rest is still checked).
struct Vector128 {
    static constexpr std::size_t kWidth = sizeof(Lanes16);
    VYKOSTRA_SSE2 __attribute__((no_sanitize("address", "thread"))) static unsigned NulMask(
        const unsigned char *aligned) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i *>(aligned));
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
    }
    __attribute__((always_inline)) static void Scrub(unsigned char *bytes) {
        ScrubAt<Lanes16>(bytes);
    }
};

// AVX2 has a byte shuffle, which looks a lane up in a 16-byte table by its
// low four bits, or gives 0 where the lane's top bit is set: the whole
// rewrite in four single-cycle instructions, where the portable rule
// takes nine.
struct Vector256 {
    static constexpr std::size_t kWidth = sizeof(__m256i);
    __attribute__((target("avx2"), no_sanitize("address", "thread"))) static unsigned NulMask(
        const unsigned char *aligned) {
        const __m256i v = _mm256_load_si256(reinterpret_cast<const __m256i *>(aligned));
        return static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_setzero_si256())));
    }
    __attribute__((target("avx2"))) static void Scrub(unsigned char *bytes) {
        auto *at = reinterpret_cast<__m256i *>(bytes);
        // High bytes, negative as signed ones, become 0: the only 0s now,
        // since these bytes are the text's, before its NUL.
        __m256i c = _mm256_max_epi8(_mm256_loadu_si256(at), _mm256_setzero_si256());
        // Bytes below 0x10 find what they are raised to by their value: 0
        // an 'X', a line break a blank, the rest nothing (0).  Adding 0x70
        // with saturation sets the top bit of every byte from 0x10 up, for
        // which the shuffle gives 0.
        const __m256i raise = _mm256_setr_epi8(
            'X', 0, 0, 0, 0, 0, 0, 0, 0, 0, ' ', 0, ' ', ' ', 0, 0,
            'X', 0, 0, 0, 0, 0, 0, 0, 0, 0, ' ', 0, ' ', ' ', 0, 0);
        const __m256i index = _mm256_adds_epu8(c, _mm256_set1_epi8(0x70));
        c = _mm256_max_epu8(c, _mm256_shuffle_epi8(raise, index));
        _mm256_storeu_si256(at, c);
    }
};

// Scrubs `text` up to its NUL, or stops once at least `kLimit` bytes are
// done; returns the number done.  The limit is a constant so that a whole
// text's loop does not test it.
template <class Vector, std::size_t kLimit>
__attribute__((always_inline)) inline std::size_t ScrubVectors(unsigned char *text) {
    constexpr std::size_t kWidth = Vector::kWidth;
    const std::size_t skip = reinterpret_cast<std::uintptr_t>(text) % kWidth;
    const auto *first = reinterpret_cast<const unsigned char *>(
        reinterpret_cast<std::uintptr_t>(text) - skip);
    unsigned nul = Vector::NulMask(first) >> skip;
    std::size_t done = 0;
    if (nul == 0) {
        for (done = kWidth - skip; (nul = Vector::NulMask(text + done)) == 0; done += kWidth) {
            if constexpr (kLimit != kWhole) {
                if (done >= kLimit) {
                    Vector::Scrub(text);
                    return done;
                }
            }
            Vector::Scrub(text + done);
        }
    }
    const std::size_t length = done + static_cast<std::size_t>(__builtin_ctz(nul));
    if (length < kWidth) {
        ScrubShort<kWidth>(text, length);
    } else {
        // The bytes before the first aligned vector and after the last:
        // a vector each, over bytes already done (scrubbing twice is
        // scrubbing once).
        Vector::Scrub(text);
        Vector::Scrub(text + length - kWidth);
    }
    return length;
}

template <std::size_t kLimit> VYKOSTRA_SSE2 std::size_t ScrubSse2(unsigned char *text) {
    return ScrubVectors<Vector128, kLimit>(text);
}

__attribute__((target("avx2"))) std::size_t ScrubAvx2(unsigned char *text) {
    return ScrubVectors<Vector256, kWhole>(text);
}
#else
// Elsewhere: one loop, measured first, then rewritten a vector at a time.
// (SSE2 and AVX2 are names for it here.)

template <std::size_t> std::size_t ScrubSse2(unsigned char *text) {
    const std::size_t length = std::strlen(reinterpret_cast<char *>(text));
    std::size_t i = 0;
    for (; length - i >= sizeof(Lanes16); i += sizeof(Lanes16))
        ScrubAt<Lanes16>(text + i);
    ScrubShort<sizeof(Lanes16)>(text + i, length - i);
    return length;
}

std::size_t ScrubAvx2(unsigned char *text) { return ScrubSse2<kWhole>(text); }
#endif

} // namespace

ScrubPath ScrubPathFor(unsigned highestLeaf, unsigned leaf1Ecx, unsigned leaf1Edx, unsigned xcr0,
                       unsigned leaf7Ebx) {
    // AVX2 needs the CPU's word (leaf 7, where the CPU has that leaf) and
    // the operating system's: it has enabled XSAVE (OSXSAVE) and saves the
    // SSE and AVX registers (XCR0).  Every CPU that runs i686 code answers
    // leaf 1.
    const unsigned osxsaveAndAvx = (1u << 27) | (1u << 28);
    const unsigned sseAndAvxState = 6u;
    const unsigned avx2 = 1u << 5;
    const unsigned sse2 = 1u << 26;
    const bool usable = highestLeaf >= 7 && (leaf1Ecx & osxsaveAndAvx) == osxsaveAndAvx &&
                        (xcr0 & sseAndAvxState) == sseAndAvxState && (leaf7Ebx & avx2) != 0;
    return BestScrubPath((leaf1Edx & sse2) != 0, usable);
}

#ifdef VYKOSTRA_CPU_FROM_WINDOWS
namespace {
bool WindowsHas(unsigned feature) { return IsProcessorFeaturePresent(feature) != FALSE; }
} // namespace
#endif

ScrubPath CpuScrubPath() {
#if defined(VYKOSTRA_CPU_FROM_WINDOWS)
    return ScrubPathForWindows(WindowsHas);
#elif defined(VYKOSTRA_CPU_FROM_RUNTIME)
    // Active: the CPU has it and the operating system saves its registers.
    return BestScrubPath(CPU_FEATURE_ACTIVE(SSE2), CPU_FEATURE_ACTIVE(AVX2));
#elif defined(VYKOSTRA_X86)
    unsigned highestLeaf = 0, a = 0, b = 0, c = 0, d = 0;
    __cpuid(0, highestLeaf, b, c, d);
    unsigned leaf1Ecx = 0, leaf1Edx = 0;
    __cpuid(1, a, b, leaf1Ecx, leaf1Edx);
    unsigned xcr0 = 0, xcr0High = 0;
    if ((leaf1Ecx & bit_OSXSAVE) != 0) // else xgetbv would fault
        __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    unsigned leaf7Ebx = 0;
    __cpuid_count(7, 0, a, leaf7Ebx, c, d);
    return ScrubPathFor(highestLeaf, leaf1Ecx, leaf1Edx, xcr0, leaf7Ebx);
#else
    return ScrubPath::kSse2;
#endif
}

std::size_t ScrubItemText(char *text, ScrubPath &path) {
    // Replacements never produce a NUL, so a text's length is the same
    // before and after.
    auto *bytes = reinterpret_cast<unsigned char *>(text);
    std::size_t done = 0;
    if (path == ScrubPath::kUnknown) {
#if defined(__SSE2__) || !defined(VYKOSTRA_X86)
        done = ScrubSse2<kScrubLongText>(bytes);
#else
        done = ScrubBytes<kScrubLongText>(bytes);
#endif
        if (bytes[done] == '\0')
            return done;
#ifdef VYKOSTRA_SSE2_FROM_HWCAP
        path = ScrubPathForHwcap(getauxval(AT_HWCAP));
#else
        path = CpuScrubPath();
#endif
    }
    bytes += done;
#ifdef VYKOSTRA_SSE2_FROM_HWCAP
    if (path == ScrubPath::kSse2ThenAsk) {
        const std::size_t more = ScrubSse2<kScrubAvx2LongText>(bytes);
        if (bytes[more] == '\0')
            return done + more;
        done += more;
        bytes += more;
        path = CpuScrubPath();
    }
#endif
    if (path == ScrubPath::kAvx2)
        return done + ScrubAvx2(bytes);
#if !defined(__SSE2__) && defined(VYKOSTRA_X86)
    if (path != ScrubPath::kSse2)
        return done + ScrubBytes<kWhole>(bytes);
#endif
    // Where SSE2 is the whole build's, no call goes without it: a way to
    // the byte loop there moved the 64-bit calls' SSE2 loop, and slowed it.
    return done + ScrubSse2<kWhole>(bytes);
}
