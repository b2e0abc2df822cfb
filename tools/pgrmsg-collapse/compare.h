// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// pgrmsg-collapse --compare: two builds of the library on the same
// messages, before one replaces the other where hosts load it.
#ifndef PGRMSG_COMPARE_H
#define PGRMSG_COMPARE_H

#include <string>
#include <vector>

// Compares LIBRARY-A and LIBRARY-B (operands[0], operands[1]) on each
// message file that follows, one at least (a folder stands for its .msg
// files, in name order): for each, the result code, the output file's bytes, the
// diagnostic lines and every item's text after the call.  Prints one line
// per message, a line per difference under it, and a closing count.
// Returns the exit status: 0 all the same, 1 some differ, 2 a usage or
// description error, or a call's standard error that cannot be caught
// (then after the messages already reported, without the count), 3 a
// library that cannot be loaded or breaks its contract.
int Compare(const std::vector<std::string> &operands);

#endif
