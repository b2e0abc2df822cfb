#include "scrub.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#define VYKOSTRA_X86 1
#include <cpuid.h>
#endif

namespace {

// Branch-free and in bytes, because that is what vector code does anyway:
// a high byte and a line break never coincide, so each byte either stays
// or takes one of the two replacements.  Every step stays 8 bits wide (no
// promotion to int) so that compilers keep 16 or 32 lanes per vector.
inline unsigned char ScrubByte(unsigned char c) {
    const unsigned char high = c >= 0x80u ? 0xFFu : 0u;
    const unsigned char odd = static_cast<unsigned char>(c | 1u);  // 0x0C, 0x0D -> 0x0D
    const unsigned char lineBreak = (odd == 0x0Du || c == 0x0Au) ? 0xFFu : 0u;
    const unsigned char keep = static_cast<unsigned char>(~(high | lineBreak));
    return static_cast<unsigned char>((c & keep) | ('X' & high) | (' ' & lineBreak));
}

// The one loop, inlined into each entry below so that each is compiled
// for its own target.  A fixed inner trip count lets even the cheapest
// vectoriser cost model (GCC's at -O2) vectorise the block loop; 64 bytes
// is two AVX vectors or four SSE2 ones, short enough to be unrolled whole.
// The tail is done byte by byte.
constexpr std::size_t kBlock = 64;

__attribute__((always_inline)) inline void ScrubLoop(unsigned char *bytes, std::size_t length) {
    std::size_t i = 0;
    for (; length - i >= kBlock; i += kBlock) {
        unsigned char *block = bytes + i;
        for (std::size_t j = 0; j < kBlock; ++j)
            block[j] = ScrubByte(block[j]);
    }
    for (; i < length; ++i)
        bytes[i] = ScrubByte(bytes[i]);
}

void ScrubBaseline(unsigned char *bytes, std::size_t length) { ScrubLoop(bytes, length); }

#ifdef VYKOSTRA_X86
__attribute__((target("avx2"))) void ScrubAvx2(unsigned char *bytes, std::size_t length) {
    ScrubLoop(bytes, length);
}
#else
void ScrubAvx2(unsigned char *bytes, std::size_t length) { ScrubLoop(bytes, length); }
#endif

} // namespace

ScrubPath ScrubPathFor(unsigned leaf1Ecx, unsigned xcr0, unsigned leaf7Ebx) {
    // AVX2 needs the CPU's word (leaf 7) and the operating system's: it has
    // enabled XSAVE (OSXSAVE) and saves the SSE and AVX registers (XCR0).
    const unsigned osxsaveAndAvx = (1u << 27) | (1u << 28);
    const unsigned sseAndAvxState = 6u;
    const unsigned avx2 = 1u << 5;
    const bool usable = (leaf1Ecx & osxsaveAndAvx) == osxsaveAndAvx &&
                        (xcr0 & sseAndAvxState) == sseAndAvxState && (leaf7Ebx & avx2) != 0;
    return usable ? ScrubPath::kAvx2 : ScrubPath::kBaseline;
}

ScrubPath CpuScrubPath() {
#ifdef VYKOSTRA_X86
    // Every CPU with AVX has leaf 7, so the highest leaf is not asked: each
    // cpuid costs about 1.5 us in a virtual machine.
    unsigned a = 0, b = 0, leaf1Ecx = 0, d = 0;
    __cpuid(1, a, b, leaf1Ecx, d);
    unsigned xcr0 = 0, xcr0High = 0;
    if ((leaf1Ecx & bit_OSXSAVE) != 0) // else xgetbv would fault
        __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    unsigned leaf7Ebx = 0, c = 0;
    __cpuid_count(7, 0, a, leaf7Ebx, c, d);
    return ScrubPathFor(leaf1Ecx, xcr0, leaf7Ebx);
#else
    return ScrubPath::kBaseline;
#endif
}

void ScrubBytes(unsigned char *bytes, std::size_t length, ScrubPath path) {
    if (path == ScrubPath::kAvx2)
        ScrubAvx2(bytes, length);
    else
        ScrubBaseline(bytes, length);
}

std::size_t ScrubItemText(char *text, ScrubPath &path) {
    // Measuring first keeps the rewrite a counted loop; replacements never
    // produce a NUL, so the length holds throughout.
    const std::size_t length = std::strlen(text);
    if (path == ScrubPath::kUnknown && length >= kScrubLongText)
        path = CpuScrubPath();
    ScrubBytes(reinterpret_cast<unsigned char *>(text), length, path);
    return length;
}
