// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KeyStore.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vandrelle {

// The merge of a registry editor's file into the current user's keys, worked
// out before anything is written.
struct RegMerge {
    struct Key {
        std::string path;  // below HKEY_CURRENT_USER, joined by backslashes
        std::vector<std::pair<std::string, RegValue>> values;  // in file order
    };
    std::vector<Key> keys;  // in file order, each key once, also those without values
    // One line for each part of the file that is left out, saying why:
    // sections of other hives, deletions of keys and values, lines that are
    // not understood, names that cannot be stored, and the program's own
    // password key, which an import never replaces: the passwords stored under
    // the key in use would no longer decipher.
    std::vector<std::string> skipped;
};

// Plans the merge of a file's bytes (UTF-16LE with a byte order mark, or
// UTF-8; "Windows Registry Editor Version 5.00" or "REGEDIT4"), with the key
// store's own parser. nullopt when the bytes are not a registry file.
std::optional<RegMerge> PlanRegMerge(const std::string& data);

// Creates the key where it is missing and writes its values, replacing those
// of the same name and keeping the others. False at the first write that
// fails, with the store's reason in `error`.
bool MergeKey(const RegMerge::Key& key, KeyStore& keys, std::string* error);

}  // namespace vandrelle
