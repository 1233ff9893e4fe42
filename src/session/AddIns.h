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

}  // namespace vandrelle
