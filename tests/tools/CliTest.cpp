// SPDX-License-Identifier: GPL-3.0-or-later
#include "Cli.h"
#include "CliText.h"
#include "ConfigStore.h"
#include "FileUtil.h"
#include "RegFileKeyStore.h"
#include "StoredCredentials.h"
#include "TempDir.h"
#include "TreeNotation.h"
#include "Version.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <sstream>

namespace vandrelle::test {
namespace {

using Args = std::vector<std::string>;
const std::string kClient = "HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client";
const std::string kRegHeader = "Windows Registry Editor Version 5.00\n\n";

// A command line, its exit code and a piece of what it printed: of the output
// (all of it when `whole`) when it succeeded, else of its one error line.
struct Row {
    Args args;
    int code = 0;
    std::string printed = {};
    bool whole = false;
};

// A saved password for the user "bob" of h2, as the system's store keeps it.
class SavedPassword : public CredentialStore {
public:
    std::optional<std::vector<Credential>> Enumerate(std::string_view filter) override {
        if (filter != "TERMSRV/h2") return std::nullopt;
        return std::vector<Credential>{{Credential::kGeneric, "CORP\\bob", {'p', 0, 'w', 0}}};
    }
};

// An error stream that runs an action when the first character reaches it.
struct HookedBuffer : std::streambuf {
    std::function<void()> onFirst;
    std::string text;

    int overflow(int c) override {
        if (auto action = std::exchange(onFirst, nullptr)) action();
        if (c != traits_type::eof()) text += static_cast<char>(c);
        return traits_type::not_eof(c);
    }
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

    // Runs with --config on `file` unless told not to; `onFirstError` runs
    // when the first character reaches the error stream.
    Result Run(Args args, bool withConfig = true, std::function<void()> onFirstError = {}) {
        if (withConfig) args.insert(args.begin(), {"--config", file});
        std::ostringstream out;
        HookedBuffer errors;
        errors.onFirst = std::move(onFirstError);
        std::ostream err(&errors);
        const int code = RunCli(args, env, out, err);
        return {code, out.str(), errors.text};
    }
    std::string Ok(const Args& args) { return Check({{args}}).out; }

    // Runs the rows in order; a refusal prints nothing but its error line.
    Result Check(const std::vector<Row>& rows) {
        Result r;
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::PrintToString(row.args));
            r = Run(row.args);
            EXPECT_EQ(r.code, row.code) << r.err;
            const std::string& printed = row.code == 0 ? r.out : r.err;
            EXPECT_TRUE(row.whole ? printed == row.printed : HasText(printed, row.printed))
                << printed;
            if (row.code != 0) {
                EXPECT_EQ(r.out + std::to_string(std::ranges::count(r.err, '\n')), "1");
            }
        }
        return r;
    }

    // Web (own log-on settings) / A / db1, and Lab at the top.
    void Build() {
        Check({{{"add-group", "--set", "Name=Web", "--set", "InheritGeneral=0", "--set",
                 "UserName=u", "--set", "Password=pw", "--set", "RDPPort=3390"}},
               {{"add-group", "Web", "--set", "Name=A"}},
               {{"add-server", "Web", "A", "--set", "Name=db1", "--set", "Server=h1"}},
               {{"add-server", "--set", "Name=Lab", "--set", "DesktopWidth=-20"}}});
    }

    TempDir dir;
    RegFileKeyStore keys;
    SavedPassword credentials;
    CliEnvironment env;
    std::string file = dir.file("conn.xml");
};

