/* SPDX-FileCopyrightText: 2026 The VYKOSTRA developers */
/* SPDX-License-Identifier: MIT */
/* A host built for the MSVC ABI with no C runtime at all: kernel32 and
 * VYKOSTRA.lib are all it links.  It collapses one text item into the file
 * named "msvc-host.out" and reads the file back; exit status 0 when it
 * holds the scrubbed text. */
#include "vykostra.h"

#define WINAPI __stdcall
typedef void *HANDLE;
__declspec(dllimport) HANDLE WINAPI CreateFileA(const char *, unsigned long, unsigned long,
                                                void *, unsigned long, unsigned long, HANDLE);
__declspec(dllimport) int WINAPI ReadFile(HANDLE, void *, unsigned long, unsigned long *, void *);
__declspec(dllimport) int WINAPI CloseHandle(HANDLE);
__declspec(dllimport) void WINAPI ExitProcess(unsigned);

static PgrMsg message;
static PgrMsgItem item;
static char text[] = "MSVC\r\nhost\xE9";
static const char expected[] = "MSVC  hostX";

void mainCRTStartup(void) {
    char got[32];
    unsigned long length = 0, i;
    HANDLE file;
    item.Size = 2;
    item.Kind = PGRMSG_KIND_TEXT;
    item.Text = text;
    message.Head36 = &item;
    if (VYKPgrMsgCollapse(&message, "msvc-host.out") != PGRMSG_OK)
        ExitProcess(1);
    file = CreateFileA("msvc-host.out", 0x80000000ul /* GENERIC_READ */, 1, 0,
                       3 /* OPEN_EXISTING */, 0, 0);
    if (file == (HANDLE)-1 || !ReadFile(file, got, sizeof got, &length, 0))
        ExitProcess(2);
    CloseHandle(file);
    if (length != sizeof expected - 1)
        ExitProcess(3);
    for (i = 0; i < length; ++i)
        if (got[i] != expected[i])
            ExitProcess(4);
    ExitProcess(0);
}
