// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// VYKPgrMsgCollapse: open the file, walk the sixteen lists, write the
// scrubbed texts, close.
#include "vykostra.h"

#include <cstddef>
#include <cstring>

#include "output_file.h"
#include "scrub.h"

namespace {

const char kModule[] = "VYKOSTRA  ";
const char kEmptyItem[] = "Empty item in pager message has been bypassed...\n";
const char kWriteFailed[] = "Error collapsing message...write failed.\n";

// The fixed order in which the heads are visited, as their offsets in the
// record.  It is the host's, not an ascending or regular one, and must stay
// exactly as it is.
constexpr std::size_t kWalkOrder[] = {
    offsetof(PgrMsg, Head140), offsetof(PgrMsg, Head36),  offsetof(PgrMsg, Head144),
    offsetof(PgrMsg, Head68),  offsetof(PgrMsg, Head148), offsetof(PgrMsg, Head72),
    offsetof(PgrMsg, Head76),  offsetof(PgrMsg, Head156), offsetof(PgrMsg, Head80),
    offsetof(PgrMsg, Head160), offsetof(PgrMsg, Head84),  offsetof(PgrMsg, Head152),
    offsetof(PgrMsg, Head92),  offsetof(PgrMsg, Head164), offsetof(PgrMsg, Head96),
    offsetof(PgrMsg, Head168),
};
static_assert(sizeof kWalkOrder / sizeof kWalkOrder[0] == 16, "sixteen lists");

// Where pointers are 4 bytes wide the offsets are the host's own numbers.
constexpr bool IsHostWalkOrder() {
    constexpr std::size_t host[] = {140, 36, 144, 68, 148, 72, 76, 156,
                                    80, 160, 84, 152, 92, 164, 96, 168};
    for (std::size_t i = 0; i < 16; ++i)
        if (kWalkOrder[i] != host[i])
            return false;
    return true;
}
static_assert(sizeof(void *) != 4 || IsHostWalkOrder(), "the 32-bit walk order");

// A head is copied out rather than read through a pointer: in the packed
// record it need not be aligned for one.
PgrMsgItem *HeadAt(const PgrMsg *message, std::size_t offset) {
    PgrMsgItem *head;
    std::memcpy(&head, reinterpret_cast<const unsigned char *>(message) + offset, sizeof head);
    return head;
}

void CollapseItem(PgrMsgItem *item, OutputFile &file, ScrubPath &scrub) {
    if (item->Kind != PGRMSG_KIND_TEXT)
        return;
    // Scrubbed whether or not it is written: the host sees the same text
    // in memory that a written item puts into the file.  A NULL text is
    // taken as an empty one.
    char *const text = item->Text;
    const std::size_t length = text != nullptr ? ScrubItemText(text, scrub) : 0;
    if (item->Size < 2)
        return;
    if (length == 0) {
        OutputFileDiagnose(file, kModule, kEmptyItem);
        return;
    }
    if (!OutputFileWrite(file, text, length))
        OutputFileDiagnose(file, kModule, kWriteFailed);
}

void CollapseItemList(PgrMsgItem *head, OutputFile &file, ScrubPath &scrub) {
    // Iterative, so a list of any length needs no more stack than one.
    for (PgrMsgItem *item = head; item != nullptr; item = item->Next)
        CollapseItem(item, file, scrub);
}

} // namespace

extern "C" VYKOSTRA_API uint32_t VYKOSTRA_CALL
VYKPgrMsgCollapse(PgrMsg *message, const char *path) {
    if (message == nullptr || path == nullptr)
        return PGRMSG_ERR_OPEN;
    OutputFile file;
    if (!OutputFileOpen(file, path))
        return PGRMSG_ERR_OPEN;
    // Which scrub loop this CPU runs is asked at most once, by the first
    // long text, and forgotten with the call.
    ScrubPath scrub = ScrubPath::kUnknown;
    for (const std::size_t head : kWalkOrder)
        CollapseItemList(HeadAt(message, head), file, scrub);
    OutputFileClose(file);
    return PGRMSG_OK;
}
