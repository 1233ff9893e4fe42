// SPDX-License-Identifier: GPL-3.0-or-later
#include "AddIns.h"

#include "KeyStore.h"
#include "RegistryText.h"

namespace vandrelle {
namespace {

void AppendSubkeys(KeyStore& keys, Hive hive, std::string& list) {
    auto root = keys.OpenKey(hive, kAddInsKey);
    if (!root) return;
    for (std::size_t i = 0;; ++i) {
        const auto name = root->SubKeyName(i);
        if (!name) break;
        const std::string path = std::string(kAddInsKey) + "\\" + *name;
        // The user's entry of the same name takes the machine's place, readable or not.
        if (hive == Hive::LocalMachine && keys.OpenKey(Hive::CurrentUser, path)) continue;
        auto sub = keys.OpenKey(hive, path);
        if (!sub) continue;
        const auto value = ReadBoundedString(*sub, "Name");
        if (!value) continue;
        if (!list.empty()) list += ',';
        list += *value;
    }
}

}  // namespace

std::string GetAddInList(KeyStore& keys) {
    std::string list;
    AppendSubkeys(keys, Hive::CurrentUser, list);
    AppendSubkeys(keys, Hive::LocalMachine, list);
    return list;
}

}  // namespace vandrelle
