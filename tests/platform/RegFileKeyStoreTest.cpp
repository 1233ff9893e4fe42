// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegFileKeyStore.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace vandrelle {
namespace {

using test::DataFile;
using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFile;

constexpr const char* kFileHeader = "Windows Registry Editor Version 5.00\n\n";

class RegFileKeyStoreTest : public ::testing::Test {
protected:
    std::string UserFile() const { return m_dir.file("config/registry.reg"); }
    std::string MachineFile() const { return m_dir.file("machine.reg"); }

    void WriteUserFile(const std::string& text) {
        std::filesystem::create_directories(m_dir.file("config"));
        WriteFile(UserFile(), text);
    }

    std::vector<std::string> SubKeys(const RegKey& key) const {
        std::vector<std::string> names;
        while (auto name = key.SubKeyName(names.size())) names.push_back(*name);
        return names;
    }

    std::vector<std::string> ValueNames(const RegKey& key) const {
        std::vector<std::string> names;
        while (auto name = key.ValueName(names.size())) names.push_back(*name);
        return names;
    }

    TempDir m_dir;
    RegFileKeyStore m_store{UserFile(), MachineFile()};
};

TEST_F(RegFileKeyStoreTest, MissingFileKeyAndValueAreReportedMissing) {
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, kProgramKey), nullptr);
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, ""), nullptr);
    EXPECT_EQ(m_store.OpenKey(Hive::LocalMachine, kProgramKey), nullptr);

    WriteUserFile(std::string(kFileHeader) +
                  "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n\"A\"=dword:00000001\n");
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, "Software\\Other"), nullptr);
    auto key = m_store.OpenKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(key, nullptr);
    EXPECT_FALSE(key->ReadValue("B").has_value());
    EXPECT_FALSE(key->ValueName(1).has_value());
    EXPECT_FALSE(key->SubKeyName(0).has_value());
}

TEST_F(RegFileKeyStoreTest, EachTypeIsWrittenAndReadBack) {
    const std::string text = "C:\\Temp \"quoted\" Ünïcödé 😀";
    const std::vector<std::uint8_t> bytes = {0, 1, 2, 0x7f, 0x80, 0xfe, 0xff, 3,
                                             4, 5, 6, 7,    8,    9,    10,   11};
    RegValue expand;
    expand.type = ValueType::ExpandString;
    expand.rawType = 2;
    expand.text = "%HOME%\\Vandrelle 😀";
    {
        auto key = m_store.CreateKey(Hive::CurrentUser, kProgramKey);
        ASSERT_NE(key, nullptr);
        EXPECT_TRUE(key->WriteString("Text", text));
        EXPECT_TRUE(key->WriteDword("Number", 0xdeadbeef));
        EXPECT_TRUE(key->WriteBinary("Bytes", bytes));
        EXPECT_TRUE(key->WriteValue("Expand", expand));
        EXPECT_TRUE(key->WriteBinary("Four", {1, 0, 0, 0}));  // a dword's size, not a dword
        EXPECT_EQ(key->ReadString("Text"), text);             // the open key sees its own writes
    }
    RegFileKeyStore reopened(UserFile(), MachineFile());
    auto key = reopened.OpenKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadString("Text"), text);
    EXPECT_EQ(key->ReadDword("Number"), 0xdeadbeefu);
    EXPECT_EQ(key->ReadBinary("Bytes"), bytes);
    const auto value = key->ReadValue("Expand");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, ValueType::ExpandString);
    EXPECT_EQ(value->text, expand.text);
    EXPECT_EQ(key->ReadString("Expand"), expand.text);
    // Typed reads refuse values of other types.
    EXPECT_FALSE(key->ReadDword("Text").has_value());
    EXPECT_FALSE(key->ReadBinary("Number").has_value());
    EXPECT_FALSE(key->ReadString("Four").has_value());
    EXPECT_FALSE(key->ReadDword("Four").has_value());
}

