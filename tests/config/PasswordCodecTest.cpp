// SPDX-License-Identifier: GPL-3.0-or-later
#include "PasswordCodec.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace vandrelle {
namespace {

using Bytes = std::vector<std::uint8_t>;

const PasswordKey kKey = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// RFC 4648 section 10 both ways (rows with `canonical`), then the lenient
// decoder's tolerance of junk, missing padding and a NUL that ends the text.
TEST(Base64Test, EncodesRfc4648AndDecodesLeniently) {
    // Pairs of encoded and plain text; the first eight are canonical.
    // clang-format off
    const std::string rows[] = {
        "", "",  "Zg==", "f",  "Zm8=", "fo",  "Zm9v", "foo",  "Zm9vYg==", "foob",
        "Zm9vYmE=", "fooba",  "Zm9vYmFy", "foobar",  "+/+/", "\xFB\xFF\xBF",
        "Zm9vYg", "foob",  " Zm9v\r\nYm Fy\n", "foobar",  "Z*m9v!Y=m~E=", "fooba",
        std::string("Zm9v\0YmFy", 9), "foo",  "Zm9vY", "foo"};
    // clang-format on
    for (std::size_t i = 0; i < std::size(rows); i += 2) {
        const Bytes bytes(rows[i + 1].begin(), rows[i + 1].end());
        EXPECT_EQ(Base64DecodeLenient(rows[i]), bytes) << testing::PrintToString(rows[i]);
        const std::string encoded = Base64Encode(bytes.data(), bytes.size());
        EXPECT_TRUE(i >= 16 || encoded == rows[i])
            << encoded << " for " << testing::PrintToString(rows[i + 1]);
    }
}

std::string Utf8OfLatin1(unsigned b) {
    if (b < 0x80) return std::string(1, static_cast<char>(b));
    return {static_cast<char>(0xC0 | (b >> 6)), static_cast<char>(0x80 | (b & 0x3F))};
}

// Every byte maps to the published code page table and back; the empty
// entries of 0x80..0x9F are undefined there and stand for the C1 control.
// What the code page cannot hold, and invalid UTF-8, become question marks.
TEST(Cp1252Test, EveryByteMapsToTheCodePageTableAndBackAndTheRestToQuestionMarks) {
    const char* const high[32] = {"€", "",  "‚", "ƒ", "„", "…", "†", "‡", "ˆ", "‰", "Š",
                                  "‹", "Œ", "",  "Ž", "",  "",  "‘", "’", "“", "”", "•",
                                  "–", "—", "˜", "™", "š", "›", "œ", "",  "ž", "Ÿ"};
    for (unsigned b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const bool inHigh = b >= 0x80 && b <= 0x9F;
        const std::string expected =
            inHigh && *high[b - 0x80] ? std::string(high[b - 0x80]) : Utf8OfLatin1(b);
        EXPECT_EQ(Cp1252ToUtf8(byte), expected) << "byte " << b;
        EXPECT_EQ(Utf8ToCp1252(expected), byte) << "byte " << b;
    }
    // Pairs of UTF-8 and what the code page makes of it: outside the BMP one
    // mark; C1 controls, stray, overlong, surrogate, too high and cut sequences.
    // clang-format off
    const char* const cases[] = {
        "a😀b", "a?b",  "\xC2\x80\xC2\x85", "??",  "Āő", "??",  "a\xFF!", "a?!",  "\xC0\xAF", "??",  "\xE0\x80\xAF", "???",  "\xED\xA0\x80", "???",
        "\xE2\x82z", "??z",  "\xF4\x90\x80\x80", "????",  "x\xC3", "x?",  "\xEF\xBF\xBD", "?"};
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); i += 2)
        EXPECT_EQ(Utf8ToCp1252(cases[i]), cases[i + 1]) << testing::PrintToString(cases[i]);
}

// The stored form is Base64 of a fresh RC4 run over the code page bytes:
// "Pé€", NUL, "!" XORed with RFC 6229's key stream for the key 01..10 (9a c7
// cc 9a 60). Decoding tolerates white space and ends at the first deciphered
// NUL.
TEST(PasswordCodecTest, StoredFormIsBase64OfFreshRc4OverCp1252) {
    EXPECT_EQ(EncodePassword(std::string("Pé€") + '\0' + "!", kKey), "yi5MmkE=");
    EXPECT_EQ(EncodePassword("Pé€", kKey), "yi5M");  // the stream starts afresh
    EXPECT_EQ(DecodePassword(" yi5\r\nMmkE=", kKey), "Pé€");
    EXPECT_EQ(EncodePassword("", kKey), "");
}

}  // namespace
}  // namespace vandrelle
