// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
#include "description.h"

#include <cerrno>
#include <cstring>
#include <cstdio>

#include "message.h"

namespace {

struct Cursor {
    const std::string &s;
    std::size_t pos;
    std::size_t end;  // end of the line, excluding the line feed

    bool AtEnd() const { return pos >= end; }
    char Peek() const { return s[pos]; }
    void SkipBlanks() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\r'))
            ++pos;
    }
    bool AtFieldEnd() const {
        return AtEnd() || Peek() == ' ' || Peek() == '\t' || Peek() == '\r' ||
               Peek() == '#';
    }
    std::string Word() {
        const std::size_t start = pos;
        while (!AtFieldEnd())
            ++pos;
        return s.substr(start, pos - start);
    }
};

// The escapes a quoted text knows besides \xHH, both ways.
struct Escape {
    char letter;
    char byte;
};
const Escape kEscapes[] = {{'n', '\n'}, {'r', '\r'}, {'f', '\f'}, {'t', '\t'},
                           {'v', '\v'}, {'\\', '\\'}, {'"', '"'}};

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decimal, or hex after 0x; at most `max`.  Keeps going past the 64-bit
// range without overflow so that huge numbers read as out of range.
bool ParseUnsigned(const std::string &word, uint64_t max, uint64_t &value,
                   bool &outOfRange) {
    const bool hex = word.size() > 2 && word[0] == '0' &&
                     (word[1] == 'x' || word[1] == 'X');
    const std::size_t start = hex ? 2 : 0;
    if (word.size() == start)
        return false;
    value = 0;
    outOfRange = false;
    for (std::size_t i = start; i < word.size(); ++i) {
        const int digit = hex ? HexDigit(word[i])
                              : (word[i] >= '0' && word[i] <= '9' ? word[i] - '0' : -1);
        if (digit < 0)
            return false;
        value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (value > max) {
            outOfRange = true;
            value = max;
        }
    }
    return true;
}

// Reads the quoted text at the cursor.  Returns an empty string on
// success, or what is wrong.
std::string ParseQuoted(Cursor &c, std::string &text) {
    ++c.pos;  // opening quote
    text.clear();
    for (;;) {
        if (c.AtEnd())
            return "unterminated string";
        const char ch = c.s[c.pos++];
        if (ch == '"')
            return "";
        if (ch != '\\') {
            text += ch;
            continue;
        }
        if (c.AtEnd())
            return "unterminated string";
        const char e = c.s[c.pos++];
        if (e == 'x') {
            const int hi = c.pos < c.end ? HexDigit(c.s[c.pos]) : -1;
            const int lo = c.pos + 1 < c.end ? HexDigit(c.s[c.pos + 1]) : -1;
            if (hi < 0 || lo < 0)
                return "bad escape: \\x takes two hex digits";
            c.pos += 2;
            const int byte = hi * 16 + lo;
            if (byte == 0)
                return "\\x00 in text: a text cannot hold a NUL";
            text += static_cast<char>(byte);
            continue;
        }
        const Escape *escape = nullptr;
        for (const Escape &known : kEscapes)
            if (known.letter == e)
                escape = &known;
        if (escape == nullptr)
            return std::string("bad escape \\") + e +
                   " (known: \\n \\r \\f \\t \\v \\\\ \\\" \\xHH)";
        text += escape->byte;
    }
}

