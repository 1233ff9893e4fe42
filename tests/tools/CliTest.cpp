// SPDX-License-Identifier: GPL-3.0-or-later
#include "Cli.h"
#include "CliText.h"
#include "ConfigStore.h"
#include "FileUtil.h"
#include "KeyStore.h"
#include "RegFileKeyStore.h"
#include "StoredCredentials.h"
#include "TempDir.h"
#include "Version.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

namespace vandrelle::test {
namespace {

using Args = std::vector<std::string>;
const std::string kClient = "HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client";

::testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
}

// A saved password for the user "bob" of h2, as the system's store keeps it.
class SavedPassword : public CredentialStore {
public:
    std::optional<std::vector<Credential>> Enumerate(std::string_view filter) override {
        if (filter != "TERMSRV/h2") return std::nullopt;
        return std::vector<Credential>{{Credential::kGeneric, "CORP\\bob", {'p', 0, 'w', 0}}};
    }
};

// The read end of a pipe that holds `text`, its write end closed.
int Piped(std::string_view text) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    EXPECT_EQ(::write(fds[1], text.data(), text.size()), ssize_t(text.size()));
    ::close(fds[1]);
    return fds[0];
}

// An error stream that runs an action when the first character reaches it.
class HookedBuffer : public std::streambuf {
public:
    explicit HookedBuffer(std::function<void()> onFirst) : m_onFirst(std::move(onFirst)) {}
    std::string text;

protected:
    int overflow(int c) override {
        if (auto action = std::exchange(m_onFirst, nullptr)) action();
        if (c != traits_type::eof()) text += static_cast<char>(c);
        return traits_type::not_eof(c);
    }

private:
    std::function<void()> m_onFirst;
};

// The companion over a key store, a program folder and a configuration file
// in a fresh folder.
class CliTest : public ::testing::Test {
protected:
    struct Result {
        int code;
        std::string out, err;
    };

    CliTest() : keys(dir.file("registry.reg"), dir.file("machine.reg")) {
        MakeFolders(dir.file("prog"));
        env = {dir.file("prog"), dir.file("xdg"), &keys, &credentials};
    }

    // Runs with --config on `file` unless told not to.
    Result Run(Args args, bool withConfig = true) {
        if (withConfig) args.insert(args.begin(), {"--config", file});
        std::ostringstream out, err;
        const int code = RunCli(args, env, out, err);
        return {code, out.str(), err.str()};
    }

    // Runs a command that must succeed; gives what it printed.
    std::string Ok(const Args& args) {
        const Result r = Run(args);
        EXPECT_EQ(r.code, 0) << args[0] << ": " << r.err;
        return r.out;
    }

    // A refusal prints nothing but one line on the error stream, holding `reason`.
    static void ExpectRefusal(const Result& r, int code, const std::string& reason) {
        EXPECT_EQ(r.code, code) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(Contains(r.err, reason));
    }

    void WriteKeys(const std::string& sections) {
        WriteFile(dir.file("registry.reg"), "Windows Registry Editor Version 5.00\n\n" + sections);
    }

    // Web (own log-on settings) / A / db1, and Lab at the top.
    void Build() {
        Ok({"add-group", "--set", "Name=Web", "--set", "InheritGeneral=0", "--set", "UserName=u",
            "--set", "Password=pw", "--set", "RDPPort=3390"});
        Ok({"add-group", "Web", "--set", "Name=A"});
        Ok({"add-server", "Web", "A", "--set", "Name=db1", "--set", "Server=h1"});
        Ok({"add-server", "--set", "Name=Lab", "--set", "DesktopWidth=-20"});
    }

    TempDir dir;
    RegFileKeyStore keys;
    SavedPassword credentials;
    CliEnvironment env;
    std::string file = dir.file("conn.xml");
};

