// SPDX-License-Identifier: GPL-3.0-or-later
// vandrelle-parse-floor FILE: loads the file with pugixml alone and walks
// every node, printing the number of elements: the floor a process that
// loads the configuration (such as "vandrelle-cli tree") is compared with.
#include "PlainXml.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vandrelle-parse-floor FILE\n");
        return 2;
    }
    pugi::xml_document doc;
    if (!vandrelle::LoadPlain(doc, argv[1])) {
        std::fprintf(stderr, "vandrelle-parse-floor: %s does not parse\n", argv[1]);
        return 1;
    }
    std::printf("%zu elements\n", vandrelle::CountElements(doc));
    return 0;
}
