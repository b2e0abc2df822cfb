#include "scrub.h"

#include <cstring>

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

// A fixed inner trip count lets even the cheapest vectoriser cost model
// (GCC's at -O2) vectorise the block loop; 32 bytes is one AVX vector or
// two SSE2 ones, short enough to be unrolled whole.  The tail is done byte
// by byte.
constexpr std::size_t kBlock = 32;

} // namespace

void ScrubBytes(unsigned char *bytes, std::size_t length) {
    std::size_t i = 0;
    for (; length - i >= kBlock; i += kBlock) {
        unsigned char *block = bytes + i;
        for (std::size_t j = 0; j < kBlock; ++j)
            block[j] = ScrubByte(block[j]);
    }
    for (; i < length; ++i)
        bytes[i] = ScrubByte(bytes[i]);
}

std::size_t ScrubItemText(char *text) {
    // Measuring first keeps the rewrite a counted loop; replacements never
    // produce a NUL, so the length holds throughout.
    const std::size_t length = std::strlen(text);
    ScrubBytes(reinterpret_cast<unsigned char *>(text), length);
    return length;
}