TEST_F(CliTest, ShowPrintsTheEffectiveRecordAndTreeWhatSetMoveAndDeleteDid) {
    Build();
    std::string shown = Ok({"show", "Web", "A", "db1"});
    EXPECT_EQ(shown.substr(0, shown.find("Description=")),
              "Name=db1\nServer=h1\nUserName=u\nPassword=***\nDomain=\n");
    EXPECT_TRUE(Contains(shown, "\nRDPPort=3390\n"));
    EXPECT_TRUE(Contains(shown, "\nInheritGeneral=1\n"));
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 24);
    shown = Ok({"show", "--json", "--show-password", "Lab"});
    EXPECT_TRUE(
        shown.starts_with("{\"Name\": \"Lab\", \"Server\": \"\", \"UserName\": \"\", "
                          "\"Password\": \"\", "))
        << shown;
    EXPECT_TRUE(Contains(shown, "\"DesktopWidth\": -20, "));
    EXPECT_TRUE(shown.ends_with("\"GroupCollapsed\": 0}\n")) << shown;
    EXPECT_TRUE(Contains(Ok({"show", "--show-password", "Web"}), "Password=pw\n"));
    EXPECT_TRUE(Contains(Ok({"show"}), "InheritGeneral=1\n"));  // the top

    // The tree shows groups with a slash, indented by depth.
    EXPECT_EQ(Ok({"tree"}), "Web/\n  A/\n    db1\nLab\n");
    Ok({"set", "Web", "A", "db1", "--set", "Description=moved"});
    Ok({"move", "Web", "A", "db1", "--to"});
    EXPECT_EQ(Ok({"tree"}), "Web/\n  A/\nLab\ndb1\n");
    Ok({"delete", "Web"});
    EXPECT_EQ(Ok({"tree"}), "Lab\ndb1\n");
    shown = Ok({"show", "db1"});  // at the top it no longer inherits from Web
    EXPECT_TRUE(Contains(shown, "\nUserName=\n"));
    EXPECT_TRUE(Contains(shown, "\nDescription=moved\n"));
}

// Each refusal leaves the file and the key store as they were: unknown nodes
// (1); bad usage, fields and values, log-on fields while the node inherits,
// ports outside the range and fields the node does not keep (2); files that
// cannot be read (3). A mistaken command line is found before any file is read.
TEST_F(CliTest, RefusalsGiveTheirCodesAndReasonsAndChangeNothing) {
    Build();
    WriteFile(dir.file("notes.txt"), "[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"b\"\n");
    const std::string before = ReadFile(file), keysBefore = ReadFile(dir.file("registry.reg"));
    const std::string usage = "(see vandrelle-cli --help)\n", inherits = "--set InheritGeneral=0";
    const std::string port = "vandrelle-cli: Port must between 1 and 65535, default is 3389.\n";
    const std::string group = "is not stored for a group";
    const struct {
        int code;
        Args args;
        std::string reason;
    } refusals[] = {
        {1, {"show", "Nope"}, "vandrelle-cli: no node Nope\n"},
        {1, {"set", "Web", "Nope", "--set", "Name=x"}, "Nope"},
        {1, {"add-server", "Web", "Nope", "--set", "Name=x"}, "no node Web/Nope"},
        {1, {"move", "Lab", "--to", "Nope"}, "Nope"},
        {1, {"delete", "Web", "Nope"}, ""},
        {1, {"external-command", "Nope"}, "Nope"},
        {1, {"import-mstsc", "Nope"}, "Nope"},
        {2, {"frobnicate"}, usage},
        {2, {}, usage},
        {2, {"--frob", "tree"}, usage},
        {2, {"show", "--frob"}, usage},
        {2, {"tree", "--json"}, usage},
        {2, {"set", "Lab", "--set", "Colour=1"}, "unknown field Colour"},
        {2, {"set", "Lab", "--set", "ColorDepth=deep"}, "needs a number"},
        {2, {"set", "Lab", "--set", "NoEquals"}, "Field=Value"},
        {2,
         {"add-server", "--set", "Server=no-name"},
         "give the new server's name: --set Name=NAME;"},
        {2,
         {"add-group", "Web", "Lab"},
         "give the new group's name: --set Name=Lab; the names before it are the parent's path"},
        {2, {"add-server", "Web", "--set", "Password=-"}, "--set Name=NAME;"},
        {2, {"move", "Web", "--to", "Web", "A"}, ""},
        {2, {"set", "Web", "A", "db1", "--set", "Password=x"}, inherits},
        {2, {"set", "Web", "A", "db1", "--set", "UserName=x"}, inherits},
        {2, {"set", "Web", "A", "db1", "--set", "Domain=x"}, inherits},
        {2, {"set", "Web", "A", "db1", "--set", "RDPPort=3391"}, inherits},
        {2, {"add-server", "--set", "Name=n", "--set", "Password=x"}, inherits},
        {2, {"set", "Web", "--set", "InheritGeneral=1", "--set", "Domain=D"}, inherits},
        {2, {"set", "Web", "--set", "RDPPort=0"}, port},
        {2, {"set", "Web", "--set", "RDPPort=65536"}, port},
        {2, {"set", "Web", "--set", "Server=h"}, group},
        {2, {"set", "Web", "--set", "ColorDepth=32"}, group},
        {2, {"add-group", "--set", "Name=G", "--set", "FullScreen=1"}, group},
        {2, {"set", "Lab", "--set", "GroupCollapsed=1"}, "is not stored for a server"},
        {2, {"external-command", "Web"}, "Web is not a server"},
        {2, {"import-mstsc", "Lab"}, "vandrelle-cli: Lab is not a group\n"},
        {2, {"import-mstsc", "--set", "Name=x"}, "takes no --set"},
        {2, {"import-reg"}, "needs one FILE"},
        {2, {"import-reg", "a.reg", "b.reg"}, "needs one FILE"},
        {2, {"encode-password"}, "needs one TEXT"},
        {3, {"import-reg", dir.file("notes.txt")}, "is not a registry file"},
        {3, {"import-reg", dir.file("missing.reg")}, "missing.reg"},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(testing::PrintToString(refusal.args));
        ExpectRefusal(Run(refusal.args), refusal.code, refusal.reason);
    }
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(ReadFile(dir.file("registry.reg")), keysBefore);

    WriteFile(file, "<broken>");
    ExpectRefusal(Run({"tree"}), 3, "line 1");
    EXPECT_EQ(Run({"add-group", "--set", "Name=G"}).code, 3);
    ExpectRefusal(Run({"frobnicate"}), 2, usage);
    EXPECT_EQ(ReadFile(file), "<broken>");
}

