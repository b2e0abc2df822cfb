// The output file: the library's only contact with the platform's file
// calls.  One implementation per runtime (POSIX, MSVCRT) is linked in.
#ifndef VYKOSTRA_OUTPUT_FILE_H
#define VYKOSTRA_OUTPUT_FILE_H

#include <cstddef>

// Opens `path` write-only and binary, created with owner read/write if
// missing, truncated if present.  Returns the descriptor, or -1.
int OutputFileOpen(const char *path);

// Writes all `length` bytes, continuing after short writes and retrying a
// write interrupted before it wrote anything.  Returns false as soon as a
// write reports failure; what was written until then stays.
bool OutputFileWrite(int file, const char *bytes, std::size_t length);

// Closes the descriptor; its result tells the caller nothing it can act on.
void OutputFileClose(int file);

#endif
