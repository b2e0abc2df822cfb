/* SPDX-FileCopyrightText: 2026 The VYKOSTRA developers */
/* SPDX-License-Identifier: MIT */
/*
 * vykostra.h -- interface of the VYKOSTRA pager message collapse library.
 *
 * A host program hands the library a pager message, PgrMsg, and a file
 * path.  VYKPgrMsgCollapse writes the texts of the message's text items
 * into that file, one after another, with no separators, each text first
 * scrubbed in place to single-line 7-bit text.
 *
 * Usable from C and C++.  The library is a dynamic library (VYKOSTRA.dll
 * on Windows, with the import libraries VYKOSTRA.lib for MSVC and
 * libVYKOSTRA.dll.a for MinGW; libVYKOSTRA.so.1 elsewhere, in the version
 * node VYKOSTRA_1.0) with this one function as its only export; a host may
 * link against it or load it at run time and look the function up by the
 * name "VYKPgrMsgCollapse".
 */
#ifndef VYKOSTRA_H
#define VYKOSTRA_H

#include <stdint.h>

/* Calling convention of the export: the C default (__cdecl) on 32-bit
 * Windows, spelled out so that a host built with another default
 * (/Gz, /Gr) still calls it correctly.  Nothing elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define VYKOSTRA_CALL __cdecl
#else
#define VYKOSTRA_CALL
#endif

/* Export/import decoration.  The library's own build defines
 * VYKOSTRA_BUILDING; a host that links the static import library on
 * Windows may define VYKOSTRA_NO_DLLIMPORT to drop __declspec(dllimport). */
#if defined(VYKOSTRA_BUILDING)
#if defined(_WIN32)
#define VYKOSTRA_API __declspec(dllexport)
#else
#define VYKOSTRA_API __attribute__((visibility("default")))
#endif
#elif defined(_WIN32) && !defined(VYKOSTRA_NO_DLLIMPORT)
#define VYKOSTRA_API __declspec(dllimport)
#else
#define VYKOSTRA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The one item kind the library handles: items of any other kind are
 * passed over, and neither their text pointer nor their text is read. */
#define PGRMSG_KIND_TEXT 1

/* Result codes of VYKPgrMsgCollapse, unsigned 32-bit.  PGRMSG_ERR_OPEN
 * has its top bit set: taken as a signed 32-bit value it is -1879023614. */
#define PGRMSG_OK 0u
#define PGRMSG_ERR_OPEN 0x90006002u

/*
 * Records.  The host lays out, fills, owns and frees them; the library
 * only reads them, except for the bytes of the texts of kind-1 items.
 *
 * Both records are byte-packed.  Where pointers are 4 bytes wide
 * (32-bit Windows, i386 Linux) their layout is a binary contract, pinned
 * by the assertions at the end of this file: the list heads of PgrMsg
 * stand at bytes 36, 68, 72, 76, 80, 84, 92, 96, 140, 144, 148, 152, 156,
 * 160, 164 and 168 (each head is named after its offset), and PgrMsgItem
 * holds Next at 0, Size at 263, Kind at 267 and Text at 271.  On 64-bit
 * builds the same declarations keep each field's role and type, with
 * 8-byte pointers, so the offsets grow accordingly.
 *
 * The Reserved arrays are the host's own bytes.  The library never reads
 * or writes them, nor anything past the end of either record, so a host
 * may make its records longer than declared here.
 */
#if defined(_MSC_VER) || defined(__MINGW32__)
#pragma pack(push, 1)
#define VYKOSTRA_PACKED
#else
#define VYKOSTRA_PACKED __attribute__((packed))
#endif

typedef struct PgrMsgItem PgrMsgItem;

struct VYKOSTRA_PACKED PgrMsgItem {
    PgrMsgItem *Next;           /* next item of the same list, or NULL */
    unsigned char Reserved4[259];
    uint32_t Size;              /* a kind-1 item is written only if >= 2 */
    int32_t Kind;               /* PGRMSG_KIND_TEXT, or passed over */
    char *Text;                 /* NUL-terminated bytes, writable */
};

typedef struct VYKOSTRA_PACKED PgrMsg {
    unsigned char Reserved0[36];
    PgrMsgItem *Head36;
    unsigned char Reserved40[28];
    PgrMsgItem *Head68;
    PgrMsgItem *Head72;
    PgrMsgItem *Head76;
    PgrMsgItem *Head80;
    PgrMsgItem *Head84;
    unsigned char Reserved88[4];
    PgrMsgItem *Head92;
    PgrMsgItem *Head96;
    unsigned char Reserved100[40];
    PgrMsgItem *Head140;
    PgrMsgItem *Head144;
    PgrMsgItem *Head148;
    PgrMsgItem *Head152;
    PgrMsgItem *Head156;
    PgrMsgItem *Head160;
    PgrMsgItem *Head164;
    PgrMsgItem *Head168;
} PgrMsg;

#if defined(_MSC_VER) || defined(__MINGW32__)
#pragma pack(pop)
#endif
#undef VYKOSTRA_PACKED

