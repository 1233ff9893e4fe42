// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration's values in the key store: the password key that Init
// reads or makes, and the window placement.
#include "ConfigFixture.h"
#include "KeyStore.h"

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
// another installation gets another key. A stored key is read below
// comments, a blank line and a byte order mark, and the file left as it is.
//
// A stored key that cannot be used stops Init with its reason and is left as
// it is, not replaced by a new one that would make every password unreadable;
// such a store neither enciphers nor deciphers a password.
TEST_F(ConfigRegistryTest, TheFirstRunMakesAKeyThatLaterRunsReuseAndAnUnusableOneIsKept) {
    const std::string path = dir.file("registry.reg");
    const PasswordKey elsewhere = store->Key();  // made by the fixture's first run
    WriteFile(path, std::string(kHive) + "\"Maximized\"=dword:00000001\n");
    CConfigStore first(keys);
    ASSERT_TRUE(first.Init()) << first.LastInitError();
    EXPECT_EQ(keys.OpenKey(Hive::CurrentUser, kProgramKey)->ReadBinary("key"),
              Bytes(first.Key().begin(), first.Key().end()));
    EXPECT_EQ(first.IsMaximized(), 1);
    EXPECT_NE(first.Key(), elsewhere);

    const std::string hive = "\xEF\xBB\xBF; kept by hand\n\n" + std::string(kHive) +
                             "\"key\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f\n";
    WriteFile(path, hive);
    CConfigStore again(keys);
    ASSERT_TRUE(again.Init()) << again.LastInitError();
    EXPECT_EQ(again.Key(), (PasswordKey{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(ReadFile(path), hive);

    const std::string bad = std::string(kHive) + "\"key\"=hex:00,01,02\n";
    WriteFile(path, bad);
    CConfigStore broken(keys);
    EXPECT_FALSE(broken.Init());
    EXPECT_TRUE(HasText(broken.LastInitError(), "is not 16 bytes of binary data"));
    EXPECT_TRUE(HasText(broken.LastInitError(), "left as it is"));
    EXPECT_THROW(broken.Key(), std::logic_error);
    Properties server = Named("s");
    server.Password = "secret";
    EXPECT_THROW(broken.AddServer(NodePath(), server), std::logic_error);
    EXPECT_FALSE(broken.IsDirty());
    EXPECT_EQ(ReadFile(path), bad);
}

TEST_F(ConfigRegistryTest, PlacementPersistsButNeverCreatesTheProgramsKey) {
    store->SetMaximized(1);
    CConfigStore again(keys);
    ASSERT_TRUE(again.Init());
    EXPECT_EQ(again.IsMaximized(), 1);
    WindowRect rect;
    const WindowRect written{-8, -32000, 1920, 1080};
    WriteWindowPos(keys, written);
    ASSERT_TRUE(ReadWindowPos(keys, rect));
    EXPECT_EQ(rect, written);
    keys.CreateKey(Hive::CurrentUser, kProgramKey)->WriteBinary("WindowPos", Bytes(20, 1));
    EXPECT_FALSE(ReadWindowPos(keys, rect));

    // Only Init creates the program's key, together with the password key: a
    // key store deleted while the program runs is not recreated without one.
    std::filesystem::remove(dir.file("registry.reg"));
    store->SetMaximized(0);
    WriteWindowPos(keys, WindowRect{1, 2, 3, 4});
    EXPECT_FALSE(std::filesystem::exists(dir.file("registry.reg")));
}

}  // namespace
}  // namespace vandrelle::test
