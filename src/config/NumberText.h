// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace vandrelle {

// Reads a number as the configuration file stores it: leading white space and
// one sign are accepted, parsing stops at the first non-digit, text without
// digits gives 0, and a value beyond the 32-bit range gives the nearest limit.
int ParseNumber(std::string_view text);

// Decimal text, a minus sign when negative, no padding.
std::string FormatNumber(int value);

// Strict form for user input: optional sign and digits only, within 32 bits.
bool ParseStrictNumber(std::string_view text, int* value);

}  // namespace vandrelle
