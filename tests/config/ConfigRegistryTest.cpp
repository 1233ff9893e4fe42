// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration's values in the key store: the password key that Init
// reads or makes, the window placement, and how passwords are stored.
#include "ConfigFixture.h"
#include "KeyStore.h"
#include "PasswordCodec.h"
#include "RecordText.h"
#include "WindowPlace.h"

#include <climits>
#include <filesystem>
#include <stdexcept>

namespace vandrelle::test {
namespace {

constexpr const char* kHive =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n";

using Bytes = std::vector<std::uint8_t>;
using ConfigRegistryTest = ConfigFixture;

// The first run stores a random key that later runs reuse, also when the
// program's key already holds other values (a section pasted from Windows);
// another installation gets another key. A stored key is read and the file
// left as it is; the window's state and placement persist (a placement that
// is not 16 bytes is none). Only Init creates the program's key, together
// with the password key: a key store deleted while the program runs is not
// recreated without one.
//
// A stored key that cannot be used stops Init with its reason and is left as
// it is, not replaced by a new one that would make every password unreadable;
// such a store neither enciphers nor deciphers a password.
TEST_F(ConfigRegistryTest, TheFirstRunMakesTheKeyLaterRunsReuseItAndAnUnusableOneIsKept) {
    const std::string path = dir.file("registry.reg");
    const PasswordKey elsewhere = store->Key();  // made by the fixture's first run
    WriteFile(path, std::string(kHive) + "\"Maximized\"=dword:00000001\n");
    CConfigStore first(keys);
    ASSERT_TRUE(first.Init()) << first.LastInitError();
    EXPECT_EQ(keys.OpenKey(Hive::CurrentUser, kProgramKey)->ReadBinary("key"),
              Bytes(first.Key().begin(), first.Key().end()));
    EXPECT_EQ(first.IsMaximized(), 1);
    EXPECT_NE(first.Key(), elsewhere);
    first.SetMaximized(0);
    const std::string made = ReadFile(path);
    CConfigStore again(keys);
    ASSERT_TRUE(again.Init()) << again.LastInitError();
    EXPECT_EQ(again.Key(), first.Key());
    EXPECT_EQ(again.IsMaximized(), 0);
    EXPECT_EQ(ReadFile(path), made);
    WindowRect rect;
    const WindowRect written{-8, -32000, 1920, 1080};
    WriteWindowPos(keys, written);
    ASSERT_TRUE(ReadWindowPos(keys, rect));
    EXPECT_EQ(rect, written);
    keys.CreateKey(Hive::CurrentUser, kProgramKey)->WriteBinary("WindowPos", Bytes(20, 1));
    EXPECT_FALSE(ReadWindowPos(keys, rect));
    std::filesystem::remove(path);
    again.SetMaximized(1);
    WriteWindowPos(keys, WindowRect{1, 2, 3, 4});
    EXPECT_FALSE(std::filesystem::exists(path));

    const std::string bad = std::string(kHive) + "\"key\"=hex:00,01,02\n";
    WriteFile(path, bad);
    CConfigStore broken(keys);
    EXPECT_FALSE(broken.Init());
    EXPECT_TRUE(HasText(broken.LastInitError(), "is not 16 bytes of binary data"));
    EXPECT_TRUE(HasText(broken.LastInitError(), "left as it is"));
    EXPECT_THROW(broken.Key(), std::logic_error);
    EXPECT_THROW(broken.AddServer(NodePath(), RecordFrom("Name=s Password=secret")),
                 std::logic_error);
    EXPECT_FALSE(broken.IsDirty());
    EXPECT_EQ(ReadFile(path), bad);
}

// A stored place is moved onto the screens, or left out when it has no
// area or its numbers would overflow.
const std::vector<WindowRect> kScreens{{0, 0, 1920, 1080}, {1920, 0, 3200, 1024}};

struct Row {
    const char* what;
    WindowRect stored;
    std::optional<WindowRect> shown;
    bool onScreen = true;
};

TEST(WindowPlaceTest, AStoredPlaceIsKeptOnTheScreensOrLeftOut) {
    const Row rows[] = {
        {"mostly on the second", {1800, 0, 2800, 500}, WindowRect{1920, 0, 2920, 500}},
        {"too large", {0, 0, 32767, 32767}, WindowRect{0, 0, 1920, 1080}},
        {"past the right edge", {1500, 900, 2100, 1300}, WindowRect{1320, 680, 1920, 1080}},
        {"off every screen", {-5000, -5000, -4200, -4400}, WindowRect{0, 0, 800, 600}, false},
        {"no area", {10, 10, 10, 400}, std::nullopt},
        {"left at INT_MIN", {INT_MIN, 0, 800, 600}, std::nullopt},
        {"right at INT_MAX", {INT_MAX - 10, 0, INT_MAX, 600}, WindowRect{0, 0, 10, 600}, false},
    };
    for (const Row& row : rows) {
        const auto place = PlaceOnScreens(row.stored, kScreens);
        ASSERT_EQ(place.has_value(), row.shown.has_value()) << row.what;
        if (!place) continue;
        EXPECT_EQ(place->rect, *row.shown) << row.what;
        EXPECT_EQ(place->onScreen, row.onScreen) << row.what;
    }
    EXPECT_FALSE(PlaceOnScreens({0, 0, 10, 10}, {}));
}

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

// Every byte comes back from its UTF-8 form: the code page's own characters
// (the euro sign at 0x80, for one), and the C1 control for the empty entries
// of 0x80..0x9F. What the code page cannot hold, and invalid UTF-8, become
// question marks.
TEST(Cp1252Test, EveryByteComesBackAndTheRestBecomesQuestionMarks) {
    for (unsigned b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(byte)), byte) << "byte " << b;
    }
    EXPECT_EQ(Cp1252ToUtf8("\x80\x81\x9F\xE9"), "€\xC2\x81Ÿé");
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
}  // namespace vandrelle::test
