// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The library's own sources, built once more with each scrub loop's
// vector searches counted, so that a test sees which loop a call ran: on a
// CPU model of an emulator's, every loop writes the same bytes, and only
// a real CPU without the instructions would tell the wrong choice apart
// (by SIGILL; qemu-user raises it for SSE on a model without SSE, not for
// SSE2 or AVX2).
//   scrub_probe avx2|sse2|nosse|native OUTPUT-FILE
// calls VYKPgrMsgCollapse on a long text and on a short one, and exits 0
// if the long one took the loop named (native: the one this CPU has, as
// the compiler's runtime asks it), the short one the loop a call starts
// with (or, where a call asks at its first text, the one named), and
// every byte is the scrub's.  Built the Linux way (glibc's answer) or,
// with VYKOSTRA_ASK_CPUID, the Windows builds' way (cpuid and xgetbv).
#include <immintrin.h>

namespace {
unsigned long g_searched[2];  // vectors searched: baseline, AVX2
}
// Each loop searches every vector it rewrites for the NUL first.
#define _mm_movemask_epi8(v) (++g_searched[0], _mm_movemask_epi8(v))
#define _mm256_movemask_epi8(v) (++g_searched[1], _mm256_movemask_epi8(v))

#include "../src/collapse.cpp"
#include "../src/output_file_posix.cpp"
#include "../src/scrub.cpp"
#undef _mm_movemask_epi8
#undef _mm256_movemask_epi8

#include <cstdio>
#include <string>
#include <vector>

namespace {

unsigned char Scrubbed(unsigned char c) {
    return c >= 0x80 ? 'X' : c == '\n' || c == '\f' || c == '\r' ? ' ' : c;
}

// One text item through the public call: whether the file and the text
// in memory hold the scrub's bytes, and how many vectors each loop took.
bool CollapseOne(std::size_t length, const char *path, unsigned long searched[2]) {
    std::string original;
    for (std::size_t i = 0; i < length; ++i)
        original += static_cast<char>(1 + (i * 37) % 255);
    std::string expected = original;
    for (char &c : expected)
        c = static_cast<char>(Scrubbed(static_cast<unsigned char>(c)));
    std::vector<char> text(original.begin(), original.end());
    text.push_back('\0');
    PgrMsgItem item{};
    item.Size = 2;
    item.Kind = PGRMSG_KIND_TEXT;
    item.Text = text.data();
    PgrMsg message{};
    message.Head36 = &item;
    g_searched[0] = g_searched[1] = 0;
    const bool called = VYKPgrMsgCollapse(&message, path) == PGRMSG_OK;
    searched[0] = g_searched[0];
    searched[1] = g_searched[1];
    std::string file;
    if (std::FILE *in = std::fopen(path, "rb")) {
        int c;
        while ((c = std::fgetc(in)) != EOF)
            file += static_cast<char>(c);
        std::fclose(in);
    }
    return called && file == expected && std::string(text.data()) == expected;
}

// Whether a call's searches were the loop's named: AVX2 (after SSE2 or
// no vectors at all, for the bytes before the call asked), SSE2, or none.
bool Took(const std::string &loop, const unsigned long searched[2]) {
    if (loop == "avx2")
        return searched[1] > searched[0];
    if (loop == "sse2")
        return searched[0] > 0 && searched[1] == 0;
    return loop == "nosse" && searched[0] == 0 && searched[1] == 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3)
        return 2;
    std::string want = argv[1];
    if (want == "native")
        want = __builtin_cpu_supports("avx2")   ? "avx2"
               : __builtin_cpu_supports("sse2") ? "sse2"
                                                : "nosse";
    // Before asking, a call runs SSE2 where the build's baseline has it,
    // else no vectors; where it asks at its first text, every text is long.
#ifdef __SSE2__
    const std::string start = "sse2";
#else
    const std::string start = "nosse";
#endif
    const std::size_t shortLength = kScrubLongText > 0 ? kScrubLongText : 13;
    const bool shortAsks = kScrubLongText == 0;

    unsigned long longRun[2], shortRun[2];
    const bool longSame = CollapseOne(kScrubLongText * 4 + 4096, argv[2], longRun);
    const bool shortSame = CollapseOne(shortLength, argv[2], shortRun);
    std::string shortText(shortLength, 'a');
    ScrubPath memo = ScrubPath::kUnknown;
    ScrubItemText(&shortText[0], memo);
    const bool shortAsked = memo != ScrubPath::kUnknown;

    std::printf("long text: %lu SSE2 and %lu AVX2 vectors; short text: %lu and %lu%s%s\n",
                longRun[0], longRun[1], shortRun[0], shortRun[1],
                longSame && shortSame ? "" : "; bytes differ from the scrub's",
                shortAsked == shortAsks ? ""
                : shortAsks             ? "; the short text did not ask the CPU"
                                        : "; the short text asked the CPU");
    return longSame && shortSame && shortAsked == shortAsks && Took(want, longRun) &&
                   Took(shortAsks ? want : start, shortRun)
               ? 0
               : 1;
}
