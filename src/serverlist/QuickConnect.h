// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Properties.h"

#include <optional>
#include <string_view>

namespace vandrelle {

// The record of a session to the server typed in Quick Connect: white space
// (as the C library knows it) trimmed from both ends; split at the last
// colon into host and port, the port read as the C library reads a decimal
// number (leading blanks and a sign, up to the first non-digit; 0 when none,
// and then the default port stays); the defaults of a new record otherwise,
// with Name and Server the host, its own log-on settings, and the console
// switch given. nullopt for a text that is empty once trimmed.
std::optional<Properties> QuickConnectRecord(std::u16string_view text, bool console);

}  // namespace vandrelle
