// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Properties.h"

#include <optional>
#include <string>
#include <string_view>

namespace vandrelle {

// The record of a session to the server typed in Quick Connect: white space
// (as the C library knows it) trimmed from both ends; split into host and port
// as an address is (HostPort.h: "host:port", "[v6]:port", a bare IPv6 address
// has no port), the port read as the C library reads a decimal number
// (leading blanks and a sign, up to the first non-digit; 0 when none, and then
// the default port stays); the defaults of a new record otherwise, with Name
// and Server the host, its own log-on settings, and the console switch given.
// nullopt for a text that is empty once trimmed, and for a port outside 1 to
// 65535, which sets `problem` to the message the user is shown.
std::optional<Properties> QuickConnectRecord(std::u16string_view text, bool console,
                                             std::string* problem = nullptr);

}  // namespace vandrelle
