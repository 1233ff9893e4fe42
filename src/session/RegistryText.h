// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vandrelle {

class RegKey;

// A string value as a 260-unit buffer takes it: REG_SZ or REG_EXPAND_SZ (taken
// as stored), at most 259 UTF-16 units, and stored data of even length ending
// with its terminator. nullopt when it is missing or unreadable.
std::optional<std::string> ReadBoundedString(const RegKey& key, std::string_view name);

// The number of UTF-16 code units of a UTF-8 text.
std::size_t Utf16Length(std::string_view utf8);

}  // namespace vandrelle
