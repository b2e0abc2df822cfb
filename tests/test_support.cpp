// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

const char kEmptyLine[] = "VYKOSTRA  Empty item in pager message has been bypassed...\n";
const char kWriteFailedLine[] = "VYKOSTRA  Error collapsing message...write failed.\n";

TempDir::TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/vykostra.XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir() {
    nftw(
        path.c_str(),
        [](const char *p, const struct stat *, int, struct FTW *) { return std::remove(p); },
        16, FTW_DEPTH | FTW_PHYS);
}

bool FileExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

std::string ReadFile(const std::string &path) {
    std::string bytes;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return bytes;  // /dev/full, for one, reads as endless zeros
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.append(buffer, got);
        std::fclose(f);
    }
    return bytes;
}

void WriteFile(const std::string &path, const std::string &bytes) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        throw std::runtime_error("cannot write " + path);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void Build(HostMessage &message, const std::string &description) {
    std::vector<ItemSpec> specs;
    std::string error;
    if (!ParseDescription(description, "test", specs, error))
        throw std::runtime_error(error);
    BuildMessage(specs, message);
}

std::string TextOf(const HostMessage &message, std::size_t i) {
    return message.texts.at(i).data();
}

Collapsed CollapseCapturing(HostMessage &message, const std::string &path,
                            void (*around)(bool)) {
    testing::internal::CaptureStderr();
    if (around != nullptr)
        around(true);
    const uint32_t result = VYKPgrMsgCollapse(message.Message(), path.c_str());
    if (around != nullptr)
        around(false);
    std::string err = testing::internal::GetCapturedStderr();
    return {result, ReadFile(path), err};
}

void ExitChild(int status) {
#ifdef VYKOSTRA_COVERAGE
    // The library's counters live in its own copy of the coverage runtime,
    // which writes them from an exit handler.
    std::exit(status);
#else
    _exit(status);
#endif
}

int RunInChild(void (*body)(void *), void *context, std::string &err) {
    // A pipe, not a file: limits the child sets on files must not touch it.
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        dup2(fds[1], 2);
        close(fds[1]);
        body(context);
        std::fflush(nullptr);
        ExitChild(0);
    }
    close(fds[1]);
    err.clear();
    char buffer[4096];
    ssize_t got;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0)
        err.append(buffer, static_cast<std::size_t>(got));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

SignalState CurrentSignalState() {
    sigset_t mask, pending;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    sigpending(&pending);
    SignalState state;
    for (int s = 1; s < 32; ++s) {
        if (sigismember(&mask, s) == 1)
            state.mask += std::to_string(s) + " ";
        if (sigismember(&pending, s) == 1)
            state.pending += std::to_string(s) + " ";
    }
    for (const int s : {SIGPIPE, SIGXFSZ}) {
        struct sigaction action {};
        sigaction(s, nullptr, &action);
        state.dispositions += action.sa_handler == SIG_DFL   ? "default "
                              : action.sa_handler == SIG_IGN ? "ignore "
                                                             : "handler ";
    }
    return state;
}

void BlockInThisThread(int signal) {
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    pthread_sigmask(SIG_BLOCK, &one, nullptr);
}
