// SPDX-License-Identifier: GPL-3.0-or-later
#include "MstscImport.h"

#include "RegFileKeyStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace vandrelle::test {
namespace {

struct Expected {
    std::string entry;
    std::string server;
    int port = 3389;
    int inherit = 1;
    int console = 0;
};

// An entry's host and port, its console switch, and whether it keeps
// inheriting. A port that is no port number keeps the default; an IPv6
// address keeps its colons and loses its brackets, so that a session and the
// system client can connect to it.
TEST(ParseRecentEntryTest, HostPortAndConsoleSwitch) {
    for (const Expected& want : std::vector<Expected>{
             {"H:3390 /admin", "H", 3390, 0, 1},
             {"H", "H"},
             {"h.example.org /CONSOLE", "h.example.org", 3389, 1, 1},
             {"H/Admin", "H", 3389, 1, 1},
             {"H:3390/console", "H", 3390, 0, 1},
             {"H:3391x", "H", 3391, 0, 0},
             {"H /f", "H"},
             {"H\t/admin", "H", 3389, 1, 1},
             {"", ""},
             {":3390", "", 3390, 0, 0},
             {"H:", "H"},
             {"H:0", "H"},
             {"H:65536", "H"},
             {"H:99999999999999", "H"},
             {"H:abc", "H"},
             {"H:-5", "H"},
             {"H:65535", "H", 65535, 0, 0},
             {"H:1", "H", 1, 0, 0},
             {"[fe80::1]:3390", "fe80::1", 3390, 0, 0},
             {"[fe80::1]", "fe80::1"},
             {"[2001:db8::5]:3391 /admin", "2001:db8::5", 3391, 0, 1},
             {"fe80::1", "fe80::1"},
             {"[fe80::1]:0", "fe80::1"},
             {"[fe80::1]x", "[fe80::1]x"},  // no port after the bracket: kept as it is
             {"a]b:3390", "a]b:3390"}}) {
        SCOPED_TRACE(want.entry);
        const Properties record = ParseRecentEntry(want.entry);
        EXPECT_EQ(record.Name, want.entry);
        EXPECT_EQ(record.Server, want.server);
        EXPECT_EQ(record.RDPPort, want.port);
        EXPECT_EQ(record.InheritGeneral, want.inherit);
        EXPECT_EQ(record.ConnectToServerConsole, want.console);
        EXPECT_EQ(record.UserName + record.Password + record.Domain + record.Description, "");
    }
}

// A target group and a credential lookup standing in for the tree and the
// key store.
class ImportTest : public ::testing::Test {
protected:
    void Import(const MstscSources& sources) {
        ImportMstscConnections(
            sources,
            [this](const std::string& server, std::string& user, std::string& password,
                   std::string& domain) {
                asked.push_back(server);
                const auto it = hints.find(server);
                if (it == hints.end()) return false;
                user = it->second;
                if (server == "withpw") password = "pw";
                if (server == "withdomain") domain = "CORP";
                return true;
            },
            [this](const std::string& label) {
                for (const Properties& child : children) {
                    if (child.Name == label) return true;
                }
                return false;
            },
            [this](const Properties& record) { children.push_back(record); });
    }

    std::vector<std::string> Labels() const {
        std::vector<std::string> labels;
        for (const Properties& child : children) labels.push_back(child.Name);
        return labels;
    }

    const Properties& Child(const std::string& label) const {
        for (const Properties& child : children) {
            if (child.Name == label) return child;
        }
        throw std::runtime_error("no child " + label);
    }

