// SPDX-License-Identifier: GPL-3.0-or-later
#include "Cli.h"

#include "ConfigStore.h"
#include "FileUtil.h"
#include "KeyStore.h"
#include "RegFileKeyStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string_view>
#include <utility>

namespace vandrelle::test {
namespace {

class CliTest : public ::testing::Test {
protected:
    CliTest() : keys(dir.file("registry.reg"), dir.file("machine.reg")) {
        MakeFolders(dir.file("prog"));
        env = {dir.file("prog"), dir.file("xdg"), &keys};
    }

    struct Result {
        int code;
        std::string out;
        std::string err;
    };

    // Runs with --config on the folder's file unless the arguments name another.
    Result Run(std::vector<std::string> args, bool withConfig = true) {
        if (withConfig) args.insert(args.begin(), {"--config", file});
        std::ostringstream out, err;
        const int code = RunCli(args, env, out, err);
        return {code, out.str(), err.str()};
    }

    void Build() {
        ASSERT_EQ(Run({"add-group", "--set", "Name=Web", "--set", "InheritGeneral=0", "--set",
                       "UserName=u", "--set", "Password=pw", "--set", "RDPPort=3390"})
                      .code,
                  0);
        ASSERT_EQ(Run({"add-group", "Web", "--set", "Name=A"}).code, 0);
        ASSERT_EQ(Run({"add-server", "Web", "A", "--set", "Name=db1", "--set", "Server=h1"}).code,
                  0);
        ASSERT_EQ(Run({"add-server", "--set", "Name=Lab", "--set", "DesktopWidth=-20"}).code, 0);
    }