// What is wrong with one line, or "" if it is fine.  Blank and comment
// lines set `isItem` to false.
std::string ParseLine(Cursor &c, ItemSpec &item, bool &isItem) {
    isItem = false;
    c.SkipBlanks();
    if (c.AtEnd() || c.Peek() == '#')
        return "";
    isItem = true;
    uint64_t value = 0;
    bool outOfRange = false;

    const std::string list = c.Word();
    if (!ParseUnsigned(list, 0xFFFFFFFFu, value, outOfRange) || outOfRange ||
        !IsList(static_cast<unsigned>(value)))
        return "unknown list '" + list + "' (a list is named by its head's offset: " +
               HeadOffsetsText() + ")";
    item.list = static_cast<unsigned>(value);

    c.SkipBlanks();
    if (c.AtEnd() || c.Peek() == '#')
        return "missing field: kind";
    const std::string kind = c.Word();
    const bool negative = !kind.empty() && kind[0] == '-';
    const std::string digits = negative ? kind.substr(1) : kind;
    const bool negativeHex = negative && digits.size() > 1 && digits[0] == '0' &&
                             (digits[1] == 'x' || digits[1] == 'X');
    if (negativeHex || !ParseUnsigned(digits, negative ? 0x80000000u : 0xFFFFFFFFu,
                                      value, outOfRange))
        return "bad kind '" + kind + "' (decimal, negative decimal or 0x hex)";
    if (outOfRange)
        return "kind '" + kind + "' is out of the 32-bit range";
    item.kind = static_cast<int32_t>(
        negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(value))
                 : static_cast<uint32_t>(value));

    c.SkipBlanks();
    if (c.AtEnd() || c.Peek() == '#')
        return "missing field: size";
    const std::string size = c.Word();
    if (!ParseUnsigned(size, 0xFFFFFFFFu, value, outOfRange))
        return "bad size '" + size + "' (decimal or 0x hex, 0 to 0xFFFFFFFF)";
    if (outOfRange)
        return "size '" + size + "' is out of range (0 to 0xFFFFFFFF)";
    item.size = static_cast<uint32_t>(value);

    c.SkipBlanks();
    if (c.AtEnd() || c.Peek() == '#')
        return "missing field: text (a quoted string or null)";
    if (c.Peek() == '"') {
        item.nullText = false;
        const std::string wrong = ParseQuoted(c, item.text);
        if (!wrong.empty())
            return wrong;
        if (!c.AtFieldEnd())
            return "extra characters right after the text's closing quote";
    } else {
        const std::string word = c.Word();
        if (word != "null")
            return "bad text '" + word + "' (a quoted string or null)";
        item.nullText = true;
        item.text.clear();
    }

    c.SkipBlanks();
    if (!c.AtEnd() && c.Peek() != '#')
        return "extra field '" + c.Word() + "' after the text";
    return "";
}

} // namespace

bool ParseDescription(const std::string &content, const std::string &name,
                      std::vector<ItemSpec> &items, std::string &error) {
    items.clear();
    // A UTF-8 byte-order mark, as Windows editors write one, is no field.
    static const char kByteOrderMark[] = "\xEF\xBB\xBF";
    std::size_t lineStart = content.compare(0, 3, kByteOrderMark) == 0 ? 3 : 0;
    // The first NUL byte is an error on its line; later ones are never reached.
    const std::size_t firstNul = content.find('\0', lineStart);
    for (unsigned line = 1; lineStart < content.size(); ++line) {
        std::size_t lineEnd = content.find('\n', lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = content.size();
        Cursor cursor{content, lineStart, lineEnd};
        ItemSpec item;
        bool isItem = false;
        const bool hasNul = firstNul >= lineStart && firstNul < lineEnd;
        const std::string wrong =
            hasNul ? "NUL byte in the line: a text cannot hold a NUL"
                   : ParseLine(cursor, item, isItem);
        if (!wrong.empty()) {
            error = name + ":" + std::to_string(line) + ": " + wrong;
            return false;
        }
        if (isItem)
            items.push_back(item);
        lineStart = lineEnd + 1;
    }
    return true;
}

bool ReadDescription(const std::string &path, std::vector<ItemSpec> &items,
                     std::string &error) {
    std::string content;
    std::FILE *in = std::fopen(path.c_str(), "rb");
    bool readable = in != nullptr;
    if (readable) {
        char buffer[65536];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            content.append(buffer, got);
        readable = !std::ferror(in);
    }
    const int err = errno;
    if (in != nullptr)
        std::fclose(in);
    if (!readable) {
        error = path + ": cannot read the message description (" +
                std::strerror(err) + ")";
        return false;
    }
    return ParseDescription(content, path, items, error);
}

std::string QuoteText(const std::string &text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        const Escape *escape = nullptr;
        for (const Escape &known : kEscapes)
            if (known.byte == ch)
                escape = &known;
        if (escape != nullptr) {
            out += '\\';
            out += escape->letter;
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out + "\"";
}
