// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// Turns message descriptions (the golden cases) into fuzz inputs, one file
// each, so that fuzzing starts from every case the tests already know.
#include <cstdio>
#include <string>
#include <vector>

#include "description.h"
#include "fuzz_input.h"

namespace {

template <class T, std::size_t N>
unsigned char Pick(const T (&table)[N], T value, unsigned char fallback) {
    for (std::size_t i = 0; i < N; ++i)
        if (table[i] == value)
            return static_cast<unsigned char>(i);
    return fallback;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_seeds OUT-DIR DESCRIPTION...\n");
        return 2;
    }
    int made = 0;
    for (int i = 2; i < argc; ++i) {
        std::vector<ItemSpec> items;
        std::string error;
        if (!ReadDescription(argv[i], items, error))
            continue;  // the cases of bad descriptions
        for (const unsigned char mode : {kToFile, kToFullDevice}) {
            std::string seed(1, static_cast<char>(mode));
            for (const ItemSpec &item : items) {
                seed += static_cast<char>(Pick(kFuzzHeads, item.list, 0));
                seed += static_cast<char>(Pick(kFuzzKinds, item.kind, 5));
                seed += static_cast<char>(Pick(kFuzzSizes, item.size, 6));
                const std::size_t length = item.text.size() < kFuzzMaxText ? item.text.size() : kFuzzMaxText;
                seed += static_cast<char>(item.nullText ? kFuzzNullText : length);
                seed += item.text.substr(0, item.nullText ? 0 : length);
            }
            const std::string name = std::string(argv[1]) + "/seed-" + std::to_string(made++);
            if (std::FILE *f = std::fopen(name.c_str(), "wb")) {
                std::fwrite(seed.data(), 1, seed.size(), f);
                std::fclose(f);
            }
        }
    }
    std::printf("%d seeds\n", made);
    return made > 0 ? 0 : 1;
}
