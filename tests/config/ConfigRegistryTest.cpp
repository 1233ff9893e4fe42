// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration's values in the key store: the password key that Init
// reads or makes, and the window placement.
#include "ConfigStore.h"
#include "KeyStore.h"
#include "RegFileKeyStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

namespace vandrelle::test {
namespace {

constexpr const char* kHive =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n";
using Bytes = std::vector<std::uint8_t>;
const PasswordKey kStoredKey = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr const char* kStoredKeyLine =
    "\"key\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f\n";

class ConfigRegistryTest : public ::testing::Test {
protected:
    std::string HivePath() const { return dir.file("registry.reg"); }
    static Bytes BytesOf(const PasswordKey& k) { return {k.begin(), k.end()}; }

    // A store whose Init failed neither enciphers nor deciphers a password.
    static void ExpectNoPasswordUse(CConfigStore& store) {
        EXPECT_THROW(store.Key(), std::logic_error);
        Properties server;
        server.Name = "s";
        server.Password = "secret";
        EXPECT_THROW(store.AddServer(NodePath(), server), std::logic_error);
        EXPECT_FALSE(store.ServersElement().first_child());
        EXPECT_FALSE(store.IsDirty());
    }

    TempDir dir;
    RegFileKeyStore keys{dir.file("registry.reg"), dir.file("machine.reg")};
};

// The first run stores a random key that later runs reuse, also when the
// program's key already holds other values (a section pasted from Windows);
// another installation gets another key. A stored key is read below
// comments, a blank line and a byte order mark, and the file left as it is.
TEST_F(ConfigRegistryTest, TheFirstRunMakesARandomKeyThatLaterRunsReuse) {
    WriteFile(HivePath(), std::string(kHive) + "\"Maximized\"=dword:00000001\n");
    CConfigStore store(keys);
    ASSERT_TRUE(store.Init()) << store.LastInitError();
    EXPECT_EQ(keys.OpenKey(Hive::CurrentUser, kProgramKey)->ReadBinary("key"),
              BytesOf(store.Key()));
    EXPECT_EQ(store.IsMaximized(), 1);
    TempDir other;
    RegFileKeyStore otherKeys(other.file("registry.reg"), other.file("machine.reg"));
    CConfigStore elsewhere(otherKeys);
    ASSERT_TRUE(elsewhere.Init());
    EXPECT_NE(elsewhere.Key(), store.Key());

    const std::string hive = "\xEF\xBB\xBF; kept by hand\n\n" + std::string(kHive) + kStoredKeyLine;
    WriteFile(HivePath(), hive);
    CConfigStore again(keys);
    ASSERT_TRUE(again.Init()) << again.LastInitError();
    EXPECT_EQ(again.Key(), kStoredKey);
    EXPECT_EQ(ReadFile(HivePath()), hive);
}

// A key store that cannot be read or created stops Init with its reason and
// is left as it is.
TEST_F(ConfigRegistryTest, AKeyStoreThatCannotBeUsedStopsInitAndIsKept) {
    const std::pair<std::string, std::string> cases[] = {
        {std::string("REGEDIT 5\n") + kStoredKeyLine, HivePath() + " is not a registry file"},
        {std::string(kHive) + "\"key\"=hex:00,01,02\n", "is not 16 bytes of binary data"},
        {std::string(kHive) + "\"key\"=dword:00000001\n", "is not 16 bytes of binary data"}};
    for (const auto& [hive, reason] : cases) {
        WriteFile(HivePath(), hive);
        CConfigStore store(keys);
        EXPECT_FALSE(store.Init());
        EXPECT_TRUE(HasText(store.LastInitError(), reason));
        EXPECT_TRUE(HasText(store.LastInitError(), "left as it is"));
        ExpectNoPasswordUse(store);
        EXPECT_EQ(ReadFile(HivePath()), hive);
    }
    WriteFile(dir.file("plain"), "a file where the folder should be");
    RegFileKeyStore underAFile(dir.file("plain/registry.reg"), dir.file("machine.reg"));
    CConfigStore uncreatable(underAFile);
    EXPECT_FALSE(uncreatable.Init());
    EXPECT_TRUE(HasText(uncreatable.LastInitError(), "plain/registry.reg"));
    ExpectNoPasswordUse(uncreatable);
}

TEST_F(ConfigRegistryTest, PlacementPersistsButNeverCreatesTheProgramsKey) {
    CConfigStore store(keys);
    ASSERT_TRUE(store.Init());
    store.SetMaximized(1);
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
    std::filesystem::remove(HivePath());
    store.SetMaximized(0);
    WriteWindowPos(keys, WindowRect{1, 2, 3, 4});
    EXPECT_FALSE(std::filesystem::exists(HivePath()));
}

}  // namespace
}  // namespace vandrelle::test
