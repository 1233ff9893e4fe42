// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliFixture.h"
#include "KeyStore.h"
#include "StoredCredentials.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vandrelle::test {
namespace {

const std::string kClient = "HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client";

// A saved password for the user "bob" of h2, as the system's store keeps it.
class SavedPassword : public CredentialStore {
public:
    std::optional<std::vector<Credential>> Enumerate(std::string_view filter) override {
        if (filter != "TERMSRV/h2") return std::nullopt;
        return std::vector<Credential>{{Credential::kGeneric, "CORP\\bob", {'p', 0, 'w', 0}}};
    }
};

class CliImportTest : public CliFixture {
protected:
    CliImportTest() { env.credentials = &credentials; }

    std::string Shown(const std::vector<std::string>& names) {
        std::vector<std::string> args{"show", "--show-password"};
        args.insert(args.end(), names.begin(), names.end());
        return Run(args).out;
    }

    SavedPassword credentials;
};

const std::string kClientKeys = "[" + kClient + "\\Default]\n\"MRU0\"=\"h1:3390 /admin\"\n" +
                                "\"MRU1\"=\"h2\"\n\"MRU2\"=\"h3\"\n\n[" + kClient +
                                "\\UsernameHint]\n\"h2\"=\"CORP\\\\bob\"\n\"h4\"=\"carol\"\n" +
                                "\"tab\there\"=\"x\"\n\n[" + kClient + "\\Servers\\h4]\n\n[" +
                                kClient + "\\Servers\\h5]\n\n";

TEST_F(CliImportTest, ImportMstscAddsEachServerOnceAndPrintsItsName) {
    WriteKeys(kClientKeys);
    ASSERT_EQ(Run({"add-group", "--set", "Name=Web"}).code, 0);
    ASSERT_EQ(Run({"add-group", "Web", "--set", "Name=h3"}).code, 0);  // groups count as well
    ASSERT_EQ(Run({"add-server", "Web", "--set", "Name=h5", "--set", "Server=old"}).code, 0);
    ASSERT_EQ(Run({"add-server", "--set", "Name=h2"}).code, 0);  // not a child of Web

    Result r = Run({"import-mstsc", "Web"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "h1:3390 /admin\nh2\nh4\ntab\\there\n");
    EXPECT_EQ(r.err, "");

    const std::string first = Shown({"Web", "h1:3390 /admin"});
    EXPECT_NE(first.find("\nServer=h1\n"), std::string::npos) << first;
    EXPECT_NE(first.find("\nRDPPort=3390\n"), std::string::npos);
    EXPECT_NE(first.find("\nConnectToServerConsole=1\n"), std::string::npos);
    EXPECT_NE(first.find("\nInheritGeneral=0\n"), std::string::npos);
    const std::string second = Shown({"Web", "h2"});
    EXPECT_NE(second.find("\nUserName=bob\nPassword=pw\nDomain=CORP\n"), std::string::npos)
        << second;
    EXPECT_NE(Shown({"Web", "h4"}).find("\nUserName=carol\n"), std::string::npos);
    EXPECT_NE(Shown({"Web", "h5"}).find("\nServer=old\n"), std::string::npos);

    // Saved as added: a second run finds every label and changes nothing.
    const std::string saved = ReadFile(file);
    r = Run({"import-mstsc", "Web"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(file), saved);

    // Into the top, where only h2 is there already.
    r = Run({"import-mstsc"});
    EXPECT_EQ(r.out, "h1:3390 /admin\nh3\nh4\ntab\\there\nh5\n");
}

TEST_F(CliImportTest, ImportMstscNeedsAnExistingGroupAndTheClientsDefaultKey) {
    WriteKeys(kClientKeys);
    ASSERT_EQ(Run({"add-server", "--set", "Name=s"}).code, 0);
    const std::string before = ReadFile(file);
    EXPECT_EQ(Run({"import-mstsc", "Nope"}).code, 1);
    const Result server = Run({"import-mstsc", "s"});
    EXPECT_EQ(server.code, 2);
    EXPECT_EQ(server.err, "vandrelle-cli: s is not a group\n");
    EXPECT_EQ(Run({"import-mstsc", "--set", "Name=x"}).code, 2);
    EXPECT_EQ(ReadFile(file), before);

    WriteKeys("[" + kClient + "\\UsernameHint]\n\"h2\"=\"bob\"\n\n[" + kClient +
              "\\Servers\\h4]\n");
    const Result none = Run({"import-mstsc"});
    EXPECT_EQ(none.code, 0);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(ReadFile(file), before);
}

// The file as Windows' registry editor exports it: UTF-16LE with a byte order
// mark and CR LF line ends.
std::string Utf16Export(const std::u16string& text) {
    std::string bytes = "\xff\xfe";
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

TEST_F(CliImportTest, ImportRegMergesTheUsersKeysAndLeavesTheRest) {
    WriteKeys("[" + kClient +
              "\\Default]\n\"MRU0\"=\"old\"\n\"Mine\"=\"kept\"\n\"Gone\"=\"stays\"\n\n"
              "[HKEY_CURRENT_USER\\Software\\Other]\n\"Untouched\"=dword:00000002\n");
    ASSERT_EQ(Run({"tree"}).code, 0);  // makes this installation's password key
    const auto program = [&] { return keys.OpenKey(Hive::CurrentUser, kProgramKey); };
    const auto passwordKey = program()->ReadBinary("key");
    ASSERT_TRUE(passwordKey.has_value());

    WriteFile(dir.file("export.reg"),
              Utf16Export(u"Windows Registry Editor Version 5.00\r\n\r\n"
                          u"[HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client\\"
                          u"Default]\r\n\"MRU0\"=\"h\u00fcst:3390\"\r\n\"MRU1\"=\"h2\"\r\n"
                          u"\"Gone\"=-\r\n\r\n"
                          u"[HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client\\"
                          u"Servers\\h2]\r\n\"UsernameHint\"=\"bob\"\r\n"
                          u"\"CertHash\"=hex:01,02,\\\r\n  03\r\n\r\n"
                          u"[HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client\\"
                          u"Default\\AddIns\\Helper]\r\n\"Name\"=\"/tmp/x/evil.so\"\r\n\r\n"
                          u"[HKEY_LOCAL_MACHINE\\Software\\Machine]\r\n\"M\"=\"m\"\r\n\r\n"
                          u"[-HKEY_CURRENT_USER\\Software\\Other]\r\n\r\n"
                          u"[HKEY_CURRENT_USER\\Software\\Vandrelle]\r\n"
                          u"\"key\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f\r\n"
                          u"\"Maximized\"=dword:00000001\r\n"
                          u"\"broken\"=dword:xyz\r\n"));
    const Result r = Run({"import-reg", dir.file("export.reg")});
    ASSERT_EQ(r.code, 0) << r.err;
    // Printed as the companion prints texts: a backslash as two.
    const std::string printed =
        "HKEY_CURRENT_USER\\\\Software\\\\Microsoft\\\\Terminal Server Client";
    EXPECT_EQ(r.out, printed + "\\\\Default: 2 values\n" + printed +
                         "\\\\Servers\\\\h2: 1 value\n"
                         "HKEY_CURRENT_USER\\\\Software\\\\Vandrelle: 1 value\n"
                         "merged 4 values in 3 keys\n");
    for (const char* warning :
         {"skipped \"Gone\"=- in [HKEY_CURRENT_USER\\\\Software\\\\Microsoft\\\\Terminal Server "
          "Client\\\\Default]: an import deletes no values\n",
          "skipped \"CertHash\" in [HKEY_CURRENT_USER\\\\Software\\\\Microsoft\\\\Terminal Server "
          "Client\\\\Servers\\\\h2]: the program does not read it\n",
          "skipped [HKEY_CURRENT_USER\\\\Software\\\\Microsoft\\\\Terminal Server Client\\\\Default"
          "\\\\AddIns\\\\Helper]: add-ins are never imported",
          "skipped [HKEY_LOCAL_MACHINE\\\\Software\\\\Machine]: only keys of HKEY_CURRENT_USER "
          "are merged\n",
          "skipped [-HKEY_CURRENT_USER\\\\Software\\\\Other]: an import deletes no keys\n",
          "skipped \"key\" in [HKEY_CURRENT_USER\\\\Software\\\\Vandrelle]: refused",
          "skipped \"broken\"=dword:xyz in [HKEY_CURRENT_USER\\\\Software\\\\Vandrelle]: not "
          "understood\n"}) {
        EXPECT_NE(r.err.find(std::string("vandrelle-cli: warning: ") + warning), std::string::npos)
            << warning << "\n"
            << r.err;
    }
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 7) << r.err;
    EXPECT_EQ(Run({"addins"}).out, "\n");

    EXPECT_EQ(program()->ReadBinary("key"), passwordKey);
    EXPECT_EQ(program()->ReadDword("Maximized"), 1u);
    const auto client = keys.OpenKey(Hive::CurrentUser, kClient.substr(18) + "\\Default");
    EXPECT_EQ(client->ReadString("MRU0"), "h\xc3\xbcst:3390");
    EXPECT_EQ(client->ReadString("MRU1"), "h2");
    EXPECT_EQ(client->ReadString("Mine"), "kept");
    EXPECT_EQ(client->ReadString("Gone"), "stays");
    const auto server = keys.OpenKey(Hive::CurrentUser, kClient.substr(18) + "\\Servers\\h2");
    EXPECT_EQ(server->ReadString("UsernameHint"), "bob");
    EXPECT_EQ(server->ReadValue("CertHash"), std::nullopt);
    EXPECT_EQ(keys.OpenKey(Hive::CurrentUser, "Software\\Other")->ReadDword("Untouched"), 2u);
    EXPECT_EQ(keys.OpenKey(Hive::CurrentUser, "Software\\Machine"), nullptr);

    // What was merged is what the import of the client's connections reads.
    const Result imported = Run({"import-mstsc"});
    EXPECT_EQ(imported.out, "h\xc3\xbcst:3390\nh2\n");
    EXPECT_NE(Shown({"h2"}).find("\nUserName=bob\nPassword=pw\n"), std::string::npos);
}

TEST_F(CliImportTest, ImportRegRefusesWhatIsNoRegistryFileAndLeavesTheStoreAsItIs) {
    ASSERT_EQ(Run({"tree"}).code, 0);
    const std::string before = ReadFile(dir.file("registry.reg"));
    WriteFile(dir.file("notes.txt"), "[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"b\"\n");
    Result r = Run({"import-reg", dir.file("notes.txt")});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("is not a registry file"), std::string::npos) << r.err;
    r = Run({"import-reg", dir.file("missing.reg")});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("missing.reg"), std::string::npos) << r.err;
    EXPECT_EQ(Run({"import-reg"}).code, 2);
    EXPECT_EQ(Run({"import-reg", "a.reg", "b.reg"}).code, 2);
    EXPECT_EQ(ReadFile(dir.file("registry.reg")), before);

    // REGEDIT4 and UTF-8 are read too.
    const std::string hints = "[" + kClient + "\\UsernameHint]\n";
    WriteFile(dir.file("old.reg"), "REGEDIT4\n\n" + hints + "\"a\"=\"b\"\n");
    r = Run({"import-reg", dir.file("old.reg")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find(": ")), ": 1 value\nmerged 1 value in 1 key\n");
    const std::string merged = ReadFile(dir.file("registry.reg"));

    // Written as hex(1) for its tab, a 12 MB string would make a file the key
    // store cannot read back: nothing of the file is merged.
    WriteFile(dir.file("huge.reg"), "REGEDIT4\n\n" + hints + "\"c\"=\"d\"\n\"e\"=\"" +
                                        std::string(12 << 20, 'x') + "\t\"\n");
    r = Run({"import-reg", dir.file("huge.reg")});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("more than the 64 MiB the key store reads back"), std::string::npos)
        << r.err.substr(0, 300);
    EXPECT_EQ(ReadFile(dir.file("registry.reg")), merged);
    EXPECT_EQ(Run({"tree"}).code, 0);
}

}  // namespace
}  // namespace vandrelle::test