/*
 * VYKPgrMsgCollapse -- write a message's texts into a file.
 *
 * Opens `path` (a NUL-terminated name in the form the platform's open
 * call takes) for writing, creating it with read and write permission
 * for its owner only (0600) if it does not exist and truncating it if it
 * does, so that afterwards the file holds exactly what this call wrote.
 *
 * The sixteen lists are then visited in this fixed order of their heads:
 *   140, 36, 144, 68, 148, 72, 76, 156, 80, 160, 84, 152, 92, 164, 96, 168
 * and each list from its head along Next.  For every item of kind
 * PGRMSG_KIND_TEXT:
 *   - its text is scrubbed in place: each byte 0x80..0xFF becomes 'X',
 *     each line feed, form feed and carriage return becomes a blank.
 *     The length and the NUL never change; every other byte (tab,
 *     vertical tab, other control bytes, 0x7F) stays.  This happens
 *     whatever the item's Size.
 *   - if Size is 0 or 1, nothing more happens.
 *   - if the text is empty (or Text is NULL), a diagnostic is printed
 *     and nothing is written.
 *   - otherwise the bytes before the NUL are written, in binary mode,
 *     right after whatever the previous item wrote.  A write that the
 *     system cuts short is continued until the whole text is written;
 *     if a write fails, a diagnostic is printed and the walk goes on
 *     with the next item.  Bytes already written stay in the file.
 *
 * The file is opened close-on-exec (on Windows, not inherited) and never
 * as descriptor 0, 1 or 2, even when the host has closed those, so that
 * diagnostics never land in it (with no descriptor free from 3 on, the
 * call returns PGRMSG_ERR_OPEN).  A write never raises a signal in the
 * host, whether to the file or a diagnostic to standard error: while the
 * call writes or prints, SIGPIPE and SIGXFSZ are blocked in the calling
 * thread only (no process-wide change), a write that would raise one
 * fails instead (for the file, a diagnostic; a diagnostic standard error
 * cannot take is lost), and the thread's signal mask and pending signals
 * are as they were when the call returns.
 *
 * Returns PGRMSG_OK (0) once the file was opened, whatever happened to
 * single items, or PGRMSG_ERR_OPEN if the file could not be opened or
 * `message` or `path` is NULL.  In that case nothing is printed and the
 * message is neither read nor changed.
 *
 * Ownership: the host keeps the message, its items and texts; the
 * library keeps no pointer to them after the call and changes nothing but
 * the bytes of the kind-1 texts.  (Like the C library's string functions,
 * it measures a text in aligned 16- or 32-byte blocks, so it may read,
 * and then ignore, bytes that share such a block with the text's first
 * or last byte; a block never spans two pages.)  While the call runs the
 * host must keep every list NULL-terminated and free of cycles, and
 * every kind-1 Text writable, and nobody else may change the message.
 *
 * Diagnostics: one line per problem item on the process's standard error
 * stream, printed by a single fprintf and flushed at once:
 *   "VYKOSTRA  Empty item in pager message has been bypassed...\n"
 *   "VYKOSTRA  Error collapsing message...write failed.\n"
 * (On Windows stderr is a text stream, so the line ends in CR LF.)
 *
 * Threads: the library has no state, locks or threads of its own, so
 * calls on different messages may run at the same time; only the
 * standard error stream is shared.  Never give the same message to two
 * calls at once, since its texts are rewritten in place.  Nothing
 * happens when the library is loaded or unloaded.
 */
VYKOSTRA_API uint32_t VYKOSTRA_CALL VYKPgrMsgCollapse(PgrMsg *message,
                                                      const char *path);

/* The function's type, for hosts that load the library at run time. */
typedef uint32_t(VYKOSTRA_CALL *PFN_VYKPgrMsgCollapse)(PgrMsg *message,
                                                       const char *path);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The 32-bit binary contract, checked wherever pointers are 4 bytes. */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
#include <stddef.h>
#ifdef __cplusplus
#define VYKOSTRA_ASSERT(c, m) static_assert(c, m)
#else
#define VYKOSTRA_ASSERT(c, m) _Static_assert(c, m)
#endif
#if UINTPTR_MAX == 0xFFFFFFFFu
VYKOSTRA_ASSERT(offsetof(PgrMsgItem, Next) == 0, "PgrMsgItem.Next");
VYKOSTRA_ASSERT(offsetof(PgrMsgItem, Size) == 263, "PgrMsgItem.Size");
VYKOSTRA_ASSERT(offsetof(PgrMsgItem, Kind) == 267, "PgrMsgItem.Kind");
VYKOSTRA_ASSERT(offsetof(PgrMsgItem, Text) == 271, "PgrMsgItem.Text");
VYKOSTRA_ASSERT(sizeof(PgrMsgItem) == 275, "PgrMsgItem size");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head36) == 36, "PgrMsg.Head36");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head68) == 68, "PgrMsg.Head68");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head72) == 72, "PgrMsg.Head72");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head76) == 76, "PgrMsg.Head76");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head80) == 80, "PgrMsg.Head80");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head84) == 84, "PgrMsg.Head84");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head92) == 92, "PgrMsg.Head92");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head96) == 96, "PgrMsg.Head96");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head140) == 140, "PgrMsg.Head140");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head144) == 144, "PgrMsg.Head144");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head148) == 148, "PgrMsg.Head148");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head152) == 152, "PgrMsg.Head152");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head156) == 156, "PgrMsg.Head156");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head160) == 160, "PgrMsg.Head160");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head164) == 164, "PgrMsg.Head164");
VYKOSTRA_ASSERT(offsetof(PgrMsg, Head168) == 168, "PgrMsg.Head168");
VYKOSTRA_ASSERT(sizeof(PgrMsg) == 172, "PgrMsg size");
#endif
#undef VYKOSTRA_ASSERT
#endif

#endif /* VYKOSTRA_H */
