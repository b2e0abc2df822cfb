// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The library under conditions a host meets rarely but must survive:
// writes interrupted by signals, a million-item list, thousands of calls,
// eight threads at once, a file it may not write.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

#include "test_support.h"
#include "vykostra.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

std::atomic<int> g_alarms{0};
void OnAlarm(int) { ++g_alarms; }

// The descriptor this process has open on `path` for writing, or -1.
int WriterOf(const std::string &path) {
    DIR *fds = opendir("/proc/self/fd");
    int found = -1;
    while (dirent *entry = fds != nullptr ? readdir(fds) : nullptr) {
        char target[4096];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0 || std::string(target, static_cast<std::size_t>(n)) != path)
            continue;
        const int fd = std::atoi(entry->d_name);
        if ((fcntl(fd, F_GETFL) & O_ACCMODE) == O_WRONLY)
            found = fd;
    }
    if (fds != nullptr)
        closedir(fds);
    return found;
}

struct FifoRun {
    std::string received;
    std::string err;
    uint32_t result = 0;
    bool writerCloseOnExec = false;
};

// Collapses `description` into a FIFO whose reader holds off until the
// writer has been interrupted by SIGALRM (installed without SA_RESTART)
// several times, then drains it.  The pipe holds 4096 bytes.
FifoRun CollapseIntoPausedFifo(const char *description, std::size_t bigText) {
    TempDir dir;
    const std::string fifo = dir.Path("fifo");
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_GE(reader, 0);
    EXPECT_GE(fcntl(reader, F_SETPIPE_SZ, 4096), 4096);

    HostMessage message;
    Build(message, description);
    std::vector<char> big(bigText + 1, 'b');
    big[bigText] = '\0';
    if (bigText > 0)
        message.items[0].Text = big.data();

    FifoRun run;
    struct sigaction action {}, old {};
    action.sa_handler = OnAlarm;  // no SA_RESTART: blocked writes fail with EINTR
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &old);
    g_alarms = 0;
    std::atomic<bool> returned{false};

    auto drainBody = [&] {
        BlockInThisThread(SIGALRM);
        while (g_alarms < 3 && !returned)
            usleep(1000);
        run.writerCloseOnExec = (fcntl(WriterOf(fifo), F_GETFD) & FD_CLOEXEC) != 0;
        fcntl(reader, F_SETFL, 0);
        char buffer[8192];
        ssize_t got;
        while ((got = read(reader, buffer, sizeof buffer)) != 0)
            if (got > 0)
                run.received.append(buffer, static_cast<std::size_t>(got));
    };
    // A plain thread: a join that fails is reported, never an abort.
    pthread_t drain;
    EXPECT_EQ(pthread_create(
                  &drain, nullptr,
                  [](void *body) -> void * {
                      (*static_cast<decltype(drainBody) *>(body))();
                      return nullptr;
                  },
                  &drainBody),
              0);
    const itimerval every10ms{{0, 10000}, {0, 10000}};
    setitimer(ITIMER_REAL, &every10ms, nullptr);
    CaptureStderr();
    run.result = VYKPgrMsgCollapse(message.Message(), fifo.c_str());
    returned = true;
    run.err = GetCapturedStderr();
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    EXPECT_EQ(pthread_join(drain, nullptr), 0);
    sigaction(SIGALRM, &old, nullptr);
    close(reader);
    return run;
}

// Whether a signal handler leaves the process's threads intact.  Under
// qemu-i386 it does not: once a handler has run while a second thread
// exists, pthread_join fails with EDEADLK.  Probed in a child, which the
// defect may break.
bool HandlersKeepThreadsIntact() {
    std::string err;
    return RunInChild(
               [](void *) {
                   signal(SIGUSR1, [](int) {});
                   pthread_t thread;
                   pthread_create(
                       &thread, nullptr,
                       [](void *) -> void * {
                           usleep(20000);
                           return nullptr;
                       },
                       nullptr);
                   raise(SIGUSR1);
                   ExitChild(pthread_join(thread, nullptr) == 0 ? 0 : 1);
               },
               nullptr, err) == 0;
}

#define SKIP_WHERE_HANDLERS_BREAK_THREADS()                                                  \
    if (!HandlersKeepThreadsIntact())                                                        \
    GTEST_SKIP() << "this host (an emulator) loses track of threads once a signal handler " \
                    "has run, so writes interrupted by signals cannot be driven here"

TEST(Signals, WriteInterruptedBeforeWritingIsRetried) {
    SKIP_WHERE_HANDLERS_BREAK_THREADS();
    // The first text fills the pipe; the second's write blocks having
    // written nothing, and is interrupted.
    const FifoRun run = CollapseIntoPausedFifo(R"(36 1 2 "filler"
                                                  36 1 2 "after the wait")",
                                               4096);
    EXPECT_EQ(run.result, PGRMSG_OK);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.received, std::string(4096, 'b') + "after the wait");
    EXPECT_GE(g_alarms.load(), 3);
}

TEST(Signals, WriteInterruptedPartWayIsContinued) {
    SKIP_WHERE_HANDLERS_BREAK_THREADS();
    // 20000 bytes into a 4096-byte pipe: the write is cut short by the
    // signal after the first 4096 and must be carried on.
    const FifoRun run = CollapseIntoPausedFifo(R"(36 1 2 "big"
                                                  36 1 2 "|end")",
                                               20000);
    EXPECT_EQ(run.result, PGRMSG_OK);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.received, std::string(20000, 'b') + "|end");
    EXPECT_TRUE(run.writerCloseOnExec);
}