// Log-on fields are taken together with stopping to inherit (in any order)
// and as they are by a node with its own; ports take the whole range; a
// group's collapse state stays as it is unless the command sets it.
TEST_F(CliTest, SetStoresLogonFieldsPortsAndTheCollapseState) {
    Build();
    Ok({"set", "Web", "A", "db1", "--set", "Password=own", "--set", "InheritGeneral=0"});
    std::string shown = Ok({"show", "--show-password", "Web", "A", "db1"});
    EXPECT_TRUE(Contains(shown, "\nPassword=own\n"));
    EXPECT_TRUE(Contains(shown, "\nInheritGeneral=0\n"));
    Ok({"set", "Web", "--set", "UserName=v", "--set", "RDPPort=1"});
    Ok({"set", "Web", "--set", "RDPPort=65535"});
    shown = Ok({"show", "Web"});
    EXPECT_TRUE(Contains(shown, "\nUserName=v\n"));
    EXPECT_TRUE(Contains(shown, "\nRDPPort=65535\n"));

    const auto collapsed = [&](Args names) {
        names.insert(names.begin(), "show");
        return Contains(Ok(names), "\nGroupCollapsed=1\n");
    };
    Ok({"set", "Web", "--set", "GroupCollapsed=1"});
    EXPECT_TRUE(collapsed({"Web"}));
    Ok({"set", "Web", "--set", "Description=still collapsed"});
    EXPECT_TRUE(collapsed({"Web"}));
    EXPECT_TRUE(Contains(Ok({"show", "Web"}), "Description=still collapsed"));
    Ok({"set", "Web", "--set", "GroupCollapsed=0", "--set", "Description=open"});
    EXPECT_FALSE(collapsed({"Web"}));
    EXPECT_TRUE(Contains(Ok({"show", "Web"}), "Description=open"));
    Ok({"set", "Web", "--set", "Description=open"});  // nothing to change is no failure
    Ok({"set", "--set", "GroupCollapsed=1"});         // the top and a new group take it as well
    EXPECT_TRUE(collapsed({}));
    Ok({"add-group", "--set", "Name=Shut", "--set", "GroupCollapsed=1"});
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
    Ok({"add-server", "--set", "Name=evil\nLab", "--set", "Server=h\ny", "--set",
        "Description=two\r\nlines"});
    Ok({"add-group", "--set", "Name=back\\slash"});
    EXPECT_EQ(Ok({"tree"}), "evil\\nLab\nback\\\\slash/\n");
    const std::string shown = Ok({"show", "evil\nLab"});
    EXPECT_EQ(shown.substr(0, shown.find("UserName=")), "Name=evil\\nLab\nServer=h\\ny\n");
    EXPECT_TRUE(Contains(shown, "\nDescription=two\\r\\nlines\n"));
    const std::string command = Ok({"external-command", "evil\nLab"});
    EXPECT_EQ(command.substr(command.find('\n') + 1), "/v:h\\ny:3389\n");
    EXPECT_EQ(Run({"show", "no\x1b]0;owned\x07\nnode"}).err,
              "vandrelle-cli: no node no\\x1b]0;owned\\x07\\nnode\n");
}

