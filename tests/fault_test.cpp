// SPDX-License-Identifier: MIT
// Faults injected at the library's calls into the C library: writes that
// make no progress, take one byte at a time or are interrupted; and proof
// that no path allocates from the heap or adds system calls.
#include <cstdlib>
#include <gtest/gtest.h>

#include "fault_shim.h"
#include "test_support.h"
#include "vykostra.h"

namespace {

struct Outcome : Collapsed {
    int writes;
    int allocations;
};

Outcome CollapseWith(const char *description, WriteFault fault, const std::string &path) {
    HostMessage message;
    Build(message, description);
    g_shim.writes = 0;
    g_shim.allocations = 0;
    g_shim.writeFault = fault;
    const Collapsed collapsed =
        CollapseCapturing(message, path, [](bool calling) { g_shim.counting = calling; });
    g_shim.writeFault = WriteFault::kNone;
    return {collapsed, g_shim.writes.load(), g_shim.allocations.load()};
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
                    FaultCase{WriteFault::kInterruptOnce, "first|second", false, 3}));

// One write per written text and nothing else on the plain path.
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
