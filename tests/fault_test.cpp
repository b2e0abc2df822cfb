// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// Faults injected at the library's calls into the C library: writes that
// make no progress, take one byte at a time or are interrupted; and proof
// that no path allocates from the heap or adds system calls.
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "fault_shim.h"
#include "test_support.h"
#include "vykostra.h"

namespace {

struct Outcome : Collapsed {
    int writes;
    int allocations;
    int sigpendings;
};

Outcome CollapseWith(const char *description, WriteFault fault, const std::string &path) {
    HostMessage message;
    Build(message, description);
    g_shim.writes = 0;
    g_shim.allocations = 0;
    g_shim.sigpendings = 0;
    g_shim.writeFault = fault;
    const Collapsed collapsed =
        CollapseCapturing(message, path, [](bool calling) { g_shim.counting = calling; });
    g_shim.writeFault = WriteFault::kNone;
    return {collapsed, g_shim.writes.load(), g_shim.allocations.load(),
            g_shim.sigpendings.load()};
}

// Each row: an injected fault, and what two texts leave behind.
struct FaultCase {
    WriteFault fault;
    const char *file;
    bool diagnosed;
    int writes;
};

class WriteFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(WriteFaults, OnlyAFailedWriteEndsAnItem) {
    TempDir dir;
    const Outcome got = CollapseWith(R"(36 1 2 "first|"
                                        36 1 2 "second")",
                                     GetParam().fault, dir.Path("out"));
    EXPECT_EQ(got.result, PGRMSG_OK);
    EXPECT_EQ(got.file, GetParam().file);
    EXPECT_EQ(got.err, GetParam().diagnosed ? kWriteFailedLine : "");
    EXPECT_EQ(got.writes, GetParam().writes);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WriteFaults,
    testing::Values(FaultCase{WriteFault::kNone, "first|second", false, 2},
                    // no progress and no error: the item ends, the walk goes on
                    FaultCase{WriteFault::kZero, "second", true, 2},
                    // short writes are continued to the end
                    FaultCase{WriteFault::kOneByte, "first|second", false, 12},
                    // interrupted before writing anything: retried
                    FaultCase{WriteFault::kInterruptOnce, "first|second", false, 3},
                    // then no progress: errno still says EINTR, but 0 is no error
                    FaultCase{WriteFault::kInterruptThenZero, "second", true, 3}));

// One write per written text and nothing else on the plain path: no
// question about pending signals, which only a failed write can raise.
TEST(SystemCalls, OneWritePerWrittenText) {
    TempDir dir;
    const Outcome got = CollapseWith(R"(140 1 2 "a\n"
                               36  1 1 "not written"
                               36  2 2 "other kind"
                               36  1 2 ""
                               168 1 0xFFFFFFFF "b\xE9")",
                            WriteFault::kNone, dir.Path("out"));
    EXPECT_EQ(got.file, "a bX");
    EXPECT_EQ(got.writes, 2);
    EXPECT_EQ(got.sigpendings, 0);
}

// The file's descriptor is close-on-exec wherever it lies, moved off a
// descriptor the host has closed (0, then the lowest free) included.
void CollapseIntoFile(void *context) {
    const auto &path = *static_cast<const std::string *>(context);
    HostMessage message;
    Build(message, "36 1 2 \"x\"");
    g_shim.counting = true;
    const uint32_t result = VYKPgrMsgCollapse(message.Message(), path.c_str());
    g_shim.counting = false;
    ExitChild(result != PGRMSG_OK || ReadFile(path) != "x" ? 1
              : g_shim.lastFd < 3                          ? 2
              : (g_shim.lastFdFlags & FD_CLOEXEC) == 0     ? 3
                                                           : 0);
}

TEST(SystemCalls, FileIsCloseOnExecWhereverItLies) {
    for (const bool inputClosed : {false, true}) {
        TempDir dir;
        std::string path = dir.Path("out");
        std::string err;
        EXPECT_EQ(RunInChild(
                      inputClosed ? +[](void *c) { close(0); CollapseIntoFile(c); }
                                  : CollapseIntoFile,
                      &path, err),
                  0)
            << inputClosed;
    }
}

// Every path, diagnostics included, runs without touching the heap.
TEST(Heap, NoAllocationOnAnyPath) {
    if (!ShimCountsAllocations())
        GTEST_SKIP() << "the sanitizer owns malloc in this build";
    g_shim.allocations = 0;
    g_shim.counting = true;
    void *volatile probe = std::malloc(32);  // the counter itself works
    g_shim.counting = false;
    std::free(probe);
    ASSERT_EQ(g_shim.allocations.load(), 1);

    TempDir dir;
    const char *description = R"(36 1 2 "text\r\n"
                                 36 1 2 ""
                                 36 1 1 null
                                 36 2 2 "kind 2")";
    const std::string paths[] = {dir.Path("out"), "/dev/full", dir.path, dir.Path("no/such")};
    for (const std::string &path : paths) {
        for (const WriteFault fault : {WriteFault::kNone, WriteFault::kZero, WriteFault::kOneByte,
                                       WriteFault::kInterruptOnce}) {
            EXPECT_EQ(CollapseWith(description, fault, path).allocations, 0) << path;
        }
    }
}

} // namespace