    std::map<std::string, std::string> hints;
    std::vector<std::string> asked;
    std::vector<Properties> children;
};

MstscSources Sources(std::vector<std::optional<std::string>> recent,
                     std::vector<std::string> hintNames = {},
                     std::vector<std::string> servers = {}) {
    return {true, std::move(recent), std::move(hintNames), std::move(servers)};
}

TEST_F(ImportTest, RecentEntriesThenHintsThenSavedServersEachOnce) {
    hints = {{"H", "ann"}, {"withpw", "bob"}, {"withdomain", "cy"}};
    Import(Sources({"H:3390", std::nullopt, "B", "H:3390", "withpw"},
                   {"H", "withdomain", "A", "withpw"}, {"A", "S", "withdomain"}));
    EXPECT_EQ(Labels(),
              (std::vector<std::string>{"H:3390", "B", "withpw", "H", "withdomain", "A", "S"}));
    // Asked for each candidate that was not left out, by its server text.
    EXPECT_EQ(asked, (std::vector<std::string>{"H", "B", "withpw", "H", "withdomain", "A", "S"}));

    // H:3390 and the hint H are two servers: their labels differ. A bare
    // host keeps inheriting without a hint and stops with one; hints and
    // saved servers never inherit.
    struct Row {
        std::string label, server;
        int port, inherit;
        std::string user, password, domain;
    };
    for (const Row& row : std::vector<Row>{{"H:3390", "H", 3390, 0, "ann", "", ""},
                                           {"H", "H", 3389, 0, "ann", "", ""},
                                           {"B", "B", 3389, 1, "", "", ""},
                                           {"withpw", "withpw", 3389, 0, "bob", "pw", ""},
                                           {"withdomain", "withdomain", 3389, 0, "cy", "", "CORP"},
                                           {"A", "A", 3389, 0, "", "", ""},
                                           {"S", "S", 3389, 0, "", "", ""}}) {
        SCOPED_TRACE(row.label);
        const Properties& child = Child(row.label);
        EXPECT_EQ(child.Server, row.server);
        EXPECT_EQ(child.RDPPort, row.port);
        EXPECT_EQ(child.InheritGeneral, row.inherit);
        EXPECT_EQ(child.UserName + "|" + child.Password + "|" + child.Domain,
                  row.user + "|" + row.password + "|" + row.domain);
    }
}

// Nothing is imported twice, nor at all without the system client's key.
TEST_F(ImportTest, ExistingChildrenASecondRunAndNoDefaultKeyAddNothing) {
    Properties existing;
    existing.Name = "B";
    existing.Server = "elsewhere";
    children.push_back(existing);
    MstscSources sources = Sources({"A", "B", "C:3390 /admin"}, {"D", "B"}, {"E", "A"});
    Import(sources);
    EXPECT_EQ(Labels(), (std::vector<std::string>{"B", "A", "C:3390 /admin", "D", "E"}));
    EXPECT_EQ(Child("B").Server, "elsewhere");
    asked.clear();
    Import(sources);
    children.clear();
    sources.hasDefaultKey = false;
    Import(sources);
    EXPECT_TRUE(children.empty());
    EXPECT_TRUE(asked.empty());
}

// A server without a host, or with a name the configuration file cannot
// hold, could not be connected to or saved; it is left out and the rest goes on.
TEST_F(ImportTest, EntriesWithoutAHostOrWithUnstorableTextAreLeftOut) {
    hints = {{"badhint", std::string("us\x01") + "er"}};
    Import(Sources({"", ":3390", " /admin", std::string("ctl\x02"), "ok1"},
                   {"", "bad\xff", "badhint", "ok2"}, {"ok3"}));
    EXPECT_EQ(Labels(), (std::vector<std::string>{"ok1", "ok2", "ok3"}));
    EXPECT_EQ(asked, (std::vector<std::string>{std::string("ctl\x02"), "ok1", "bad\xff", "badhint",
                                               "ok2", "ok3"}));
}

// A hint's or saved server's name is an address as an entry's host is.
TEST_F(ImportTest, HintAndServerNamesAreReadAsAddresses) {
    Import(Sources({}, {"[::1]:3390", "   "}, {"fe80::1", "h:3391"}));
    EXPECT_EQ(Labels(), (std::vector<std::string>{"[::1]:3390", "fe80::1", "h:3391"}));
    for (const auto& [label, server, port] : std::vector<std::tuple<std::string, std::string, int>>{
             {"[::1]:3390", "::1", 3390}, {"fe80::1", "fe80::1", 3389}, {"h:3391", "h", 3391}}) {
        EXPECT_EQ(Child(label).Server, server);
        EXPECT_EQ(Child(label).RDPPort, port);
    }
}

// The three lists as the system client's keys hold them, in a key-store file.
class ReadSourcesTest : public ::testing::Test {
protected:
    void Reg(const std::string& body) {
        WriteFile(dir.file("user.reg"), "Windows Registry Editor Version 5.00\n\n" + body);
    }