// Without --config the file is found as the program finds it. When it is
// edited by someone else while a command runs, the command's save keeps that
// version beside the file and warns. The edit is made when the warning about
// an unreadable candidate is printed: after the read, before the change.
TEST_F(CliTest, TheProgramsFileIsFoundAndAVersionChangedMeanwhileIsKept) {
    EXPECT_EQ(Run({"add-group", "--set", "Name=G"}, false).code, 0);
    EXPECT_TRUE(FileExists(dir.file("prog/Vandrelle.xml")));
    EXPECT_EQ(Run({"tree"}, false).out, "G/\n");
    WriteFile(dir.file("prog/Vandrelle.xml"), "<broken>");
    MakeFolders(dir.file("xdg"));
    const std::string config = dir.file("xdg/Vandrelle.xml");
    WriteFile(config, "<Vandrelle><Servers/></Vandrelle>");
    const std::string theirs =
        "<Vandrelle><Servers><Server><Name>Theirs</Name></Server></Servers></Vandrelle>";
    HookedBuffer errors([&] { WriteFile(config, theirs); });
    std::ostream err(&errors);
    std::ostringstream out;
    ASSERT_EQ(RunCli({"add-group", "--set", "Name=Mine"}, env, out, err), 0) << errors.text;
    EXPECT_TRUE(Contains(errors.text, "warning: skipped: cannot read "));
    EXPECT_TRUE(Contains(errors.text, "vandrelle-cli: warning: " + config +
                                          " had changed since it was read; that version is kept "
                                          "as " +
                                          config + ".changed\n"));
    EXPECT_EQ(ReadFile(config + ".changed"), theirs);
    EXPECT_EQ(Run({"tree"}, false).out, "Mine/\n");
}

// --set Password=- reads the password from standard input, out of the
// command line: one line, or on a terminal asked and typed without echo.
// Nothing read is refused; a refused command reads nothing.
TEST_F(CliTest, APasswordIsReadFromStandardInputWithoutEcho) {
    Build();
    for (const char* given : {"", "\n", "\r\n"}) {
        env.input = Piped(given);
        ExpectRefusal(Run({"set", "Web", "--set", "Password=-"}), 2, "no password read");
        ::close(env.input);
    }
    EXPECT_TRUE(Contains(Ok({"show", "--show-password", "Web"}), "Password=pw\n"));

    env.input = Piped("s3 cret\r\nnext\n");
    EXPECT_EQ(Run({"add-server", "--set", "Name=m", "--set", "Password=-"}).code, 2);
    Ok({"add-server", "--set", "Name=n", "--set", "InheritGeneral=0", "--set", "Password=-"});
    char rest[8] = {};
    EXPECT_EQ(::read(env.input, rest, sizeof rest), 5);  // only the password's line was read
    ::close(env.input);
    EXPECT_TRUE(Contains(Ok({"show", "--show-password", "n"}), "Password=s3 cret\n"));

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
    env.input = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    // Typed once asked: the echo is off by then.
    HookedBuffer asked([&] { ASSERT_EQ(::write(master, "typed\n", 6), 6); });
    std::ostream err(&asked);
    std::ostringstream out;
    EXPECT_EQ(RunCli({"--config", file, "set", "Web", "--set", "Password=-"}, env, out, err), 0);
    EXPECT_EQ(asked.text, "Password: ");
    pollfd echo{master, POLLIN, 0};
    char echoed[16] = {};
    ASSERT_EQ(::poll(&echo, 1, 5000), 1);
    const ssize_t got = ::read(master, echoed, sizeof echoed);
    EXPECT_EQ(std::string_view(echoed, std::size_t(std::max<ssize_t>(got, 0))), "\r\n");
    ::close(env.input);
    ::close(master);
    EXPECT_TRUE(Contains(Ok({"show", "--show-password", "Web"}), "Password=typed\n"));
}

