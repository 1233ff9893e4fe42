// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vandrelle {

// The per-installation key that enciphers stored passwords.
using PasswordKey = std::array<std::uint8_t, 16>;

// A new installation key from the operating system's random source.
// Throws std::runtime_error when the source fails.
PasswordKey MakeInstallationKey();

// RC4: standard key schedule, both indices 0; Apply enciphers (= deciphers) in place.
class Rc4 {
public:
    Rc4(const std::uint8_t* key, std::size_t keyLength);
    void Apply(std::uint8_t* data, std::size_t length);

private:
    std::array<std::uint8_t, 256> m_s{};
    std::uint8_t m_i = 0;
    std::uint8_t m_j = 0;
};

// Standard Base64 (RFC 4648 alphabet, '=' padding, no line breaks).
std::string Base64Encode(const std::uint8_t* data, std::size_t length);

// Lenient decoding of stored passwords: characters outside the alphabet
// (padding, white space, anything else) are skipped; decoding stops at a NUL;
// every four alphabet characters give three bytes, and a last group of two or
// three characters gives one or two. A lone trailing character gives nothing.
std::vector<std::uint8_t> Base64DecodeLenient(std::string_view text);

// UTF-8 text to Windows-1252 bytes; characters the code page cannot represent
// (and bytes that are not valid UTF-8) become '?'.
std::string Utf8ToCp1252(std::string_view utf8);

// Windows-1252 bytes to UTF-8. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of the same value.
std::string Cp1252ToUtf8(std::string_view bytes);

// The stored form of a password: Base64 of the RC4 ciphertext of its
// Windows-1252 bytes; empty for an empty password.
std::string EncodePassword(std::string_view plain, const PasswordKey& key);

// The inverse of EncodePassword. Never fails: text that is not Base64 or was
// enciphered under another key gives some other password, cut at its first NUL.
std::string DecodePassword(std::string_view stored, const PasswordKey& key);

// The same with the key schedule done once: `keyed` is a fresh cipher keyed
// with the installation key, copied for every password.
std::string EncodePassword(std::string_view plain, const Rc4& keyed);
std::string DecodePassword(std::string_view stored, const Rc4& keyed);

}  // namespace vandrelle
