// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// libFuzzer target for the message descriptions users write by hand: on
// any input the parser either rejects it with "NAME:LINE: why", LINE one
// of the input's lines, or accepts items that, written out again one per
// line (the text through QuoteText), parse back to the same items.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "description.h"

namespace {

const char kName[] = "fuzz.msg";

bool Same(const ItemSpec &a, const ItemSpec &b) {
    return a.list == b.list && a.kind == b.kind && a.size == b.size &&
           a.nullText == b.nullText && a.text == b.text;
}

// "fuzz.msg:N: " with N from 1 to the number of lines.
bool NamesALine(const std::string &error, const std::string &content) {
    const std::string prefix = std::string(kName) + ":";
    if (error.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::size_t at = prefix.size();
    unsigned long line = 0;
    while (at < error.size() && error[at] >= '0' && error[at] <= '9' && line < 1000000000)
        line = line * 10 + static_cast<unsigned long>(error[at++] - '0');
    const std::size_t lines = 1 + static_cast<std::size_t>(
                                      std::count(content.begin(), content.end(), '\n'));
    return at > prefix.size() && error.compare(at, 2, ": ") == 0 && line >= 1 && line <= lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string content(reinterpret_cast<const char *>(data), size);
    std::vector<ItemSpec> items;
    std::string error;
    if (!ParseDescription(content, kName, items, error)) {
        if (!NamesALine(error, content))
            std::abort();
        return 0;
    }
    std::string again;
    for (const ItemSpec &item : items)
        again += std::to_string(item.list) + " " + std::to_string(item.kind) + " " +
                 std::to_string(item.size) + " " +
                 (item.nullText ? std::string("null") : QuoteText(item.text)) + "\n";
    std::vector<ItemSpec> back;
    if (!ParseDescription(again, "again.msg", back, error) || back.size() != items.size())
        std::abort();
    for (std::size_t i = 0; i < items.size(); ++i)
        if (!Same(items[i], back[i]))
            std::abort();
    return 0;
}
