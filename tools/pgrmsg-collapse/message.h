// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// A pager message built in memory from its description, the way a host
// lays one out: records, links and texts, with the host's own bytes filled
// with a known pattern so that any stray write can be seen afterwards.
#ifndef PGRMSG_MESSAGE_H
#define PGRMSG_MESSAGE_H

#include <cstddef>
#include <string>
#include <vector>

#include "description.h"
#include "vykostra.h"

// Whether a head stands at `list` in the 32-bit record.
bool IsList(unsigned list);

// The head of list `list` (named by its 32-bit offset), read and written
// bytewise: in the packed record it need not be aligned for a pointer.
PgrMsgItem *GetHead(const PgrMsg *message, unsigned list);
void SetHead(PgrMsg *message, unsigned list, PgrMsgItem *item);

// "36, 68, ..., 168": the heads' offsets in ascending order.
std::string HeadOffsetsText();
// The offset of head `n` in that order, counted round the sixteen: a
// message spread over every list.
unsigned HeadInTurn(std::size_t n);

struct HostMessage {
    std::vector<ItemSpec> specs;
    std::vector<unsigned char> record;      // PgrMsg and host bytes after it
    std::vector<PgrMsgItem> items;          // in description order
    std::vector<std::vector<char>> texts;   // each with its NUL
    std::vector<unsigned char> snapshot;    // record and items as built

    PgrMsg *Message() { return reinterpret_cast<PgrMsg *>(record.data()); }
};

void BuildMessage(const std::vector<ItemSpec> &specs, HostMessage &message);

// A result code as the tool prints it: "0x00000000 success",
// "0x90006002 PGRMSG_ERR_OPEN".
std::string ResultText(uint32_t result);

// After a call: what the library changed that it must not have (a record
// byte, a link, a text of another kind, a text's length), or "".
std::string ContractBreach(const HostMessage &message);

#endif
