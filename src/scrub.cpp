#include "scrub.h"

#include <cstring>

namespace {

// Branch-free on purpose: written this way the compiler turns the loop
// below into vector compares and selects.
inline unsigned char ScrubByte(unsigned char c) {
    c = (c & 0x80u) ? static_cast<unsigned char>('X') : c;
    const bool lineBreak = (c == '\n') | (c == '\f') | (c == '\r');
    return lineBreak ? static_cast<unsigned char>(' ') : c;
}

// A fixed inner trip count lets even the cheapest vectoriser cost model
// (GCC's at -O2) vectorise the block loop; the tail is done byte by byte.
constexpr std::size_t kBlock = 64;

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