// A million items in one list, walked on a 64 KiB stack: no recursion.
TEST(Scale, MillionItemListOnSmallStack) {
    constexpr std::size_t kItems = 1000000;
    std::vector<PgrMsgItem> items(kItems);
    char text[] = "ab\n";
    char other[] = "\xE9";
    PgrMsg message{};
    std::string expected;
    for (std::size_t i = 0; i < kItems; ++i) {
        items[i].Next = i + 1 < kItems ? &items[i + 1] : nullptr;
        items[i].Kind = i % 3 == 0 ? 2 : PGRMSG_KIND_TEXT;
        items[i].Size = i % 100000 == 1 ? 2 : 0;
        items[i].Text = i % 3 == 0 ? other : text;
        if (items[i].Kind == PGRMSG_KIND_TEXT && items[i].Size == 2)
            expected += "ab ";
    }
    message.Head96 = &items[0];
    TempDir dir;
    const std::string path = dir.Path("out");
    uint32_t result = 1;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 64 * 1024);
    struct Call {
        PgrMsg *message;
        const char *path;
        uint32_t *result;
    } call{&message, path.c_str(), &result};
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void *p) -> void * {
                      auto *c = static_cast<Call *>(p);
                      *c->result = VYKPgrMsgCollapse(c->message, c->path);
                      return nullptr;
                  },
                  &call),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(result, PGRMSG_OK);
    EXPECT_EQ(ReadFile(path), expected);
    EXPECT_STREQ(other, "\xE9");
}

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    if (DIR *fds = opendir("/proc/self/fd")) {
        while (readdir(fds) != nullptr)
            ++count;
        closedir(fds);
    }
    return count;
}

TEST(Scale, ThousandsOfCallsLeakNoDescriptor) {
    TempDir dir;
    HostMessage message;
    Build(message, R"(36 1 2 "x"
                      36 1 2 "")");
    const std::size_t before = OpenDescriptors();
    const std::string paths[] = {dir.Path("out"), dir.path, dir.Path("no/such"), "/dev/full"};
    CaptureStderr();
    for (int i = 0; i < 4000; ++i)
        VYKPgrMsgCollapse(message.Message(), paths[i % 4].c_str());
    GetCapturedStderr();
    EXPECT_EQ(OpenDescriptors(), before);
}

// Eight threads, each its own message and file, half of them writing to a
// device that refuses writes: every file is right and every diagnostic
// line comes out whole.
TEST(Threads, EightCallsAtOnce) {
    constexpr std::size_t kThreads = 8;
    constexpr int kItems = 200;
    TempDir dir;
    std::vector<HostMessage> messages(kThreads);
    std::vector<std::string> expected(kThreads), paths(kThreads);
    for (std::size_t t = 0; t < kThreads; ++t) {
        std::string description;
        for (int i = 0; i < kItems; ++i) {
            const std::string text = "t" + std::to_string(t) + "i" + std::to_string(i) + "\\n";
            description += i % 2 == 0 ? "36 1 2 \"" + text + "\"\n" : "140 1 2 \"\"\n";
        }
        Build(messages[t], description);
        for (int i = 0; i < kItems; i += 2)
            expected[t] += "t" + std::to_string(t) + "i" + std::to_string(i) + " ";
        paths[t] = t % 2 == 0 ? dir.Path("out" + std::to_string(t)) : "/dev/full";
    }
    CaptureStderr();
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (std::size_t t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            EXPECT_EQ(VYKPgrMsgCollapse(messages[t].Message(), paths[t].c_str()), PGRMSG_OK);
        });
    go = true;
    for (std::thread &thread : threads)
        thread.join();
    const std::string err = GetCapturedStderr();

    for (std::size_t t = 0; t < kThreads; t += 2)
        EXPECT_EQ(ReadFile(paths[t]), expected[t]) << t;
    int empty = 0, failed = 0, other = 0;
    for (std::size_t start = 0; start < err.size();) {
        const std::size_t end = err.find('\n', start);
        const std::string line = err.substr(start, end - start + 1);
        empty += line == kEmptyLine;
        failed += line == kWriteFailedLine;
        other += line != kEmptyLine && line != kWriteFailedLine;
        start = end == std::string::npos ? err.size() : end + 1;
    }
    EXPECT_EQ(other, 0);
    EXPECT_EQ(empty, static_cast<int>(kThreads) * kItems / 2);
    EXPECT_EQ(failed, static_cast<int>(kThreads) / 2 * kItems / 2);
}

void OpenAsNobody(void *context) {
    const auto *path = static_cast<const std::string *>(context);
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        _exit(3);
    HostMessage message;
    Build(message, R"(36 1 2 "a\n")");
    const uint32_t result = VYKPgrMsgCollapse(message.Message(), path->c_str());
    // _exit: as nobody, a coverage build could not write its counters.
    _exit(result == PGRMSG_ERR_OPEN && TextOf(message, 0) == "a\n" ? 0 : 1);
}

TEST(Failure, FileWithoutWritePermission) {
    TempDir dir;
    const std::string path = dir.Path("read-only");
    WriteFile(path, "keep");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    std::string err;
    // Root may write anything: the child drops to nobody first.
    EXPECT_EQ(RunInChild(OpenAsNobody, const_cast<std::string *>(&path), err), 0);
    EXPECT_EQ(err, "");
    EXPECT_EQ(ReadFile(path), "keep");
}

} // namespace
