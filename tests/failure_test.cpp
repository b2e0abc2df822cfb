// Failure paths, each driven on purpose: a device that takes no writes, a
// file size limit, paths that cannot be opened.
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_support.h"
#include "vykostra.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

const char kThreeTexts[] = R"(
    36  1 2 "first\n"
    36  1 2 ""
    140 1 1 "unwritten"
    140 1 9 "second\xE9"
    68  2 2 "other kind"
    68  1 0xFFFFFFFF "third"
)";

TEST(Failure, DeviceThatTakesNoWrites) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full here";
    HostMessage message;
    Build(message, kThreeTexts);
    const Collapsed got = CollapseCapturing(message, "/dev/full");
    EXPECT_EQ(got.result, PGRMSG_OK);
    // Walk order: 140 first, then 36, then 68.
    EXPECT_EQ(got.err, std::string(kWriteFailedLine) + kWriteFailedLine + kEmptyLine +
                           kWriteFailedLine);
    EXPECT_EQ(TextOf(message, 0), "first ");
    EXPECT_EQ(TextOf(message, 3), "secondX");
    EXPECT_EQ(ContractBreach(message), "");
}

struct LimitRun {
    rlim_t limit;
    std::string path;
    const char *description;
};

void CollapseUnderLimit(void *context) {
    const auto &run = *static_cast<LimitRun *>(context);
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{run.limit, run.limit};
    setrlimit(RLIMIT_FSIZE, &limit);
    HostMessage message;
    Build(message, run.description);
    _exit(VYKPgrMsgCollapse(message.Message(), run.path.c_str()) == PGRMSG_OK ? 0 : 1);
}

// Each row: a file size limit, what the file holds afterwards, how many
// writes failed.  The texts are 8, 8 and 3 bytes long.
struct LimitCase {
    rlim_t limit;
    const char *file;
    int failures;
    friend void PrintTo(const LimitCase &c, std::ostream *os) { *os << "limit " << c.limit; }
};

class FileSizeLimit : public testing::TestWithParam<LimitCase> {};

TEST_P(FileSizeLimit, ShortWriteIsContinuedAndFailureReported) {
    TempDir dir;
    LimitRun run{GetParam().limit, dir.Path("out"), R"(
        36 1 2 "12345678"
        36 1 2 "ABCDEFGH"
        36 1 2 "xyz"
    )"};
    std::string err;
    EXPECT_EQ(RunInChild(CollapseUnderLimit, &run, err), 0);
    EXPECT_EQ(ReadFile(run.path), GetParam().file);
    std::string expected;
    for (int i = 0; i < GetParam().failures; ++i)
        expected += kWriteFailedLine;
    EXPECT_EQ(err, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, FileSizeLimit,
    testing::Values(LimitCase{10, "12345678AB", 2},           // cut inside a text
                    LimitCase{16, "12345678ABCDEFGH", 1},     // cut exactly at its end
                    LimitCase{19, "12345678ABCDEFGHxyz", 0},  // room for all
                    LimitCase{0, "", 3}));

// On 32-bit systems the file offset must not stop at 2 GiB.  One 64 MiB
// text, shared by 33 items, makes a file of 2.06 GiB.
TEST(LargeFile, WritesPastTwoGiB) {
    if (sizeof(void *) != 4)
        GTEST_SKIP() << "offsets are 64-bit here";
    TempDir dir;
    const std::size_t textBytes = std::size_t{64} << 20;
    const int items = 33;
    std::vector<char> text(textBytes + 1, 'a');
    text[textBytes] = '\0';
    HostMessage message;
    std::string description;
    for (int i = 0; i < items; ++i)
        description += "36 1 2 \"\"\n";
    Build(message, description);
    for (PgrMsgItem &item : message.items)
        item.Text = text.data();
    CaptureStderr();
    EXPECT_EQ(VYKPgrMsgCollapse(message.Message(), dir.Path("big").c_str()), PGRMSG_OK);
    EXPECT_EQ(GetCapturedStderr(), "");
    struct stat64 st {};
    ASSERT_EQ(stat64(dir.Path("big").c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), uint64_t{textBytes} * items);
}

TEST(Failure, PathsThatCannotBeOpened) {
    TempDir dir;
    const std::string paths[] = {dir.path, dir.Path("missing/out"), "", dir.path + "/"};
    for (const std::string &path : paths) {
        HostMessage message;
        Build(message, R"(36 1 2 "a\r\nb\xE9"
                          36 1 2 "")");
        const Collapsed got = CollapseCapturing(message, path);
        EXPECT_EQ(got.result, PGRMSG_ERR_OPEN) << path;
        EXPECT_EQ(got.err, "") << path;
        EXPECT_EQ(TextOf(message, 0), "a\r\nb\xE9") << path;
    }
    EXPECT_FALSE(FileExists(dir.Path("missing")));
}

} // namespace
