// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// The runner's probe: a word and a status of its own, which a Wine or an
// emulator that runs nothing cannot fake by exiting 0.
#include <stdio.h>

int main(void) {
    puts("vykostra-probe");
    return 42;
}
