// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliText.h"

#include "Utf8.h"

namespace vandrelle {
namespace {

// Bidirectional controls would reorder the rest of the line: they are escaped too.
bool IsControl(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || IsBidiControl(cp);
}

// `prefix` followed by `digits` lower-case hex digits of the value.
void AppendHex(std::string& out, std::string_view prefix, unsigned value, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += kDigits[(value >> shift) & 0xF];
}

// Calls `onPiece(text, codePoint, valid)` for each well-formed sequence
// (valid) or lone byte (not valid) of the text, in order.
template <typename OnPiece>
void ForEachPiece(std::string_view text, OnPiece onPiece) {
    while (!text.empty()) {
        const auto [cp, length] = DecodeUtf8(text);
        const std::size_t taken = length == 0 ? 1 : length;
        onPiece(text.substr(0, taken), cp, length != 0);
        text.remove_prefix(taken);
    }
}

}  // namespace

std::string EscapedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    ForEachPiece(text, [&](std::string_view piece, char32_t cp, bool valid) {
        if (valid && cp == '\\') {
            out += "\\\\";
        } else if (valid && cp == '\t') {
            out += "\\t";
        } else if (valid && cp == '\n') {
            out += "\\n";
        } else if (valid && cp == '\r') {
            out += "\\r";
        } else if (!valid || IsControl(cp)) {
            for (const char c : piece) AppendHex(out, "\\x", static_cast<unsigned char>(c), 2);
        } else {
            out += piece;
        }
    });
    return out;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    ForEachPiece(text, [&](std::string_view piece, char32_t cp, bool valid) {
        if (!valid) {
            out += "\\ufffd";
        } else if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (IsControl(cp)) {
            AppendHex(out, "\\u", static_cast<unsigned>(cp), 4);
        } else {
            out += piece;
        }
    });
    return out + "\"";
}

}  // namespace vandrelle
