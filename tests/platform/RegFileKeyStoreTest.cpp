// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegFileKeyStore.h"
#include "RegFileMerge.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vandrelle::test {
namespace {

using Names = std::vector<std::string>;
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kSection = "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n";

class RegFileKeyStoreTest : public ::testing::Test {
protected:
    std::string UserFile() const { return m_dir.file("config/registry.reg"); }
    void WriteUserFile(const std::string& text) {
        std::filesystem::create_directories(m_dir.file("config"));
        WriteFile(UserFile(), text);
    }
    // The program's key of the file as it was written.
    std::unique_ptr<RegKey> Program(const std::string& text) {
        WriteUserFile(text);
        return m_store.CreateKey(Hive::CurrentUser, kProgramKey);
    }
    // The sub-keys of the key at `path`, or with `values` its value names, in
    // order, as another store reads them from the file.
    Names List(std::string_view path, bool values = false) {
        const auto key = RegFileKeyStore(UserFile(), "").OpenKey(Hive::CurrentUser, path);
        Names names;
        while (auto next = values ? key->ValueName(names.size()) : key->SubKeyName(names.size()))
            names.push_back(*next);
        return names;
    }

    TempDir m_dir;
    RegFileKeyStore m_store{UserFile(), m_dir.file("machine.reg")};
};

// Each type is written in the registry editor's text, the file is private,
// and each reads back. Text with a NUL would not read back as written: it is
// refused and nothing is written.
TEST_F(RegFileKeyStoreTest, EachTypeIsWrittenAsRegeditTextAndReadBack) {
    auto key = m_store.CreateKey(Hive::CurrentUser, "Software\\Vandrelle\\Window");
    ASSERT_NE(key, nullptr);
    std::vector<std::uint8_t> bytes(30);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 9);
    const RegValue expand{.type = ValueType::ExpandString, .text = "%HOME% 😀", .bytes = {}};
    ASSERT_TRUE(key->WriteString("", "a\\b\"c"));
    ASSERT_TRUE(key->WriteDword("Maximized", 0xdeadbeef));
    ASSERT_TRUE(key->WriteBinary("Pos", bytes));
    ASSERT_TRUE(key->WriteString("Lines", "one\nü"));
    ASSERT_TRUE(key->WriteValue("Expand", expand));
    const std::string written =
        kHeader +
        "[HKEY_CURRENT_USER\\Software\\Vandrelle\\Window]\n@=\"a\\\\b\\\"c\"\n"
        "\"Maximized\"=dword:deadbeef\n"
        "\"Pos\"=hex:00,09,12,1b,24,2d,36,3f,48,51,5a,63,6c,75,7e,87,90,99,a2,ab,"
        "b4,bd,c6,\\\n  cf,d8,e1,ea,f3,fc,05\n"
        "\"Lines\"=hex(1):6f,00,6e,00,65,00,0a,00,fc,00,00,00\n"
        "\"Expand\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,20,00,3d,d8,00,de,"
        "00,00\n\n";
    EXPECT_EQ(ReadFile(UserFile()), written);
    EXPECT_EQ(Permissions(UserFile()), 0600u);
    EXPECT_FALSE(key->WriteValue(
        "E", RegValue{.type = ValueType::ExpandString, .text = std::string(1, '\0'), .bytes = {}}));
    EXPECT_TRUE(HasText(m_store.LastError(), "NUL"));
    EXPECT_EQ(ReadFile(UserFile()), written);
    const auto reread =
        RegFileKeyStore(UserFile(), "").OpenKey(Hive::CurrentUser, "Software\\Vandrelle\\Window");
    EXPECT_EQ(reread->ReadString(""), "a\\b\"c");
    EXPECT_EQ(reread->ReadString("Lines"), "one\nü");
    EXPECT_EQ(reread->ReadBinary("Pos"), bytes);
    EXPECT_EQ(reread->ReadString("Expand"), expand.text);
}

