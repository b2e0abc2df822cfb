// The scrub itself, against a byte-at-a-time model, at every length and
// alignment around the block size of its vectorised loop.
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>

#include "scrub.h"

namespace {

unsigned char Model(unsigned char c) {
    if (c >= 0x80)
        return 'X';
    if (c == '\n' || c == '\f' || c == '\r')
        return ' ';
    return c;
}

TEST(Scrub, MatchesTheModelAtEveryLengthAndAlignment) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(1, 255);
    char buffer[600];
    for (std::size_t offset = 0; offset < 16; ++offset) {
        for (std::size_t length = 0; length < 300; ++length) {
            std::string original;
            for (std::size_t i = 0; i < length; ++i)
                original += static_cast<char>(byte(random));
            std::string expected = original;
            for (char &c : expected)
                c = static_cast<char>(Model(static_cast<unsigned char>(c)));

            char *text = buffer + offset;
            std::memcpy(text, original.c_str(), length + 1);
            text[length + 1] = '\n';  // past the NUL: must stay
            ASSERT_EQ(ScrubItemText(text), length);
            ASSERT_EQ(std::string(text), expected) << "length " << length;
            ASSERT_EQ(text[length + 1], '\n');
            ASSERT_EQ(ScrubItemText(text), length);  // twice is once
            ASSERT_EQ(std::string(text), expected);
        }
    }
}

TEST(Scrub, EmptyTextStaysEmpty) {
    char text[] = "\0\n";
    EXPECT_EQ(ScrubItemText(text), 0u);
    EXPECT_EQ(text[1], '\n');
}

TEST(Scrub, EveryByteValue) {
    unsigned char all[256];
    for (int b = 0; b < 256; ++b)
        all[b] = static_cast<unsigned char>(b);
    ScrubBytes(all, sizeof all);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(all[b], Model(static_cast<unsigned char>(b))) << b;
}

} // namespace
