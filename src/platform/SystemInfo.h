// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vandrelle {

// The folder of the running executable, without a trailing slash.
std::string ProgramFolder();

// $XDG_CONFIG_HOME/vandrelle, or ~/.config/vandrelle when the variable is unset or empty.
std::string UserConfigFolder();

// Fills `out` from the operating system's cryptographic random source; false if it failed.
bool SecureRandomBytes(std::uint8_t* out, std::size_t count);

}  // namespace vandrelle
