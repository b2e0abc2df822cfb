// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The library's own sources, built once more with each scrub loop's
// vector searches counted, so that a test sees which loop a call ran: on a
// CPU model of an emulator's, every loop writes the same bytes, and only
// a real CPU without the instructions would tell the wrong choice apart
// (by SIGILL; qemu-user raises it for SSE on a model without SSE, not for
// SSE2 or AVX2).
//   scrub_probe avx2|sse2|nosse|native OUTPUT-FILE [FEATURES]
// calls VYKPgrMsgCollapse on a long text and on a short one, and exits 0
// if the long one took the loop named (native: the one this CPU has, as
// the compiler's runtime asks it), the short one the loop a call starts
// with (or, where a call asks at its first text, the one named, short of
// AVX2 where only a long text asks about that), and every byte is the
// scrub's.  Built the Linux way (glibc's answer); with VYKOSTRA_ASK_CPUID,
// the way of C libraries without one (the auxiliary vector and cpuid); or
// for Windows, where FEATURES (numbers apart by commas, or "none") are the
// processor features Windows is to say are present, in place of its own
// answers.  Exits 77, with the reason, where the loop named is one this
// CPU cannot run, or Windows does not say whether it runs AVX2.
#include <immintrin.h>

namespace {
unsigned long g_searched[2];  // vectors searched: baseline, AVX2
}
// Each loop searches every vector it rewrites for the NUL first.
#define _mm_movemask_epi8(v) (++g_searched[0], _mm_movemask_epi8(v))
#define _mm256_movemask_epi8(v) (++g_searched[1], _mm256_movemask_epi8(v))

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
namespace {
// A row's answers, once it gives them: bit N says feature N is present.
bool g_standIn = false;
unsigned long long g_present = 0;
BOOL WINAPI StandInFeaturePresent(DWORD feature) {
    if (!g_standIn)
        return IsProcessorFeaturePresent(feature);
    return feature < 64 && ((g_present >> feature) & 1) != 0;
}
} // namespace
#define IsProcessorFeaturePresent StandInFeaturePresent
// The runtime's own fprintf, before any C++ header can choose another.
#include "../src/output_file_msvcrt.cpp"
#else
#include "../src/output_file_posix.cpp"
#endif
#include "../src/collapse.cpp"
#include "../src/scrub.cpp"
#undef _mm_movemask_epi8
#undef _mm256_movemask_epi8

#include <algorithm>
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
#ifdef _WIN32
    if (argc != 3 && argc != 4)
        return 2;
    if (argc == 4) {
        g_standIn = true;
        std::string features = argv[3];
        if (features != "none") {
            for (std::size_t at = 0; at <= features.size();) {
                const std::size_t comma = std::min(features.find(',', at), features.size());
                const unsigned long feature = std::stoul(features.substr(at, comma - at));
                if (feature >= 64)
                    return 2;
                g_present |= 1ull << feature;
                at = comma + 1;
            }
        }
    }
#else
    if (argc != 3)
        return 2;
#endif
    std::string want = argv[1];
    const bool avx2Runs = __builtin_cpu_supports("avx2");
    const bool sse2Runs = __builtin_cpu_supports("sse2");
    if (want == "native") {
#ifdef _WIN32
        if (avx2Runs && !g_standIn && !IsProcessorFeaturePresent(40)) {
            std::printf("skipped: this CPU has AVX2 and Windows does not say so "
                        "(feature 40 is answered from recent Windows 10 on)\n");
            return 77;
        }
#endif
        want = avx2Runs ? "avx2" : sse2Runs ? "sse2" : "nosse";
    }
#ifdef _WIN32
    // A row's answers are taken as they stand: one that says more than the
    // CPU has would kill the probe.
    if (g_standIn && ((want == "avx2" && !avx2Runs) || (want == "sse2" && !sse2Runs))) {
        std::printf("skipped: this CPU, or its system, does not run the %s loop\n", want.c_str());
        return 77;
    }
#endif
    // Before asking, a call runs SSE2 where the build's baseline has it,
    // else no vectors; where it asks at its first text, every text is long,
    // but where it asks about AVX2 apart, only a long text runs AVX2.
#ifdef __SSE2__
    const std::string start = "sse2";
#else
    const std::string start = "nosse";
#endif
    const bool shortAsks = kScrubLongText == 0;
    const std::size_t shortLength = kScrubAvx2LongText > 0 ? kScrubAvx2LongText : 13;
    const std::string shortWant = !shortAsks               ? start
                                  : kScrubAvx2LongText == 0 ? want
                                  : want == "avx2"          ? "sse2"
                                                            : want;

    unsigned long longRun[2], shortRun[2];
    const bool longSame = CollapseOne(kScrubAvx2LongText * 4 + 4096, argv[2], longRun);
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
                   Took(shortWant, shortRun)
               ? 0
               : 1;
}
