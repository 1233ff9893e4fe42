// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace vandrelle {

class KeyStore;

inline constexpr std::string_view kAddInsKey =
    "Software\\Microsoft\\Terminal Server Client\\Default\\AddIns";

// The add-in libraries registered for the RDP client, the user's first, then
// the machine's that the user has not overridden by a subkey of the same
// name: their paths joined by ",". Empty when there are none.
std::string GetAddInList(KeyStore& keys);

// Whether the add-in library at `path` may be loaded: a library runs its code
// as the user, so one that another user could have written (or replaced) is
// refused. It must be an absolute path (a bare name would be searched for,
// and what is found could not be checked) to a regular file; the file and
// every folder above it, links resolved, must belong to the user or root and
// be writable by no one else. A folder with the sticky bit (such as /tmp) is
// the exception: there, others cannot replace what is not theirs. True with
// the resolved path in `library`, which is the file to load; false with the
// reason in `why`.
bool ResolveSafeAddIn(const std::string& path, std::string* library, std::string* why);

}  // namespace vandrelle
