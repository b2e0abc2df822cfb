// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// How close the library comes to its limits:
//   - scrub: each loop, and a 1 MiB text through the public call, against
//     a memcpy of the same bytes (ratio "vs_memcpy");
//   - a realistic call: the open, one write per text and the close, against
//     the same system calls issued directly (ratio "vs_syscalls").
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "message.h"
#include "scrub.h"
#include "vykostra.h"

namespace {

constexpr std::size_t kTextBytes = std::size_t{1} << 20;

// Realistic text bytes: mostly ASCII, some line breaks and high bytes.
std::vector<char> MakeText(std::size_t bytes) {
    std::vector<char> text(bytes + 1);
    uint32_t state = 12345;
    for (std::size_t i = 0; i < bytes; ++i) {
        state = state * 1103515245u + 12345u;
        const unsigned r = (state >> 16) % 100;
        text[i] = r < 3 ? '\n' : r < 6 ? static_cast<char>(0xC3) : static_cast<char>('a' + r % 26);
    }
    text[bytes] = '\0';
    return text;
}

// Times `body` against `limit`, alternating them in one loop so that both
// see the same machine state.
template <class Body, class Limit>
void Ratio(benchmark::State &state, Body body, Limit limit, const char *counter) {
    using Clock = std::chrono::steady_clock;
    Clock::duration bodyTime{}, limitTime{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        body();
        const auto t1 = Clock::now();
        limit();
        const auto t2 = Clock::now();
        bodyTime += t1 - t0;
        limitTime += t2 - t1;
    }
    state.counters[counter] = static_cast<double>(bodyTime.count()) /
                              static_cast<double>(limitTime.count());
    state.counters["us_per_call"] = std::chrono::duration<double, std::micro>(bodyTime).count() /
                                    static_cast<double>(state.iterations());
}

// Times `scrub` against a memcpy of `text`'s `bytes` bytes.
template <class Scrub>
void AgainstMemcpy(benchmark::State &state, const std::vector<char> &text, std::size_t bytes,
                   Scrub scrub) {
    std::vector<char> copy(bytes + 1);
    benchmark::DoNotOptimize(copy.data());  // escapes, so no compiler drops the copy
    Ratio(
        state,
        [&] {
            scrub();
            benchmark::ClobberMemory();
        },
        [&] {
            std::memcpy(copy.data(), text.data(), bytes);
            benchmark::ClobberMemory();
        },
        "vs_memcpy");
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

// Each scrub loop on its own (measuring the text as it goes), at 64 B,
// 4 KiB, 64 KiB and 1 MiB.
void ScrubLoop(benchmark::State &state, ScrubPath path) {
    if (path > CpuScrubPath()) {
        state.SkipWithError("this CPU does not run this loop");
        return;
    }
    const auto bytes = static_cast<std::size_t>(state.range(0));
    std::vector<char> text = MakeText(bytes);
    AgainstMemcpy(state, text, bytes, [&] {
        ScrubPath memo = path;
        benchmark::DoNotOptimize(ScrubItemText(text.data(), memo));
    });
}
#ifndef __SSE2__  // a loop of its own only where SSE2 is not the build's
BENCHMARK_CAPTURE(ScrubLoop, nosse, ScrubPath::kNoSse)->Arg(64)->Arg(4096)->Arg(65536)->Arg(kTextBytes);
#endif
BENCHMARK_CAPTURE(ScrubLoop, sse2, ScrubPath::kSse2)->Arg(64)->Arg(4096)->Arg(65536)->Arg(kTextBytes);
BENCHMARK_CAPTURE(ScrubLoop, avx2, ScrubPath::kAvx2)->Arg(64)->Arg(4096)->Arg(65536)->Arg(kTextBytes);

// A 1 MiB text through the public call: measured, scrubbed and not written
// (Size 1), the file opened and closed, which loop to run asked once.
void ScrubThroughCall(benchmark::State &state) {
    std::vector<ItemSpec> specs(1);
    specs[0].list = 36;
    specs[0].kind = PGRMSG_KIND_TEXT;
    specs[0].size = 1;
    HostMessage message;
    BuildMessage(specs, message);
    std::vector<char> text = MakeText(kTextBytes);
    message.items[0].Text = text.data();
    AgainstMemcpy(state, text, kTextBytes, [&] {
        benchmark::DoNotOptimize(VYKPgrMsgCollapse(message.Message(), "/dev/null"));
    });
}
BENCHMARK(ScrubThroughCall);

// Sixteen lists, 52 texts of 20 to 200 bytes, written to a file in /tmp.
void RealisticCall(benchmark::State &state) {
    std::vector<ItemSpec> specs(52);
    for (std::size_t i = 0; i < specs.size(); ++i) {
        specs[i].list = HeadInTurn(i);
        specs[i].kind = PGRMSG_KIND_TEXT;
        specs[i].size = 2;
        const std::vector<char> text = MakeText(20 + (i * 37) % 180);
        specs[i].text = text.data();
    }
    HostMessage message;
    BuildMessage(specs, message);
    ScrubPath scrub = ScrubPath::kUnknown;
    for (auto &text : message.texts)  // as they stand after a first call
        ScrubItemText(text.data(), scrub);
    const auto &texts = message.texts;

    const std::string path = "/tmp/vykostra-bench." + std::to_string(getpid());
    Ratio(
        state, [&] { benchmark::DoNotOptimize(VYKPgrMsgCollapse(message.Message(), path.c_str())); },
        [&] {
            const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            for (const auto &text : texts)
                benchmark::DoNotOptimize(write(fd, text.data(), std::strlen(text.data())));
            close(fd);
        },
        "vs_syscalls");
    unlink(path.c_str());
}
BENCHMARK(RealisticCall);

} // namespace

BENCHMARK_MAIN();
