// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
#include "message.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

struct Head {
    unsigned list;       // offset in the 32-bit record
    std::size_t offset;  // offset in this build's record
};

const Head kHeads[] = {
    {36, offsetof(PgrMsg, Head36)},   {68, offsetof(PgrMsg, Head68)},
    {72, offsetof(PgrMsg, Head72)},   {76, offsetof(PgrMsg, Head76)},
    {80, offsetof(PgrMsg, Head80)},   {84, offsetof(PgrMsg, Head84)},
    {92, offsetof(PgrMsg, Head92)},   {96, offsetof(PgrMsg, Head96)},
    {140, offsetof(PgrMsg, Head140)}, {144, offsetof(PgrMsg, Head144)},
    {148, offsetof(PgrMsg, Head148)}, {152, offsetof(PgrMsg, Head152)},
    {156, offsetof(PgrMsg, Head156)}, {160, offsetof(PgrMsg, Head160)},
    {164, offsetof(PgrMsg, Head164)}, {168, offsetof(PgrMsg, Head168)},
};

const Head *Find(unsigned list) {
    for (const Head &head : kHeads)
        if (head.list == list)
            return &head;
    return nullptr;
}

// Host bytes past the declared end of the message record.
constexpr std::size_t kRecordTail = 64;

unsigned char Pattern(std::size_t i) { return static_cast<unsigned char>(i * 7 + 3); }

void Fill(unsigned char *bytes, std::size_t length, std::size_t seed) {
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = Pattern(seed + i);
}

std::vector<unsigned char> Snapshot(const HostMessage &m) {
    std::vector<unsigned char> bytes(m.record);
    const auto *items = reinterpret_cast<const unsigned char *>(m.items.data());
    bytes.insert(bytes.end(), items, items + m.items.size() * sizeof(PgrMsgItem));
    return bytes;
}

} // namespace

bool IsList(unsigned list) { return Find(list) != nullptr; }

PgrMsgItem *GetHead(const PgrMsg *message, unsigned list) {
    PgrMsgItem *item;
    std::memcpy(&item, reinterpret_cast<const unsigned char *>(message) + Find(list)->offset,
                sizeof item);
    return item;
}

void SetHead(PgrMsg *message, unsigned list, PgrMsgItem *item) {
    std::memcpy(reinterpret_cast<unsigned char *>(message) + Find(list)->offset, &item,
                sizeof item);
}

std::string HeadOffsetsText() {
    std::string text;
    for (const Head &head : kHeads)
        text += (text.empty() ? "" : ", ") + std::to_string(head.list);
    return text;
}

unsigned HeadInTurn(std::size_t n) { return kHeads[n % std::size(kHeads)].list; }

void BuildMessage(const std::vector<ItemSpec> &specs, HostMessage &m) {
    m.specs = specs;
    m.record.assign(sizeof(PgrMsg) + kRecordTail, 0);
    Fill(m.record.data(), m.record.size(), 0);
    m.items.assign(specs.size(), PgrMsgItem());
    m.texts.assign(specs.size(), std::vector<char>());
    PgrMsg *message = m.Message();
    for (const Head &head : kHeads)
        SetHead(message, head.list, nullptr);

    // Link from the back so that each list keeps the description's order.
    for (std::size_t i = specs.size(); i-- > 0;) {
        const ItemSpec &spec = specs[i];
        PgrMsgItem &item = m.items[i];
        Fill(reinterpret_cast<unsigned char *>(&item), sizeof item, 1000 + i * 300);
        if (!spec.nullText)
            m.texts[i].assign(spec.text.begin(), spec.text.end());
        m.texts[i].push_back('\0');
        item.Next = GetHead(message, spec.list);
        item.Size = spec.size;
        item.Kind = spec.kind;
        item.Text = spec.nullText ? nullptr : m.texts[i].data();
        SetHead(message, spec.list, &item);
    }
    m.snapshot = Snapshot(m);
}

std::string ResultText(uint32_t result) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(result));
    return std::string(hex) + " " +
           (result == PGRMSG_OK        ? "success"
            : result == PGRMSG_ERR_OPEN ? "PGRMSG_ERR_OPEN"
                                        : "unknown result");
}

std::string ContractBreach(const HostMessage &m) {
    if (Snapshot(m) != m.snapshot)
        return "the library changed bytes of the records outside the texts";
    for (std::size_t i = 0; i < m.specs.size(); ++i) {
        const ItemSpec &spec = m.specs[i];
        if (spec.nullText)
            continue;
        const std::string now(m.texts[i].data());
        const std::string which = "item " + std::to_string(i + 1);
        if (now.size() != spec.text.size())
            return "the library changed the length of the text of " + which;
        if (spec.kind != PGRMSG_KIND_TEXT && now != spec.text)
            return "the library changed the text of " + which + ", which is not of kind 1";
    }
    return "";
}