TEST_F(RegFileKeyStoreTest, WrittenFileHasRegeditTextAndIsPrivate) {
    auto key = m_store.CreateKey(Hive::CurrentUser, "Software\\Vandrelle\\Window");
    ASSERT_NE(key, nullptr);
    ASSERT_TRUE(key->WriteString("", "a\\b\"c"));
    ASSERT_TRUE(key->WriteDword("Maximized", 1));
    std::vector<std::uint8_t> bytes(30);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 9);
    ASSERT_TRUE(key->WriteBinary("Pos", bytes));
    ASSERT_TRUE(key->WriteString("Lines", "one\ntwo"));
    EXPECT_EQ(
        ReadFile(UserFile()),
        std::string(kFileHeader) +
            "[HKEY_CURRENT_USER\\Software\\Vandrelle\\Window]\n"
            "@=\"a\\\\b\\\"c\"\n"
            "\"Maximized\"=dword:00000001\n"
            "\"Pos\"=hex:00,09,12,1b,24,2d,36,3f,48,51,5a,63,6c,75,7e,87,90,99,a2,ab,b4,bd,c6,\\\n"
            "  cf,d8,e1,ea,f3,fc,05\n"
            "\"Lines\"=hex(1):6f,00,6e,00,65,00,0a,00,74,00,77,00,6f,00,00,00\n\n");
    EXPECT_EQ(key->ReadString("Lines"), "one\ntwo");
    EXPECT_EQ(test::Permissions(UserFile()), 0600u);
}

// An export of the registry editor (UTF-16) reads whole, and a write rewrites
// it as UTF-8 keeping everything.
TEST_F(RegFileKeyStoreTest, ARegeditUtf16ExportIsReadAndRewrittenAsUtf8) {
    WriteUserFile(ReadFile(DataFile("regedit-export.reg")));
    auto key = m_store.CreateKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadString(""), "Standard – café 😀");
    EXPECT_EQ(key->ReadDword("Maximized"), 1u);
    std::vector<std::uint8_t> pos(40);
    for (std::size_t i = 0; i < pos.size(); ++i) pos[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(key->ReadBinary("WindowPos"), pos);
    const auto path = key->ReadValue("Path");
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(path->type, ValueType::ExpandString);
    EXPECT_EQ(path->text, "%USERPROFILE%\\Documents\\Vandrelle\\Connections.vrc");
    EXPECT_EQ(key->ReadString("Name"), "text with \\ backslash and \" quote");
    const auto recent = key->ReadValue("Recent");
    ASSERT_TRUE(recent.has_value());
    EXPECT_EQ(recent->type, ValueType::Other);
    EXPECT_EQ(recent->rawType, 7u);
    EXPECT_EQ(recent->bytes.size(), 24u);
    EXPECT_FALSE(key->ReadValue("Deleted").has_value());
    EXPECT_EQ(ValueNames(*key),
              (std::vector<std::string>{"", "Maximized", "WindowPos", "Path", "Name", "Recent"}));
    EXPECT_EQ(SubKeys(*key), std::vector<std::string>{"Connections"});
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, "Software\\Vandrelle\\Old"), nullptr);
    EXPECT_EQ(m_store.OpenKey(Hive::LocalMachine, "SOFTWARE\\Policies\\Vandrelle"), nullptr);
    ASSERT_TRUE(key->WriteDword("maximized", 0));
    EXPECT_EQ(ReadFile(UserFile()), ReadFile(DataFile("regedit-export-rewritten.reg")));
}

// Other tools save UTF-16 in either byte order, with or without its BOM.
TEST_F(RegFileKeyStoreTest, Utf16InEitherOrderWithOrWithoutABomIsRead) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vandrelle]"
        u"\r\n\"Name\"=\"caf\u00e9\"\r\n";
    for (const bool big : {false, true}) {
        for (const bool bom : {false, true}) {
            std::string bytes;
            for (const char16_t unit : (bom ? u"\uFEFF" : u"") + text) {
                const char high = static_cast<char>(unit >> 8),
                           low = static_cast<char>(unit & 0xFF);
                bytes += big ? std::string{high, low} : std::string{low, high};
            }
            WriteUserFile(bytes);
            const auto key = m_store.OpenKey(Hive::CurrentUser, kProgramKey);
            ASSERT_NE(key, nullptr)
                << "big endian " << big << ", BOM " << bom << ": " << m_store.LastError();
            EXPECT_EQ(key->ReadString("Name"), "caf\xC3\xA9");
        }
    }
}

