// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// Failure paths, each driven on purpose: a device that takes no writes, a
// file size limit, paths that cannot be opened.
#include <csignal>
#include <vector>
#include <fcntl.h>
#include <pthread.h>
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
    bool hostBlocks;  // the host had SIGXFSZ blocked (not pending) already
    std::string path;
    const char *description;
};

// SIGXFSZ stays at its default action, which kills: the host must live.
void CollapseUnderLimit(void *context) {
    const auto &run = *static_cast<LimitRun *>(context);
    rlimit limit{run.limit, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &limit);
    if (run.hostBlocks)
        BlockInThisThread(SIGXFSZ);
    HostMessage message;
    Build(message, run.description);
    const SignalState before = CurrentSignalState();
    const uint32_t result = VYKPgrMsgCollapse(message.Message(), run.path.c_str());
    const bool same = CurrentSignalState() == before;
    limit.rlim_cur = RLIM_INFINITY;  // for a coverage build's counters
    setrlimit(RLIMIT_FSIZE, &limit);
    ExitChild(result != PGRMSG_OK ? 1 : !same ? 2 : 0);
}

// Each row: a file size limit, whether the host blocks SIGXFSZ itself,
// what the file holds afterwards, how many writes failed.  The texts are
// 8, 8 and 3 bytes long.  SIGXFSZ is at its default action, which kills.
struct LimitCase {
    rlim_t limit;
    bool hostBlocks;
    const char *file;
    int failures;
    friend void PrintTo(const LimitCase &c, std::ostream *os) {
        *os << "limit " << c.limit << (c.hostBlocks ? ", SIGXFSZ blocked" : "");
    }
};

class FileSizeLimit : public testing::TestWithParam<LimitCase> {};