// The header may follow a byte order mark, blank lines and comments; without
// any, such lines alone are an empty store. Anything else is no registry file
// and is never written. An export of the registry editor (UTF-16) reads
// whole, and a write rewrites it as UTF-8 keeping everything; invalid UTF-16
// becomes replacement characters. What the program does not understand is kept
// as it stands.
TEST_F(RegFileKeyStoreTest, FilesAreReadAsOthersWriteThemAndKeptOnRewrite) {
    const std::string before = "; my settings\n" + kHeader + kSection + "\"A\"=dword:00000001\n";
    ASSERT_TRUE(Program("\xEF\xBB\xBF\n  \n" + before + "\n")->WriteDword("B", 2));
    EXPECT_EQ(ReadFile(UserFile()), before + "\"B\"=dword:00000002\n\n");
    ASSERT_NE(Program("\n; nothing yet\n\n"), nullptr) << m_store.LastError();
    EXPECT_EQ(ReadFile(UserFile()), "; nothing yet\n" + kHeader + kSection + "\n");
    for (const std::string& text : {"not a registry file\n" + kHeader + "[HKEY_CURRENT_USER\\A]\n",
                                    std::string("\xFE\xFF\0W\0i\0n", 8)}) {
        WriteUserFile(text);
        EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, "A"), nullptr);
        EXPECT_TRUE(HasText(m_store.LastError(), UserFile() + " is not a registry file"));
        EXPECT_EQ(m_store.CreateKey(Hive::CurrentUser, "B"), nullptr);
        EXPECT_TRUE(HasText(m_store.LastError(), "left as it is"));
        EXPECT_EQ(ReadFile(UserFile()), text);
    }

    auto key = Program(ReadFile(DataFile("regedit-export.reg")));
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadString(""), "Standard – café 😀");
    EXPECT_EQ(List(kProgramKey, true),
              (Names{"", "Maximized", "WindowPos", "Path", "Name", "Recent"}));
    ASSERT_TRUE(key->WriteDword("maximized", 0));
    EXPECT_EQ(ReadFile(UserFile()), ReadFile(DataFile("regedit-export-rewritten.reg")));

    // Lines not understood stay where they are and swallow no value (foreign
    // sections and deleted values: the export above); a value is appended at
    // the end of its key.
    const std::string head = kHeader + kSection +
                             "garbage line\n\"Bad\"=hex:zz,\\\n  01\n"
                             "\"Odd\"=hex(b):01,02,03,04,05,06,07,08\n\"Upper\" = DWORD:0000000A\n"
                             "\"Tail\"=hex(2):41,00,00,00,42,00,00,00\n"
                             "\"S\"=hex(2):3d,d8,41,00,42\n";
    key = Program(head);
    ASSERT_TRUE(key->WriteDword("New", 7));
    EXPECT_EQ(key->ReadString("S"), "\uFFFDA\uFFFD");  // a lone surrogate, "A", half a unit
    EXPECT_EQ(ReadFile(UserFile()), head + "\"New\"=dword:00000007\n\n");
    EXPECT_EQ(List(kProgramKey, true), (Names{"Odd", "Upper", "Tail", "S", "New"}));

    const std::string nul(1, '\0');
    // Hex data cut short after a continuation, once with CR CR LF (a CRLF file
    // converted once more) and once at the key's end, where values are
    // appended; a comment ending in a backslash; a quoted string with a NUL.
    auto cut =
        Program(kHeader + kSection + "\"Cut\"=hex:01,\\\r\r\n\"After\"=dword:00000002\r\r\n" +
                "; C:\\\r\r\n\"Nul\"=\"a" + nul + "b\"\n\"Last\"=hex:zz,\\\n");
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->ReadString("Nul"), "a");  // a string ends at its first NUL
    ASSERT_TRUE(cut->WriteDword("New", 7));
    EXPECT_TRUE(HasText(ReadFile(UserFile()), "\"Nul\"=\"a" + nul + "b\"\n"));
    EXPECT_EQ(List(kProgramKey, true), (Names{"After", "Nul", "New"}));
}

// Key and value names match whatever their case: a later value overrides an
// earlier one, a write replaces the value that counts where it stands and
// appends new ones to the key's last section, and a new key gets its
// section at the end. Sub-keys include
// keys implied by deeper sections.
TEST_F(RegFileKeyStoreTest, NamesMatchWhateverTheirCase) {
    const std::string other = "[HKEY_CURRENT_USER\\Software\\Other]\n\"A\"=\"other\"\n\n";
    const std::string second = "[HKCU\\software\\VANDRELLE]\n\"b\"=\"second\"\n";
    WriteUserFile(kHeader + kSection + "\"A\"=dword:00000001\n\"B\"=\"b\"\n\n" + other + second);
    auto key = m_store.CreateKey(Hive::CurrentUser, "software\\VANDRELLE");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadString("B"), "second");
    ASSERT_TRUE(key->WriteDword("a", 2));
    ASSERT_TRUE(key->WriteString("C", "c"));
    ASSERT_TRUE(key->WriteString("B", "b2"));
    auto implied = m_store.CreateKey(Hive::CurrentUser, "Software\\Vandrelle\\A");
    ASSERT_TRUE(implied && implied->WriteDword("X", 1));
    EXPECT_EQ(ReadFile(UserFile()),
              kHeader + kSection + "\"A\"=dword:00000002\n\"B\"=\"b\"\n\n" + other +
                  "[HKCU\\software\\VANDRELLE]\n\"b\"=\"b2\"\n\"C\"=\"c\"\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Vandrelle\\A]\n\"X\"=dword:00000001\n\n");

    WriteUserFile(
        kHeader + "[HKEY_CURRENT_USER\\Software\\Vandrelle\\C\\Office\\Printers]\n\n" +
        "[HKCU\\Software\\Vandrelle\\Window]\n\n[HKCU\\Software\\Vandrelle\\c\\Home]\n\n");
    EXPECT_EQ(List("Software"), Names{"Vandrelle"});
    EXPECT_EQ(List(kProgramKey), (Names{"C", "Window"}));
    EXPECT_EQ(List("Software\\Vandrelle\\C"), (Names{"Office", "Home"}));
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, "Software\\Vandrelle\\Garage"), nullptr);
}

