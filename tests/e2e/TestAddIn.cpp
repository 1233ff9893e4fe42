// SPDX-License-Identifier: GPL-3.0-or-later
// A channel add-in for tests: its entry point leaves a mark in the file named
// by VANDRELLE_TEST_ADDIN_MARK and registers no channel.
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int VirtualChannelEntryEx(void*, void*) {
    if (const char* mark = std::getenv("VANDRELLE_TEST_ADDIN_MARK")) {
        if (std::FILE* f = std::fopen(mark, "w")) {
            std::fputs("loaded\n", f);
            std::fclose(f);
        }
    }
    return 1;
}
