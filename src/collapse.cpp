// VYKPgrMsgCollapse: open the file, walk the sixteen lists, write the
// scrubbed texts, close.
//
// <stdio.h> comes first, before any C++ header: on MinGW those switch
// fprintf to MinGW's own printf, and the library must use the runtime's.
#include <stdio.h>

#include "vykostra.h"

#include "output_file.h"
#include "scrub.h"

namespace {

const char kModule[] = "VYKOSTRA  ";
const char kEmptyItem[] = "Empty item in pager message has been bypassed...\n";
const char kWriteFailed[] = "Error collapsing message...write failed.\n";

// One print and one flush per line, so that lines from calls running at
// the same time in other threads come out whole.
void Diagnose(const char *text) {
    fprintf(stderr, "%s%s", kModule, text);
    fflush(stderr);
}

// The fixed order in which the heads are visited.  It is the host's, not
// an ascending or regular one, and must stay exactly as it is.
PgrMsgItem *PgrMsg::*const kWalkOrder[] = {
    &PgrMsg::Head140, &PgrMsg::Head36,  &PgrMsg::Head144, &PgrMsg::Head68,
    &PgrMsg::Head148, &PgrMsg::Head72,  &PgrMsg::Head76,  &PgrMsg::Head156,
    &PgrMsg::Head80,  &PgrMsg::Head160, &PgrMsg::Head84,  &PgrMsg::Head152,
    &PgrMsg::Head92,  &PgrMsg::Head164, &PgrMsg::Head96,  &PgrMsg::Head168,
};
static_assert(sizeof kWalkOrder / sizeof kWalkOrder[0] == 16, "sixteen lists");

void CollapseItem(PgrMsgItem *item, int file) {
    if (item->Kind != PGRMSG_KIND_TEXT)
        return;
    // Scrubbed whether or not it is written: the host sees the same text
    // in memory that a written item puts into the file.  A NULL text is
    // taken as an empty one.
    char *const text = item->Text;
    const std::size_t length = text != nullptr ? ScrubItemText(text) : 0;
    if (item->Size < 2)
        return;
    if (length == 0) {
        Diagnose(kEmptyItem);
        return;
    }
    if (!OutputFileWrite(file, text, length))
        Diagnose(kWriteFailed);
}

void CollapseItemList(PgrMsgItem *head, int file) {
    // Iterative, so a list of any length needs no more stack than one.
    for (PgrMsgItem *item = head; item != nullptr; item = item->Next)
        CollapseItem(item, file);
}

} // namespace

extern "C" VYKOSTRA_API uint32_t VYKOSTRA_CALL
VYKPgrMsgCollapse(PgrMsg *message, const char *path) {
    if (message == nullptr || path == nullptr)
        return PGRMSG_ERR_OPEN;
    const int file = OutputFileOpen(path);
    if (file == -1)
        return PGRMSG_ERR_OPEN;
    for (PgrMsgItem *PgrMsg::*head : kWalkOrder)
        CollapseItemList(message->*head, file);
    OutputFileClose(file);
    return PGRMSG_OK;
}