TEST_P(FileSizeLimit, ShortWriteIsContinuedAndFailureReported) {
    TempDir dir;
    LimitRun run{GetParam().limit, GetParam().hostBlocks, dir.Path("out"), R"(
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
    testing::Values(LimitCase{10, false, "12345678AB", 2},           // cut inside a text
                    LimitCase{10, true, "12345678AB", 2},
                    LimitCase{16, false, "12345678ABCDEFGH", 1},     // cut exactly at its end
                    LimitCase{19, false, "12345678ABCDEFGHxyz", 0},  // room for all
                    LimitCase{0, false, "", 3}));

// On 32-bit systems the file offset must not stop at 2 GiB.  One 64 MiB
// text, shared by 33 items, makes a file of 2.06 GiB.
TEST(LargeFile, WritesPastTwoGiB) {
    if (sizeof(void *) != 4)
        GTEST_SKIP() << "offsets are 64-bit here";
    std::string folder;  // and what the test made goes with it: 2 GiB a run
    {
        TempDir dir;
        folder = dir.path;
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
    EXPECT_FALSE(FileExists(folder));
}

// A host that has closed some of descriptors 0, 1 and 2 (daemons close
// all three): the file must take none of them, so a diagnostic goes
// nowhere instead of into it, and the host's descriptors stay closed.  The
// file takes the lowest free from 3 on; with none free, it cannot be
// opened at all.  Whatever the call does, the host's signal mask (which
// blocks SIGUSR1 here) is as it was, a call that neither writes nor prints
// included.
struct ClosedCase {
    std::vector<int> closed;
    rlim_t descriptors;  // a limit on them, or 0
    const char *description;
    int status;          // the child's: 0 result 0, 1 PGRMSG_ERR_OPEN
    const char *file;
    friend void PrintTo(const ClosedCase &c, std::ostream *os) {
        *os << c.closed.size() << " closed, limit " << c.descriptors << ": " << c.description;
    }
};

struct ClosedRun {
    ClosedCase c;
    std::string path;
};

void CollapseWithClosedDescriptors(void *context) {
    const auto &run = *static_cast<const ClosedRun *>(context);
    for (int fd = 3; fd < 1024; ++fd)  // the host's own: none from 3 on
        close(fd);
    for (const int fd : run.c.closed)
        close(fd);
    BlockInThisThread(SIGUSR1);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit before = limit;
    if (run.c.descriptors != 0) {
        limit.rlim_cur = run.c.descriptors;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    HostMessage message;
    Build(message, run.c.description);
    const SignalState state = CurrentSignalState();
    const uint32_t result = VYKPgrMsgCollapse(message.Message(), run.path.c_str());
    bool lowStaysClosed = true;
    for (const int fd : run.c.closed)
        lowStaysClosed = lowStaysClosed && fcntl(fd, F_GETFD) == -1;
    const bool same = CurrentSignalState() == state;
    setrlimit(RLIMIT_NOFILE, &before);
    ExitChild(!lowStaysClosed ? 9 : !same ? 8 : result == PGRMSG_OK ? 0
                                            : result == PGRMSG_ERR_OPEN ? 1 : 2);
}

class ClosedDescriptors : public testing::TestWithParam<ClosedCase> {};

TEST_P(ClosedDescriptors, FileTakesNoneOfThem) {
    TempDir dir;
    ClosedRun run{GetParam(), dir.Path("out")};
    std::string err;
    EXPECT_EQ(RunInChild(CollapseWithClosedDescriptors, &run, err), GetParam().status);
    EXPECT_EQ(ReadFile(run.path), GetParam().file);
}

const char kEmptyThenText[] = "36 1 2 \"\"\n36 1 2 \"TEXT\"";

INSTANTIATE_TEST_SUITE_P(
    HostLives, ClosedDescriptors,
    testing::Values(ClosedCase{{2}, 0, kEmptyThenText, 0, "TEXT"},
                    ClosedCase{{0, 2}, 0, kEmptyThenText, 0, "TEXT"},  // 0 taken, then 2 free
                    ClosedCase{{0, 1, 2}, 0, kEmptyThenText, 0, "TEXT"},
                    ClosedCase{{}, 4, kEmptyThenText, 0, "TEXT"},  // 3 is the last allowed
                    ClosedCase{{2}, 3, kEmptyThenText, 1, ""},     // none free from 3 on
                    ClosedCase{{}, 0, "36 2 2 \"kind 2\"", 0, ""}));  // no write, no print

// A standard error that takes no diagnostic: a pipe whose reader has gone
// (SIGPIPE), or a file at the file size limit (SIGXFSZ), both at their
// default action, which kills.  The diagnostic comes before the call's
// first write, or after it; it is lost quietly, the text is written, and
// the thread's signal state is as it was, a signal the host had pending
// included.  A host may have made standard error fully buffered: then the
// print succeeds and the flush is what fails.
struct BrokenErrCase {
    bool pipe;              // else a file at the size limit
    bool beforeFirstWrite;  // the empty item comes first
    bool hostPending;       // the host has the signal blocked and pending
    bool buffered;          // the host has made standard error fully buffered
    bool readerStays = false;  // the pipe's reader has not gone: the line
                               // must have reached it when the call returns
    friend void PrintTo(const BrokenErrCase &c, std::ostream *os) {
        *os << (c.pipe ? "pipe" : "size limit")
            << (c.beforeFirstWrite ? ", before the first write" : ", after it")
            << (c.hostPending ? ", host has it pending" : "")
            << (c.buffered ? ", buffered" : "") << (c.readerStays ? ", reader stays" : "");
    }
};

struct BrokenErrRun {
    BrokenErrCase c;
    TempDir dir;
};

void CollapseWithBrokenStandardError(void *context) {
    const auto &run = *static_cast<const BrokenErrRun *>(context);
    const int raised = run.c.pipe ? SIGPIPE : SIGXFSZ;
    const rlim_t full = 16;
    int reader = -1;
    if (run.c.pipe) {
        int fds[2];
        pipe(fds);
        if (run.c.readerStays) {
            reader = fds[0];
            fcntl(reader, F_SETFL, O_NONBLOCK);
        } else {
            close(fds[0]);
        }
        dup2(fds[1], 2);
        close(fds[1]);
    } else {
        const int fd = open(run.dir.Path("err").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        write(fd, "0123456789abcdef", full);
        dup2(fd, 2);
        close(fd);
        rlimit limit{full, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (run.c.hostPending) {
        BlockInThisThread(raised);
        raise(raised);
    }
    static char buffer[BUFSIZ];
    if (run.c.buffered)
        setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
    HostMessage message;
    Build(message, run.c.beforeFirstWrite ? "36 1 2 \"\"\n36 1 2 \"TEXT\""
                                          : "36 1 2 \"TEXT\"\n36 1 2 \"\"");
    const SignalState before = CurrentSignalState();
    const uint32_t result = VYKPgrMsgCollapse(message.Message(), run.dir.Path("out").c_str());
    const bool same = CurrentSignalState() == before;
    char line[256];
    const ssize_t got = reader == -1 ? 0 : read(reader, line, sizeof line);
    const bool arrived = reader == -1 ||
                         (got > 0 && std::string(line, static_cast<std::size_t>(got)) == kEmptyLine);
    // For a coverage build's counters, and its exit, which flushes what the
    // buffered standard error still holds.
    rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &unlimited);
    signal(SIGPIPE, SIG_IGN);
    ExitChild(result != PGRMSG_OK ? 1 : !same ? 2 : !arrived ? 3 : 0);
}

class BrokenStandardError : public testing::TestWithParam<BrokenErrCase> {};

TEST_P(BrokenStandardError, HostLives) {
    BrokenErrRun run{GetParam(), {}};
    std::string err;
    EXPECT_EQ(RunInChild(CollapseWithBrokenStandardError, &run, err), 0);
    EXPECT_EQ(ReadFile(run.dir.Path("out")), "TEXT");
}

INSTANTIATE_TEST_SUITE_P(HostLives, BrokenStandardError,
                         testing::Values(BrokenErrCase{true, true, false, false},
                                         BrokenErrCase{true, false, false, false},
                                         BrokenErrCase{true, false, true, false},
                                         BrokenErrCase{true, true, false, true},
                                         BrokenErrCase{false, true, false, false},
                                         BrokenErrCase{false, false, false, false},
                                         BrokenErrCase{false, true, true, false},
                                         BrokenErrCase{true, true, false, true, true}));

// A FIFO whose reader takes a few bytes of a long text and leaves, while
// the call is blocked writing it.  That write and the next item's each
// fail once (EPIPE), SIGPIPE kills nobody, and the thread's signal state
// is as it was, including a SIGPIPE the host already had pending.
struct PipeRun {
    std::string fifo;
    bool hostPending;
    bool otherThreadSawDefault = false;  // and its own mask, as the host set it
};

void CollapseIntoLeavingReader(void *context) {
    auto &run = *static_cast<PipeRun *>(context);
    if (run.hostPending) {
        BlockInThisThread(SIGPIPE);
        raise(SIGPIPE);
    }
    HostMessage message;
    Build(message, R"(36 1 2 "long"
                      36 1 2 "tail")");
    std::vector<char> text(std::size_t{1} << 20, 'b');
    text.back() = '\0';
    message.items[0].Text = text.data();
    const SignalState before = CurrentSignalState();
    pthread_t reader;
    pthread_create(
        &reader, nullptr,
        [](void *shared) -> void * {
            auto &state = *static_cast<PipeRun *>(shared);
            const int fd = open(state.fifo.c_str(), O_RDONLY);
            usleep(100000);  // the writer fills the pipe and blocks
            struct sigaction action {};
            sigaction(SIGPIPE, nullptr, &action);
            sigset_t mask;
            pthread_sigmask(SIG_BLOCK, nullptr, &mask);
            state.otherThreadSawDefault =
                action.sa_handler == SIG_DFL &&
                sigismember(&mask, SIGPIPE) == (state.hostPending ? 1 : 0);
            char some[10];
            read(fd, some, sizeof some);
            close(fd);
            return nullptr;
        },
        &run);
    const uint32_t result = VYKPgrMsgCollapse(message.Message(), run.fifo.c_str());
    pthread_join(reader, nullptr);
    ExitChild(result != PGRMSG_OK                      ? 1
          : !(CurrentSignalState() == before)     ? 2
          : !run.otherThreadSawDefault            ? 3
                                                  : 0);
}

TEST(HostLives, FifoReaderLeavesMidText) {
    for (const bool hostPending : {false, true}) {
        TempDir dir;
        PipeRun run{dir.Path("fifo"), hostPending};
        ASSERT_EQ(mkfifo(run.fifo.c_str(), 0600), 0);
        std::string err;
        EXPECT_EQ(RunInChild(CollapseIntoLeavingReader, &run, err), 0) << hostPending;
        EXPECT_EQ(err, std::string(kWriteFailedLine) + kWriteFailedLine) << hostPending;
    }
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
