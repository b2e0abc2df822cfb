// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The scrub itself, against a byte-at-a-time model: every loop this CPU
// runs, at every length and alignment around its vectors, and the choice
// of loop that a text's length makes.
#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "scrub.h"

namespace {

unsigned char Model(unsigned char c) {
    if (c >= 0x80)
        return 'X';
    if (c == '\n' || c == '\f' || c == '\r')
        return ' ';
    return c;
}

std::string Scrubbed(std::string text) {
    for (char &c : text)
        c = static_cast<char>(Model(static_cast<unsigned char>(c)));
    return text;
}

// Text bytes without a NUL.
std::string RandomText(std::mt19937 &random, std::size_t length) {
    std::uniform_int_distribution<int> byte(1, 255);
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += static_cast<char>(byte(random));
    return text;
}

// The loops a test can run here: the one without SSE (where the build has
// one: not where SSE2 is the whole build's), SSE2 and AVX2 where they run.
std::vector<ScrubPath> Paths() {
    std::vector<ScrubPath> paths;
#ifndef __SSE2__
    paths.push_back(ScrubPath::kNoSse);
#endif
    const ScrubPath cpu = CpuScrubPath();
    if (cpu == ScrubPath::kSse2 || cpu == ScrubPath::kAvx2)
        paths.push_back(ScrubPath::kSse2);
    if (cpu == ScrubPath::kAvx2)
        paths.push_back(ScrubPath::kAvx2);
    return paths;
}

// Each loop measures as it scrubs, reading whole aligned vectors: it must
// stop at the NUL and write nothing outside the text, before or after; a
// text may end where its allocation ends.
TEST(Scrub, EveryLoopMatchesTheModelAtEveryLengthAndAlignment) {
    std::mt19937 random(12345);
    for (const ScrubPath path : Paths()) {
        for (std::size_t offset = 0; offset < 32; ++offset) {
            for (std::size_t length = 0; length < 300; ++length) {
                const std::string original = RandomText(random, length);
                const std::string scrubbed = Scrubbed(original);
                for (const std::size_t guard : {std::size_t{0}, std::size_t{40}}) {
                    // '\n' outside the text: must stay.
                    std::vector<char> buffer(offset + length + 1 + guard, '\n');
                    std::copy(original.begin(), original.end(), &buffer[offset]);
                    buffer[offset + length] = '\0';
                    std::vector<char> expected = buffer;
                    std::copy(scrubbed.begin(), scrubbed.end(), &expected[offset]);
                    for (int pass = 0; pass < 2; ++pass) {  // twice is once
                        ScrubPath memo = path;
                        ASSERT_EQ(ScrubItemText(&buffer[offset], memo), length);
                        ASSERT_EQ(buffer, expected) << "length " << length << " offset " << offset;
                    }
                }
            }
        }
    }
}

// Every byte value, alone (a byte at a time) and in a run (in vectors).
TEST(Scrub, EveryLoopMapsEveryByteValue) {
    for (const ScrubPath path : Paths()) {
        for (int b = 1; b < 256; ++b) {
            const auto byte = static_cast<unsigned char>(b);
            for (const std::size_t length : {std::size_t{1}, std::size_t{100}}) {
                std::string text(length, static_cast<char>(byte));
                ScrubPath memo = path;
                ASSERT_EQ(ScrubItemText(&text[0], memo), length);
                EXPECT_EQ(text, std::string(length, static_cast<char>(Model(byte)))) << b;
            }
        }
    }
}

// Only a long text makes the call ask the CPU, in the middle of the text
// (where asking costs a function call, a 32-bit call asks at its first
// text: every text is long); a call that knows already does not ask again.
TEST(Scrub, ItemTextAsksTheCpuOnlyForALongText) {
    std::mt19937 random(54321);
    const ScrubPath cpu = CpuScrubPath();
    std::vector<std::size_t> lengths{0, 1, 300, kScrubLongText, kScrubLongText + 77};
    if (kScrubLongText > 0)
        lengths.push_back(kScrubLongText - 1);
    for (const std::size_t length : lengths) {
        for (const ScrubPath known : {ScrubPath::kUnknown, ScrubPath::kNoSse}) {
            const std::string original = RandomText(random, length);
            std::vector<char> text(original.begin(), original.end());
            text.push_back('\0');
            text.push_back('\n');
            ScrubPath path = known;
            ASSERT_EQ(ScrubItemText(text.data(), path), length);
            EXPECT_EQ(std::string(text.data()), Scrubbed(original)) << length;
            EXPECT_EQ(text.back(), '\n');
            const bool asks = known == ScrubPath::kUnknown && length > kScrubLongText;
            EXPECT_EQ(path, asks ? cpu : known) << length;
        }
    }
}

// Windows' answers in a row of the table below: bit N, feature N present.
unsigned long long g_windowsSays = 0;
bool WindowsSays(unsigned feature) { return feature < 64 && ((g_windowsSays >> feature) & 1) != 0; }

// The AVX2 loop only where the CPU has AVX2 (in a leaf it has) and the
// operating system saves the AVX registers, else SSE2 where the CPU has it
// (every x86-64 CPU has): from the words the CPU answers (where the
// library asks it itself), from what Windows says (feature 40 AVX2, 10
// SSE2), and, for SSE2 alone, from the auxiliary vector's word, the
// kernel's or glibc's.
TEST(Scrub, LoopOnlyWhereCpuAndSystemAgree) {
    const unsigned osxsave = 1u << 27, avx = 1u << 28, avx2 = 1u << 5, sseAvx = 6u,
                   sse2 = 1u << 26;
    const ScrubPath noSse = sizeof(void *) == 8 ? ScrubPath::kSse2 : ScrubPath::kNoSse;
    struct Row {
        unsigned highestLeaf, leaf1Ecx, leaf1Edx, xcr0, leaf7Ebx;
        ScrubPath path;
    };
    const Row rows[] = {
        {13, osxsave | avx, sse2, sseAvx, avx2, ScrubPath::kAvx2},
        {7, osxsave | avx, 0xFFFFFFFFu, 0xE7u, 0xFFFFFFFFu, ScrubPath::kAvx2},
        {13, avx, sse2, sseAvx, avx2, ScrubPath::kSse2},          // XSAVE not enabled
        {13, osxsave, sse2, sseAvx, avx2, ScrubPath::kSse2},      // no AVX
        {13, osxsave | avx, sse2, 2u, avx2, ScrubPath::kSse2},    // AVX state not saved
        {13, osxsave | avx, sse2, sseAvx, ~avx2, ScrubPath::kSse2},  // no AVX2
        // Leaf 7 out of range ("Limit CPUID Maxval"): leaf 7's words are
        // another leaf's.
        {6, osxsave | avx, sse2, sseAvx, 0xFFFFFFFFu, ScrubPath::kSse2},
        {2, osxsave | avx, sse2, sseAvx, avx2, ScrubPath::kSse2},
        {2, 0, ~sse2, 0, 0xFFFFFFFFu, noSse},                     // Pentium II: no SSE
        {3, 0, (1u << 25) | (1u << 23), 0, avx2, noSse},          // Pentium III: SSE, MMX
    };
    for (const Row &row : rows)
        EXPECT_EQ(ScrubPathFor(row.highestLeaf, row.leaf1Ecx, row.leaf1Edx, row.xcr0, row.leaf7Ebx),
                  row.path)
            << row.highestLeaf << " " << row.leaf1Ecx << " " << row.leaf1Edx << " " << row.xcr0
            << " " << row.leaf7Ebx;

    const unsigned long long pfSse = 1ull << 6, pfSse2 = 1ull << 10, pfAvx = 1ull << 39,
                             pfAvx2 = 1ull << 40, pfAvx512 = 1ull << 41;
    struct WindowsRow {
        unsigned long long present;
        ScrubPath path;
    };
    const WindowsRow windowsRows[] = {
        {pfSse2 | pfAvx | pfAvx2 | pfAvx512, ScrubPath::kAvx2},
        {pfSse2 | pfAvx2, ScrubPath::kAvx2},
        {pfSse2, ScrubPath::kSse2},                 // XP to Windows 10 1809: AVX2 not known
        {pfSse2 | pfAvx | pfAvx512, ScrubPath::kSse2},
        {~pfAvx2, ScrubPath::kSse2},                // every other feature
        {~(pfSse2 | pfAvx2), noSse},                // SSE (feature 6) is not SSE2
        {pfSse, noSse},
        {0, noSse},
    };
    for (const WindowsRow &row : windowsRows) {
        g_windowsSays = row.present;
        EXPECT_EQ(ScrubPathForWindows(WindowsSays), row.path) << std::hex << row.present;
    }

    // Then a long text asks cpuid about AVX2.
    const ScrubPath hwcapNoSse = sizeof(void *) == 8 ? ScrubPath::kSse2ThenAsk : ScrubPath::kNoSse;
    struct HwcapRow {
        unsigned long hwcap;
        ScrubPath path;
    };
    const HwcapRow hwcapRows[] = {
        {0x1f8bfbffu, ScrubPath::kSse2ThenAsk},  // the kernel's: leaf 1's EDX
        {0x0383f9ffu, hwcapNoSse},               // Pentium III's: SSE, no SSE2
        {0x0183f9ffu, hwcapNoSse},               // Pentium II's
        {1, ScrubPath::kSse2ThenAsk},            // glibc's (2.26 on): SSE2
        {0, hwcapNoSse},                         // glibc's: no SSE2
    };
    for (const HwcapRow &row : hwcapRows)
        EXPECT_EQ(ScrubPathForHwcap(row.hwcap), row.path) << std::hex << row.hwcap;
}

} // namespace
