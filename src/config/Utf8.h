// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>

namespace vandrelle {

// Decodes one well-formed UTF-8 sequence at the front of `text` (which must
// not be empty): its code point and length, or length 0 when the first byte
// does not start one (overlong forms, surrogates, values above U+10FFFF and
// truncated sequences included).
std::pair<char32_t, std::size_t> DecodeUtf8(std::string_view text);

// The bidirectional formatting characters (marks, embeddings, overrides,
// isolates): in a name they reorder what is shown, so that "abc<U+202E>fdp.exe"
// reads as "abcexe.pdf". Where names are shown they are made visible.
bool IsBidiControl(char32_t cp);

}  // namespace vandrelle
