// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The DLL itself, as a Windows host calls it:
//   vykostra_dll_bench DLL [BASELINE-DLL BASELINE-NAME | - WHY-NONE]
// loads this build's DLL and, where given, an earlier one (both may be
// VYKOSTRA.dll, in folders of their own) into this process and calls them
// in turn, alternating which goes first, so that both see the same
// machine: a realistic call to the null device and to a file, and a 1 MiB
// text through the call.  Then what the call's decision of its scrub loop
// costs, and what asking the CPU instead costs (as the 32-bit DLL did at
// every call before Windows answered it).
#include <windows.h>

#include <algorithm>
#include <cpuid.h>
#include <cstdio>
#include <string>
#include <vector>

#include "message.h"
#include "scrub.h"
#include "vykostra.h"

namespace {

constexpr int kRounds = 7;

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

PFN_VYKPgrMsgCollapse Load(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    HMODULE library = LoadLibraryA(path.c_str());
    if (library == nullptr) {
        std::fprintf(stderr, "vykostra_dll_bench: cannot load %s (error %lu)\n", path.c_str(),
                     static_cast<unsigned long>(GetLastError()));
        return nullptr;
    }
    return reinterpret_cast<PFN_VYKPgrMsgCollapse>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "VYKPgrMsgCollapse")));
}

// Realistic text bytes: mostly ASCII, some line breaks and high bytes.
std::string MakeText(std::size_t bytes, uint32_t state) {
    std::string text(bytes, ' ');
    for (char &c : text) {
        state = state * 1103515245u + 12345u;
        const unsigned r = (state >> 16) % 100;
        c = r < 3 ? '\n' : r < 6 ? static_cast<char>(0xC3) : static_cast<char>('a' + r % 26);
    }
    return text;
}

// The sixteen lists, 48 text items of 20 to 300 bytes.
std::vector<ItemSpec> RealisticMessage() {
    std::vector<ItemSpec> specs(48);
    for (std::size_t i = 0; i < specs.size(); ++i) {
        specs[i].list = HeadInTurn(i);
        specs[i].kind = PGRMSG_KIND_TEXT;
        specs[i].size = 2;
        specs[i].text = MakeText(20 + (i * 97) % 281, static_cast<uint32_t>(i));
    }
    return specs;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// `calls` calls of each library a round, in turn, on `message` (scrubbed
// already, as after a host's first call), each to its own path.  A round
// gives each library's median call, and their ratio: a call that another
// process's work on this machine stretched moves a mean, not a median.
void Compare(const char *what, PFN_VYKPgrMsgCollapse mine, PFN_VYKPgrMsgCollapse baseline,
             const char *baselineName, HostMessage &message, const char *minePath,
             const char *baselinePath, int calls) {
    PFN_VYKPgrMsgCollapse libraries[2] = {mine, baseline};
    const char *paths[2] = {minePath, baselinePath};
    const int count = baseline != nullptr ? 2 : 1;
    for (int which = 0; which < count; ++which)
        libraries[which](message.Message(), paths[which]);
    std::vector<double> medians[2], ratios;
    std::vector<double> times[2];
    for (int round = 0; round < kRounds; ++round) {
        for (int which = 0; which < count; ++which)
            times[which].clear();
        for (int call = 0; call < calls; ++call) {
            for (int turn = 0; turn < count; ++turn) {
                const int which = (call + turn) % count;
                const double start = Now();
                libraries[which](message.Message(), paths[which]);
                times[which].push_back((Now() - start) * 1e6);
            }
        }
        for (int which = 0; which < count; ++which)
            medians[which].push_back(Median(times[which]));
        if (count == 2)
            ratios.push_back(medians[0].back() / medians[1].back());
    }
    std::printf("%s, %d calls of each a round, %d rounds (median call of a round; the median "
                "round, and the range):\n",
                what, calls, kRounds);
    std::printf("  this DLL  %8.2f us (%.2f to %.2f)\n", Median(medians[0]),
                *std::min_element(medians[0].begin(), medians[0].end()),
                *std::max_element(medians[0].begin(), medians[0].end()));
    if (count == 2) {
        std::printf("  %-9s %8.2f us (%.2f to %.2f)\n", baselineName, Median(medians[1]),
                    *std::min_element(medians[1].begin(), medians[1].end()),
                    *std::max_element(medians[1].begin(), medians[1].end()));
        std::printf("  this DLL / %s: %.3f (%.3f to %.3f)\n", baselineName, Median(ratios),
                    *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()));
    }
}

