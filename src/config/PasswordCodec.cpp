// SPDX-License-Identifier: GPL-3.0-or-later
#include "PasswordCodec.h"

#include "SystemInfo.h"
#include "Utf16.h"
#include "Utf8.h"

#include <stdexcept>
#include <utility>

namespace vandrelle {

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Sextet value of each byte, or -1 for bytes outside the alphabet.
constexpr std::array<std::int8_t, 256> MakeBase64Values() {
    std::array<std::int8_t, 256> values{};
    for (auto& v : values) v = -1;
    for (std::size_t i = 0; i < 64; ++i) {
        values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::int8_t>(i);
    }
    return values;
}

constexpr std::array<std::int8_t, 256> kBase64Values = MakeBase64Values();

// Code points of bytes 0x80..0x9F. The five bytes the code page leaves undefined
// carry their own value, so that they survive a round trip as they do on Windows.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

constexpr char kReplacement = '?';

// The Windows-1252 byte of a code point, or the replacement when there is none.
char ToCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
        if (kCp1252High[i] == cp) return static_cast<char>(0x80 + i);
    }
    return kReplacement;
}

}  // namespace

PasswordKey MakeInstallationKey() {
    PasswordKey key{};
    if (!SecureRandomBytes(key.data(), key.size())) {
        throw std::runtime_error("cannot read the system's random source for the password key");
    }
    return key;
}

// An empty key would make the schedule divide by zero; it is refused rather
// than given some arbitrary meaning.
Rc4::Rc4(const std::uint8_t* key, std::size_t keyLength) {
    if (keyLength == 0) throw std::invalid_argument("RC4 key must not be empty");
    for (std::size_t i = 0; i < m_s.size(); ++i) m_s[i] = static_cast<std::uint8_t>(i);
    std::uint8_t j = 0;
    for (std::size_t i = 0; i < m_s.size(); ++i) {
        j = static_cast<std::uint8_t>(j + m_s[i] + key[i % keyLength]);
        std::swap(m_s[i], m_s[j]);
    }
}

void Rc4::Apply(std::uint8_t* data, std::size_t length) {
    for (std::size_t n = 0; n < length; ++n) {
        m_i = static_cast<std::uint8_t>(m_i + 1);
        m_j = static_cast<std::uint8_t>(m_j + m_s[m_i]);
        std::swap(m_s[m_i], m_s[m_j]);
        data[n] ^= m_s[static_cast<std::uint8_t>(m_s[m_i] + m_s[m_j])];
    }
}

std::string Base64Encode(const std::uint8_t* data, std::size_t length) {
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const std::uint32_t group =
            (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
        out.push_back(kBase64Alphabet[(group >> 18) & 0x3F]);
        out.push_back(kBase64Alphabet[(group >> 12) & 0x3F]);
        out.push_back(kBase64Alphabet[(group >> 6) & 0x3F]);
        out.push_back(kBase64Alphabet[group & 0x3F]);
    }
    const std::size_t rest = length - i;
    if (rest > 0) {
        std::uint32_t group = std::uint32_t{data[i]} << 16;
        if (rest == 2) group |= std::uint32_t{data[i + 1]} << 8;
        out.push_back(kBase64Alphabet[(group >> 18) & 0x3F]);
        out.push_back(kBase64Alphabet[(group >> 12) & 0x3F]);
        out.push_back(rest == 2 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=');
        out.push_back('=');
    }
    return out;
}

std::vector<std::uint8_t> Base64DecodeLenient(std::string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t group = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '\0') break;
        const std::int8_t value = kBase64Values[static_cast<unsigned char>(c)];
        if (value < 0) continue;
        group = (group << 6) | static_cast<std::uint32_t>(value);
        if (++count == 4) {
            out.push_back(static_cast<std::uint8_t>(group >> 16));
            out.push_back(static_cast<std::uint8_t>(group >> 8));
            out.push_back(static_cast<std::uint8_t>(group));
            group = 0;
            count = 0;
        }
    }
    // Two characters carry 12 bits (one whole byte), three carry 18 (two bytes).
    if (count == 2) {
        out.push_back(static_cast<std::uint8_t>(group >> 4));
    } else if (count == 3) {
        out.push_back(static_cast<std::uint8_t>(group >> 10));
        out.push_back(static_cast<std::uint8_t>(group >> 2));
    }
    return out;
}

// An ill-formed sequence costs one replacement per byte: each byte that does not
// begin a well-formed sequence becomes '?' and decoding resumes at the next byte.
std::string Utf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        const auto [cp, length] = DecodeUtf8(utf8);
        if (length == 0) {
            out.push_back(kReplacement);
            utf8.remove_prefix(1);
        } else {
            out.push_back(ToCp1252(cp));
            utf8.remove_prefix(length);
        }
    }
    return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        AppendUtf8(out, b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : char32_t{b});
    }
    return out;
}

std::string EncodePassword(std::string_view plain, const PasswordKey& key) {
    return EncodePassword(plain, Rc4(key.data(), key.size()));
}

std::string DecodePassword(std::string_view stored, const PasswordKey& key) {
    return DecodePassword(stored, Rc4(key.data(), key.size()));
}

std::string EncodePassword(std::string_view plain, const Rc4& keyed) {
    std::string bytes = Utf8ToCp1252(plain);
    auto* data = reinterpret_cast<std::uint8_t*>(bytes.data());
    Rc4 cipher = keyed;
    cipher.Apply(data, bytes.size());
    return Base64Encode(data, bytes.size());
}

std::string DecodePassword(std::string_view stored, const Rc4& keyed) {
    std::vector<std::uint8_t> bytes = Base64DecodeLenient(stored);
    Rc4 cipher = keyed;
    cipher.Apply(bytes.data(), bytes.size());
    std::size_t length = 0;
    while (length < bytes.size() && bytes[length] != 0) ++length;
    return Cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), length));
}

}  // namespace vandrelle