// Each refusal leaves the file as it was: unknown nodes
// (1); bad usage, fields and values, log-on fields while the node inherits,
// ports outside the range and fields the node does not keep (2); files that
// cannot be read (3). A mistaken command line is found before any file is read.
// Show prints the effective record, the tree groups with a slash indented by
// depth; names and texts print escaped, so that none fakes a line or a
// terminal code. A group's collapse state stays unless the command sets it.
// Find prints the matching servers' paths, best first.
TEST_F(CliTest, CommandsEditTheTreeReadPasswordsAndImportAndRefusalsChangeNothing) {
    Build();
    WriteFile(dir.file("notes.txt"), "[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"b\"\n");
    const std::string before = ReadFile(file);
    const std::string usage = "(see vandrelle-cli --help)\n", inherits = "--set InheritGeneral=0";
    Check({
        {{"show", "Nope"}, 1, "vandrelle-cli: no node Nope\n"},
        {{"set", "Lab", "--set", "Colour=1"}, 2, "unknown field Colour"},
        {{"add-server", "--set", "Server=no-name"}, 2, "give the new server's name"},
        {{"set", "Web", "--set", "InheritGeneral=1", "--set", "Domain=D"}, 2, inherits},
        {{"set", "Web", "--set", "RDPPort=65536"}, 2, "Port must between 1 and 65535"},
        {{"set", "Web", "--set", "Server=h"}, 2, "is not stored for a group"},
        {{"set", "Lab", "--set", "GroupCollapsed=1"}, 2, "is not stored for a server"},
        {{"external-command", "Web"}, 2, "Web is not a server"},
        {{"import-reg", dir.file("notes.txt")}, 3, "is not a registry file"},
    });
    EXPECT_EQ(ReadFile(file), before);

    keys.CreateKey(Hive::CurrentUser,
                   "Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\x")
        ->WriteString("Name", "/usr/lib/x.so");
    Check({
        {{"show", "Web", "A", "db1"}, 0, "Name=db1\nServer=h1\nUserName=u\nPassword=***\n"},
        {{"show", "--json", "--show-password", "Lab"}, 0, "{\"Name\": \"Lab\", \"Server\": \"\", "},
        {{"tree"}, 0, "Web/\n  A/\n    db1\nLab\n", true},
        {{"set", "Lab", "--set", "InheritGeneral=0"}},
        {{"set", "Web", "--set", "UserName=v", "--set", "RDPPort=65535"}},
        {{"show", "Web"}, 0, "\nUserName=v\nPassword=***\nDomain=\nDescription=\nRDPPort=65535\n"},
        {{"set", "Web", "--set", "GroupCollapsed=1"}},
        {{"set", "Web", "--set", "Description=still collapsed"}},
        {{"set", "Web", "--set", "Description=still collapsed"}},  // no change is no failure
        {{"show", "Web"}, 0, "GroupCollapsed=1\n"},
        {{"external-command", "Web", "A", "db1"}, 0, "\n/v:h1:65535\n"},
        {{"add-server", "--set", "Name=mail", "--set", "Server=webmail"}},
        {{"find", "WEB"}, 0, "mail\nWeb/A/db1\n", true},  // a host before a group's name
        {{"find", "web", "nothing"}, 1, "vandrelle-cli: no server matches web nothing\n"},
        {{"addins"}, 0, "/usr/lib/x.so\n", true},
        {{"move", "Web", "A", "db1", "--to"}},
        {{"delete", "Web"}},
        {{"tree"}, 0, "Lab\nmail\ndb1\n", true},
        {{"add-server", "--set", "Name=evil\nLab"}},
        {{"tree"}, 0, "Lab\nmail\ndb1\nevil\\nLab\n", true},
        {{"show", "no\x1b]0;owned\x07\nnode"}, 1, "no node no\\x1b]0;owned\\x07\\nnode\n"},
    });

    // --set Password=- reads the password from standard input, out of the
    // command line: one line, or on a terminal asked and typed without echo.
    // Nothing read is refused; a refused command reads nothing.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    EXPECT_EQ(::write(fds[1], "s3 cret\r\nnext\n", 14), 14);
    ::close(fds[1]);
    env.input = fds[0];
    Check({{{"add-server", "--set", "Name=m", "--set", "Password=-"}, 2},
           {{"add-server", "--set", "Name=n", "--set", "InheritGeneral=0", "--set", "Password=-"}},
           {{"show", "--show-password", "n"}, 0, "Password=s3 cret\n"}});
    char rest[8] = {};
    EXPECT_EQ(::read(env.input, rest, sizeof rest), 5);  // only the password's line was read
    Check({{{"set", "Lab", "--set", "Password=-"}, 2, "no password read"}});

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
    env.input = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    // Typed once asked: the echo is off by then.
    const Result asked = Run({"set", "Lab", "--set", "Password=-"}, true,
                             [&] { ASSERT_EQ(::write(master, "typed\n", 6), 6); });
    EXPECT_EQ(asked.err + std::to_string(asked.code), "Password: 0");
    pollfd echo{master, POLLIN, 0};
    char echoed[16] = {};
    ASSERT_EQ(::poll(&echo, 1, 5000), 1);
    EXPECT_EQ(std::string(echoed, std::max<ssize_t>(::read(master, echoed, sizeof echoed), 0)),
              "\r\n");
    ::close(master);
    EXPECT_TRUE(HasText(Ok({"show", "--show-password", "Lab"}), "Password=typed\n"));

    // import-reg merges the user's keys, warns of each part left out and
    // counts what it merged. import-mstsc then adds each server of the system
    // client into the named group and prints it.
    WriteFile(dir.file("export.reg"),
              kRegHeader + "[" + kClient + "\\Default]\n\"MRU0\"=\"h1:3390 /admin\"\n\"MRU1\"=" +
                  "\"h2\"\n\n[" + kClient + "\\UsernameHint]\n\"h2\"=\"CORP\\\\bob\"\n\n" +
                  "[HKEY_LOCAL_MACHINE\\Software\\Machine]\n\"M\"=\"m\"\n");
    const Result r = Run({"import-reg", dir.file("export.reg")});
    EXPECT_TRUE(HasText(r.out, "\nmerged 3 values in 2 keys\n"));
    EXPECT_TRUE(HasText(r.err, "warning: skipped [HKEY_LOCAL_MACHINE"));
    Check({{{"add-group", "--set", "Name=Imported"}},
           {{"import-mstsc", "Imported"}, 0, "h1:3390 /admin\nh2\n", true},
           {{"show", "--show-password", "Imported", "h2"}, 0, "\nUserName=bob\nPassword=pw\n"}});

    WriteFile(file, "<broken>");
    Check({{{"tree"}, 3, "line 1"},
           {{"add-group", "--set", "Name=G"}, 3},
           {{"frobnicate"}, 2, usage}});
    EXPECT_EQ(ReadFile(file), "<broken>");
}