// On a first run the key is made and stored before anything is enciphered.
// Without a readable key store no command runs, and the store stays as it is.
TEST_F(CliTest, PasswordsEncodeWithThisInstallationsStoredKeyOrNotAtAll) {
    const Result enc = Run({"encode-password", "s3cret"}, false);
    ASSERT_EQ(enc.code, 0) << enc.err;
    CConfigStore store(keys);  // reads the key that run made and stored
    ASSERT_TRUE(store.Init());
    EXPECT_NE(store.Key(), PasswordKey{});
    EXPECT_EQ(enc.out, EncodePassword("s3cret", store.Key()) + "\n");
    EXPECT_EQ(Ok({"decode-password", enc.out.substr(0, enc.out.size() - 1)}), "s3cret\n");
    // A decoded password prints escaped.
    EXPECT_EQ(Ok({"decode-password", EncodePassword("\x1b[2J\\", store.Key())}), "\\x1b[2J\\\\\n");

    Build();
    const std::string config = ReadFile(file), notRegistry = "; mine\nnot a registry file\n";
    WriteFile(dir.file("registry.reg"), notRegistry);
    for (const Args& args : {Args{"tree"}, Args{"set", "Lab", "--set", "Password=new"},
                             Args{"encode-password", "x"}, Args{"addins"}}) {
        SCOPED_TRACE(args[0]);
        ExpectRefusal(Run(args), 3, dir.file("registry.reg") + " is not a registry file");
    }
    EXPECT_EQ(ReadFile(file), config);
    EXPECT_EQ(ReadFile(dir.file("registry.reg")), notRegistry);
}

TEST_F(CliTest, ExternalCommandAndAddinsPrintWhatTheClientWouldBeGiven) {
    Build();
    Ok({"set", "Web", "A", "db1", "--set", "DesktopWidth=1024", "--set", "DesktopHeight=768",
        "--set", "ConnectToServerConsole=1"});
    const std::string printed = Ok({"external-command", "Web", "A", "db1"});
    EXPECT_TRUE(Contains(printed.substr(0, printed.find('\n')), "freerdp"));
    EXPECT_EQ(printed.substr(printed.find('\n') + 1),
              "/v:h1:3390\n/w:1024\n/h:768\n/admin\n/console\n");
    keys.CreateKey(Hive::CurrentUser,
                   "Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\x")
        ->WriteString("Name", "/usr/lib/x.so");
    EXPECT_EQ(Ok({"addins"}), "/usr/lib/x.so\n");
}