    TempDir dir;
    RegFileKeyStore keys;
    CliEnvironment env;
    std::string file = dir.file("conn.xml");
};

TEST_F(CliTest, TreeShowsGroupsWithSlashesIndentedByDepth) {
    Build();
    const Result r = Run({"tree"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "Web/\n  A/\n    db1\nLab\n");
}

TEST_F(CliTest, ShowPrintsTheEffectiveRecordInFieldOrder) {
    Build();
    Result r = Run({"show", "Web", "A", "db1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("Description=")),
              "Name=db1\nServer=h1\nUserName=u\nPassword=***\nDomain=\n");
    EXPECT_NE(r.out.find("\nRDPPort=3390\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nInheritGeneral=1\n"), std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 24);

    r = Run({"show", "--json", "--show-password", "Lab"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"Name\": \"Lab\", \"Server\": \"\", \"UserName\": \"\", "
                          "\"Password\": \"\", ",
                          0),
              0u);
    EXPECT_NE(r.out.find("\"DesktopWidth\": -20, "), std::string::npos);
    EXPECT_NE(r.out.find("\"GroupCollapsed\": 0}\n"), std::string::npos);
    EXPECT_NE(Run({"show", "--show-password", "Web"}).out.find("Password=pw\n"), std::string::npos);
    EXPECT_NE(Run({"show"}).out.find("InheritGeneral=1\n"), std::string::npos);  // the top
}

TEST_F(CliTest, SetMoveAndDeleteReachTheFile) {
    Build();
    ASSERT_EQ(Run({"set", "Web", "A", "db1", "--set", "Description=moved"}).code, 0);
    ASSERT_EQ(Run({"move", "Web", "A", "db1", "--to"}).code, 0);
    EXPECT_EQ(Run({"tree"}).out, "Web/\n  A/\nLab\ndb1\n");
    ASSERT_EQ(Run({"delete", "Web"}).code, 0);
    EXPECT_EQ(Run({"tree"}).out, "Lab\ndb1\n");
    // Moved to the top, it no longer inherits from Web.
    EXPECT_NE(Run({"show", "db1"}).out.find("UserName=\n"), std::string::npos);
    EXPECT_NE(Run({"show", "db1"}).out.find("Description=moved\n"), std::string::npos);
}

TEST_F(CliTest, ErrorsGiveTheirCodesAndLeaveTheFileUntouched) {
    Build();
    std::string before;
    ASSERT_TRUE(ReadWholeFile(file, &before, nullptr));
    auto expectCode = [&](int code, std::vector<std::string> args) {
        const Result r = Run(args);
        EXPECT_EQ(r.code, code) << args[0];
        EXPECT_FALSE(r.err.empty());
        std::string after;
        ASSERT_TRUE(ReadWholeFile(file, &after, nullptr));
        EXPECT_EQ(after, before) << args[0];
    };
    expectCode(1, {"show", "Nope"});
    expectCode(1, {"show", "Nope", "db1"});
    expectCode(1, {"set", "Web", "Nope", "--set", "Name=x"});
    expectCode(1, {"move", "Lab", "--to", "Nope"});
    expectCode(1, {"delete", "Web", "Nope"});
    expectCode(2, {"set", "Lab", "--set", "Colour=1"});
    expectCode(2, {"set", "Lab", "--set", "ColorDepth=deep"});
    expectCode(2, {"set", "Lab", "--set", "NoEquals"});
    expectCode(2, {"add-server", "--set", "Server=no-name"});
    expectCode(2, {"move", "Web", "--to", "Web", "A"});
    expectCode(2, {"delete"});
    expectCode(2, {"frobnicate"});
    expectCode(2, {"tree", "--json"});

    WriteFile(file, "<broken>");
    const Result r = Run({"tree"});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("line 1"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(Run({"add-group", "--set", "Name=G"}).code, 3);
    EXPECT_EQ(ReadFile(file), "<broken>");
}

// Neither a FIFO nor a device is waited on or read to its end, and a file
// beyond the size limit is not loaded; none of them is changed.
TEST_F(CliTest, WhatIsNotARegularFileOrIsTooLargeIsRefused) {
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    WriteFile(dir.file("big.xml"), "");
    ASSERT_EQ(::truncate(dir.file("big.xml").c_str(), static_cast<off_t>(kMaxReadBytes + 1)), 0);
    for (const std::string& path :
         {dir.file("fifo"), std::string("/dev/zero"), dir.file("big.xml")}) {
        for (const char* command : {"tree", "add-group"}) {
            std::vector<std::string> args{"--config", path, command};
            if (std::string_view(command) == "add-group")
                args.insert(args.end(), {"--set", "Name=G"});
            const Result r = Run(args, false);
            EXPECT_EQ(r.code, 3) << path << " " << command;
            EXPECT_NE(
                r.err.find(path == dir.file("big.xml") ? "larger than" : "not a regular file"),
                std::string::npos)
                << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::stat(dir.file("big.xml").c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::size_t>(st.st_size), kMaxReadBytes + 1);
    EXPECT_FALSE(FileExists(dir.file("big.xml.unreadable")));
}

// Files nested so deeply that printing or reading them recursively would
// overflow the stack are refused at load, with their place in the file.
TEST_F(CliTest, DeeplyNestedFilesAreRefusedWithoutCrashing) {
    constexpr int kDeep = 100000;
    std::string groups = "<Vandrelle><Servers>";
    for (int i = 0; i < kDeep; ++i) groups += "<Group><Properties><Name>g</Name></Properties>";
    for (int i = 0; i < kDeep; ++i) groups += "</Group>";
    WriteFile(file, groups + "</Servers></Vandrelle>");
    Result r = Run({"tree"});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("line 1, column "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nested deeper"), std::string::npos) << r.err;

    std::string name = "<V><Servers><Server><Name>";
    for (int i = 0; i < kDeep * 10; ++i) name += "<x>";
    for (int i = 0; i < kDeep * 10; ++i) name += "</x>";
    WriteFile(file, name + "</Name></Server></Servers></V>");
    r = Run({"show", "--json"});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("nested deeper"), std::string::npos) << r.err;
}

TEST_F(CliTest, WithoutConfigTheFileIsFoundAsTheProgramFindsIt) {
    EXPECT_EQ(Run({"add-group", "--set", "Name=G"}, false).code, 0);
    EXPECT_TRUE(FileExists(dir.file("prog/Vandrelle.xml")));
    EXPECT_EQ(Run({"tree"}, false).out, "G/\n");
}

// An error stream that runs an action when the first character reaches it.
class HookedBuffer : public std::streambuf {
public:
    explicit HookedBuffer(std::function<void()> onFirst) : m_onFirst(std::move(onFirst)) {}
    const std::string& text() const { return m_text; }

protected:
    int overflow(int c) override {
        if (auto action = std::exchange(m_onFirst, nullptr)) action();
        if (c != traits_type::eof()) m_text += static_cast<char>(c);
        return traits_type::not_eof(c);
    }

private:
    std::function<void()> m_onFirst;
    std::string m_text;
};

// The file is edited by someone else while a command runs: the command's save
// keeps that version beside the file and warns. The edit is made when the
// warning about an unreadable candidate is printed, which happens after the
// file was read and before the command changes it.
TEST_F(CliTest, AFileChangedWhileACommandRunsIsKeptWithAWarning) {
    MakeFolders(dir.file("bin"));
    MakeFolders(dir.file("xdg"));
    WriteFile(dir.file("bin/Vandrelle.xml"), "<broken>");
    const std::string config = dir.file("xdg/Vandrelle.xml");
    WriteFile(config, "<Vandrelle><Servers/></Vandrelle>");
    const std::string theirs =
        "<Vandrelle><Servers><Server><Name>Theirs</Name></Server></Servers></Vandrelle>";
    HookedBuffer errors([&] { WriteFile(config, theirs); });
    std::ostream err(&errors);
    std::ostringstream out;
    ASSERT_EQ(RunCli({"add-group", "--set", "Name=Mine"}, env, out, err), 0) << errors.text();
    EXPECT_NE(errors.text().find("skipped unreadable"), std::string::npos);
    EXPECT_NE(errors.text().find("vandrelle-cli: warning: " + config +
                                 " had changed since it was read; that version is kept as " +
                                 config + ".changed\n"),
              std::string::npos)
        << errors.text();
    EXPECT_EQ(ReadFile(config + ".changed"), theirs);
    EXPECT_EQ(Run({"tree"}, false).out, "Mine/\n");
}

TEST_F(CliTest, PasswordsEncodeWithThisInstallationsKey) {
    const Result enc = Run({"encode-password", "s3cret"}, false);
    ASSERT_EQ(enc.code, 0);
    CConfigStore store(keys);
    store.Init();
    EXPECT_EQ(enc.out, EncodePassword("s3cret", store.Key()) + "\n");
    const Result dec = Run({"decode-password", enc.out.substr(0, enc.out.size() - 1)}, false);
    EXPECT_EQ(dec.out, "s3cret\n");
    EXPECT_EQ(Run({"encode-password"}, false).code, 2);
}

TEST_F(CliTest, ExternalCommandPrintsWhatConnectWithTheClientWouldStart) {
    Build();
    ASSERT_EQ(Run({"set", "Web", "A", "db1", "--set", "DesktopWidth=1024", "--set",
                   "DesktopHeight=768", "--set", "ConnectToServerConsole=1"})
                  .code,
              0);
    const Result r = Run({"external-command", "Web", "A", "db1"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string args = r.out.substr(r.out.find('\n') + 1);
    EXPECT_EQ(args, "/v:h1:3390\n/w:1024\n/h:768\n/admin\n/console\n");
    EXPECT_NE(r.out.substr(0, r.out.find('\n')).find("freerdp"), std::string::npos);
    EXPECT_EQ(Run({"external-command", "Web"}).code, 2);
    EXPECT_EQ(Run({"external-command", "Nope"}).code, 1);
}

TEST_F(CliTest, AddinsPrintsTheList) {
    keys.CreateKey(Hive::CurrentUser,
                   "Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\x")
        ->WriteString("Name", "/usr/lib/x.so");
    const Result r = Run({"addins"}, false);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "/usr/lib/x.so\n");
}

}  // namespace
}  // namespace vandrelle::test
