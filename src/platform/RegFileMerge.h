// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KeyStore.h"

#include <optional>
#include <string>
#include <vector>

namespace vandrelle {

// The merge of a registry editor's file into the current user's keys, worked
// out before anything is written. It holds only what the program reads: the
// keys of the system client's servers (its "Default" key's "MRU0" to "MRU9",
// its "UsernameHint" values, its "Servers" subkeys and their "UsernameHint")
// and the program's own settings. Anything else could change what the program
// does without the user seeing it (add-ins registered there are loaded into
// every session), so it is left out.
struct RegMerge {
    using Key = KeyValues;
    std::vector<Key> keys;  // in file order, each key once, also those without values
    // One line for each part of the file that is left out, saying why:
    // keys and values the program does not read, sections of other hives,
    // deletions of keys and values, lines that are not understood, names that
    // cannot be stored, and the program's own password key, which an import
    // never replaces: the passwords stored under the key in use would no
    // longer decipher.
    std::vector<std::string> skipped;
};

// Plans the merge of a file's bytes (UTF-16LE with a byte order mark, or
// UTF-8; "Windows Registry Editor Version 5.00" or "REGEDIT4"), with the key
// store's own parser. nullopt when the bytes are not a registry file. The
// store's WriteKeys merges the keys as one write.
std::optional<RegMerge> PlanRegMerge(const std::string& data);

}  // namespace vandrelle
