// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// pgrmsg-collapse: builds a pager message from its description, loads the
// collapse library by name and calls it, as a host program would.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "compare.h"
#include "description.h"
#include "library_loader.h"
#include "message.h"
#include "stderr_capture.h"
#include "vykostra.h"

namespace {

const char kUsage[] =
    "usage: pgrmsg-collapse [--library PATH] [--show-texts] MESSAGE-FILE OUTPUT-FILE\n"
    "       pgrmsg-collapse --compare LIBRARY-A LIBRARY-B MESSAGE-FILE...\n"
    "       pgrmsg-collapse --help | --version\n";

const char kHelp[] =
    "\n"
    "Builds the pager message that MESSAGE-FILE describes, loads the VYKOSTRA\n"
    "library, calls VYKPgrMsgCollapse(message, OUTPUT-FILE) and reports the\n"
    "result code and how many items were passed in.\n"
    "\n"
    "  --library PATH  the library to load (default: the one beside this program)\n"
    "  --show-texts    after the call, print every item's text as it now stands\n"
    "  --help          print this help\n"
    "  --version       print the version\n"
    "\n"
    "Exit status: 0 result 0; 1 PGRMSG_ERR_OPEN; 2 usage or description error;\n"
    "3 the library could not be loaded or broke its contract; 4 the report\n"
    "could not be written to standard output in full (in every mode): a write\n"
    "or its close failed, standard output was closed at start, or its reader\n"
    "left early (as | head can; SIGPIPE does not end the program), with a\n"
    "message.\n"
    "\n"
    "--compare runs two builds of the library, LIBRARY-A and LIBRARY-B, on each\n"
    "message (a folder stands for its .msg files), each on a message built\n"
    "afresh, and compares what the calls produced: the result code, the output\n"
    "file's bytes, the diagnostic lines and every item's text afterwards.  It\n"
    "prints FILE: same or FILE: differs, under the latter a line per difference\n"
    "(result, file, diagnostics or text, with where), and a closing count.  Exit\n"
    "status: 0 all the same, 1 some differ, 2 usage or description error (a\n"
    "folder without .msg files among them) or no folder for the calls' files\n"
    "in the temporary folder, before any call; also 2 if a call's standard\n"
    "error cannot be caught there, the report then ending without its count;\n"
    "3 a library could not be loaded or broke its contract, 4 the report was\n"
    "lost.  Before replacing the library that hosts load, check the new one\n"
    "against it on your messages:\n"
    "  pgrmsg-collapse --compare /usr/lib/x86_64-linux-gnu/libVYKOSTRA.so.1 \\\n"
    "      new/libVYKOSTRA.so.1 messages/\n"
    "\n"
    "MESSAGE-FILE holds one item per line, four fields apart by blanks:\n"
    "  LIST KIND SIZE TEXT\n"
    "  LIST  the offset of the list's head in the record: one of\n"
    "        36 68 72 76 80 84 92 96 140 144 148 152 156 160 164 168\n"
    "  KIND  a 32-bit value: decimal (negative too) or 0x hex; 1 is text\n"
    "  SIZE  an unsigned 32-bit value, decimal or 0x hex\n"
    "  TEXT  a double-quoted string with the escapes \\n \\r \\f \\t \\v \\\\ \\\"\n"
    "        and \\xHH (not \\x00), other bytes as they stand; or null\n"
    "'#' starts a comment outside a string, blank lines are skipped, and the\n"
    "items of one list keep their order in the file.  Example:\n"
    "  140 1 3    \"CD\"        # visited first\n"
    "  36  1 0x10 \"AB\\r\\n\"\n"
    "  36  2 5    \"kept\\xE9\"  # kind 2: passed over\n";

int Usage(const char *problem) {
    std::fprintf(stderr, "pgrmsg-collapse: %s\n%s", problem, kUsage);
    return 2;
}

// No outcome the tool reports on standard output is had unless the report
// reached it: a lost report is never a success, nor "differs".
constexpr int kReportLost = 4;

// The report's last flush and the close of its descriptor, checked last.
// A usage, description or library error keeps its own status: its message
// went to standard error.
int Finish(int status) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const char *lost = nullptr;
    if (!flushed || std::ferror(stdout))
        lost = flushed || errno == 0 ? "an earlier write to it failed" : std::strerror(errno);
    else if (!CloseStandardOutput())
        lost = std::strerror(errno);
    if (lost == nullptr || status == 2 || status == 3)
        return status;
    std::fprintf(stderr, "pgrmsg-collapse: cannot write the report to standard output (%s)\n",
                 lost);
    return kReportLost;
}

int Run(int argc, char **argv) {
    std::string library;
    bool showTexts = false;
    std::vector<std::string> operands;
    if (argc > 1 && std::strcmp(argv[1], "--compare") == 0) {
        if (argc < 5)
            return Usage("--compare needs LIBRARY-A LIBRARY-B MESSAGE-FILE...");
        return Compare(std::vector<std::string>(argv + 2, argv + argc));
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::printf("%s%s", kUsage, kHelp);
            return 0;
        } else if (arg == "--version") {
            std::printf("pgrmsg-collapse (VYKOSTRA) %s\n", VYKOSTRA_VERSION);
            return 0;
        } else if (arg == "--show-texts") {
            showTexts = true;
        } else if (arg == "--library") {
            if (++i == argc)
                return Usage("--library needs a PATH");
            library = argv[i];
        } else if (arg.compare(0, 10, "--library=") == 0) {
            library = arg.substr(10);
        } else if (arg == "--") {
            operands.insert(operands.end(), argv + i + 1, argv + argc);
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage(("unknown option " + arg).c_str());
        } else {
            operands.push_back(arg);
        }
    }
    if (operands.size() != 2)
        return Usage("expected MESSAGE-FILE and OUTPUT-FILE");

    std::vector<ItemSpec> specs;
    std::string error;
    if (!ReadDescription(operands[0], specs, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    if (library.empty())
        library = DefaultLibraryPath();
    const PFN_VYKPgrMsgCollapse collapse = LoadCollapse(library, error);
    if (collapse == nullptr) {
        std::fprintf(stderr, "pgrmsg-collapse: %s\n", error.c_str());
        return 3;
    }

    HostMessage message;
    BuildMessage(specs, message);
    std::fflush(stdout);
    const uint32_t result = collapse(message.Message(), operands[1].c_str());

    if (showTexts) {
        for (std::size_t i = 0; i < specs.size(); ++i) {
            const ItemSpec &spec = specs[i];
            std::printf("item %zu (list %u, kind %ld, size %lu): %s\n", i + 1, spec.list,
                        static_cast<long>(spec.kind), static_cast<unsigned long>(spec.size),
                        spec.nullText ? "null"
                                      : QuoteText(message.texts[i].data()).c_str());
        }
    }
    std::printf("result %s (%zu item%s passed in)\n", ResultText(result).c_str(), specs.size(),
                specs.size() == 1 ? "" : "s");

    const std::string breach = ContractBreach(message);
    if (!breach.empty()) {
        std::fflush(stdout);  // the report before the breach's message
        std::fprintf(stderr, "pgrmsg-collapse: %s\n", breach.c_str());
        return 3;
    }
    return result == PGRMSG_OK ? 0 : result == PGRMSG_ERR_OPEN ? 1 : 3;
}

} // namespace

int main(int argc, char **argv) {
    OpenClosedStandardStreams();
    return Finish(Run(argc, argv));
}
