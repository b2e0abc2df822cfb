// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// A library that differs from VYKOSTRA in one deliberate way, for the
// tests of pgrmsg-collapse --compare.  It is built from the library's own
// sources, in which the three functions below are renamed ...AsBuilt
// (tests/CMakeLists.txt), and wraps each; VYKOSTRA_VARIANT picks the one
// that changes anything:
//   1  the walk: the lists at 140 and 36 visited the other way round
//   2  a diagnostic: the empty item's in other words
//   3  the scrub: a tab becomes a blank as well
//   4  a diagnostic dropped: the empty item's is not printed
#include <cstddef>
#include <cstring>

#include "output_file.h"
#include "scrub.h"
#include "vykostra.h"

extern "C" uint32_t VYKOSTRA_CALL VYKPgrMsgCollapseAsBuilt(PgrMsg *message, const char *path);
void OutputFileDiagnoseAsBuilt(OutputFile &file, const char *module, const char *text);
std::size_t ScrubItemTextAsBuilt(char *text, ScrubPath &path);

extern "C" VYKOSTRA_API uint32_t VYKOSTRA_CALL VYKPgrMsgCollapse(PgrMsg *message,
                                                                 const char *path) {
    if (VYKOSTRA_VARIANT != 1 || message == nullptr)
        return VYKPgrMsgCollapseAsBuilt(message, path);
    // A copy of the record with the two heads swapped; the host's stays
    // as it is.
    PgrMsg swapped;
    std::memcpy(&swapped, message, sizeof swapped);
    std::memcpy(reinterpret_cast<char *>(&swapped) + offsetof(PgrMsg, Head140),
                reinterpret_cast<const char *>(message) + offsetof(PgrMsg, Head36),
                sizeof(PgrMsgItem *));
    std::memcpy(reinterpret_cast<char *>(&swapped) + offsetof(PgrMsg, Head36),
                reinterpret_cast<const char *>(message) + offsetof(PgrMsg, Head140),
                sizeof(PgrMsgItem *));
    return VYKPgrMsgCollapseAsBuilt(&swapped, path);
}

void OutputFileDiagnose(OutputFile &file, const char *module, const char *text) {
    if (VYKOSTRA_VARIANT == 2 &&
        std::strcmp(text, "Empty item in pager message has been bypassed...\n") == 0)
        text = "Empty item in pager message was passed over...\n";
    if (VYKOSTRA_VARIANT == 4 &&
        std::strcmp(text, "Empty item in pager message has been bypassed...\n") == 0)
        return;
    OutputFileDiagnoseAsBuilt(file, module, text);
}

std::size_t ScrubItemText(char *text, ScrubPath &path) {
    const std::size_t length = ScrubItemTextAsBuilt(text, path);
    for (std::size_t i = 0; VYKOSTRA_VARIANT == 3 && i < length; ++i)
        if (text[i] == '\t')
            text[i] = ' ';
    return length;
}