TEST_F(RegFileKeyStoreTest, AcceptsRegedit4Utf8BomAbbreviationsAndCrlf) {
    WriteUserFile(
        "\xEF\xBB\xBF\r\nREGEDIT4\r\n\r\n[HKCU\\Software\\Vandrelle]\r\n"
        "\"Text\"=hex(2):41,42,00\r\n\"N\"=dword:ff\r\n\"Q\"=hex(4):01,02,00,00\r\n");
    auto key = m_store.CreateKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadString("Text"), "AB");
    EXPECT_EQ(key->ReadDword("N"), 0xffu);
    EXPECT_EQ(key->ReadDword("Q"), 0x201u);

    // A rewrite keeps the file's kind, so that its 8-bit strings keep their meaning.
    RegValue expand;
    expand.type = ValueType::ExpandString;
    expand.text = "%HOME% Ünï";
    ASSERT_TRUE(key->WriteValue("Expand", expand));
    ASSERT_TRUE(key->WriteString("Lines", "a\nb"));
    EXPECT_EQ(ReadFile(UserFile()).rfind("REGEDIT4\n", 0), 0u);
    RegFileKeyStore reopened(UserFile(), MachineFile());
    auto reread = reopened.OpenKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(reread, nullptr);
    EXPECT_EQ(reread->ReadString("Text"), "AB");
    EXPECT_EQ(reread->ReadString("Expand"), expand.text);
    EXPECT_EQ(reread->ReadString("Lines"), "a\nb");
}

TEST_F(RegFileKeyStoreTest, InvalidUnicodeBecomesReplacementCharacters) {
    // A lone high surrogate, "A", then half a code unit.
    WriteUserFile(std::string(kFileHeader) +
                  "[HKCU\\Software\\Vandrelle]\n\"S\"=hex(2):3d,d8,41,00,42\n");
    auto key = m_store.CreateKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadString("S"), "\uFFFDA\uFFFD");

    RegValue invalidUtf8;
    invalidUtf8.type = ValueType::ExpandString;
    invalidUtf8.text = "\xC3(";  // a lead byte without its continuation
    ASSERT_TRUE(key->WriteValue("S", invalidUtf8));
    EXPECT_NE(ReadFile(UserFile()).find("\"S\"=hex(2):fd,ff,28,00,00,00\n"), std::string::npos);
}

TEST_F(RegFileKeyStoreTest, UnknownLinesAndForeignSectionsSurviveRewrite) {
    const std::string before =
        "; settings\n"
        "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n"
        "; keep me\n"
        "garbage line\n"
        "\"Gone\"=-\n"
        "\"Bad\"=hex:zz,\\\n"
        "  01\n"
        "\"Odd\"=hex(b):01,02,03,04,05,06,07,08\n"
        "\"Upper\" = DWORD:0000000A\n"
        "\"Tail\"=hex(2):41,00,00,00,42,00,00,00\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Vandrelle]\n"
        "\"Machine\"=dword:00000005\n"
        "\n"
        "[-HKEY_CURRENT_USER\\Software\\Old]\n"
        "\n";
    WriteUserFile(std::string(kFileHeader) + before);
    auto key = m_store.CreateKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(key, nullptr);
    ASSERT_TRUE(key->WriteDword("New", 7));
    const std::string after = before.substr(0, before.find("\n\n[HKEY_LOCAL")) +
                              "\n\"New\"=dword:00000007" +
                              before.substr(before.find("\n\n[HKEY_LOCAL"));
    EXPECT_EQ(ReadFile(UserFile()), kFileHeader + after);
    EXPECT_EQ(ValueNames(*key), (std::vector<std::string>{"Odd", "Upper", "Tail", "New"}));
    EXPECT_EQ(key->ReadDword("upper"), 10u);
    EXPECT_EQ(key->ReadString("Tail"), "A");
}

TEST_F(RegFileKeyStoreTest, FileThatIsNotARegistryFileIsReportedAndNeverWritten) {
    const std::string notRegistryFiles[] = {
        "not a registry file\n" + std::string(kFileHeader) + "[HKEY_CURRENT_USER\\A]\n",
        "[HKEY_CURRENT_USER\\A]\n\"X\"=dword:00000001\n",  // a section without the header
        std::string("\xFE\xFF\0W\0i\0n", 8),               // UTF-16 big-endian
        "# Windows Registry Editor Version 5.00\n",
    };
    for (const std::string& text : notRegistryFiles) {
        WriteUserFile(text);
        EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, "A"), nullptr);
        EXPECT_NE(m_store.LastError().find(UserFile() + " is not a registry file"),
                  std::string::npos)
            << m_store.LastError();
        EXPECT_EQ(m_store.CreateKey(Hive::CurrentUser, "B"), nullptr);
        EXPECT_NE(m_store.LastError().find("left as it is"), std::string::npos);
        EXPECT_EQ(m_store.OpenKeyForWriting(Hive::CurrentUser, "A"), nullptr);
        EXPECT_EQ(ReadFile(UserFile()), text);
    }
}

