// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
#include "compare.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "description.h"
#include "library_loader.h"
#include "message.h"
#include "stderr_capture.h"
#include "vykostra.h"

namespace fs = std::filesystem;

namespace {

// What one call produced.
struct Outcome {
    uint32_t result = 0;
    std::optional<std::string> file;        // absent: no file was made
    std::vector<std::string> diagnostics;   // lines, without their ends
    std::vector<std::optional<std::string>> texts;  // absent: a null Text
    std::string breach;                     // the contract it broke, or ""
};

struct Library {
    std::string path;
    PFN_VYKPgrMsgCollapse collapse;
};

std::optional<std::string> ReadBytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Lines apart by line feeds; a carriage return before one (a text stream
// on Windows) is not part of the line.
std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Calls the library on a message built afresh, with its own output file
// and its diagnostics caught.  Returns false if standard error cannot be
// caught.
bool Run(const Library &library, const std::vector<ItemSpec> &specs, const fs::path &folder,
         const char *name, Outcome &outcome) {
    const fs::path output = folder / (std::string(name) + ".out");
    const fs::path errors = folder / (std::string(name) + ".err");
    std::error_code ignored;
    fs::remove(output, ignored);
    HostMessage message;
    BuildMessage(specs, message);
    StderrCapture capture;
    if (!BeginStderrCapture(errors.string(), capture))
        return false;
    outcome.result = library.collapse(message.Message(), output.string().c_str());
    EndStderrCapture(capture);
    outcome.file = ReadBytes(output);
    outcome.diagnostics = Lines(ReadBytes(errors).value_or(""));
    for (std::size_t i = 0; i < specs.size(); ++i)
        outcome.texts.push_back(specs[i].nullText
                                    ? std::nullopt
                                    : std::optional<std::string>(message.texts[i].data()));
    outcome.breach = ContractBreach(message);
    return true;
}

// Where two byte strings, or two lists of lines, first differ.
template <typename Sequence>
std::size_t FirstDifference(const Sequence &a, const Sequence &b) {
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    return at;
}

// Up to 24 bytes of `bytes` from a little before `at`, quoted.
std::string Excerpt(const std::string &bytes, std::size_t at) {
    const std::size_t start = std::min(at >= 8 ? at - 8 : 0, bytes.size());
    return QuoteText(bytes.substr(start, 24));
}

// "3 bytes", "1 line".
std::string Count(std::size_t n, const char *what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// "first difference at byte N (A n bytes, B m bytes): A "...", B "..."".
std::string BytesDiffer(const std::string &a, const std::string &b) {
    const std::size_t at = FirstDifference(a, b);
    return "first difference at byte " + std::to_string(at) + " (A " + Count(a.size(), "byte") +
           ", B " + Count(b.size(), "byte") + "): A " + Excerpt(a, at) + ", B " + Excerpt(b, at);
}

std::string Quoted(const std::optional<std::string> &text) {
    return text ? QuoteText(*text) : "(none)";
}

// The differences between two outcomes, one line each.
std::vector<std::string> Differences(const std::vector<ItemSpec> &specs, const Outcome &a,
                                     const Outcome &b) {
    std::vector<std::string> found;
    if (a.result != b.result)
        found.push_back("result: A " + ResultText(a.result) + ", B " + ResultText(b.result));

    if (a.file.has_value() != b.file.has_value())
        found.push_back(std::string("file: ") +
                        (a.file ? "A made one of " + Count(a.file->size(), "byte") : "A made none") +
                        (b.file ? ", B one of " + Count(b.file->size(), "byte") : ", B made none"));
    else if (a.file && *a.file != *b.file)
        found.push_back("file: " + BytesDiffer(*a.file, *b.file));

    if (a.diagnostics != b.diagnostics) {
        const std::size_t at = FirstDifference(a.diagnostics, b.diagnostics);
        const auto lineOf = [at](const Outcome &o) {
            return at < o.diagnostics.size() ? std::optional<std::string>(o.diagnostics[at])
                                             : std::nullopt;
        };
        found.push_back("diagnostics: line " + std::to_string(at + 1) + " (A " +
                        Count(a.diagnostics.size(), "line") + ", B " +
                        Count(b.diagnostics.size(), "line") + "): A " + Quoted(lineOf(a)) +
                        ", B " + Quoted(lineOf(b)));
    }

    // Items by list and position in it, as the description orders them.
    std::map<unsigned, unsigned> position;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const unsigned at = ++position[specs[i].list];
        if (a.texts[i] == b.texts[i])
            continue;
        std::string where = "text: list " + std::to_string(specs[i].list) + " item " +
                            std::to_string(at) + ": ";
        if (a.texts[i] && b.texts[i])
            found.push_back(where + BytesDiffer(*a.texts[i], *b.texts[i]));
        else
            found.push_back(where + "A " + Quoted(a.texts[i]) + ", B " + Quoted(b.texts[i]));
    }
    return found;
}

// The message files the operands name: a folder stands for its .msg
// files, in name order.  A folder that cannot be read or holds none is an
// error, "FOLDER: why": nothing compared is not "the same".
bool MessageFiles(const std::vector<std::string> &operands, std::vector<std::string> &files,
                  std::string &error) {
    for (const std::string &operand : operands) {
        std::error_code code;
        if (!fs::is_directory(operand, code)) {
            files.push_back(operand);
            continue;
        }
        std::vector<std::string> names;
        fs::directory_iterator entry(operand, code), end;
        for (; !code && entry != end; entry.increment(code))
            if (entry->path().extension() == ".msg")
                names.push_back(entry->path().filename().string());
        if (code) {
            error = operand + ": cannot read the folder (" + code.message() + ")";
            return false;
        }
        if (names.empty()) {
            error = operand + ": the folder holds no .msg file";
            return false;
        }
        std::sort(names.begin(), names.end());
        for (const std::string &name : names)
            files.push_back(operand + (operand.back() == '/' ? "" : "/") + name);
    }
    return true;
}

// A folder of our own for the calls' files, in the temporary folder and
// nowhere else, removed with all it holds when the comparison ends.  If
// none can be made, `path` is empty and `error` says why.
struct WorkFolder {
    fs::path path;
    std::string error;
    WorkFolder() {
        std::error_code code;
        const fs::path temporary = fs::temp_directory_path(code);
        if (code) {
            // It names no folder when it fails: the environment does.
            const char *named = nullptr;
            for (const char *variable : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"})
                if (named == nullptr)
                    named = std::getenv(variable);
            error = std::string("cannot use the temporary folder ") +
                    (named != nullptr ? named : "") + " (" + code.message() + ")";
            return;
        }
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int i = 0; path.empty() && i < 1000; ++i) {
            fs::path candidate = temporary / ("pgrmsg-compare-" + std::to_string(stamp) + "-" +
                                              std::to_string(i));
            if (fs::create_directory(candidate, code))
                path = candidate;
            else if (code)
                break;
        }
        if (path.empty())
            error = "cannot make a folder for the calls' files in " + temporary.string() +
                    " (" + (code ? code.message() : "every name taken") + ")";
    }
    ~WorkFolder() {
        std::error_code ignored;
        if (!path.empty())
            fs::remove_all(path, ignored);
    }
    WorkFolder(const WorkFolder &) = delete;
    WorkFolder &operator=(const WorkFolder &) = delete;
};

} // namespace

int Compare(const std::vector<std::string> &operands) {
    // Every description is read before any call, so that an error in one
    // stops the comparison before it reports anything.
    std::vector<std::string> files;
    std::string error;
    if (!MessageFiles(std::vector<std::string>(operands.begin() + 2, operands.end()), files,
                      error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    std::vector<std::vector<ItemSpec>> messages(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!ReadDescription(files[i], messages[i], error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
    }

    Library libraries[2];
    for (int l = 0; l < 2; ++l) {
        libraries[l] = {operands[static_cast<std::size_t>(l)],
                        LoadCollapse(operands[static_cast<std::size_t>(l)], error)};
        if (libraries[l].collapse == nullptr) {
            std::fprintf(stderr, "pgrmsg-collapse: %s\n", error.c_str());
            return 3;
        }
    }

    WorkFolder work;
    if (work.path.empty()) {
        std::fprintf(stderr, "pgrmsg-collapse: %s\n", work.error.c_str());
        return 2;
    }
    std::size_t same = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        Outcome outcomes[2];
        for (int l = 0; l < 2; ++l) {
            if (!Run(libraries[l], messages[i], work.path, l == 0 ? "a" : "b", outcomes[l])) {
                std::fprintf(stderr, "pgrmsg-collapse: cannot catch standard error in %s\n",
                             work.path.string().c_str());
                return 2;
            }
            if (!outcomes[l].breach.empty()) {
                std::fflush(stdout);
                std::fprintf(stderr, "pgrmsg-collapse: %s: %s broke its contract: %s\n",
                             files[i].c_str(), libraries[l].path.c_str(),
                             outcomes[l].breach.c_str());
                return 3;
            }
        }
        const std::vector<std::string> differences =
            Differences(messages[i], outcomes[0], outcomes[1]);
        std::printf("%s: %s\n", files[i].c_str(), differences.empty() ? "same" : "differs");
        for (const std::string &difference : differences)
            std::printf("  %s\n", difference.c_str());
        if (differences.empty())
            ++same;
    }
    std::printf("%zu message%s: %zu same, %zu differ\n", files.size(),
                files.size() == 1 ? "" : "s", same, files.size() - same);
    return same == files.size() ? 0 : 1;
}
