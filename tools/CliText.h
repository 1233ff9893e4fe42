// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace vandrelle {

// A name or text as the companion prints it on a line of its own, so that no
// text can break the line or reach the terminal as a control sequence: a
// backslash prints as "\\", tab, line feed and carriage return as "\t", "\n"
// and "\r", every other control character (U+0000 to U+001F, U+007F, U+0080
// to U+009F) and every byte that is not part of well-formed UTF-8 as "\xHH"
// for each of its bytes (lower-case hex). Everything else prints as it is.
std::string EscapedText(std::string_view text);

// The text as a JSON string, quotes included: JSON's own escapes, control
// characters (C1 and DEL too) as "\u00XX", and each byte that is not part of
// well-formed UTF-8 as U+FFFD, so that the result is always valid JSON.
std::string JsonString(std::string_view text);

}  // namespace vandrelle
