// SPDX-License-Identifier: GPL-3.0-or-later
// The services around the client: add-ins from the registry, the external
// client's command and launch, and saved log-on names and passwords.
#include "AddIns.h"
#include "ConfigStore.h"
#include "ExternalClient.h"
#include "FileUtil.h"
#include "RecordText.h"
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
#include <tuple>

namespace vandrelle::test {
namespace {

const std::string kClient = "Software\\Microsoft\\Terminal Server Client\\";

class ClientServicesTest : public ::testing::Test {
protected:
    ClientServicesTest() : keys(dir.file("user.reg"), dir.file("machine.reg")) {}

    void Reg(const std::string& user, const std::string& machine = "") {
        WriteFile(dir.file("user.reg"), "Windows Registry Editor Version 5.00\n\n" + user);
        WriteFile(dir.file("machine.reg"), "Windows Registry Editor Version 5.00\n\n" + machine);
    }
    // One add-in key holding `value` (as its Name unless told otherwise).
    static std::string AddIn(const std::string& hive, const std::string& key,
                             const std::string& value, const std::string& name = "Name") {
        return "[" + hive + "\\" + kClient + "Default\\AddIns\\" + key + "]\n\"" + name +
               "\"=" + value + "\n\n";
    }

    TempDir dir;
    RegFileKeyStore keys;
};

// The user's entries come first and hide the machine's of the same key; a
// value that is no readable string, or too long, is left out; an expandable
// one is taken as it is written.
TEST_F(ClientServicesTest, AddInsComeUserFirstAndOnlyFromSafeLibraries) {
    EXPECT_EQ(GetAddInList(keys), "");
    const std::string u = "HKEY_CURRENT_USER", m = "HKEY_LOCAL_MACHINE";
    Reg(AddIn(u, "A", "\"pa\"") + AddIn(u, "B", "hex(2):25,00,48,00,00,00") +
            AddIn(u, "C", "dword:00000001") + AddIn(u, "F", "\"" + std::string(260, 'x') + "\"") +
            AddIn(u, "G", "\"" + std::string(259, 'y') + "\"") + AddIn(u, "J", "\"x\"", "Other"),
        AddIn(m, "J", "\"pj\"") + AddIn(m, "K", "\"pk\""));
    EXPECT_EQ(GetAddInList(keys), "pa,%H," + std::string(259, 'y') + ",pk");

    // A library that another user could have written or replaced is not
    // loaded; an accepted one is loaded from where its links lead.
    MakeFolders(dir.file("open"));
    MakeFolders(dir.file("sticky"));
    const std::pair<const char*, mode_t> modes[] = {
        {"ok.so", 0755},         {"shared.so", 0664}, {"theirs.so", 0644}, {"open/lib.so", 0644},
        {"sticky/lib.so", 0644}, {"open", 0777},      {"sticky", 01777}};
    for (const auto& [name, mode] : modes) {
        if (!FileExists(dir.file(name))) WriteFile(dir.file(name), "");
        ::chmod(dir.file(name).c_str(), mode);
    }
    ::symlink(dir.file("ok.so").c_str(), dir.file("link.so").c_str());
    std::vector<std::pair<std::string, std::string>> cases = {
        // an empty reason: accepted
        {dir.file("ok.so"), ""},
        {dir.file("link.so"), ""},
        {dir.file("sticky/lib.so"), ""},
        {"ok.so", "not an absolute path"},
        {dir.file("shared.so"), "shared.so can be written by other users (mode 0664)"},
        {dir.file("open/lib.so"), "/open can be written by other users (mode 0777)"}};
    if (::chown(dir.file("theirs.so").c_str(), 4242, 4242) == 0)  // as root only
        cases.emplace_back(dir.file("theirs.so"), "theirs.so belongs to another user (uid 4242)");
    for (const auto& [path, refusal] : cases) {
        std::string library, why;
        EXPECT_EQ(ResolveSafeAddIn(path, &library, &why), refusal.empty()) << path;
        EXPECT_EQ(library, refusal.empty() ? std::filesystem::canonical(path).string() : "");
        EXPECT_TRUE(HasText(why, refusal));
    }
}

// Sizes are passed only when both are fixed; a host stays one argument. The
// log-on settings are not given. The launch starts the client detached with
// that argument list, and refuses a command line it would have to cut.
TEST_F(ClientServicesTest, ExternalCommandFollowsTheRecordAndLaunchesDetached) {
    // The record, whether shift is held, and the arguments.
    const std::tuple<std::string, bool, std::string> cases[] = {
        {"DesktopWidth=1024 DesktopHeight=768", false, "/v:host:3390 /w:1024 /h:768"},
        {"DesktopWidth=1280", false, "/v:host:3390"},
        {"DesktopWidth=800 DesktopHeight=600 ConnectToServerConsole=1 FullScreen=1", false,
         "/v:host:3390 /w:800 /h:600 /admin /console /f"},
        {"DesktopWidth=800 DesktopHeight=600", true, "/v:host:3390 /w:800 /h:600 /f"},
        {"Server=::1", false, "/v:[::1]:3390"}};
    for (const auto& [record, shift, arguments] : cases) {
        Properties r =
            RecordFrom("Server=host RDPPort=3390 UserName=secret Password=secret " + record);
        std::string joined;
        for (const auto& a : BuildExternalCommand(r, shift, "x").arguments) joined += a + " ";
        EXPECT_EQ(joined, arguments + " ") << record;
        r.Server = "host /p:x";
        EXPECT_EQ(BuildExternalCommand(r, false, "x").arguments[0], "/v:host /p:x:3390");
    }

    // A stand-in client on a PATH of our own writes its arguments to a file.
    const std::string bin = dir.file("bin");
    MakeFolders(bin);
    WriteFile(bin + "/xfreerdp3",
              "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                  dir.file("args.tmp") + "\"\nmv \"" + dir.file("args.tmp") + "\" \"" +
                  dir.file("args") + "\"\n");
    ::chmod((bin + "/xfreerdp3").c_str(), 0755);
    ScopedEnv path("PATH", bin + ":/usr/bin:/bin");

    CConfigStore store(keys);
    store.Init();
    store.SetConfigPath(dir.file("Vandrelle.xml"));
    Properties r = RecordFrom("Name=s");
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
    ASSERT_TRUE(
        store.AddServer(NodePath(), RecordFrom("Name=long Server=" + std::string(4100, 'h'))));
    EXPECT_FALSE(LaunchExternalClient(store, NodePath({"long"}), false, &error));
}

std::vector<std::uint8_t> Wide(const std::string& ascii) {
    std::vector<std::uint8_t> out;
    for (char c : ascii) out.insert(out.end(), {static_cast<std::uint8_t>(c), 0});
    return out;
}

// The fixture is the system's credential store as well: what it holds, by
// filter, and what it was asked.
class CredentialsTest : public ClientServicesTest, public CredentialStore {
protected:
    bool Lookup(const std::string& server) {
        return LookupStoredCredentials(keys, *this, server, user, password, domain);
    }
    std::optional<std::vector<Credential>> Enumerate(std::string_view filter) override {
        asked.emplace_back(filter);
        const auto it = byFilter.find(std::string(filter));
        return it == byFilter.end() ? std::nullopt : std::optional(it->second);
    }
    std::map<std::string, std::vector<Credential>> byFilter;
    std::vector<std::string> asked;
    std::string user = "u0", password = "p0", domain = "d0";
};

// A hint is looked for in the list of hints, then in the server's own key.
// The first generic credential of the hinted user, in any case, gives the
// password, from TERMSRV/<server> or else the bare server name.
TEST_F(CredentialsTest, HintsGiveTheUserAndTheFirstMatchingCredentialThePassword) {
    EXPECT_FALSE(Lookup("srv"));  // no hint: nothing changes, nothing is asked
    EXPECT_EQ(user + password + domain, "u0p0d0");
    EXPECT_TRUE(asked.empty());
    Reg("[HKEY_CURRENT_USER\\" + kClient +
        "UsernameHint]\n\"srv\"=\"CORP\\\\JDoe\"\n\"Box\"=\"BOX\\\\admin\"\n"
        "\"mail\"=\"ann@example.org\"\n\n[HKEY_CURRENT_USER\\" +
        kClient + "Servers\\own]\n\"UsernameHint\"=\"carol\"\n");
    const char* cases[][3] = {{"srv", "JDoe", "CORP"},
                              {"Box", "admin", "d0"},  // the domain part is the server itself
                              {"mail", "ann", "example.org"},
                              {"own", "carol", "d0"}};
    for (const auto& c : cases) {
        domain = "d0";
        EXPECT_TRUE(Lookup(c[0]));
        EXPECT_EQ(user + "|" + domain, std::string(c[1]) + "|" + c[2]);
    }
    EXPECT_EQ(password, "p0");  // no saved credential
    EXPECT_EQ(asked[0] + "," + asked[1], "TERMSRV/srv,srv");

    std::vector<std::uint8_t> cut = Wide("abc");
    cut.insert(cut.end(), {0, 0, 'x', 0});
    byFilter["TERMSRV/srv"] = {{Credential::kGeneric, std::nullopt, Wide("no-user")},
                               {2, std::string("CORP\\jdoe"), Wide("domain-type")},
                               {Credential::kGeneric, std::string("other"), Wide("wrong-user")},
                               {Credential::kGeneric, std::string("jdoe@corp.example"), cut},
                               {Credential::kGeneric, std::string("CORP\\jdoe"), Wide("later")}};
    asked.clear();
    EXPECT_TRUE(Lookup("srv"));
    EXPECT_EQ(password, "abc");
    EXPECT_EQ(asked, std::vector<std::string>{"TERMSRV/srv"});
    std::vector<std::uint8_t> euro = {0xAC, 0x20, 0x00, 0xD8, 0x00, 0xDC};  // "€" U+10000
    byFilter["own"] = {{Credential::kGeneric, std::string("carol"), euro}};
    EXPECT_TRUE(Lookup("own"));
    EXPECT_EQ(password, "\xE2\x82\xAC\xF0\x90\x80\x80");
}

}  // namespace
}  // namespace vandrelle::test
