// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The library through its export: what a host sees in its own memory, on
// disk and on standard error.
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include "test_support.h"
#include "vykostra.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

Collapsed Collapse(HostMessage &message, const TempDir &dir) {
    return CollapseCapturing(message, dir.Path("out"));
}

struct ScrubCase {
    const char *description;  // one item, written or not
    const char *inMemory;     // its text after the call
    const char *inFile;
    friend void PrintTo(const ScrubCase &c, std::ostream *os) { *os << c.description; }
};

class ScrubbedInMemory : public testing::TestWithParam<ScrubCase> {};

TEST_P(ScrubbedInMemory, TextIsRewrittenWhereItLies) {
    TempDir dir;
    HostMessage message;
    Build(message, GetParam().description);
    const char *before = message.items[0].Text;
    const Collapsed got = Collapse(message, dir);
    const char *after = message.items[0].Text;
    EXPECT_EQ(got.result, PGRMSG_OK);
    EXPECT_EQ(after, before);
    EXPECT_EQ(TextOf(message, 0), GetParam().inMemory);
    EXPECT_EQ(got.file, GetParam().inFile);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(ContractBreach(message), "");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ScrubbedInMemory,
    testing::Values(
        ScrubCase{R"(36 1 4 "\r\n\xE9")", "  X", "  X"},
        ScrubCase{R"(36 1 1 "a\nb")", "a b", ""},       // scrubbed, not written
        ScrubCase{R"(36 1 0 "\xFF\f")", "X ", ""},
        ScrubCase{R"(36 1 2 "caf\xE9 caf\xC3\xA9")", "cafX cafXX", "cafX cafXX"},
        ScrubCase{R"(36 1 2 "\t\v\x7F\x01\x1F")", "\t\v\x7F\x01\x1F", "\t\v\x7F\x01\x1F"},
        ScrubCase{R"(36 1 0xFFFFFFFF "\x80\x81\xFE\xFF")", "XXXX", "XXXX"},
        ScrubCase{R"(36 1 2 "X  already clean")", "X  already clean", "X  already clean"}));

TEST(Collapse, EveryByteValueMapsAsTheTableSays) {
    TempDir dir;
    std::string text, expected;
    for (int b = 1; b < 256; ++b) {
        text += static_cast<char>(b);
        const char e = b >= 0x80 ? 'X' : (b == '\n' || b == '\f' || b == '\r') ? ' '
                                                                               : static_cast<char>(b);
        expected += e;
    }
    HostMessage message;
    BuildMessage({ItemSpec{36, 1, 2, false, text}}, message);
    const Collapsed got = Collapse(message, dir);
    EXPECT_EQ(got.file, expected);
    EXPECT_EQ(TextOf(message, 0), expected);
}

