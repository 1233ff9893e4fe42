// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vandrelle {

// Result codes carried by configuration errors (the platform's values).
inline constexpr std::int32_t kInvalidPointer = static_cast<std::int32_t>(0x80004003);
inline constexpr std::int32_t kInvalidArgument = static_cast<std::int32_t>(0x80070057);

// An operation on the configuration was abandoned; the document is unchanged.
class ConfigError : public std::runtime_error {
public:
    ConfigError(std::int32_t code, const std::string& message)
        : std::runtime_error(message), m_code(code) {}
    std::int32_t code() const { return m_code; }

private:
    std::int32_t m_code;
};

}  // namespace vandrelle