// OpenKey only reads and OpenKeyForWriting never creates; a file that cannot
// be read is reported and never overwritten. A key opened earlier sees what
// was written since.
TEST_F(RegFileKeyStoreTest, OnlyCreateKeyCreatesAndKeysSeeTheFileAsItIsNow) {
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, kProgramKey), nullptr);
    EXPECT_EQ(m_store.OpenKeyForWriting(Hive::CurrentUser, kProgramKey), nullptr);
    EXPECT_EQ(m_store.LastError(), "");  // missing, which is no error
    EXPECT_FALSE(std::filesystem::exists(UserFile()));
    ASSERT_NE(m_store.CreateKey(Hive::CurrentUser, kProgramKey), nullptr);
    EXPECT_FALSE(m_store.OpenKey(Hive::CurrentUser, kProgramKey)->WriteDword("A", 1));
    EXPECT_TRUE(HasText(m_store.LastError(), "reading only"));
    auto writer = m_store.OpenKeyForWriting(Hive::CurrentUser, "software\\vandrelle");
    ASSERT_TRUE(writer && writer->WriteDword("A", 1));
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, kProgramKey)->ReadDword("A"), 1u);

    const auto file = [](char value) { return kHeader + kSection + "\"x\"=\"" + value + "\"\n"; };
    WriteUserFile(file('1'));
    ASSERT_TRUE(writer->WriteDword("Mine", 1));
    EXPECT_EQ(writer->ReadString("x"), "1");

    std::filesystem::remove(UserFile());
    std::filesystem::create_directories(UserFile());  // a folder where the file should be
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, kProgramKey), nullptr);
    EXPECT_TRUE(HasText(m_store.LastError(), UserFile()));
    EXPECT_EQ(m_store.CreateKey(Hive::CurrentUser, kProgramKey), nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(UserFile()));
}

// Each merged key's path and value names, in order.
using Keys = std::vector<std::pair<std::string, std::vector<std::string>>>;

// Only what the program reads is merged: the client's servers and the
// program's settings, never its password key nor an add-in.
TEST(RegFileMergeTest, KeysTheProgramReadsAreMergedOnceInFileOrderAndTheRestIsSkipped) {
    const std::string client = "Software\\Microsoft\\Terminal Server Client";
    const std::string user = "[HKEY_CURRENT_USER\\" + client;
    const auto merge = PlanRegMerge(
        "; exported\nWindows Registry Editor Version 5.00\n\nstray line\n\n" + user +
        "\\Default]\n\"MRU0\"=\"1\"\n\"Other\"=\"x\"\n\n"
        "[HKEY_CURRENT_USER\\software\\microsoft\\terminal server client\\DEFAULT]\n"
        "\"mru9\"=dword:00000002\n\n"
        "[hkcu\\Software\\VANDRELLE]\n\"KEY\"=hex:01\n\"Maximized\"=dword:00000000\n\n" +
        user + "\\Default\\AddIns\\Helper]\n\"Name\"=\"/tmp/x/evil.so\"\n\n" + user +
        "\\Servers\\h1]\n\"UsernameHint\"=\"bob\"\n\"CertHash\"=hex:01\n\n"
        "[HKEY_CURRENT_USER\\Software\\Other]\n");
    ASSERT_TRUE(merge.has_value());
    const Keys keys = {{client + "\\Default", {"MRU0", "mru9"}},
                       {"Software\\VANDRELLE", {"Maximized"}},
                       {client + "\\Servers\\h1", {"UsernameHint"}}};
    Keys merged;
    for (const RegMerge::Key& key : merge->keys) {
        merged.push_back({key.path, {}});
        for (const auto& [name, value] : key.values) merged.back().second.push_back(name);
    }
    EXPECT_EQ(merged, keys);
    // Each skipped line is reported with its reason; one check of the wording.
    ASSERT_EQ(merge->skipped.size(), 6u);
    EXPECT_TRUE(HasText(merge->skipped[3], "\\AddIns\\Helper]: add-ins are never imported"));
    EXPECT_EQ(PlanRegMerge("not a registry file\n"), std::nullopt);
}

}  // namespace
}  // namespace vandrelle::test
