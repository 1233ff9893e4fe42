// SPDX-License-Identifier: GPL-3.0-or-later
#include "MatchText.h"

#include "Utf16.h"
#include "Utf8.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/utf16.h>

#include <algorithm>

namespace vandrelle {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

const UNormalizer2* Decomposer() {
    static const UNormalizer2* const nfd = [] {
        UErrorCode error = U_ZERO_ERROR;
        const UNormalizer2* n = unorm2_getNFDInstance(&error);
        return U_SUCCESS(error) ? n : nullptr;
    }();
    return nfd;
}

void AppendFolded(std::string& out, UChar32 cp) {
    if (u_charType(cp) == U_NON_SPACING_MARK) return;
    AppendUtf8(out, static_cast<char32_t>(u_foldCase(cp, U_FOLD_CASE_DEFAULT)));
}

// Folds one code point onto `out`.
void FoldCodePoint(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        const char c = static_cast<char>(cp);
        out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
        return;
    }
    UChar parts[32];
    UErrorCode error = U_ZERO_ERROR;
    const int32_t n = Decomposer() ? unorm2_getDecomposition(Decomposer(), static_cast<UChar32>(cp),
                                                             parts, 32, &error)
                                   : -1;
    if (n < 0 || U_FAILURE(error)) {
        AppendFolded(out, static_cast<UChar32>(cp));
        return;
    }
    for (int32_t i = 0; i < n;) {
        UChar32 part;
        U16_NEXT(parts, i, n, part);
        AppendFolded(out, part);
    }
}

// Calls visit(codePoint, offset, length) for each character of `utf8`.
template <class Visit>
void ForEachCodePoint(std::string_view utf8, Visit visit) {
    for (std::size_t i = 0; i < utf8.size();) {
        auto [cp, length] = DecodeUtf8(utf8.substr(i));
        if (length == 0) {
            cp = kReplacement;
            length = 1;
        }
        visit(cp, i, length);
        i += length;
    }
}

}  // namespace

std::string FoldForMatch(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    ForEachCodePoint(utf8, [&](char32_t cp, std::size_t, std::size_t) { FoldCodePoint(out, cp); });
    return out;
}

FoldedText FoldWithOrigins(std::string_view utf8) {
    FoldedText folded;
    ForEachCodePoint(utf8, [&](char32_t cp, std::size_t offset, std::size_t) {
        FoldCodePoint(folded.text, cp);
        folded.origin.resize(folded.text.size(), offset);
    });
    folded.origin.push_back(utf8.size());
    return folded;
}

FindQuery ParseQuery(std::string_view typed) {
    FindQuery query;
    std::string word;
    const auto endWord = [&] {
        if (!word.empty() && query.words.size() < FindQuery::kMaxWords) {
            query.words.push_back(FoldForMatch(word));
        }
        word.clear();
    };
    ForEachCodePoint(typed, [&](char32_t cp, std::size_t offset, std::size_t length) {
        if (u_isUWhiteSpace(static_cast<UChar32>(cp))) {
            endWord();
        } else {
            word.append(typed.substr(offset, length));
        }
    });
    endWord();
    for (const std::string& w : query.words) {
        if (!query.whole.empty()) query.whole.push_back(' ');
        query.whole += w;
    }
    return query;
}

std::vector<std::pair<std::size_t, std::size_t>> MatchRanges(std::string_view label,
                                                             const FindQuery& query) {
    const FoldedText folded = FoldWithOrigins(label);
    // The end in the source of the character that folded byte i belongs to.
    const auto sourceEnd = [&](std::size_t i) {
        std::size_t j = i + 1;
        while (folded.origin[j] == folded.origin[i]) ++j;
        return folded.origin[j];
    };
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    for (const std::string& word : query.words) {
        for (std::size_t at = folded.text.find(word); at != std::string::npos;
             at = folded.text.find(word, at + 1)) {
            ranges.emplace_back(folded.origin[at], sourceEnd(at + word.size() - 1));
        }
    }
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<std::size_t, std::size_t>> merged;
    for (const auto& r : ranges) {
        if (!merged.empty() && r.first <= merged.back().second) {
            merged.back().second = std::max(merged.back().second, r.second);
        } else {
            merged.push_back(r);
        }
    }
    return merged;
}

}  // namespace vandrelle
