// SPDX-License-Identifier: GPL-3.0-or-later
#include "AddIns.h"
#include "ConfigStore.h"
#include "ExternalClient.h"
#include "FileUtil.h"
#include "KeyStore.h"
#include "RegFileKeyStore.h"
#include "StoredCredentials.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

namespace vandrelle::test {
namespace {

const std::string kAddIns = "Software\\Microsoft\\Terminal Server Client\\Default\\AddIns";

class ClientServicesTest : public ::testing::Test {
protected:
    ClientServicesTest() : keys(dir.file("user.reg"), dir.file("machine.reg")) {}

    void Reg(const std::string& user, const std::string& machine) {
        WriteFile(dir.file("user.reg"), "Windows Registry Editor Version 5.00\n\n" + user);
        WriteFile(dir.file("machine.reg"), "Windows Registry Editor Version 5.00\n\n" + machine);
    }

    TempDir dir;
    RegFileKeyStore keys;
};

TEST_F(ClientServicesTest, AddInListJoinsUserThenMachineEntries) {
    EXPECT_EQ(GetAddInList(keys), "");
    Reg("[HKEY_CURRENT_USER\\" + kAddIns + "\\A]\n\"Name\"=\"pa\"\n\n" + "[HKEY_CURRENT_USER\\" +
            kAddIns + "\\B]\n\"Other\"=\"x\"\n\n",
        "[HKEY_LOCAL_MACHINE\\" + kAddIns + "\\B]\n\"Name\"=\"pb\"\n\n" + "[HKEY_LOCAL_MACHINE\\" +
            kAddIns + "\\C]\n\"Name\"=\"pc\"\n\n");
    EXPECT_EQ(GetAddInList(keys), "pa,pc");
    Reg("[HKEY_CURRENT_USER\\" + kAddIns + "\\Only]\n\"Name\"=\"/usr/lib/one.so\"\n", "");
    EXPECT_EQ(GetAddInList(keys), "/usr/lib/one.so");
}

TEST_F(ClientServicesTest, AddInValuesMustBeReadableStrings) {
    const std::string key = "[HKEY_CURRENT_USER\\" + kAddIns;
    Reg(key + "\\1]\n\"Name\"=dword:00000001\n\n" +                         // not a string
            key + "\\2]\n\"Name\"=hex(2):61,00,62,00,00,00\n\n" +           // expandable: "ab"
            key + "\\3]\n\"Name\"=hex(1):61,00,62,00\n\n" +                 // no terminator
            key + "\\4]\n\"Name\"=hex(1):61,00,00\n\n" +                    // odd length
            key + "\\5]\n\"Name\"=\"" + std::string(260, 'x') + "\"\n\n" +  // too long
            key + "\\6]\n\"Name\"=\"" + std::string(259, 'y') + "\"\n\n" +  // fits
            key + "\\7]\n\"Name\"=hex(1):\n\n" +  // zero bytes: empty text
            key + "\\8]\n\"Name\"=\"%HOME%\\\\x.so\"\n",
        "");
    EXPECT_EQ(GetAddInList(keys), "ab," + std::string(259, 'y') + ",,%HOME%\\x.so");
}

// A library that another user could have written or replaced is not loaded.
TEST_F(ClientServicesTest, AnAddInOthersCouldWriteIsRefused) {
    MakeFolders(dir.file("open"));
    MakeFolders(dir.file("sticky"));
    for (const char* name : {"ok.so", "shared.so", "theirs.so", "open/lib.so", "sticky/lib.so"}) {
        WriteFile(dir.file(name), "");
    }
    ::chmod(dir.file("ok.so").c_str(), 0755);
    ::chmod(dir.file("shared.so").c_str(), 0664);
    ::chmod(dir.file("open").c_str(), 0777);
    ::chmod(dir.file("sticky").c_str(), 01777);
    ::symlink(dir.file("ok.so").c_str(), dir.file("link.so").c_str());
    struct Case {
        std::string path;
        std::string library;  // empty when refused
        std::string why;
    };
    std::vector<Case> cases = {
        {dir.file("ok.so"), dir.file("ok.so"), ""},
        {dir.file("link.so"), dir.file("ok.so"), ""},
        {dir.file("sticky/lib.so"), dir.file("sticky/lib.so"), ""},
        {"ok.so", "", "not an absolute path"},
        {dir.file("missing.so"), "", "No such file"},
        {dir.file("open"), "", "not a regular file"},
        {dir.file("shared.so"), "", "shared.so can be written by other users (mode 0664)"},
        {dir.file("open/lib.so"), "", "/open can be written by other users (mode 0777)"},
    };
    if (::chown(dir.file("theirs.so").c_str(), 4242, 4242) == 0) {  // as root only
        cases.push_back(
            {dir.file("theirs.so"), "", "theirs.so belongs to another user (uid 4242)"});
    }
    for (const auto& c : cases) {
        std::string library, why;
        EXPECT_EQ(ResolveSafeAddIn(c.path, &library, &why), !c.library.empty()) << c.path;
        EXPECT_EQ(library, c.library.empty() ? "" : std::filesystem::canonical(c.library).string());
        EXPECT_NE(why.find(c.why), std::string::npos) << c.path << ": " << why;
    }
}

TEST(ExternalCommandTest, FollowsTheRecordsSizesConsoleAndFullScreen) {
    Properties r;
    r.Server = "host";
    r.DesktopWidth = 1024;
    r.DesktopHeight = 768;
    using Args = std::vector<std::string>;
    EXPECT_EQ(BuildExternalCommand(r, false, "xfreerdp3").arguments,
              (Args{"/v:host:3389", "/w:1024", "/h:768"}));
    r.DesktopWidth = -20;
    r.DesktopHeight = -20;
    EXPECT_EQ(BuildExternalCommand(r, false, "x").arguments, (Args{"/v:host:3389"}));
    r.DesktopWidth = 1280;
    r.DesktopHeight = 0;
    EXPECT_EQ(BuildExternalCommand(r, false, "x").arguments, (Args{"/v:host:3389"}));
    r.DesktopWidth = 800;
    r.DesktopHeight = 600;
    r.ConnectToServerConsole = 1;
    r.FullScreen = 1;
    r.RDPPort = 3390;
    r.UserName = "secret-user";
    r.Password = "secret";
    EXPECT_EQ(BuildExternalCommand(r, false, "x").arguments,
              (Args{"/v:host:3390", "/w:800", "/h:600", "/admin", "/console", "/f"}));
    r.FullScreen = 0;
    r.ConnectToServerConsole = 0;
    EXPECT_EQ(BuildExternalCommand(r, true, "x").arguments,
              (Args{"/v:host:3390", "/w:800", "/h:600", "/f"}));
    // A host with spaces stays one argument; an IPv6 address gets brackets.
    r.Server = "host /p:x";
    EXPECT_EQ(BuildExternalCommand(r, false, "x").arguments[0], "/v:host /p:x:3390");
    r.Server = "::1";
    EXPECT_EQ(BuildExternalCommand(r, false, "x").arguments[0], "/v:[::1]:3390");
}

TEST_F(ClientServicesTest, LaunchStartsTheClientDetachedWithAnArgumentList) {
    // A stand-in client on a PATH of our own writes its arguments to a file.
    const std::string bin = dir.file("bin");
    MakeFolders(bin);
    WriteFile(bin + "/xfreerdp3",
              "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                  dir.file("args.tmp") + "\"\nmv \"" + dir.file("args.tmp") + "\" \"" +
                  dir.file("args") + "\"\n");
    ::chmod((bin + "/xfreerdp3").c_str(), 0755);
    std::optional<ScopedEnv> path(std::in_place, "PATH", bin + ":/usr/bin:/bin");

    CConfigStore store(keys);
    store.Init();
    store.SetConfigPath(dir.file("Vandrelle.xml"));
    Properties r;
    r.Name = "s";
    r.Server = "host; touch " + dir.file("injected");
    ASSERT_TRUE(store.AddServer(NodePath(), r));
    std::string error;
    EXPECT_TRUE(LaunchExternalClient(store, NodePath({"s"}), false, &error)) << error;
    for (int i = 0; i < 100 && !FileExists(dir.file("args")); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(ReadFile(dir.file("args")), "/v:" + r.Server + ":3389\n");
    EXPECT_FALSE(FileExists(dir.file("injected")));

    // Refused rather than cut: a command line over 4095 characters.
    r.Name = "long";
    r.Server = std::string(4100, 'h');
    ASSERT_TRUE(store.AddServer(NodePath(), r));
    EXPECT_FALSE(LaunchExternalClient(store, NodePath({"long"}), false, &error));
    EXPECT_NE(error.find("4095"), std::string::npos);

    path.reset();
    path.emplace("PATH", dir.file("empty"));
    EXPECT_FALSE(LaunchExternalClient(store, NodePath({"s"}), false, &error));
    EXPECT_NE(error.find("xfreerdp3"), std::string::npos);
}

class FakeCredentialStore : public CredentialStore {
public:
    std::map<std::string, std::vector<Credential>> byFilter;
    std::vector<std::string> asked;
    std::optional<std::vector<Credential>> Enumerate(std::string_view filter) override {
        asked.emplace_back(filter);
        const auto it = byFilter.find(std::string(filter));
        if (it == byFilter.end()) return std::nullopt;
        return it->second;
    }
};

std::vector<std::uint8_t> Wide(const std::string& ascii) {
    std::vector<std::uint8_t> out;
    for (char c : ascii) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

class CredentialsTest : public ClientServicesTest {
protected:
    bool Lookup(const std::string& server) {
        return LookupStoredCredentials(keys, store, server, user, password, domain);
    }
    FakeCredentialStore store;
    std::string user = "u0", password = "p0", domain = "d0";
};

TEST_F(CredentialsTest, HintsSplitIntoUserAndDomain) {
    EXPECT_FALSE(Lookup("srv"));  // no hint: nothing changes, nothing is asked
    EXPECT_EQ(user + password + domain, "u0p0d0");
    EXPECT_TRUE(store.asked.empty());
    Reg("[HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client\\UsernameHint]\n"
        "\"srv\"=\"CORP\\\\jdoe\"\n\"Box\"=\"BOX\\\\admin\"\n\"mail\"=\"ann@example.org\"\n"
        "\"plain\"=\"bob\"\n",
        "");
    EXPECT_TRUE(Lookup("srv"));
    EXPECT_EQ(user, "jdoe");
    EXPECT_EQ(domain, "CORP");
    EXPECT_EQ(password, "p0");  // no saved credential
    EXPECT_EQ(store.asked, (std::vector<std::string>{"TERMSRV/srv", "srv"}));
    domain = "d0";
    EXPECT_TRUE(Lookup("Box"));  // the domain part is the server itself
    EXPECT_EQ(user, "admin");
    EXPECT_EQ(domain, "d0");
    EXPECT_TRUE(Lookup("mail"));
    EXPECT_EQ(user, "ann");
    EXPECT_EQ(domain, "example.org");
    domain = "d0";
    EXPECT_TRUE(Lookup("plain"));
    EXPECT_EQ(user, "bob");
    EXPECT_EQ(domain, "d0");
}

TEST_F(CredentialsTest, TheServersOwnKeyIsTheSecondPlaceForAHint) {
    Reg("[HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client\\Servers\\srv]\n"
        "\"UsernameHint\"=\"carol\"\n",
        "");
    EXPECT_TRUE(Lookup("srv"));
    EXPECT_EQ(user, "carol");
}

TEST_F(CredentialsTest, TheFirstMatchingGenericCredentialGivesThePassword) {
    Reg("[HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client\\UsernameHint]\n"
        "\"srv\"=\"CORP\\\\JDoe\"\n",
        "");
    std::vector<std::uint8_t> cut = Wide("abc");
    cut.insert(cut.end(), {0, 0, 'x', 0});
    store.byFilter["TERMSRV/srv"] = {
        {Credential::kGeneric, std::nullopt, Wide("no-user")},
        {2, std::string("CORP\\jdoe"), Wide("domain-type")},
        {Credential::kGeneric, std::string("other"), Wide("wrong-user")},
        {Credential::kGeneric, std::string("jdoe@corp.example"), cut},
        {Credential::kGeneric, std::string("CORP\\jdoe"), Wide("later")},
    };
    EXPECT_TRUE(Lookup("srv"));
    EXPECT_EQ(password, "abc");
    EXPECT_EQ(store.asked, std::vector<std::string>{"TERMSRV/srv"});
}

TEST_F(CredentialsTest, TheBareServerNameIsTheFallbackFilter) {
    Reg("[HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client\\UsernameHint]\n"
        "\"srv\"=\"jdoe\"\n",
        "");
    std::vector<std::uint8_t> euro = {0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE};  // "€😀"
    store.byFilter["srv"] = {{Credential::kGeneric, std::string("jdoe"), euro}};
    EXPECT_TRUE(Lookup("srv"));
    EXPECT_EQ(password, "\xE2\x82\xAC\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace vandrelle::test
