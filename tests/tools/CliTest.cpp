// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliFixture.h"
#include "CliText.h"
#include "ConfigStore.h"
#include "KeyStore.h"
#include "Version.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ostream>
#include <streambuf>
#include <string_view>
#include <utility>

namespace vandrelle::test {
namespace {

class CliTest : public CliFixture {
protected:
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
};

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

// The tree shows groups with a slash, indented by depth.
TEST_F(CliTest, TreeShowsWhatSetMoveAndDeleteDid) {
    Build();
    EXPECT_EQ(Run({"tree"}).out, "Web/\n  A/\n    db1\nLab\n");
    ASSERT_EQ(Run({"set", "Web", "A", "db1", "--set", "Description=moved"}).code, 0);
    ASSERT_EQ(Run({"move", "Web", "A", "db1", "--to"}).code, 0);
    EXPECT_EQ(Run({"tree"}).out, "Web/\n  A/\nLab\ndb1\n");
    ASSERT_EQ(Run({"delete", "Web"}).code, 0);
    EXPECT_EQ(Run({"tree"}).out, "Lab\ndb1\n");
    // Moved to the top, it no longer inherits from Web.
    EXPECT_NE(Run({"show", "db1"}).out.find("UserName=\n"), std::string::npos);
    EXPECT_NE(Run({"show", "db1"}).out.find("Description=moved\n"), std::string::npos);
}

// Every refusal names its reason on the error stream and leaves the file as
// it was: unknown nodes (1); bad fields and values, log-on fields while the
// node inherits, ports outside the range (with the properties page's
// message) and fields a group does not keep (2); an unreadable file (3).
TEST_F(CliTest, RefusalsGiveTheirCodesAndReasonsAndLeaveTheFileUntouched) {
    Build();
    const std::string before = ReadFile(file);
    struct Refusal {
        int code;
        std::vector<std::string> args;
        std::string reason;
    };
    const std::string inherits = "add --set InheritGeneral=0";
    const std::string port = "vandrelle-cli: Port must between 1 and 65535, default is 3389.\n";
    const std::string group = "is not stored for a group";
    const Refusal refusals[] = {
        {1, {"show", "Nope"}, "no node Nope"},
        {1, {"show", "Nope", "db1"}, ""},
        {1, {"set", "Web", "Nope", "--set", "Name=x"}, ""},
        {1, {"move", "Lab", "--to", "Nope"}, ""},
        {1, {"delete", "Web", "Nope"}, ""},
        {2, {"set", "Lab", "--set", "Colour=1"}, ""},
        {2, {"set", "Lab", "--set", "ColorDepth=deep"}, ""},
        {2, {"set", "Lab", "--set", "NoEquals"}, ""},
        {2,
         {"add-server", "--set", "Server=no-name"},
         "give the new server's name: --set Name=NAME;"},
        {2,
         {"add-group", "Web", "Lab"},
         "give the new group's name: --set Name=Lab; the names before it are the parent's path"},
        {2, {"add-server", "Web", "--set", "Password=-"}, "--set Name=NAME;"},
        {2, {"move", "Web", "--to", "Web", "A"}, ""},
        {2, {"delete"}, ""},
        {2, {"tree", "--json"}, ""},
        {2, {"set", "Web", "A", "db1", "--set", "Password=x"}, inherits},
        {2, {"set", "Web", "A", "db1", "--set", "UserName=x"}, inherits},
        {2, {"set", "Web", "A", "db1", "--set", "Domain=x"}, inherits},
        {2, {"set", "Web", "A", "db1", "--set", "RDPPort=3391"}, inherits},
        {2, {"add-server", "--set", "Name=n", "--set", "Password=x"}, inherits},
        // A group that starts to inherit in the same command.
        {2, {"set", "Web", "--set", "InheritGeneral=1", "--set", "Domain=D"}, inherits},
        {2, {"set", "Web", "--set", "RDPPort=0"}, port},
        {2, {"set", "Web", "--set", "RDPPort=65536"}, port},
        {2, {"set", "Web", "--set", "RDPPort=-3389"}, port},
        {2,
         {"add-server", "--set", "Name=n", "--set", "InheritGeneral=0", "--set", "RDPPort=70000"},
         port},
        {2, {"set", "Web", "--set", "Server=h"}, group},
        {2, {"set", "Web", "--set", "ColorDepth=32"}, group},
        {2, {"set", "Web", "--set", "DriveCollection=C:"}, group},
        {2, {"add-group", "--set", "Name=G", "--set", "FullScreen=1"}, group},
        {2, {"set", "Lab", "--set", "GroupCollapsed=1"}, "is not stored for a server"},
    };
    for (const Refusal& refusal : refusals) {
        const Result r = Run(refusal.args);
        EXPECT_EQ(r.code, refusal.code) << refusal.args[0] << " " << refusal.args.back();
        EXPECT_NE(r.err.find(refusal.reason), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(ReadFile(file), before);

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
            const std::string why =
                path == dir.file("big.xml") ? "larger than" : "not a regular file";
            EXPECT_EQ(r.err.find("vandrelle-cli: cannot read " + path + ": " + why), 0u) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
    EXPECT_TRUE(S_ISFIFO(StatOf(dir.file("fifo"), false).st_mode));
    EXPECT_EQ(static_cast<std::size_t>(StatOf(dir.file("big.xml")).st_size), kMaxReadBytes + 1);
    EXPECT_FALSE(FileExists(dir.file("big.xml.unreadable")));
}

// A file nested so deeply that printing it recursively would overflow the
// stack is refused at load (the limit itself: the configuration's tests).
TEST_F(CliTest, DeeplyNestedFilesAreRefusedWithoutCrashing) {
    constexpr int kDeep = 100000;
    std::string groups = "<Vandrelle><Servers>";
    for (int i = 0; i < kDeep; ++i) groups += "<Group><Properties><Name>g</Name></Properties>";
    for (int i = 0; i < kDeep; ++i) groups += "</Group>";
    WriteFile(file, groups + "</Servers></Vandrelle>");
    const Result r = Run({"tree"});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("line 1, column "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nested deeper"), std::string::npos) << r.err;
}

// Log-on fields are taken together with stopping to inherit (in any order),
// and as they are by a node with log-on settings of its own; ports take the
// whole range (the refusals: above).
TEST_F(CliTest, LogonFieldsAndPortsAreStoredWhereTheNodeKeepsThem) {
    Build();
    ASSERT_EQ(
        Run({"set", "Web", "A", "db1", "--set", "Password=own", "--set", "InheritGeneral=0"}).code,
        0);
    const std::string shown = Run({"show", "--show-password", "Web", "A", "db1"}).out;
    EXPECT_NE(shown.find("\nPassword=own\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\nInheritGeneral=0\n"), std::string::npos) << shown;
    ASSERT_EQ(Run({"set", "Web", "--set", "UserName=v"}).code, 0);
    EXPECT_NE(Run({"show", "Web"}).out.find("\nUserName=v\n"), std::string::npos);
    EXPECT_EQ(Run({"set", "Web", "--set", "RDPPort=1"}).code, 0);
    EXPECT_EQ(Run({"set", "Web", "--set", "RDPPort=65535"}).code, 0);
    EXPECT_NE(Run({"show", "Web"}).out.find("\nRDPPort=65535\n"), std::string::npos);
}

TEST_F(CliTest, TheCollapseStateIsKeptUnlessTheCommandSetsIt) {
    Build();
    auto collapsed = [&](std::vector<std::string> names) {
        names.insert(names.begin(), "show");
        const std::string shown = Run(names).out;
        return shown.find("\nGroupCollapsed=1\n") != std::string::npos;
    };
    ASSERT_EQ(Run({"set", "Web", "--set", "GroupCollapsed=1"}).code, 0);
    EXPECT_NE(ReadFile(file).find("<GroupCollapsed>1</GroupCollapsed>"), std::string::npos);
    EXPECT_TRUE(collapsed({"Web"}));
    ASSERT_EQ(Run({"set", "Web", "--set", "Description=still collapsed"}).code, 0);
    EXPECT_TRUE(collapsed({"Web"}));
    EXPECT_NE(Run({"show", "Web"}).out.find("Description=still collapsed"), std::string::npos);
    ASSERT_EQ(Run({"set", "Web", "--set", "GroupCollapsed=0", "--set", "Description=open"}).code,
              0);
    EXPECT_FALSE(collapsed({"Web"}));
    EXPECT_NE(Run({"show", "Web"}).out.find("Description=open"), std::string::npos);
    // The top of the tree and a new group take it as well.
    ASSERT_EQ(Run({"set", "--set", "GroupCollapsed=1"}).code, 0);
    EXPECT_TRUE(collapsed({}));
    ASSERT_EQ(Run({"add-group", "--set", "Name=Shut", "--set", "GroupCollapsed=1"}).code, 0);
    EXPECT_TRUE(collapsed({"Shut"}));
    EXPECT_FALSE(collapsed({"Web", "A"}));
}

TEST(CliTextTest, ControlCharactersAndStrayBytesPrintEscaped) {
    // Backslash, line breaks, ESC, DEL, the one-byte CSI's two-byte form, a
    // stray byte, then printable text that stays as it is.
    const std::string text =
        "a\\b\n\r\t\x1b[31m\x7f\xc2\x9b\xff \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
    EXPECT_EQ(EscapedText(text),
              "a\\\\b\\n\\r\\t\\x1b[31m\\x7f\\xc2\\x9b\\xff \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_EQ(EscapedText(std::string("\0x", 2)), "\\x00x");
    EXPECT_EQ(JsonString(text),
              "\"a\\\\b\\n\\r\\t\\u001b[31m\\u007f\\u009b\\ufffd "
              "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"");
    EXPECT_EQ(JsonString("say \"hi\"\xe2\x82"), "\"say \\\"hi\\\"\\ufffd\\ufffd\"");
    // A right-to-left override would show "abc<RLO>fdp.exe" as "abcexe.pdf".
    EXPECT_EQ(EscapedText("abc\xe2\x80\xae"
                          "fdp.exe"),
              "abc\\xe2\\x80\\xaefdp.exe");
    EXPECT_EQ(JsonString("\xe2\x81\xa6x"), "\"\\u2066x\"");
}

TEST_F(CliTest, NamesAndTextsCannotFakeLinesOrTerminalCodes) {
    ASSERT_EQ(Run({"add-server", "--set", "Name=evil\nLab", "--set", "Server=h\ny", "--set",
                   "Description=two\r\nlines"})
                  .code,
              0);
    ASSERT_EQ(Run({"add-group", "--set", "Name=back\\slash"}).code, 0);
    EXPECT_EQ(Run({"tree"}).out, "evil\\nLab\nback\\\\slash/\n");
    const std::string shown = Run({"show", "evil\nLab"}).out;
    EXPECT_EQ(shown.substr(0, shown.find("UserName=")), "Name=evil\\nLab\nServer=h\\ny\n");
    EXPECT_NE(shown.find("\nDescription=two\\r\\nlines\n"), std::string::npos);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 24);
    const std::string command = Run({"external-command", "evil\nLab"}).out;
    EXPECT_EQ(command.substr(command.find('\n') + 1), "/v:h\\ny:3389\n");

    const Result missing = Run({"show", "no\x1b]0;owned\x07\nnode"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "vandrelle-cli: no node no\\x1b]0;owned\\x07\\nnode\n");

    // A hand-edited file with a character reference and a byte that is no UTF-8.
    WriteFile(file,
              "<Vandrelle><Servers><Server><Name>x&#1;\xff</Name></Server></Servers>"
              "</Vandrelle>");
    EXPECT_EQ(Run({"tree"}).out, "x\\x01\\xff\n");
    const std::string json = Run({"show", "--json", "x\x01\xff"}).out;
    EXPECT_EQ(json.rfind("{\"Name\": \"x\\u0001\\ufffd\", ", 0), 0u) << json;
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
    EXPECT_NE(errors.text().find("warning: skipped: cannot read "), std::string::npos)
        << errors.text();
    EXPECT_NE(errors.text().find("vandrelle-cli: warning: " + config +
                                 " had changed since it was read; that version is kept as " +
                                 config + ".changed\n"),
              std::string::npos)
        << errors.text();
    EXPECT_EQ(ReadFile(config + ".changed"), theirs);
    EXPECT_EQ(Run({"tree"}, false).out, "Mine/\n");
}

// --set Password=- reads the password from standard input, out of the
// command line: one line, or on a terminal asked and typed without echo.
// Nothing read is refused; a refused command reads nothing.
TEST_F(CliTest, APasswordIsReadFromStandardInputWithoutEcho) {
    Build();
    const auto runWith = [&](int input, std::vector<std::string> args) {
        env.input = input;
        return Run(std::move(args));
    };
    int fds[2];
    for (const std::string given : {"", "\n", "\r\n"}) {
        ASSERT_EQ(::pipe(fds), 0);
        ASSERT_EQ(::write(fds[1], given.data(), given.size()), ssize_t(given.size()));
        ::close(fds[1]);
        const Result r = runWith(fds[0], {"set", "Web", "--set", "Password=-"});
        ::close(fds[0]);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("no password read"), std::string::npos) << r.err;
    }
    EXPECT_NE(Run({"show", "--show-password", "Web"}).out.find("Password=pw\n"), std::string::npos);

    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "s3 cret\r\nnext\n", 14), 14);
    EXPECT_EQ(runWith(fds[0], {"add-server", "--set", "Name=m", "--set", "Password=-"}).code, 2);
    EXPECT_EQ(runWith(fds[0], {"add-server", "--set", "Name=n", "--set", "InheritGeneral=0",
                               "--set", "Password=-"})
                  .code,
              0);
    char rest[8] = {};
    EXPECT_EQ(::read(fds[0], rest, sizeof rest), 5);  // only the password's line was read
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_NE(Run({"show", "--show-password", "n"}).out.find("Password=s3 cret\n"),
              std::string::npos);

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
    env.input = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    // Typed once asked: the echo is off by then.
    HookedBuffer asked([&] { ASSERT_EQ(::write(master, "typed\n", 6), 6); });
    std::ostream err(&asked);
    std::ostringstream out;
    EXPECT_EQ(RunCli({"--config", file, "set", "Web", "--set", "Password=-"}, env, out, err), 0);
    EXPECT_EQ(asked.text(), "Password: ");
    pollfd echo{master, POLLIN, 0};
    char echoed[16] = {};
    ASSERT_EQ(::poll(&echo, 1, 5000), 1);
    const ssize_t got = ::read(master, echoed, sizeof echoed);
    EXPECT_EQ(std::string_view(echoed, std::size_t(std::max<ssize_t>(got, 0))), "\r\n");
    ::close(env.input);
    ::close(master);
    EXPECT_NE(Run({"show", "--show-password", "Web"}).out.find("Password=typed\n"),
              std::string::npos);
}

// On a first run, and with a key store pasted from Windows (the program's key
// without "key"), the key is made and stored before anything is enciphered.
TEST_F(CliTest, PasswordsEncodeWithThisInstallationsStoredKey) {
    for (const bool pasted : {false, true}) {
        if (pasted) {
            WriteKeys("[HKEY_CURRENT_USER\\Software\\Vandrelle]\n\"Maximized\"=dword:00000001\n");
        }
        const Result enc = Run({"encode-password", "s3cret"}, false);
        ASSERT_EQ(enc.code, 0) << enc.err;
        const auto stored = keys.OpenKey(Hive::CurrentUser, kProgramKey)->ReadBinary("key");
        ASSERT_TRUE(stored && stored->size() == 16) << pasted;
        PasswordKey key;
        std::copy(stored->begin(), stored->end(), key.begin());
        EXPECT_NE(key, PasswordKey{});
        EXPECT_EQ(enc.out, EncodePassword("s3cret", key) + "\n");
        const Result dec = Run({"decode-password", enc.out.substr(0, enc.out.size() - 1)}, false);
        EXPECT_EQ(dec.out, "s3cret\n");
    }
    EXPECT_EQ(Run({"encode-password"}, false).code, 2);
    CConfigStore store(keys);  // a decoded password prints escaped
    store.Init();
    EXPECT_EQ(Run({"decode-password", EncodePassword("\x1b[2J\\", store.Key())}, false).out,
              "\\x1b[2J\\\\\n");
}

TEST_F(CliTest, WithoutAStoredPasswordKeyEveryCommandEndsWithCode3AndOneLine) {
    Build();
    const std::string config = ReadFile(file);
    const std::vector<std::vector<std::string>> commands = {
        {"tree"},
        {"show", "Lab"},
        {"set", "Lab", "--set", "Password=new"},
        {"add-server", "--set", "Name=n", "--set", "Password=p"},
        {"delete", "Lab"},
        {"encode-password", "x"},
        {"decode-password", "AAAA"},
        {"addins"},
    };
    auto expectRefused = [&](const std::string& reason) {
        for (const auto& args : commands) {
            const Result r = Run(args);
            EXPECT_EQ(r.code, 3) << args[0];
            EXPECT_EQ(r.out, "") << args[0];
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
        }
        EXPECT_EQ(ReadFile(file), config);
    };
    const std::string notRegistry = "; mine\nnot a registry file\n";
    WriteFile(dir.file("registry.reg"), notRegistry);
    expectRefused(dir.file("registry.reg") + " is not a registry file");
    EXPECT_EQ(ReadFile(dir.file("registry.reg")), notRegistry);

    std::filesystem::remove(dir.file("registry.reg"));
    std::filesystem::create_directories(dir.file("registry.reg"));
    expectRefused("cannot read the password key: ");
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

// Help and the version need neither the key store nor a file, so any user
// can ask, and asking changes nothing.
TEST_F(CliTest, HelpAndVersionTouchNothing) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"--config", "x.xml", "--help"}, {"set", "Web", "--help"}}) {
        const Result r = Run(args, false);
        EXPECT_EQ(r.code, 0) << args[0];
        EXPECT_TRUE(r.out.starts_with("usage: vandrelle-cli")) << r.out;
        EXPECT_EQ(r.err, "");
        for (const char* command :
             {"tree", "show", "add-group", "add-server", "set", "move", "delete",
              "external-command", "addins", "encode-password", "decode-password"}) {
            EXPECT_NE(r.out.find(std::string("\n  ") + command + " "), std::string::npos)
                << command;
        }
    }
    const Result version = Run({"--version"}, false);
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, std::string("vandrelle-cli ") + kVersion + "\n");
    EXPECT_FALSE(FileExists(dir.file("registry.reg")));
    EXPECT_FALSE(FileExists(dir.file("prog/Vandrelle.xml")));
}

// A command line the companion does not understand gets one line that says
// what is wrong and where the help is, and reads no file: an unreadable file
// does not hide the mistake.
TEST_F(CliTest, UsageErrorsAreOneLinePointingToTheHelp) {
    WriteFile(file, "<broken>");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"frobnicate"}, {}, {"--frob", "tree"}, {"show", "--frob"}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("(see vandrelle-cli --help)\n"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadFile(file), "<broken>");
}

}  // namespace
}  // namespace vandrelle::test
