// SPDX-License-Identifier: GPL-3.0-or-later
#include "Utf16.h"

namespace vandrelle {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c < 0xE000;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    auto put = [&out](char32_t byte) { out += static_cast<char>(byte); };
    if (cp < 0x80) {
        put(cp);
    } else if (cp < 0x800) {
        put(0xC0 | (cp >> 6));
        put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        put(0xE0 | (cp >> 12));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    } else {
        put(0xF0 | (cp >> 18));
        put(0x80 | ((cp >> 12) & 0x3F));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    }
}

namespace {

// The code point at `pos`, moving past it; a malformed sequence gives U+FFFD
// and moves past its first byte only.
char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos++]);
    if (lead < 0x80) return lead;
    int more;
    char32_t cp, smallest;
    if ((lead & 0xE0) == 0xC0) {
        more = 1, cp = lead & 0x1Fu, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        more = 2, cp = lead & 0x0Fu, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        more = 3, cp = lead & 0x07u, smallest = 0x10000;
    } else {
        return kReplacement;
    }
    std::size_t next = pos;
    for (int i = 0; i < more; ++i, ++next) {
        if (next >= text.size()) return kReplacement;
        const auto byte = static_cast<unsigned char>(text[next]);
        if ((byte & 0xC0) != 0x80) return kReplacement;
        cp = (cp << 6) | (byte & 0x3Fu);
    }
    if (cp < smallest || cp > 0x10FFFF || IsSurrogate(cp)) return kReplacement;
    pos = next;
    return cp;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size()) {
            const char32_t low = text[i + 1];
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, IsSurrogate(unit) ? kReplacement : unit);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t cp = NextCodePoint(text, pos);
        if (cp < 0x10000) {
            out += static_cast<char16_t>(cp);
        } else {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
    return out;
}

}  // namespace vandrelle
