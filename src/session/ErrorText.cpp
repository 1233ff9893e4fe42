// SPDX-License-Identifier: GPL-3.0-or-later
#include "ErrorText.h"

#include <cstdint>
#include <cstdio>

namespace vandrelle {

std::string ErrorText(HResult code, std::string_view engineText) {
    while (!engineText.empty() && (engineText.back() == '\n' || engineText.back() == '\r')) {
        engineText.remove_suffix(1);
    }
    if (!engineText.empty()) return std::string(engineText);
    const auto u = static_cast<std::uint32_t>(code);
    char buf[32];
    if (u >= 0x80040201u && u <= 0x8004FFFFu) {
        std::snprintf(buf, sizeof buf, "IDispatch error #%d", static_cast<int>(u - 0x80040200u));
    } else {
        std::snprintf(buf, sizeof buf, "Unknown error 0x%0lX", static_cast<unsigned long>(u));
    }
    return buf;
}

std::string CutToUtf16Units(std::string_view text, std::size_t units) {
    std::size_t used = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        const std::size_t cost = len == 4 ? 2 : 1;  // outside the BMP: a surrogate pair
        if (used + cost > units) break;
        used += cost;
        i += len;
    }
    return std::string(text.substr(0, std::min(i, text.size())));
}

}  // namespace vandrelle
