// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration's values in the key store: the password key that Init
// reads or makes, and the window placement.
#include "ConfigStore.h"
#include "KeyStore.h"
#include "RegFileKeyStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vandrelle::test {
namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";
constexpr const char* kSection = "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n";
const PasswordKey kStoredKey = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr const char* kStoredKeyLine =
    "\"key\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f\n";

class ConfigRegistryTest : public ::testing::Test {
protected:
    std::string HiveFile() const { return dir.file("registry.reg"); }

    std::optional<std::vector<std::uint8_t>> StoredKeyBytes() {
        auto key = keys.OpenKey(Hive::CurrentUser, kProgramKey);
        return key ? key->ReadBinary("key") : std::nullopt;
    }

    // A store whose Init failed must neither encipher nor decipher a password.
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

TEST_F(ConfigRegistryTest, TheFirstRunMakesARandomKeyThatLaterRunsReuse) {
    CConfigStore store(keys);
    ASSERT_TRUE(store.Init()) << store.LastInitError();
    const auto stored = StoredKeyBytes();
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, std::vector<std::uint8_t>(store.Key().begin(), store.Key().end()));
    EXPECT_NE(store.Key(), PasswordKey{});
    EXPECT_FALSE(store.IsDirty());

    CConfigStore again(keys);
    ASSERT_TRUE(again.Init());
    EXPECT_EQ(again.Key(), store.Key());

    TempDir other;
    RegFileKeyStore otherKeys(other.file("registry.reg"), other.file("machine.reg"));
    CConfigStore elsewhere(otherKeys);
    ASSERT_TRUE(elsewhere.Init());
    EXPECT_NE(elsewhere.Key(), store.Key());
    EXPECT_NE(EncodePassword("same", elsewhere.Key()), EncodePassword("same", store.Key()));
}

TEST_F(ConfigRegistryTest, TheStoredKeyIsReadBelowCommentsABlankLineAndAByteOrderMark) {
    const std::string hive = "\xEF\xBB\xBF; kept by hand\n\n" + std::string(kHeader) + kSection +
                             kStoredKeyLine + "\"Maximized\"=dword:00000001\n";
    WriteFile(HiveFile(), hive);
    CConfigStore store(keys);
    ASSERT_TRUE(store.Init()) << store.LastInitError();
    EXPECT_EQ(store.Key(), kStoredKey);
    EXPECT_EQ(store.IsMaximized(), 1);
    EXPECT_EQ(ReadFile(HiveFile()), hive);
}

// A section pasted from a Windows export carries the placement but no key.
TEST_F(ConfigRegistryTest, AProgramKeyWithoutAPasswordKeyGetsOneStored) {
    WriteFile(HiveFile(), std::string(kHeader) + kSection + "\"Maximized\"=dword:00000001\n");
    CConfigStore store(keys);
    ASSERT_TRUE(store.Init()) << store.LastInitError();
    EXPECT_NE(store.Key(), PasswordKey{});
    EXPECT_EQ(store.IsMaximized(), 1);
    EXPECT_EQ(StoredKeyBytes(), std::vector<std::uint8_t>(store.Key().begin(), store.Key().end()));

    CConfigStore again(keys);
    ASSERT_TRUE(again.Init());
    EXPECT_EQ(again.Key(), store.Key());
    EXPECT_EQ(again.IsMaximized(), 1);
}

TEST_F(ConfigRegistryTest, AKeyStoreThatCannotBeReadStopsInitAndIsKept) {
    const std::string notRegistry = "REGEDIT 5\n" + std::string(kSection) + kStoredKeyLine;
    const std::string badKeys[] = {
        std::string(kHeader) + kSection + "\"key\"=hex:00,01,02\n",
        std::string(kHeader) + kSection + "\"key\"=dword:00000001\n",
    };
    struct Case {
        std::string hive;
        std::string reason;
    };
    const Case cases[] = {
        {notRegistry, HiveFile() + " is not a registry file"},
        {badKeys[0], "is not 16 bytes of binary data"},
        {badKeys[1], "is not 16 bytes of binary data"},
    };
    for (const Case& c : cases) {
        WriteFile(HiveFile(), c.hive);
        CConfigStore store(keys);
        EXPECT_FALSE(store.Init());
        EXPECT_NE(store.LastInitError().find(c.reason), std::string::npos) << store.LastInitError();
        EXPECT_NE(store.LastInitError().find("left as it is"), std::string::npos);
        ExpectNoPasswordUse(store);
        EXPECT_EQ(ReadFile(HiveFile()), c.hive);
    }

    std::filesystem::remove(HiveFile());
    std::filesystem::create_directories(HiveFile());  // a folder where the file should be
    CConfigStore store(keys);
    EXPECT_FALSE(store.Init());
    EXPECT_NE(store.LastInitError().find("cannot read the password key: "), std::string::npos);
    EXPECT_NE(store.LastInitError().find(HiveFile()), std::string::npos);
    ExpectNoPasswordUse(store);
    EXPECT_TRUE(std::filesystem::is_directory(HiveFile()));
}

TEST_F(ConfigRegistryTest, AKeyStoreThatCannotBeCreatedStopsInit) {
    WriteFile(dir.file("plain"), "a file where the folder should be");
    RegFileKeyStore underAFile(dir.file("plain/registry.reg"), dir.file("machine.reg"));
    CConfigStore store(underAFile);
    EXPECT_FALSE(store.Init());
    EXPECT_NE(store.LastInitError().find("plain/registry.reg"), std::string::npos)
        << store.LastInitError();
    ExpectNoPasswordUse(store);
}

