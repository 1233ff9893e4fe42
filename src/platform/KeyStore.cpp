// SPDX-License-Identifier: GPL-3.0-or-later
#include "KeyStore.h"

namespace vandrelle {

std::optional<std::string> RegKey::ReadString(std::string_view name) const {
    auto value = ReadValue(name);
    if (!value || (value->type != ValueType::String && value->type != ValueType::ExpandString)) {
        return std::nullopt;
    }
    return std::move(value->text);
}

std::optional<std::uint32_t> RegKey::ReadDword(std::string_view name) const {
    const auto value = ReadValue(name);
    if (!value || value->type != ValueType::Dword) return std::nullopt;
    return value->number;
}

std::optional<std::vector<std::uint8_t>> RegKey::ReadBinary(std::string_view name) const {
    auto value = ReadValue(name);
    if (!value || value->type != ValueType::Binary) return std::nullopt;
    return std::move(value->bytes);
}

bool RegKey::WriteString(std::string_view name, std::string_view text) {
    RegValue value;
    value.type = ValueType::String;
    value.rawType = static_cast<std::uint32_t>(ValueType::String);
    value.text = text;
    return WriteValue(name, value);
}

bool RegKey::WriteDword(std::string_view name, std::uint32_t number) {
    RegValue value;
    value.type = ValueType::Dword;
    value.rawType = static_cast<std::uint32_t>(ValueType::Dword);
    value.number = number;
    return WriteValue(name, value);
}

bool RegKey::WriteBinary(std::string_view name, const std::vector<std::uint8_t>& bytes) {
    RegValue value;
    value.type = ValueType::Binary;
    value.rawType = static_cast<std::uint32_t>(ValueType::Binary);
    value.bytes = bytes;
    return WriteValue(name, value);
}

}  // namespace vandrelle