    static std::string Key(const std::string& below) {
        return "[HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client\\" + below + "]\n";
    }

    TempDir dir;
    RegFileKeyStore keys{dir.file("user.reg"), dir.file("machine.reg")};
};

// Hex of a UTF-16LE text, with or without its terminator.
std::string WideHex(const std::string& ascii, bool terminated) {
    std::string hex;
    for (const char c : ascii) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "%02x,00,", static_cast<unsigned char>(c));
        hex += byte;
    }
    if (terminated) return hex + "00,00";
    hex.pop_back();
    return hex;
}

TEST_F(ReadSourcesTest, RecentValuesThatDoNotFitTheBufferAreSkipped) {
    const std::string fits(259, 'f');
    Reg(Key("Default") + "\"MRU0\"=\"first:3390\"\n\"MRU1\"=dword:00000001\n" +
        "\"MRU2\"=hex(1):" + WideHex("open", false) + "\n" +  //
        "\"MRU3\"=\"" + std::string(260, 'x') + "\"\n" +      //
        "\"MRU4\"=\"" + fits + "\"\n" +                       //
        "\"MRU6\"=hex(2):" + WideHex("expand", true) + "\n" + "\"MRU7\"=hex:41,00,00,00\n" +
        "\"MRU9\"=\"h\xc3\xb6st\"\n\"MRU10\"=\"never read\"\n");
    const MstscSources sources = ReadMstscSources(keys);
    ASSERT_TRUE(sources.hasDefaultKey);
    // No string, none without its terminator, none of 260 units, MRU5
    // missing, binary; MRU10 is never read.
    const std::optional<std::string> none;
    EXPECT_EQ(sources.recent,
              (std::vector<std::optional<std::string>>{"first:3390", none, none, none, fits, none,
                                                       "expand", none, none, "h\xc3\xb6st"}));
    EXPECT_TRUE(sources.hints.empty());
    EXPECT_TRUE(sources.servers.empty());
}

// Names are counted in UTF-16 units: an emoji takes two.
TEST_F(ReadSourcesTest, EnumerationsEndAtTheFirstNameOrHintDataThatDoesNotFit) {
    std::string emoji;
    for (int i = 0; i < 129; ++i) emoji += "\xf0\x9f\x98\x80";
    const std::string name259 = emoji + "a";  // 258 + 1 units
    const std::string name260 = emoji + "ab";
    Reg(Key("Default") + "\n" + Key("UsernameHint") + "\"a\"=\"u\"\n\"" + name259 + "\"=\"" +
        std::string(259, 'u') + "\"\n\"n\"=dword:00000001\n\"big\"=\"" + std::string(260, 'u') +
        "\"\n\"after\"=\"u\"\n" +  //
        Key("Servers\\s1") + Key("Servers\\" + name259) + Key("Servers\\" + name260) +
        Key("Servers\\s3"));
    MstscSources sources = ReadMstscSources(keys);
    EXPECT_EQ(sources.hints, (std::vector<std::string>{"a", name259, "n"}));
    EXPECT_EQ(sources.servers, (std::vector<std::string>{"s1", name259}));

    Reg(Key("Default") + Key("UsernameHint") + "\"a\"=\"u\"\n\"" + name260 +
        "\"=\"u\"\n\"b\"=\"u\"\n");
    sources = ReadMstscSources(keys);
    EXPECT_EQ(sources.hints, (std::vector<std::string>{"a"}));

    Reg(Key("UsernameHint") + "\"a\"=\"u\"\n" + Key("Servers\\s1"));  // no Default key
    sources = ReadMstscSources(keys);
    EXPECT_FALSE(sources.hasDefaultKey);
    EXPECT_TRUE(sources.recent.empty() && sources.hints.empty() && sources.servers.empty());
}

}  // namespace
}  // namespace vandrelle::test