// A text pointer into a page that cannot be read: any look at the text
// of an item that is not of kind 1 would crash the test.
TEST(Collapse, OtherKindsAreNeitherReadNorChanged) {
    TempDir dir;
    const long page = sysconf(_SC_PAGESIZE);
    void *guard = mmap(nullptr, static_cast<std::size_t>(page), PROT_NONE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(guard, MAP_FAILED);
    HostMessage message;
    Build(message, R"(
        36  0  2 "unread"
        36  2  2 "unread"
        140 -1 2 "unread"
        168 0x80000000 0xFFFFFFFF "unread"
        96  0xFFFFFFFF 3 "unread"
        96  1  3 "ok"
        96  2  9 "line\r\nbreak\xE9"
    )");
    for (std::size_t i = 0; i < 5; ++i)
        message.items[i].Text = static_cast<char *>(guard);
    message.snapshot.clear();  // the pointers above are the host's change
    const Collapsed got = Collapse(message, dir);
    munmap(guard, static_cast<std::size_t>(page));
    EXPECT_EQ(got.result, PGRMSG_OK);
    EXPECT_EQ(got.file, "ok");
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(TextOf(message, 6), "line\r\nbreak\xE9");
}

TEST(Collapse, RecordsKeepEveryOtherByte) {
    TempDir dir;
    HostMessage message;
    std::string description, expected;
    for (const unsigned list : {36u, 68u, 72u, 76u, 80u, 84u, 92u, 96u, 140u, 144u, 148u,
                                152u, 156u, 160u, 164u, 168u}) {
        const std::string head = std::to_string(list);
        description += head + " 1 2 \"t\\n\"\n" + head + " 7 2 \"k\\n\"\n" + head + " 1 0 \"\"\n";
        expected += "t ";
    }
    Build(message, description);
    EXPECT_EQ(Collapse(message, dir).file, expected);
    EXPECT_EQ(ContractBreach(message), "");
}

TEST(Collapse, WalkOrderIsFixedAndListsKeepTheirOrder) {
    TempDir dir;
    HostMessage message;
    Build(message, R"(
        36 1 3 "AB"
        140 1 3 "CD"
        36 1 2 "ab"
        168 1 2 "z"
        92 1 2 "y"
        152 1 2 "x"
        76 1 2 "w"
    )");
    EXPECT_EQ(Collapse(message, dir).file, "CDABabwxyz");
}

TEST(Collapse, ExistingFileIsTruncated) {
    TempDir dir;
    WriteFile(dir.Path("out"), "an older and much longer content");
    HostMessage message;
    Build(message, R"(36 1 2 "new")");
    EXPECT_EQ(Collapse(message, dir).file, "new");

    HostMessage empty;
    Build(empty, "");
    EXPECT_EQ(Collapse(empty, dir).file, "");
}

TEST(Collapse, EmptyMessageCreatesAnEmptyFileWithMode0600) {
    TempDir dir;
    HostMessage message;
    Build(message, "");
    const mode_t old = umask(0);
    const Collapsed got = Collapse(message, dir);
    umask(old);
    EXPECT_EQ(got.result, PGRMSG_OK);
    EXPECT_EQ(got.err, "");
    struct stat st {};
    ASSERT_EQ(stat(dir.Path("out").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_size, 0);
}

TEST(Collapse, EmptyTextsAndNullTexts) {
    TempDir dir;
    HostMessage message;
    Build(message, R"(
        36 1 2 ""
        36 1 1 ""
        36 1 0 null
        36 1 2 null
        36 2 2 null
        36 1 0xFFFFFFFF "end"
    )");
    const Collapsed got = Collapse(message, dir);
    EXPECT_EQ(got.result, PGRMSG_OK);
    EXPECT_EQ(got.file, "end");
    EXPECT_EQ(got.err, std::string(kEmptyLine) + kEmptyLine);
}

TEST(Collapse, NullMessageOrPathIsAnOpenError) {
    TempDir dir;
    const std::string path = dir.Path("out");
    CaptureStderr();
    EXPECT_EQ(VYKPgrMsgCollapse(nullptr, path.c_str()), PGRMSG_ERR_OPEN);
    HostMessage message;
    Build(message, R"(36 1 2 "a\nb")");
    EXPECT_EQ(VYKPgrMsgCollapse(message.Message(), nullptr), PGRMSG_ERR_OPEN);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(TextOf(message, 0), "a\nb");
}

TEST(Collapse, ResultCodeReadsNegativeWhenSigned) {
    EXPECT_EQ(static_cast<int32_t>(PGRMSG_ERR_OPEN), -1879023614);
}

TEST(Collapse, LoadsByNameWithOneExport) {
    void *library = dlopen(VYKOSTRA_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto collapse = reinterpret_cast<PFN_VYKPgrMsgCollapse>(dlsym(library, "VYKPgrMsgCollapse"));
    ASSERT_NE(collapse, nullptr);
    for (const char *internal : {"ScrubItemText", "CollapseItem", "CollapseItemList",
                                 "OutputFileOpen", "_Z13ScrubItemTextPc"})
        EXPECT_EQ(dlsym(library, internal), nullptr) << internal;
    TempDir dir;
    HostMessage message;
    Build(message, R"(36 1 3 "AB" 
                      140 1 3 "CD")");
    EXPECT_EQ(collapse(message.Message(), dir.Path("out").c_str()), PGRMSG_OK);
    EXPECT_EQ(ReadFile(dir.Path("out")), "CDAB");
    dlclose(library);
}

} // namespace
