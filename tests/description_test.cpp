// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The host tool's message descriptions: what they accept, and one clear
// line for each kind of mistake.
#include <gtest/gtest.h>

#include "description.h"

namespace {

struct BadCase {
    std::string input;
    const char *error;
    friend void PrintTo(const BadCase &c, std::ostream *os) { *os << c.error; }
};

class BadDescription : public testing::TestWithParam<BadCase> {};

TEST_P(BadDescription, IsReportedWithItsLine) {
    std::vector<ItemSpec> items;
    std::string error;
    EXPECT_FALSE(ParseDescription(GetParam().input, "m.msg", items, error));
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, BadDescription,
    testing::Values(
        BadCase{"37 1 2 \"x\"", "m.msg:1: unknown list '37' (a list is named by its head's "
                                "offset: 36, 68, 72, 76, 80, 84, 92, 96, 140, 144, 148, 152, "
                                "156, 160, 164, 168)"},
        BadCase{"\n# c\n88 1 2 \"x\"", "m.msg:3: unknown list '88' (a list is named by its "
                                       "head's offset: 36, 68, 72, 76, 80, 84, 92, 96, 140, "
                                       "144, 148, 152, 156, 160, 164, 168)"},
        BadCase{"36", "m.msg:1: missing field: kind"},
        BadCase{"36 1", "m.msg:1: missing field: size"},
        BadCase{"36 1 2 # no text", "m.msg:1: missing field: text (a quoted string or null)"},
        BadCase{"36 1 2 \"x\" 4", "m.msg:1: extra field '4' after the text"},
        BadCase{"36 1 2 \"x\"y", "m.msg:1: extra characters right after the text's closing quote"},
        BadCase{"36 1 2 nul", "m.msg:1: bad text 'nul' (a quoted string or null)"},
        BadCase{"36 1 2 \"abc", "m.msg:1: unterminated string"},
        BadCase{"36 1 2 \"abc\\", "m.msg:1: unterminated string"},
        BadCase{"36 1 2 \"a\nb\"", "m.msg:1: unterminated string"},
        BadCase{"36 1 2 \"\\q\"", "m.msg:1: bad escape \\q (known: \\n \\r \\f \\t \\v \\\\ "
                                  "\\\" \\xHH)"},
        BadCase{"36 1 2 \"\\x4\"", "m.msg:1: bad escape: \\x takes two hex digits"},
        BadCase{"36 1 2 \"\\x00\"", "m.msg:1: \\x00 in text: a text cannot hold a NUL"},
        BadCase{std::string("36 1 2 \"\"\n36 1 2 \"a\0b\"", 22),
                "m.msg:2: NUL byte in the line: a text cannot hold a NUL"},
        BadCase{std::string("36 1 2 \"\"\n\0" "36 1 2 \"\"", 20),  // first in its line
                "m.msg:2: NUL byte in the line: a text cannot hold a NUL"},
        BadCase{"36 1 2 \"\"\n\xEF\xBB\xBF" "36 1 2 \"\"", "m.msg:2: unknown list '\xEF\xBB\xBF" "36' (a list "
                                                   "is named by its head's offset: 36, 68, 72, 76, 80, "
                                                   "84, 92, 96, 140, 144, 148, 152, 156, 160, 164, 168)"},
        BadCase{"36 x 2 \"\"", "m.msg:1: bad kind 'x' (decimal, negative decimal or 0x hex)"},
        BadCase{"36 -0x1 2 \"\"", "m.msg:1: bad kind '-0x1' (decimal, negative decimal or 0x hex)"},
        BadCase{"36 4294967296 2 \"\"", "m.msg:1: kind '4294967296' is out of the 32-bit range"},
        BadCase{"36 -2147483649 2 \"\"", "m.msg:1: kind '-2147483649' is out of the 32-bit range"},
        BadCase{"36 1 -1 \"\"", "m.msg:1: bad size '-1' (decimal or 0x hex, 0 to 0xFFFFFFFF)"},
        BadCase{"36 1 0x \"\"", "m.msg:1: bad size '0x' (decimal or 0x hex, 0 to 0xFFFFFFFF)"},
        BadCase{"36 1 0x100000000 \"\"", "m.msg:1: size '0x100000000' is out of range (0 to "
                                         "0xFFFFFFFF)"},
        BadCase{"36 1 99999999999999999999999 \"\"", "m.msg:1: size '99999999999999999999999' "
                                                     "is out of range (0 to 0xFFFFFFFF)"}));

TEST(Description, AcceptsTheWholeFormat) {
    const std::string input = "# comment\r\n"
                              "\n"
                              "  36\t1 2 \"a\\n\\r\\f\\t\\v\\\\\\\"\\x41\\xff#\"  # trailing\r\n"
                              "168 -2147483648 0xFFFFFFFF null\n"
                              "140 0xFFFFFFFF 4294967295 \"\xE9\"\n"
                              "96 0 0 \"\"\n"
                              "72 1 2 \"x\"#right after the text\n"
                              "76 1 2 null#right after null";
    std::vector<ItemSpec> items;
    std::string error;
    ASSERT_TRUE(ParseDescription(input, "m", items, error)) << error;
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[0].list, 36u);
    EXPECT_EQ(items[0].text, "a\n\r\f\t\v\\\"A\xFF#");
    EXPECT_EQ(items[1].kind, INT32_MIN);
    EXPECT_EQ(items[1].size, 0xFFFFFFFFu);
    EXPECT_TRUE(items[1].nullText);
    EXPECT_EQ(items[2].kind, -1);
    EXPECT_EQ(items[2].size, 4294967295u);
    EXPECT_EQ(items[2].text, "\xE9");
    EXPECT_FALSE(items[3].nullText);
    EXPECT_EQ(items[3].text, "");
    EXPECT_EQ(items[4].text, "x");
    EXPECT_TRUE(items[5].nullText);
}

TEST(Description, QuotedTextsReadBackAsThemselves) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    std::vector<ItemSpec> items;
    std::string error;
    ASSERT_TRUE(ParseDescription("36 1 2 " + QuoteText(all), "m", items, error)) << error;
    EXPECT_EQ(items.at(0).text, all);
}

TEST(Description, UnreadableFile) {
    std::vector<ItemSpec> items;
    std::string error;
    EXPECT_FALSE(ReadDescription("/nonexistent/m.msg", items, error));
    EXPECT_EQ(error, "/nonexistent/m.msg: cannot read the message description (No such file "
                     "or directory)");
    EXPECT_FALSE(ReadDescription("/", items, error));
    EXPECT_EQ(error.rfind("/: cannot read", 0), 0u) << error;
}

} // namespace