const char *LoopName(ScrubPath path) {
    return path == ScrubPath::kAvx2 ? "AVX2" : path == ScrubPath::kSse2 ? "SSE2" : "byte";
}

// The decision as the DLL makes it, compiled as the DLL's sources are
// (the module's objects are linked in): nanoseconds a call.
void DecisionCost() {
    constexpr int kCalls = 1000000;
    std::vector<double> perCall;
    ScrubPath path = ScrubPath::kUnknown;
    for (int round = 0; round < kRounds; ++round) {
        const double start = Now();
        for (int i = 0; i < kCalls; ++i)
            path = CpuScrubPath();
        perCall.push_back((Now() - start) / kCalls * 1e9);
    }
    std::printf("the decision (what Windows publishes, IsProcessorFeaturePresent), %d calls "
                "a round:\n  %.1f ns a call (rounds %.1f to %.1f): the %s loop\n",
                kCalls, Median(perCall), *std::min_element(perCall.begin(), perCall.end()),
                *std::max_element(perCall.begin(), perCall.end()), LoopName(path));

    // Asking the CPU: cpuid leaves 0, 1 and 7, and xgetbv.
    constexpr int kAsks = 200;
    perCall.clear();
    for (int round = 0; round < kRounds; ++round) {
        const double start = Now();
        for (int i = 0; i < kAsks; ++i) {
            unsigned highestLeaf = 0, a = 0, b = 0, c = 0, d = 0, leaf1Ecx = 0, leaf1Edx = 0;
            unsigned xcr0 = 0, xcr0High = 0, leaf7Ebx = 0;
            __cpuid(0, highestLeaf, b, c, d);
            __cpuid(1, a, b, leaf1Ecx, leaf1Edx);
            if ((leaf1Ecx & bit_OSXSAVE) != 0)
                __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
            __cpuid_count(7, 0, a, leaf7Ebx, c, d);
            path = ScrubPathFor(highestLeaf, leaf1Ecx, leaf1Edx, xcr0, leaf7Ebx);
        }
        perCall.push_back((Now() - start) / kAsks * 1e9);
    }
    std::printf("asking the CPU instead (cpuid leaves 0, 1, 7 and xgetbv), %d asks a round:\n"
                "  %.0f ns an ask (rounds %.0f to %.0f): the %s loop\n",
                kAsks, Median(perCall), *std::min_element(perCall.begin(), perCall.end()),
                *std::max_element(perCall.begin(), perCall.end()), LoopName(path));
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: vykostra_dll_bench DLL [BASELINE-DLL BASELINE-NAME | - "
                             "WHY-NONE]\n");
        return 2;
    }
    const PFN_VYKPgrMsgCollapse mine = Load(argv[1]);
    if (mine == nullptr)
        return 1;
    PFN_VYKPgrMsgCollapse baseline = nullptr;
    const char *baselineName = "";
    if (argc == 4 && std::string(argv[2]) != "-") {
        baseline = Load(argv[2]);
        if (baseline == nullptr)
            return 1;
        baselineName = argv[3];
        std::printf("VYKOSTRA.dll: this build's against %s's, called in turn\n", baselineName);
    } else {
        std::printf("VYKOSTRA.dll: this build's alone, with nothing to compare it with%s%s\n",
                    argc == 4 ? ": " : "", argc == 4 ? argv[3] : "");
    }

    HostMessage realistic;
    BuildMessage(RealisticMessage(), realistic);
    Compare("a realistic call (16 lists, 48 texts of 20 to 300 bytes) to NUL", mine, baseline,
            baselineName, realistic, "NUL", "NUL", 2000);
    Compare("the same call to a file", mine, baseline, baselineName, realistic,
            "dll-bench-this.out", "dll-bench-baseline.out", 2000);

    // Measured and scrubbed, not written (Size 1).
    std::vector<ItemSpec> one(1);
    one[0].list = 36;
    one[0].kind = PGRMSG_KIND_TEXT;
    one[0].size = 1;
    one[0].text = MakeText(std::size_t{1} << 20, 12345);
    HostMessage long1;
    BuildMessage(one, long1);
    Compare("a 1 MiB text through the call (Size 1, NUL)", mine, baseline, baselineName, long1,
            "NUL", "NUL", 200);

    DecisionCost();
    DeleteFileA("dll-bench-this.out");
    DeleteFileA("dll-bench-baseline.out");
    return 0;
}
