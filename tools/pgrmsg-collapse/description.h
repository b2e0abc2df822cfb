// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// Message descriptions: the plain-text form in which pgrmsg-collapse and
// the tests write down a pager message, one item per line.
#ifndef PGRMSG_DESCRIPTION_H
#define PGRMSG_DESCRIPTION_H

#include <cstdint>
#include <string>
#include <vector>

struct ItemSpec {
    unsigned list = 0;   // offset of the list's head in the 32-bit record
    int32_t kind = 0;
    uint32_t size = 0;
    bool nullText = false;
    std::string text;    // without its NUL; never holds a NUL
};

// Parses a whole description.  On failure returns false and sets `error`
// to "NAME:LINE: what is wrong".
bool ParseDescription(const std::string &content, const std::string &name,
                      std::vector<ItemSpec> &items, std::string &error);

// Reads and parses the file `path`; a file that cannot be read is an error
// like any other.
bool ReadDescription(const std::string &path, std::vector<ItemSpec> &items,
                     std::string &error);

// Quotes `text` with the description's escapes; bytes outside printable
// ASCII become \xHH, so the result is plain 7-bit text.
std::string QuoteText(const std::string &text);

#endif
