// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegistryText.h"

#include "KeyStore.h"

namespace vandrelle {
namespace {

constexpr std::size_t kMaxText = 259;  // a 260-unit buffer with its terminator

}  // namespace

std::size_t Utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c & 0xC0) == 0x80) continue;  // continuation byte
        units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

std::optional<std::string> ReadBoundedString(const RegKey& key, std::string_view name) {
    const auto value = key.ReadValue(name);
    if (!value) return std::nullopt;
    if (value->type != ValueType::String && value->type != ValueType::ExpandString) {
        return std::nullopt;
    }
    const auto& raw = value->bytes;
    if (!raw.empty()) {
        if (raw.size() % 2 != 0) return std::nullopt;
        if (raw[raw.size() - 1] != 0 || raw[raw.size() - 2] != 0) return std::nullopt;
        if (raw.size() / 2 > kMaxText + 1) return std::nullopt;
    }
    if (Utf16Length(value->text) > kMaxText) return std::nullopt;
    return value->text;
}

}  // namespace vandrelle
