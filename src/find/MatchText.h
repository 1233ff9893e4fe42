// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vandrelle {

// Text as finding compares it, in UTF-8: canonically decomposed, combining
// marks dropped and case folded, so that "ZÜRICH", "Zürich" and "zurich" are
// one text. A byte that starts no well-formed sequence becomes U+FFFD.
std::string FoldForMatch(std::string_view utf8);

// The same, with where each byte of the folded text came from: origin[i] is
// the offset in the source of the character that folded into byte i, and
// origin[text.size()] is the source's size.
struct FoldedText {
    std::string text;
    std::vector<std::size_t> origin;
};
FoldedText FoldWithOrigins(std::string_view utf8);

// What the user typed, as finding uses it: its words folded (split at white
// space, at most kMaxWords of them; more are left out), and the words joined by
// one space, which ranking compares with names.
struct FindQuery {
    static constexpr std::size_t kMaxWords = 64;
    std::vector<std::string> words;
    std::string whole;
    bool Empty() const { return words.empty(); }
};
FindQuery ParseQuery(std::string_view typed);

// The byte ranges [first, second) of `label` where a word of the query occurs
// (every occurrence, overlaps merged, in order): what is highlighted. Ranges
// start and end on the label's character boundaries.
std::vector<std::pair<std::size_t, std::size_t>> MatchRanges(std::string_view label,
                                                             const FindQuery& query);

}  // namespace vandrelle
