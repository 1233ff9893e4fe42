// SPDX-License-Identifier: GPL-3.0-or-later
#include "PasswordCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vandrelle {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(std::string_view hex) {
    Bytes out;
    int high = -1;
    for (const char c : hex) {
        const int v = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

Bytes FromText(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string ToText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string Encode64(std::string_view text) {
    const Bytes bytes = FromText(text);
    return Base64Encode(bytes.data(), bytes.size());
}

// RFC 6229: key stream at offsets 0, 16, 1520 and 4096.
TEST(Rc4Test, Rfc6229KeyStreamAcrossApplyCalls) {
    struct Case {
        const char* key;
        const char* at0;
        const char* at16;
        const char* at1520;
        const char* at4096;
    };
    const Case cases[] = {
        {"0102030405", "b2396305f03dc027ccc3524a0a1118a8", "6982944f18fc82d589c403a47a0d0919",
         "3294f744d8f9790507e70f62e5bbceea", "ff25b58995996707e51fbdf08b34d875"},
        {"0102030405060708090a0b0c0d0e0f10", "9ac7cc9a609d1ef7b2932899cde41b97",
         "5248c4959014126a6e8a84f11d1a9e1c", "b40110c4190b5622a96116b0017ed297",
         "a36a4c301ae8ac13610ccbc12256cacc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        const Bytes key = FromHex(c.key);
        Rc4 rc4(key.data(), key.size());
        Bytes stream(4112, 0);
        // Uneven pieces: the state must carry over from one call to the next.
        std::size_t done = 0;
        for (std::size_t piece = 1; done < stream.size(); piece = piece * 3 % 257 + 1) {
            const std::size_t n = std::min(piece, stream.size() - done);
            rc4.Apply(stream.data() + done, n);
            done += n;
        }
        EXPECT_EQ(Bytes(stream.begin(), stream.begin() + 16), FromHex(c.at0));
        EXPECT_EQ(Bytes(stream.begin() + 16, stream.begin() + 32), FromHex(c.at16));
        EXPECT_EQ(Bytes(stream.begin() + 1520, stream.begin() + 1536), FromHex(c.at1520));
        EXPECT_EQ(Bytes(stream.begin() + 4096, stream.end()), FromHex(c.at4096));
    }
    EXPECT_THROW(Rc4(nullptr, 0), std::invalid_argument);
}

// RFC 4648 section 10.
TEST(Base64Test, Rfc4648VectorsBothWays) {
    const std::pair<const char*, const char*> cases[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(Encode64(plain), encoded);
        EXPECT_EQ(ToText(Base64DecodeLenient(encoded)), plain) << encoded;
    }
    const Bytes high = {0xFB, 0xFF, 0xBF};  // uses '+' and '/'
    EXPECT_EQ(Base64Encode(high.data(), high.size()), "+/+/");
    EXPECT_EQ(Base64DecodeLenient("+/+/"), high);
}

TEST(Base64Test, LenientDecodingSkipsJunkAndStopsAtNul) {
    const std::pair<std::string, std::string> cases[] = {
        {"Zm9vYg", "foob"},                     // padding missing
        {"Zm9vYmE", "fooba"},                   // padding missing
        {" Zm9v\r\nYm Fy\n", "foobar"},         // white space and line breaks
        {"Z*m9v!Y=m~E=", "fooba"},              // junk and misplaced padding
        {std::string("Zm9v\0YmFy", 9), "foo"},  // stops at NUL
        {"Zm9vY", "foo"},                       // lone trailing character
        {"====", ""},
    };
    for (const auto& [text, plain] : cases) {
        EXPECT_EQ(ToText(Base64DecodeLenient(text)), plain) << text;
    }
}

std::string Utf8OfLatin1(unsigned b) {
    if (b < 0x80) return std::string(1, static_cast<char>(b));
    return {static_cast<char>(0xC0 | (b >> 6)), static_cast<char>(0x80 | (b & 0x3F))};
}

TEST(Cp1252Test, EveryByteMapsToTheCodePageTableAndBack) {
    // The published table for 0x80..0x9F; empty entries are undefined in the
    // code page and stand for the C1 control of the same value.
    const char* const high[32] = {"€", "",  "‚", "ƒ", "„", "…", "†", "‡", "ˆ", "‰", "Š",
                                  "‹", "Œ", "",  "Ž", "",  "",  "‘", "’", "“", "”", "•",
                                  "–", "—", "˜", "™", "š", "›", "œ", "",  "ž", "Ÿ"};
    for (unsigned b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const bool inHigh = b >= 0x80 && b <= 0x9F;
        const std::string expected =
            inHigh && *high[b - 0x80] ? std::string(high[b - 0x80]) : Utf8OfLatin1(b);
        const std::string utf8 = Cp1252ToUtf8(byte);
        EXPECT_EQ(utf8, expected) << "byte " << b;
        EXPECT_EQ(Utf8ToCp1252(utf8), byte) << "byte " << b;
    }
}

TEST(Cp1252Test, UnrepresentableAndInvalidInputBecomeQuestionMarks) {
    const std::pair<std::string, std::string> cases[] = {
        {"日本", "??"},
        {"a😀b", "a?b"},              // outside the BMP: one mark
        {"\xC2\x80\xC2\x85", "??"},  // C1 controls the code page has no place for
        {"Āő", "??"},
        {"a\xFF!", "a?!"},
        {"\x80", "?"},                 // stray continuation byte
        {"\xC0\xAF", "??"},            // overlong
        {"\xE0\x80\xAF", "???"},       // overlong
        {"\xED\xA0\x80", "???"},       // surrogate
        {"\xF4\x90\x80\x80", "????"},  // above U+10FFFF
        {"\xE2\x82z", "??z"},          // truncated
        {"x\xC3", "x?"},
    };
    for (const auto& [utf8, expected] : cases) {
        EXPECT_EQ(Utf8ToCp1252(utf8), expected) << utf8;
    }
}

const PasswordKey kKey = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

TEST(PasswordCodecTest, StoredFormIsBase64OfFreshRc4OverCp1252) {
    Bytes bytes = {'P', 0xE9, 0x80, '!'};  // "Pé€!"
    Rc4(kKey.data(), kKey.size()).Apply(bytes.data(), bytes.size());
    EXPECT_EQ(EncodePassword("Pé€!", kKey), Base64Encode(bytes.data(), bytes.size()));
    EXPECT_EQ(EncodePassword("Pé€!", kKey), EncodePassword("Pé€!", kKey));

    PasswordKey other = kKey;
    other[15] ^= 1;
    EXPECT_NE(EncodePassword("Pé€!", other), EncodePassword("Pé€!", kKey));
    EXPECT_NE(DecodePassword(EncodePassword("Pé€!", kKey), other), "Pé€!");
}

TEST(PasswordCodecTest, RoundTripsAndToleratesWhiteSpace) {
    EXPECT_EQ(EncodePassword("", kKey), "");
    EXPECT_EQ(DecodePassword("", kKey), "");
    const char* const passwords[] = {
        "x",          "hunter2", " !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~", "Grüße, Çà ÿ ß",
        "Preis: 5 €", "‰Œ™Ÿ"};
    for (const char* password : passwords) {
        const std::string stored = EncodePassword(password, kKey);
        EXPECT_EQ(DecodePassword(stored, kKey), password);
        std::string broken = stored;
        broken.insert(broken.size() / 2, "\r\n ");
        broken.insert(0, " ");
        EXPECT_EQ(DecodePassword(broken, kKey), password) << broken;
    }
    EXPECT_EQ(DecodePassword(EncodePassword("日本😀", kKey), kKey), "???");
}

TEST(PasswordCodecTest, DecipheredPasswordEndsAtFirstNul) {
    Bytes bytes = {'a', 'b', 0, 'c', 'd'};
    Rc4(kKey.data(), kKey.size()).Apply(bytes.data(), bytes.size());
    EXPECT_EQ(DecodePassword(Base64Encode(bytes.data(), bytes.size()), kKey), "ab");
}

}  // namespace
}  // namespace vandrelle
