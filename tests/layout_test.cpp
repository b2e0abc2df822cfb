// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The library as a host apart from it sees it.  Where pointers are 4 bytes
// wide: the 32-bit binary contract, with records laid out from raw byte
// offsets, without the header's structs.  On every build it runs on: a
// host that has closed standard error.  Prints "N passed, N failed".
#include <stdio.h>
#include <stdint.h>
#include <string.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <string>

#include "vykostra.h"  // the function only; the records below are raw bytes

namespace {

const unsigned kHeads[16] = {36, 68, 72, 76, 80, 84, 92, 96,
                             140, 144, 148, 152, 156, 160, 164, 168};
const unsigned kNext = 0, kSize = 263, kKind = 267, kText = 271;
const unsigned kItemBytes = 275 + 9;  // the host's items may be longer
const unsigned kMessageBytes = 172 + 28;

int passed = 0, failed = 0;

void Check(bool ok, const char *what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        printf("FAILED: %s\n", what);
    }
}

void Put32(unsigned char *record, unsigned offset, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i)  // little-endian, whatever the host
        record[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t Address(const void *p) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

struct Host {
    unsigned char message[kMessageBytes];
    unsigned char items[24][kItemBytes];
    char texts[24][32];
    int count = 0;
    uint32_t last[200] = {};  // last item of each list, by head offset

    Host() {
        for (unsigned i = 0; i < sizeof message; ++i)
            message[i] = static_cast<unsigned char>(0xA0 + i);
        for (unsigned h : kHeads)
            Put32(message, h, 0);
    }

    // Appends an item to the list whose head is at `head`.
    unsigned char *Add(unsigned head, int32_t kind, uint32_t size, const char *text) {
        unsigned char *item = items[count];
        for (unsigned i = 0; i < kItemBytes; ++i)
            item[i] = static_cast<unsigned char>(0x5A ^ i);
        strcpy(texts[count], text);
        Put32(item, kNext, 0);
        Put32(item, kSize, size);
        Put32(item, kKind, static_cast<uint32_t>(kind));
        Put32(item, kText, Address(texts[count]));
        if (last[head] == 0)
            Put32(message, head, Address(item));
        else
            Put32(reinterpret_cast<unsigned char *>(static_cast<uintptr_t>(last[head])), kNext,
                  Address(item));
        last[head] = Address(item);
        ++count;
        return item;
    }
};

std::string ReadAll(const char *path, bool text) {
    std::string bytes;
    if (FILE *f = fopen(path, "rb")) {
        int c;
        while ((c = fgetc(f)) != EOF)
            if (!(text && c == '\r'))  // stderr is a text stream on Windows
                bytes += static_cast<char>(c);
        fclose(f);
    }
    return bytes;
}

// The 32-bit records from raw offsets; diagnostics go to `err`.
void CheckLayout(const char *out, const char *err) {
    Host host;
    // One item per list, so the file shows the walk order.
    for (unsigned h : kHeads) {
        char text[8];
        snprintf(text, sizeof text, "%u,", h);
        host.Add(h, 1, 2, text);
    }
    host.Add(36, 1, 3, "\r\n\xE9|");          // scrubbed and written
    host.Add(36, 2, 9, "kind 2\n");           // passed over
    host.Add(140, 1, 1, "size 1\n");          // scrubbed, not written
    host.Add(140, 1, 0xFFFFFFFFu, "");        // empty: one diagnostic
    host.Add(168, INT32_MIN, 2, "top\xFF");   // passed over
    // A pointer in the word at 88, among the heads: it must not be visited.
    unsigned char stray[kItemBytes] = {};
    char strayText[] = "STRAY";
    Put32(stray, kSize, 2);
    Put32(stray, kKind, 1);
    Put32(stray, kText, Address(strayText));
    Put32(host.message, 88, Address(stray));

    unsigned char messageBefore[kMessageBytes], itemsBefore[sizeof host.items];
    memcpy(messageBefore, host.message, sizeof messageBefore);
    memcpy(itemsBefore, host.items, sizeof itemsBefore);

    const uint32_t result = VYKPgrMsgCollapse(reinterpret_cast<PgrMsg *>(host.message), out);
    fflush(stderr);

    Check(result == 0, "result 0");
    Check(ReadAll(out, false) == "140,36,  X|144,68,148,72,76,156,80,160,84,152,92,164,96,168,",
          "file holds the texts in walk order");
    Check(ReadAll(err, true) == "VYKOSTRA  Empty item in pager message has been bypassed...\n",
          "one empty-item diagnostic");
    Check(strcmp(host.texts[16], "  X|") == 0, "kind-1 text scrubbed in place");
    Check(strcmp(host.texts[17], "kind 2\n") == 0, "kind-2 text untouched");
    Check(strcmp(host.texts[18], "size 1 ") == 0, "size-1 text scrubbed");
    Check(strcmp(host.texts[20], "top\xFF") == 0, "top-bit kind untouched");
    Check(strcmp(strayText, "STRAY") == 0, "the word at 88 is not a head");
    Check(memcmp(messageBefore, host.message, sizeof messageBefore) == 0,
          "message record unchanged");
    Check(memcmp(itemsBefore, host.items, sizeof itemsBefore) == 0, "item records unchanged");

    Check(VYKPgrMsgCollapse(reinterpret_cast<PgrMsg *>(host.message), ".") == 0x90006002u,
          "a folder as the path: PGRMSG_ERR_OPEN");
}

// The host closes standard error at the descriptor level, as daemons do.
// The runtime hands out the lowest free descriptor, so the file could get
// number 2, and the diagnostic for the empty item would land in it.
void CheckClosedStandardError(const char *out, const char *err) {
    static char none[] = "", some[] = "TEXT";
    static PgrMsgItem empty, text;
    static PgrMsg message;
    empty.Size = text.Size = 2;
    empty.Kind = text.Kind = PGRMSG_KIND_TEXT;
    empty.Text = none;
    text.Text = some;
    empty.Next = &text;
    message.Head36 = &empty;
    const std::string before = ReadAll(err, true);
#ifdef _WIN32
    _close(2);
#else
    close(2);
#endif
    Check(VYKPgrMsgCollapse(&message, out) == 0, "closed stderr: result 0");
    fflush(stderr);
    Check(ReadAll(out, false) == "TEXT", "closed stderr: the file holds the text alone");
    Check(ReadAll(err, true) == before, "closed stderr: the diagnostic went nowhere");
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: layout_test OUTPUT-FILE OUTPUT-FILE-2 STDERR-FILE\n");
        return 2;
    }
    fflush(stderr);
    if (freopen(argv[3], "w", stderr) == nullptr) {
        printf("cannot redirect stderr to %s\n", argv[3]);
        return 2;
    }
    if (sizeof(void *) == 4)
        CheckLayout(argv[1], argv[3]);
    else
        printf("pointers are not 4 bytes wide: no 32-bit layout to check\n");
    CheckClosedStandardError(argv[2], argv[3]);
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
