// Item text scrubbing: single-line 7-bit text, rewritten in place.
#ifndef VYKOSTRA_SCRUB_H
#define VYKOSTRA_SCRUB_H

#include <cstddef>

// Rewrites `text` (NUL-terminated, writable) so that it holds no byte at
// 0x80 or above and no line feed, form feed or carriage return: high bytes
// become 'X', those three become blanks.  Never changes the length; returns
// it (the number of bytes before the NUL) so the caller need not measure
// the text a second time.
std::size_t ScrubItemText(char *text);

// The same rewrite of the first `length` bytes of `bytes`, NULs included.
void ScrubBytes(unsigned char *bytes, std::size_t length);

#endif
