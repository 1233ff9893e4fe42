// SPDX-License-Identifier: GPL-3.0-or-later
#include "AddIns.h"

#include "FileUtil.h"
#include "KeyStore.h"
#include "RegistryText.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

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

std::string Octal(mode_t mode) {
    std::string digits;
    for (int shift = 9; shift >= 0; shift -= 3)
        digits += static_cast<char>('0' + ((mode >> shift) & 7));
    return digits;
}

// Why another user could change what `at` holds; empty when no one can but
// the user and root. `entry` is the library itself, as opposed to a folder.
std::string OthersCanWrite(const std::string& at, const struct stat& st, bool entry) {
    if (st.st_uid != ::geteuid() && st.st_uid != 0) {
        return at + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    }
    const bool shared = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    const bool sticky = !entry && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
    if (shared && !sticky) {
        return at + " can be written by other users (mode " + Octal(st.st_mode & 07777) + ")";
    }
    return {};
}

}  // namespace

bool ResolveSafeAddIn(const std::string& path, std::string* library, std::string* why) {
    if (path.empty() || path.front() != '/') {
        *why = "it is not an absolute path, so the library loaded would be found by a search";
        return false;
    }
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                           &std::free);
    if (!real) {
        *why = std::strerror(errno);
        return false;
    }
    const std::string resolved(real.get());
    for (std::string at = resolved;; at = FolderOf(at)) {
        struct stat st {};
        if (::stat(at.c_str(), &st) != 0) {
            *why = at + ": " + std::strerror(errno);
            return false;
        }
        if (at == resolved && !S_ISREG(st.st_mode)) {
            *why = "it is not a regular file";
            return false;
        }
        if (std::string risk = OthersCanWrite(at, st, at == resolved); !risk.empty()) {
            *why = std::move(risk);
            return false;
        }
        if (at == "/") break;
    }
    *library = resolved;
    return true;
}

std::string GetAddInList(KeyStore& keys) {
    std::string list;
    AppendSubkeys(keys, Hive::CurrentUser, list);
    AppendSubkeys(keys, Hive::LocalMachine, list);
    return list;
}

}  // namespace vandrelle