TEST_F(RegFileKeyStoreTest, HeaderMayFollowAByteOrderMarkBlankLinesAndComments) {
    const std::string before =
        "; my settings\n"
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n"
        "\"A\"=dword:00000001\n\n";
    WriteUserFile("\xEF\xBB\xBF\n  \n" + before);
    auto key = m_store.CreateKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(key, nullptr) << m_store.LastError();
    EXPECT_EQ(key->ReadDword("A"), 1u);
    ASSERT_TRUE(key->WriteDword("B", 2));
    // The comment stays above the header; the byte order mark and blank lines go.
    EXPECT_EQ(ReadFile(UserFile()),
              before.substr(0, before.size() - 1) + "\"B\"=dword:00000002\n\n");

    // Without any header, blank lines and comments alone are an empty store.
    WriteUserFile("\n; nothing yet\n\n");
    ASSERT_NE(m_store.CreateKey(Hive::CurrentUser, kProgramKey), nullptr) << m_store.LastError();
    EXPECT_EQ(ReadFile(UserFile()), "; nothing yet\n" + std::string(kFileHeader) +
                                        "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n\n");
}

TEST_F(RegFileKeyStoreTest, KeptLinesSwallowNoValueAndWritesReadBackExactly) {
    const std::string nul(1, '\0');
    // Hex data cut short after a continuation, once with CR CR LF (a CRLF file
    // converted once more) and once at the key's end, where values are
    // appended; a comment ending in a backslash; a quoted string with a NUL.
    WriteUserFile(std::string(kFileHeader) +
                  "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n"
                  "\"Cut\"=hex:01,\\\r\r\n"
                  "\"After\"=dword:00000002\r\r\n"
                  "; C:\\\r\r\n"
                  "\"Nul\"=\"a" +
                  nul +
                  "b\"\n"
                  "\"Last\"=hex:zz,\\\n");
    auto key = m_store.CreateKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadDword("After"), 2u);
    EXPECT_EQ(key->ReadString("Nul"), "a");  // a string ends at its first NUL
    ASSERT_TRUE(key->WriteDword("New", 7));
    const std::string once = ReadFile(UserFile());
    ASSERT_TRUE(key->WriteDword("New", 7));
    EXPECT_EQ(ReadFile(UserFile()), once);  // a rewrite changes nothing it did not set
    EXPECT_NE(once.find("\"Nul\"=\"a" + nul + "b\"\n"), std::string::npos);

    RegFileKeyStore reopened(UserFile(), MachineFile());
    auto reread = reopened.OpenKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(reread, nullptr);
    EXPECT_EQ(ValueNames(*reread), (std::vector<std::string>{"After", "Nul", "New"}));
    EXPECT_EQ(reread->ReadDword("After"), 2u);
    EXPECT_EQ(reread->ReadDword("New"), 7u);
    EXPECT_EQ(reread->ReadString("Nul"), "a");

    // Text with a NUL would not read back as written: it is refused.
    EXPECT_FALSE(key->WriteString("Nul", "c" + nul + "d"));
    EXPECT_NE(m_store.LastError().find("NUL"), std::string::npos);
    RegValue expand;
    expand.type = ValueType::ExpandString;
    expand.text = nul;
    EXPECT_FALSE(key->WriteValue("E", expand));
    EXPECT_EQ(ReadFile(UserFile()), once);
}

TEST_F(RegFileKeyStoreTest, ALaterValueOverridesAnEarlierOneWhateverTheCase) {
    WriteUserFile(std::string(kFileHeader) +
                  "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n\"Name\"=\"first\"\n"
                  "\"Other\"=dword:00000001\n\n"
                  "[HKCU\\software\\VANDRELLE]\n\"NAME\"=\"second\"\n\n");
    auto key = m_store.OpenKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadString("name"), "second");
    EXPECT_EQ(ValueNames(*key), (std::vector<std::string>{"Name", "Other"}));
}

