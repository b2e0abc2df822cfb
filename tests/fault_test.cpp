// Faults injected at the library's calls into the C library: writes that
// make no progress, take one byte at a time or are interrupted; and proof
// that no path allocates from the heap or adds system calls.
#include <cstdlib>
#include <gtest/gtest.h>

#include "fault_shim.h"
#include "test_support.h"
#include "vykostra.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

struct Outcome {
    uint32_t result;
    std::string file;
    std::string err;
    int writes;
    int allocations;
};

Outcome CollapseWith(const char *description, WriteFault fault, const std::string &path) {
    HostMessage message;
    Build(message, description);
    CaptureStderr();
    g_shim.writes = 0;
    g_shim.allocations = 0;
    g_shim.writeFault = fault;
    g_shim.counting = true;
    const uint32_t result = VYKPgrMsgCollapse(message.Message(), path.c_str());
    g_shim.counting = false;
    g_shim.writeFault = WriteFault::kNone;
    std::string err = GetCapturedStderr();
    return {result, ReadFile(path), err, g_shim.writes.load(), g_shim.allocations.load()};
}

const char kTwoTexts[] = R"(36 1 2 "first|"
                            36 1 2 "second")";

TEST(WriteFaults, NoProgressEndsTheItemOnly) {
    TempDir dir;
    const Outcome got = CollapseWith(kTwoTexts, WriteFault::kZero, dir.Path("out"));
    EXPECT_EQ(got.result, PGRMSG_OK);
    EXPECT_EQ(got.file, "second");
    EXPECT_EQ(got.err, kWriteFailedLine);
}

TEST(WriteFaults, ShortWritesAreContinued) {
    TempDir dir;
    const Outcome got = CollapseWith(kTwoTexts, WriteFault::kOneByte, dir.Path("out"));
    EXPECT_EQ(got.file, "first|second");
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.writes, 12);
}

TEST(WriteFaults, InterruptedWriteIsRetried) {
    TempDir dir;
    const Outcome got = CollapseWith(kTwoTexts, WriteFault::kInterruptOnce, dir.Path("out"));
    EXPECT_EQ(got.file, "first|second");
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.writes, 3);
}

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
