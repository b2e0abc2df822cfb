// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// libFuzzer target: runs every scrub loop on the input's bytes, then
// builds a message from them, collapses it, and checks every result
// against a small model of the library written here, apart from the
// library's code: the file's bytes, the diagnostics in
// order, the texts left in memory (bytes past each NUL included) and every
// other byte of the records.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "fuzz_input.h"
#include "scrub.h"
#include "vykostra.h"

namespace {

const unsigned kWalk[16] = {140, 36, 144, 68, 148, 72, 76, 156,
                            80, 160, 84, 152, 92, 164, 96, 168};
const char kEmpty[] = "VYKOSTRA  Empty item in pager message has been bypassed...\n";
const char kFailed[] = "VYKOSTRA  Error collapsing message...write failed.\n";

struct Item {
    unsigned list;
    int32_t kind;
    uint32_t size;
    bool null;
    std::vector<char> bytes;  // the text buffer: text, NUL, maybe more
};

unsigned char Scrubbed(unsigned char c) {
    if (c >= 0x80)
        return 'X';
    return c == '\n' || c == '\f' || c == '\r' ? ' ' : c;
}

// Where list `list` has its head in this build's record.  Heads are read
// and written bytewise: in the packed record they need not be aligned.
size_t HeadOffset(unsigned list) {
    const size_t offsets[16] = {
        offsetof(PgrMsg, Head36),  offsetof(PgrMsg, Head68),  offsetof(PgrMsg, Head72),
        offsetof(PgrMsg, Head76),  offsetof(PgrMsg, Head80),  offsetof(PgrMsg, Head84),
        offsetof(PgrMsg, Head92),  offsetof(PgrMsg, Head96),  offsetof(PgrMsg, Head140),
        offsetof(PgrMsg, Head144), offsetof(PgrMsg, Head148), offsetof(PgrMsg, Head152),
        offsetof(PgrMsg, Head156), offsetof(PgrMsg, Head160), offsetof(PgrMsg, Head164),
        offsetof(PgrMsg, Head168)};
    for (unsigned i = 0; i < 16; ++i)
        if (kFuzzHeads[i] == list)
            return offsets[i];
    abort();
}

PgrMsgItem *GetHead(const unsigned char *record, unsigned list) {
    PgrMsgItem *item;
    memcpy(&item, record + HeadOffset(list), sizeof item);
    return item;
}

void SetHead(unsigned char *record, unsigned list, PgrMsgItem *item) {
    memcpy(record + HeadOffset(list), &item, sizeof item);
}

// A folder of the process's own in the temporary folder ($TMPDIR), made
// with an unguessable name, and removed at exit.  The output file in it
// is read back and removed after every call, before any verdict: a fuzz
// run leaves nothing behind but what a crash in a call itself leaves.
std::string gFolder;

void RemoveFolder() { rmdir(gFolder.c_str()); }

[[noreturn]] void Fail(const char *what) {
    fprintf(stderr, "model mismatch: %s\n", what);
    RemoveFolder();  // (abort runs no exit handlers)
    abort();
}

std::string ReadBack(const char *path) {
    std::string bytes;
    if (FILE *f = fopen(path, "rb")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.append(buffer, got);
        fclose(f);
    }
    return bytes;
}

const std::string &Folder() {
    if (gFolder.empty()) {
        const char *tmp = getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/vykostra-fuzz." +
                           std::to_string(getpid()) + ".XXXXXX";
        if (!mkdtemp(name.data())) {
            perror("mkdtemp");
            abort();
        }
        gFolder = name;
        atexit(RemoveFolder);
    }
    return gFolder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const unsigned mode = data[0] % 4 == 1 ? kToFile : data[0] % 4;
    std::vector<Item> items;
    for (size_t at = 1; at + 4 <= size && items.size() < kFuzzMaxItems;) {
        Item item;
        item.list = kFuzzHeads[data[at] % 16];
        item.kind = kFuzzKinds[data[at + 1] % (sizeof kFuzzKinds / sizeof kFuzzKinds[0])];
        item.size = kFuzzSizes[data[at + 2] % (sizeof kFuzzSizes / sizeof kFuzzSizes[0])];
        item.null = data[at + 3] == kFuzzNullText;
        size_t length = item.null ? 0 : data[at + 3] % (kFuzzMaxText + 1);
        at += 4;
        if (length > size - at)
            length = size - at;
        item.bytes.assign(data + at, data + at + length);
        item.bytes.push_back('\0');
        item.bytes.push_back('\n');  // past the NUL: never touched
        at += length;
        items.push_back(item);
    }

    // The host's records, every byte of them patterned.
    std::vector<unsigned char> record(sizeof(PgrMsg) + 32);
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<unsigned char>(i * 13 + 5);
    for (unsigned list : kFuzzHeads)
        SetHead(record.data(), list, nullptr);
    std::vector<PgrMsgItem> records(items.size());
    for (size_t i = items.size(); i-- > 0;) {
        unsigned char *raw = reinterpret_cast<unsigned char *>(&records[i]);
        for (size_t b = 0; b < sizeof(PgrMsgItem); ++b)
            raw[b] = static_cast<unsigned char>(i * 31 + b);
        records[i].Next = GetHead(record.data(), items[i].list);
        records[i].Kind = items[i].kind;
        records[i].Size = items[i].size;
        records[i].Text = items[i].null ? nullptr : items[i].bytes.data();
        SetHead(record.data(), items[i].list, &records[i]);
    }
    const std::vector<unsigned char> recordBefore = record;
    const std::vector<unsigned char> itemsBefore(
        reinterpret_cast<unsigned char *>(records.data()),
        reinterpret_cast<unsigned char *>(records.data() + records.size()));
    std::vector<Item> before = items;

    // The model.
    std::string file, err;
    for (unsigned list : kWalk) {
        for (Item &item : before) {
            if (item.list != list || item.kind != PGRMSG_KIND_TEXT || mode == kToFolder)
                continue;
            const size_t length = item.null ? 0 : strlen(item.bytes.data());
            for (size_t b = 0; b < length; ++b)
                item.bytes[b] = static_cast<char>(Scrubbed(static_cast<unsigned char>(item.bytes[b])));
            if (item.size < 2)
                continue;
            if (length == 0)
                err += kEmpty;
            else if (mode == kToFullDevice)
                err += kFailed;
            else
                file.append(item.bytes.data(), length);
        }
    }

    // Every scrub loop this CPU runs, on the input as one text: up to its
    // first NUL as the model has it, and nothing after that touched.
    static const ScrubPath cpu = CpuScrubPath();
    for (const ScrubPath path : {ScrubPath::kNoSse, ScrubPath::kSse2, ScrubPath::kAvx2}) {
        if (path > cpu)
            continue;
        std::vector<unsigned char> bytes(data, data + size);
        bytes.push_back(0);
        const size_t length = strlen(reinterpret_cast<const char *>(bytes.data()));
        ScrubPath memo = path;
        if (ScrubItemText(reinterpret_cast<char *>(bytes.data()), memo) != length)
            Fail("a scrub loop's length");
        for (size_t i = 0; i < size; ++i)
            if (bytes[i] != (i < length ? Scrubbed(data[i]) : data[i]))
                Fail("a scrub loop");
    }

    // The library, with its diagnostics caught in memory.
    const std::string out = Folder() + "/out";
    const char *path = mode == kToFile          ? out.c_str()
                       : mode == kToFullDevice ? "/dev/full"
                                               : Folder().c_str();
    char *caught = nullptr;
    size_t caughtSize = 0;
    FILE *saved = stderr;
    stderr = open_memstream(&caught, &caughtSize);
    const uint32_t result = VYKPgrMsgCollapse(reinterpret_cast<PgrMsg *>(record.data()), path);
    fclose(stderr);
    stderr = saved;
    const std::string diagnostics(caught, caughtSize);
    free(caught);
    const std::string written = mode == kToFile ? ReadBack(path) : "";
    unlink(out.c_str());

    if (result != (mode == kToFolder ? PGRMSG_ERR_OPEN : PGRMSG_OK))
        Fail("result code");
    if (diagnostics != err)
        Fail("diagnostics");
    if (mode == kToFile && written != file)
        Fail("file content");
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].bytes != before[i].bytes)
            Fail("text in memory");
    if (record != recordBefore)
        Fail("message record");
    if (!records.empty() && memcmp(itemsBefore.data(), records.data(), itemsBefore.size()) != 0)
        Fail("item records");
    return 0;
}