// The fixture's key store, with the writes through its writable keys changed:
// failed as on a full disk, reported done but lost, or done with another
// password key (as another process that stores its own key at the same time).
class FaultyKeyStore : public KeyStore {
public:
    enum class Fault { Fail, Lose, OtherKey };

    FaultyKeyStore(KeyStore& real, Fault fault) : m_real(real), m_fault(fault) {}

    std::unique_ptr<RegKey> OpenKey(Hive hive, std::string_view path) override {
        return m_real.OpenKey(hive, path);
    }
    std::unique_ptr<RegKey> OpenKeyForWriting(Hive hive, std::string_view path) override {
        return Wrap(m_real.OpenKeyForWriting(hive, path));
    }
    std::unique_ptr<RegKey> CreateKey(Hive hive, std::string_view path) override {
        return Wrap(m_real.CreateKey(hive, path));
    }
    bool WriteKeys(Hive hive, const std::vector<KeyValues>& keys) override {
        return m_real.WriteKeys(hive, keys);
    }
    std::string LastError() const override {
        return m_failed ? "No space left on device" : m_real.LastError();
    }

private:
    class Key : public RegKey {
    public:
        Key(std::unique_ptr<RegKey> real, FaultyKeyStore& store)
            : m_key(std::move(real)), m_store(store) {}
        std::optional<std::string> SubKeyName(std::size_t i) const override {
            return m_key->SubKeyName(i);
        }
        std::optional<std::string> ValueName(std::size_t i) const override {
            return m_key->ValueName(i);
        }
        std::optional<RegValue> ReadValue(std::string_view name) const override {
            return m_key->ReadValue(name);
        }
        bool WriteValue(std::string_view name, const RegValue& value) override {
            switch (m_store.m_fault) {
                case Fault::Fail:
                    m_store.m_failed = true;
                    return false;
                case Fault::Lose:
                    return true;
                case Fault::OtherKey:
                    return m_key->WriteBinary(name, {kStoredKey.begin(), kStoredKey.end()});
            }
            return m_key->WriteValue(name, value);
        }

    private:
        std::unique_ptr<RegKey> m_key;
        FaultyKeyStore& m_store;
    };

    std::unique_ptr<RegKey> Wrap(std::unique_ptr<RegKey> key) {
        if (!key) return nullptr;
        return std::make_unique<Key>(std::move(key), *this);
    }

    KeyStore& m_real;
    Fault m_fault;
    bool m_failed = false;
};

// Only a key that reads back from the store is used: one whose write failed
// or was lost never; one stored by another process at the same time instead
// of this one's.
TEST_F(ConfigRegistryTest, OnlyTheKeyThatReadsBackIsUsed) {
    {
        FaultyKeyStore full(keys, FaultyKeyStore::Fault::Fail);
        CConfigStore store(full);
        EXPECT_FALSE(store.Init());
        EXPECT_EQ(store.LastInitError(),
                  "cannot store a new password key: No space left on device");
        ExpectNoPasswordUse(store);
    }
    {
        FaultyKeyStore losing(keys, FaultyKeyStore::Fault::Lose);
        CConfigStore store(losing);
        EXPECT_FALSE(store.Init());
        EXPECT_NE(store.LastInitError().find("does not read back"), std::string::npos)
            << store.LastInitError();
        ExpectNoPasswordUse(store);
    }
    EXPECT_FALSE(StoredKeyBytes());
    FaultyKeyStore racing(keys, FaultyKeyStore::Fault::OtherKey);
    CConfigStore store(racing);
    ASSERT_TRUE(store.Init()) << store.LastInitError();
    EXPECT_EQ(store.Key(), kStoredKey);
}

TEST_F(ConfigRegistryTest, PlacementPersistsButNeverCreatesTheProgramsKey) {
    CConfigStore store(keys);
    ASSERT_TRUE(store.Init());
    EXPECT_EQ(store.IsMaximized(), 0);
    store.SetMaximized(1);
    CConfigStore again(keys);
    ASSERT_TRUE(again.Init());
    EXPECT_EQ(again.IsMaximized(), 1);

    WindowRect rect;
    EXPECT_FALSE(ReadWindowPos(keys, rect));
    const WindowRect written{-8, -32000, 1920, 1080};
    WriteWindowPos(keys, written);
    ASSERT_TRUE(ReadWindowPos(keys, rect));
    EXPECT_EQ(rect, written);
    const auto bytes = keys.OpenKey(Hive::CurrentUser, kProgramKey)->ReadBinary("WindowPos");
    ASSERT_TRUE(bytes);
    EXPECT_EQ((std::vector<std::uint8_t>(bytes->begin(), bytes->begin() + 4)),
              (std::vector<std::uint8_t>{0xF8, 0xFF, 0xFF, 0xFF}));  // little-endian -8

    keys.CreateKey(Hive::CurrentUser, kProgramKey)
        ->WriteBinary("WindowPos", std::vector<std::uint8_t>(20, 1));
    EXPECT_FALSE(ReadWindowPos(keys, rect));
    keys.CreateKey(Hive::CurrentUser, kProgramKey)->WriteDword("WindowPos", 5);
    EXPECT_FALSE(ReadWindowPos(keys, rect));

    // Only Init creates the program's key, together with the password key: a
    // key store deleted while the program runs is not recreated without one.
    std::filesystem::remove(HiveFile());
    store.SetMaximized(0);
    EXPECT_EQ(store.IsMaximized(), 0);
    WriteWindowPos(keys, WindowRect{1, 2, 3, 4});
    EXPECT_FALSE(std::filesystem::exists(HiveFile()));
}

}  // namespace
}  // namespace vandrelle::test