TEST_F(RegFileKeyStoreTest, ValuesAreReplacedInPlaceWhateverTheirCaseAndAppendedInOrder) {
    WriteUserFile(std::string(kFileHeader) +
                  "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n\"A\"=dword:00000001\n\"B\"=\"b\"\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Other]\n\"A\"=\"other\"\n\n");
    auto key = m_store.CreateKey(Hive::CurrentUser, "software\\VANDRELLE");
    ASSERT_NE(key, nullptr);
    ASSERT_TRUE(key->WriteDword("a", 2));
    ASSERT_TRUE(key->WriteString("C", "c"));
    ASSERT_TRUE(key->WriteString("D", "d"));
    ASSERT_TRUE(key->WriteString("B", "b2"));
    EXPECT_EQ(ReadFile(UserFile()),
              std::string(kFileHeader) +
                  "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n\"A\"=dword:00000002\n\"B\"=\"b2\"\n"
                  "\"C\"=\"c\"\n\"D\"=\"d\"\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Other]\n\"A\"=\"other\"\n\n");
    auto reader = m_store.OpenKey(Hive::CurrentUser, "SOFTWARE\\vandrelle");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->ReadDword("a"), 2u);
}

TEST_F(RegFileKeyStoreTest, NewKeysGetTheirSectionAtTheEnd) {
    const std::string before = std::string(kFileHeader) +
                               "[HKEY_CURRENT_USER\\Software\\Vandrelle\\A\\B]\n\n"
                               "[HKEY_CURRENT_USER\\Software\\Other]\n\n";
    WriteUserFile(before);
    ASSERT_NE(m_store.CreateKey(Hive::CurrentUser, "Software\\Other"), nullptr);
    EXPECT_EQ(ReadFile(UserFile()), before);  // an existing section is not repeated

    auto implied = m_store.CreateKey(Hive::CurrentUser, "Software\\Vandrelle\\A");
    ASSERT_NE(implied, nullptr);
    ASSERT_TRUE(implied->WriteDword("X", 1));
    EXPECT_EQ(ReadFile(UserFile()),
              before + "[HKEY_CURRENT_USER\\Software\\Vandrelle\\A]\n\"X\"=dword:00000001\n\n");
    EXPECT_EQ(SubKeys(*implied), std::vector<std::string>{"B"});
}

TEST_F(RegFileKeyStoreTest, WritesKeepChangesMadeSinceTheKeyWasOpened) {
    auto key = m_store.CreateKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(key, nullptr);
    WriteUserFile(std::string(kFileHeader) +
                  "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n\"ByHand\"=dword:00000009\n\n");
    auto reopened = m_store.OpenKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(reopened->ReadDword("ByHand"), 9u);
    ASSERT_TRUE(key->WriteDword("Mine", 1));
    EXPECT_EQ(key->ReadDword("ByHand"), 9u);
    EXPECT_EQ(key->ReadDword("Mine"), 1u);
}

// Readers reuse the document last read while the file keeps its stamp; an
// edit in place that keeps its size and modification time is seen all the same.
TEST_F(RegFileKeyStoreTest, ReadsSeeAnEditInPlaceOfTheSameSize) {
    const auto file = [](char value) {
        return std::string(kFileHeader) + "[HKEY_CURRENT_USER\\Software\\A]\n\"x\"=\"" + value +
               "\"\n";
    };
    WriteUserFile(file('1'));
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // settled: reused
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, "Software\\A")->ReadString("x"), "1");
    }
    struct stat before {};
    ASSERT_EQ(::stat(UserFile().c_str(), &before), 0);
    WriteUserFile(file('2'));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, UserFile().c_str(), times, 0), 0);
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, "Software\\A")->ReadString("x"), "2");
}

TEST_F(RegFileKeyStoreTest, SubKeysIncludeKeysImpliedByDeeperSections) {
    WriteUserFile(std::string(kFileHeader) +
                  "[HKEY_CURRENT_USER\\Software\\Vandrelle\\Connections\\Office\\Printers]\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Vandrelle\\Window]\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Vandrelle\\connections\\Home]\n\n");
    auto key = m_store.OpenKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(SubKeys(*key), (std::vector<std::string>{"Connections", "Window"}));
    auto connections = m_store.OpenKey(Hive::CurrentUser, "Software\\Vandrelle\\Connections");
    ASSERT_NE(connections, nullptr);
    EXPECT_EQ(SubKeys(*connections), (std::vector<std::string>{"Office", "Home"}));
    auto software = m_store.OpenKey(Hive::CurrentUser, "Software");
    ASSERT_NE(software, nullptr);
    EXPECT_EQ(SubKeys(*software), std::vector<std::string>{"Vandrelle"});
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, "Software\\Vandrelle\\Connections\\Garage"),
              nullptr);
}