// Backslash, line breaks, ESC, DEL, the one-byte CSI's two-byte form, a stray
// byte, a cut character and the marks that turn text right to left print
// escaped; other printable text stays as it is.
TEST(CliTextTest, ControlCharactersAndStrayBytesPrintEscaped) {
    const std::string text =
        "a\\b\n\r\t\x1b[31m\x7f\xc2\x9b\xff\xe2\x80\xae \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
    EXPECT_EQ(EscapedText(text),
              "a\\\\b\\n\\r\\t\\x1b[31m\\x7f\\xc2\\x9b\\xff\\xe2\\x80\\xae "
              "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_EQ(JsonString(text),
              "\"a\\\\b\\n\\r\\t\\u001b[31m\\u007f\\u009b\\ufffd\\u202e "
              "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"");
    EXPECT_EQ(JsonString("\"\xe2\x81\xa6\xe2\x82"), "\"\\\"\\u2066\\ufffd\\ufffd\"");
}

// Help and the version need no key and no file, so any user can ask. On a
// first run the key is made and stored before anything is enciphered, and
// without --config the file is made where the program looks. When the file is
// edited by someone else while a command runs, the command's save keeps that
// version beside it and warns; the edit is made when the warning about an
// unreadable candidate is printed: after the read, before the change. Without
// a readable key store no command runs and the file stays as it is.
TEST_F(CliTest, AFirstRunMakesTheKeyAndTheFileAndKeepsWhatOthersChanged) {
    for (const Args& args : {Args{"set", "Web", "--help"}, Args{"--version"}}) {
        const Result r = Run(args, false);
        EXPECT_EQ(r.err + std::to_string(r.code), "0");
        EXPECT_TRUE(HasText(r.out, args[0] == "set" ? "usage: vandrelle-cli"
                                                    : "vandrelle-cli " + std::string(kVersion)));
    }
    EXPECT_FALSE(FileExists(dir.file("registry.reg")) ||
                 FileExists(dir.file("prog/Vandrelle.xml")));
    const std::string encoded = Ok({"encode-password", "s3cret"});
    CConfigStore store(keys);  // reads the key that run made and stored
    ASSERT_TRUE(store.Init());
    EXPECT_NE(store.Key(), PasswordKey{});
    EXPECT_EQ(encoded, EncodePassword("s3cret", store.Key()) + "\n");
    EXPECT_EQ(Ok({"decode-password", EncodePassword("s3", store.Key())}), "s3\n");

    EXPECT_EQ(Run({"add-group", "--set", "Name=G"}, false).code, 0);
    EXPECT_TRUE(FileExists(dir.file("prog/Vandrelle.xml")));
    WriteFile(dir.file("prog/Vandrelle.xml"), "<broken>");
    MakeFolders(dir.file("xdg"));
    const std::string config = dir.file("xdg/Vandrelle.xml");
    WriteFile(config, "<Vandrelle><Servers/></Vandrelle>");
    const std::string theirs = TreeFile("Theirs");
    const Result mine =
        Run({"add-group", "--set", "Name=Mine"}, false, [&] { WriteFile(config, theirs); });
    ASSERT_EQ(mine.code, 0) << mine.err;
    EXPECT_TRUE(HasText(mine.err, "warning: skipped: cannot read "));
    EXPECT_FALSE(HasText(mine.err, "had changed")) << "merged, no copy kept";
    EXPECT_EQ(Run({"tree"}, false).out, "Theirs\nMine/\n");

    Build();
    const std::string before = ReadFile(file);
    WriteFile(dir.file("registry.reg"), "not a registry file\n");
    Check({{{"set", "Lab", "--set", "Password=new"}, 3, "registry.reg is not a registry file"}});
    EXPECT_EQ(ReadFile(file), before);
}

}  // namespace
}  // namespace vandrelle::test
