// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The fuzz target's input format, shared with the seed maker: a mode byte,
// then items of four bytes each (list, kind, size, text length) followed
// by the text's bytes.
#ifndef VYKOSTRA_FUZZ_INPUT_H
#define VYKOSTRA_FUZZ_INPUT_H

#include <cstdint>

// Modes: where the call writes.
enum FuzzMode : uint8_t { kToFile = 0, kToFullDevice = 2, kToFolder = 3 };

// The sixteen heads, ascending; a list byte picks one modulo 16.
const unsigned kFuzzHeads[16] = {36, 68, 72, 76, 80, 84, 92, 96,
                                 140, 144, 148, 152, 156, 160, 164, 168};

// Kinds and sizes a selector byte picks from (modulo the count): kind 1 is
// most of them, and the edges of both ranges are there.
const int32_t kFuzzKinds[] = {1, 1, 1, 1, 0, 2, -1, INT32_MIN, INT32_MAX, 0x101};
const uint32_t kFuzzSizes[] = {0, 1, 2, 3, 0xFFFFFFFFu, 0x80000000u, 256, 2};

constexpr unsigned kFuzzNullText = 0xFF;  // text length byte: Text is NULL
constexpr unsigned kFuzzMaxText = 200;    // longer lengths wrap
constexpr unsigned kFuzzMaxItems = 64;

#endif