TEST_F(RegFileKeyStoreTest, MachineHiveIsReadOnlyAndReadFromItsOwnFile) {
    const std::string machine =
        std::string(kFileHeader) +
        "[HKEY_LOCAL_MACHINE\\Software\\Vandrelle]\n\"Policy\"=dword:00000003\n\n"
        "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n\"User\"=dword:00000001\n\n";
    WriteFile(MachineFile(), machine);
    WriteUserFile(std::string(kFileHeader) +
                  "[HKLM\\Software\\Vandrelle]\n\"Policy\"=dword:00000004\n\n");
    auto key = m_store.OpenKey(Hive::LocalMachine, kProgramKey);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadDword("Policy"), 3u);
    EXPECT_FALSE(key->WriteDword("Policy", 5));
    EXPECT_EQ(m_store.CreateKey(Hive::LocalMachine, kProgramKey), nullptr);
    EXPECT_EQ(m_store.CreateKey(Hive::LocalMachine, "Software\\New"), nullptr);
    EXPECT_EQ(m_store.OpenKeyForWriting(Hive::LocalMachine, kProgramKey), nullptr);
    EXPECT_NE(m_store.LastError().find("read only"), std::string::npos);
    EXPECT_EQ(ReadFile(MachineFile()), machine);
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, kProgramKey), nullptr);
}

TEST_F(RegFileKeyStoreTest, UnreadableFileIsReportedAndNeverOverwritten) {
    std::filesystem::create_directories(UserFile());  // a folder where the file should be
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, kProgramKey), nullptr);
    EXPECT_NE(m_store.LastError().find(UserFile()), std::string::npos) << m_store.LastError();
    EXPECT_EQ(m_store.CreateKey(Hive::CurrentUser, kProgramKey), nullptr);
    EXPECT_FALSE(m_store.LastError().empty());
    EXPECT_TRUE(std::filesystem::is_directory(UserFile()));
}

TEST_F(RegFileKeyStoreTest, AFileWithoutReadPermissionIsReported) {
    WriteUserFile(std::string(kFileHeader) + "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n");
    ASSERT_EQ(::chmod(UserFile().c_str(), 0), 0);
    if (::access(UserFile().c_str(), R_OK) == 0) {
        GTEST_SKIP() << "a file of mode 000 stays readable for this user (root)";
    }
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, kProgramKey), nullptr);
    EXPECT_NE(m_store.LastError().find("Permission denied"), std::string::npos);
    EXPECT_EQ(m_store.CreateKey(Hive::CurrentUser, kProgramKey), nullptr);
}

TEST_F(RegFileKeyStoreTest, OpenKeyOnlyReadsAndOpenKeyForWritingNeverCreates) {
    EXPECT_EQ(m_store.OpenKeyForWriting(Hive::CurrentUser, kProgramKey), nullptr);
    EXPECT_EQ(m_store.LastError(), "");  // missing, which is no error
    EXPECT_FALSE(std::filesystem::exists(UserFile()));

    ASSERT_NE(m_store.CreateKey(Hive::CurrentUser, kProgramKey), nullptr);
    const std::string created = ReadFile(UserFile());
    auto reader = m_store.OpenKey(Hive::CurrentUser, kProgramKey);
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(reader->WriteDword("A", 1));
    EXPECT_NE(m_store.LastError().find("reading only"), std::string::npos);
    EXPECT_EQ(ReadFile(UserFile()), created);

    auto writer = m_store.OpenKeyForWriting(Hive::CurrentUser, "software\\vandrelle");
    ASSERT_NE(writer, nullptr);
    EXPECT_TRUE(writer->WriteDword("A", 1));
    EXPECT_EQ(m_store.OpenKey(Hive::CurrentUser, kProgramKey)->ReadDword("A"), 1u);
    EXPECT_EQ(m_store.OpenKeyForWriting(Hive::CurrentUser, "Software\\Vandrelle\\Sub"), nullptr);
}

TEST(MakeDefaultKeyStoreTest, UsesTheUserConfigFolder) {
    TempDir dir;
    const ScopedEnv config("XDG_CONFIG_HOME", dir.path());
    auto store = MakeDefaultKeyStore();
    auto key = store->CreateKey(Hive::CurrentUser, kProgramKey);
    EXPECT_TRUE(key && key->WriteDword("X", 1));
    EXPECT_NE(ReadFile(dir.file("vandrelle/registry.reg")).find("\"X\"=dword:00000001"),
              std::string::npos);
}

}  // namespace
}  // namespace vandrelle
