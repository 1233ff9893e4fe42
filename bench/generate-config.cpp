// SPDX-License-Identifier: GPL-3.0-or-later
// vandrelle-generate-config OUT.xml [servers] [groups]: writes a generated
// configuration whose passwords are encoded under GeneratedConfigKey().
#include "GenerateConfig.h"

#include "FileUtil.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <string_view>

namespace {

bool ParseCount(std::string_view text, int* value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end && *value >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    vandrelle::GeneratedShape shape;
    if (argc < 2 || argc > 4 || (argc > 2 && !ParseCount(argv[2], &shape.servers)) ||
        (argc > 3 && !ParseCount(argv[3], &shape.groups))) {
        std::fprintf(stderr, "usage: vandrelle-generate-config OUT.xml [servers] [groups]\n");
        return 2;
    }
    try {
        const std::string text =
            vandrelle::GenerateConfigXml(shape, vandrelle::GeneratedConfigKey());
        std::string error;
        if (!vandrelle::WriteFileAtomically(argv[1], text, 0600, &error)) {
            std::fprintf(stderr, "vandrelle-generate-config: %s\n", error.c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vandrelle-generate-config: %s\n", e.what());
        return 2;
    }
    return 0;
}
