// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace vandrelle {

// Text is UTF-8 in the program's logic; windows count and exchange UTF-16
// code units. Unpaired surrogates and malformed UTF-8 become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// Appends the UTF-8 form of a code point (not a surrogate) to `out`.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace vandrelle