// Help and the version need neither the key store nor a file, so any user
// can ask, and asking changes nothing.
TEST_F(CliTest, HelpAndVersionTouchNothing) {
    for (const Args& args :
         {Args{"--help"}, Args{"--config", "x.xml", "--help"}, Args{"set", "Web", "--help"}}) {
        const Result r = Run(args, false);
        EXPECT_EQ(r.code, 0) << args[0];
        EXPECT_TRUE(r.out.starts_with("usage: vandrelle-cli")) << r.out;
        EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(Run({"--version"}, false).out, std::string("vandrelle-cli ") + kVersion + "\n");
    EXPECT_FALSE(FileExists(dir.file("registry.reg")));
    EXPECT_FALSE(FileExists(dir.file("prog/Vandrelle.xml")));
}

// Each server of the system client is added once into the named group, saved
// as added, and printed; with no client's default key, nothing.
TEST_F(CliTest, ImportMstscAddsEachServerOnceAndPrintsItsName) {
    WriteKeys("[" + kClient + "\\Default]\n\"MRU0\"=\"h1:3390 /admin\"\n\"MRU1\"=\"h2\"\n" +
              "\"MRU2\"=\"h3\"\n\n[" + kClient + "\\UsernameHint]\n\"h2\"=\"CORP\\\\bob\"\n" +
              "\"h4\"=\"carol\"\n\"tab\there\"=\"x\"\n\n[" + kClient + "\\Servers\\h4]\n\n[" +
              kClient + "\\Servers\\h5]\n\n");
    Ok({"add-group", "--set", "Name=Web"});
    Ok({"add-group", "Web", "--set", "Name=h3"});  // groups count as well
    Ok({"add-server", "Web", "--set", "Name=h5", "--set", "Server=old"});
    Ok({"add-server", "--set", "Name=h2"});  // not a child of Web
    const Result r = Run({"import-mstsc", "Web"});
    EXPECT_EQ(r.out, "h1:3390 /admin\nh2\nh4\ntab\\there\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(Contains(Ok({"show", "--show-password", "Web", "h2"}),
                         "\nUserName=bob\nPassword=pw\nDomain=CORP\n"));
    EXPECT_TRUE(Contains(Ok({"show", "Web", "h5"}), "\nServer=old\n"));
    const std::string saved = ReadFile(file);
    EXPECT_EQ(Ok({"import-mstsc", "Web"}), "");
    EXPECT_EQ(ReadFile(file), saved);
    EXPECT_EQ(Ok({"import-mstsc"}), "h1:3390 /admin\nh3\nh4\ntab\\there\nh5\n");

    WriteKeys("[" + kClient + "\\UsernameHint]\n\"h6\"=\"bob\"\n\n[" + kClient +
              "\\Servers\\h7]\n");
    const std::string before = ReadFile(file);
    EXPECT_EQ(Ok({"import-mstsc"}), "");
    EXPECT_EQ(ReadFile(file), before);
}

// import-reg merges the user's keys the program reads, warns of each part
// left out and counts what it merged; a file whose merge the key store could
// not read back is merged not at all.
TEST_F(CliTest, ImportRegMergesWhatTheProgramReadsAndCountsIt) {
    WriteFile(dir.file("export.reg"), "Windows Registry Editor Version 5.00\n\n[" + kClient +
                                          "\\Default]\n\"MRU0\"=\"h1\"\n\"MRU1\"=\"h2\"\n\n[" +
                                          kClient +
                                          "\\Servers\\h2]\n\"UsernameHint\"=\"bob\"\n\n"
                                          "[HKEY_LOCAL_MACHINE\\Software\\Machine]\n\"M\"=\"m\"\n");
    const Result r = Run({"import-reg", dir.file("export.reg")});
    ASSERT_EQ(r.code, 0) << r.err;
    // Printed as the companion prints texts: a backslash as two.
    const std::string printed =
        "HKEY_CURRENT_USER\\\\Software\\\\Microsoft\\\\Terminal Server Client";
    EXPECT_EQ(r.out, printed + "\\\\Default: 2 values\n" + printed +
                         "\\\\Servers\\\\h2: 1 value\nmerged 3 values in 2 keys\n");
    EXPECT_EQ(r.err,
              "vandrelle-cli: warning: skipped [HKEY_LOCAL_MACHINE\\\\Software\\\\Machine]: only "
              "keys of HKEY_CURRENT_USER are merged\n");
    EXPECT_EQ(Ok({"import-mstsc"}), "h1\nh2\n");
    EXPECT_TRUE(Contains(Ok({"show", "--show-password", "h2"}), "\nUserName=bob\nPassword=pw\n"));

    const std::string hints = "REGEDIT4\n\n[" + kClient + "\\UsernameHint]\n";
    WriteFile(dir.file("old.reg"), hints + "\"a\"=\"b\"\n");
    const std::string one = Ok({"import-reg", dir.file("old.reg")});
    EXPECT_EQ(one.substr(one.find(": ")), ": 1 value\nmerged 1 value in 1 key\n");
    // Written as hex(1) for its tab, a 12 MB string would make a file the key
    // store cannot read back.
    const std::string merged = ReadFile(dir.file("registry.reg"));
    WriteFile(dir.file("huge.reg"),
              hints + "\"c\"=\"d\"\n\"e\"=\"" + std::string(12 << 20, 'x') + "\t\"\n");
    ExpectRefusal(Run({"import-reg", dir.file("huge.reg")}), 3,
                  "more than the 64 MiB the key store reads back");
    EXPECT_EQ(ReadFile(dir.file("registry.reg")), merged);
}

}  // namespace
}  // namespace vandrelle::test
