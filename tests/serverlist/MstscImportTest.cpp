// SPDX-License-Identifier: GPL-3.0-or-later
#include "MstscImport.h"

#include "RegFileKeyStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace vandrelle::test {
namespace {

// A record as "name=server:port inherit console user|password|domain".
std::string Describe(const Properties& r) {
    return r.Name + "=" + r.Server + ":" + std::to_string(r.RDPPort) + " " +
           std::to_string(r.InheritGeneral) + " " + std::to_string(r.ConnectToServerConsole) + " " +
           r.UserName + "|" + r.Password + "|" + r.Domain + r.Description;
}

// A port that is no port number keeps the default and the inheriting; an
// IPv6 address keeps its colons and loses its brackets, so that a session and
// the system client can connect to it.
TEST(ParseRecentEntryTest, HostPortAndConsoleSwitch) {
    // The entry, then its record as "server:port inherit console"; no port
    // follows a bracket that is not right after the address.
    const char* cases[][2] = {{"H:3390 /admin", "H:3390 0 1"},
                              {"H/Admin", "H:3389 1 1"},
                              {"H:3391x", "H:3391 0 0"},
                              {"H /f", "H:3389 1 0"},
                              {"H:0", "H:3389 1 0"},
                              {"H:65536", "H:3389 1 0"},
                              {"H:1", "H:1 0 0"},
                              {"[2001:db8::5]:3391 /admin", "2001:db8::5:3391 0 1"},
                              {"fe80::1", "fe80::1:3389 1 0"},
                              {"[fe80::1]x", "[fe80::1]x:3389 1 0"}};
    for (const auto& [entry, record] : cases) {
        EXPECT_EQ(Describe(ParseRecentEntry(entry)), std::string(entry) + "=" + record + " ||");
    }
}

// The import into a group standing in for the tree, with a credential
// lookup that knows users for H, withpw (and a password), dom (and a domain)
// and badhint (one the file cannot hold).
struct Import {
    std::vector<std::string> asked;
    std::vector<Properties> children;

    std::string operator()(const MstscSources& sources) {
        ImportMstscConnections(
            sources,
            [this](const std::string& server, std::string& user, std::string& password,
                   std::string& domain) {
                asked.push_back(server);
                if (server != "H" && server != "withpw" && server != "dom" && server != "badhint")
                    return false;
                user = server == "H" ? "ann" : server == "badhint" ? "us\x01er" : "u";
                if (server == "withpw") password = "pw";
                if (server == "dom") domain = "CORP";
                return true;
            },
            [this](const std::string& label) {
                return std::ranges::any_of(children, [&](auto& c) { return c.Name == label; });
            },
            [this](const Properties& record) { children.push_back(record); });
        std::string out;
        for (const Properties& child : children) out += Describe(child) + "; ";
        return out;
    }
};

// Recent entries, then hints, then saved servers, each label once. A bare
// host keeps inheriting without stored credentials and stops with them;
// hints and saved servers never inherit, and are read as addresses. Nothing
// is imported twice, nor at all without the system client's key; nor what
// names no host or holds text the configuration file cannot hold.
TEST(ImportTest, EachServerOnceInItsOrderAndWhatCannotBeStoredIsLeftOut) {
    Import import;
    EXPECT_EQ(import({true,
                      {"H:3390", std::nullopt, "B", "H:3390", "withpw"},
                      {"H", "dom", "[::1]:3390", "withpw"},
                      {"dom", "h:3391"}}),
              "H:3390=H:3390 0 0 ann||; B=B:3389 1 0 ||; withpw=withpw:3389 0 0 u|pw|; "
              "H=H:3389 0 0 ann||; dom=dom:3389 0 0 u||CORP; [::1]:3390=::1:3390 0 0 ||; "
              "h:3391=h:3391 0 0 ||; ");
    // Asked by server text for each candidate that was not left out.
    EXPECT_EQ(import.asked, (std::vector<std::string>{"H", "B", "withpw", "H", "dom", "::1", "h"}));

    import = {};
    import.children.push_back(ParseRecentEntry("B"));
    import.children.back().Server = "elsewhere";
    MstscSources sources = {true,
                            {"B", "", ":3390", " /admin", "ctl\x02", "ok1"},
                            {"bad\xff", "badhint", "B"},
                            {"ok2"}};
    const std::string once = "B=elsewhere:3389 1 0 ||; ok1=ok1:3389 1 0 ||; ok2=ok2:3389 0 0 ||; ";
    EXPECT_EQ(import(sources), once);
    EXPECT_EQ(import(sources), once);
    sources.hasDefaultKey = false;
    import = {};
    EXPECT_EQ(import(sources), "");
    EXPECT_TRUE(import.asked.empty());
}

// The three lists as the system client's keys hold them, in a key-store file.
std::string Key(const std::string& below) {
    return "[HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client\\" + below + "]\n";
}

// MRU2 holds "open" without its terminator, MRU6 "expand" with it. No
// string, none without its terminator, none of 260 units, MRU5 missing,
// binary: none; MRU10 is never read. Names are counted in UTF-16 units (not
// in the bytes of their UTF-8), hint data in bytes: the enumerations end at the first
// that does not fit.
TEST(ReadSourcesTest, ValuesAndNamesThatDoNotFitTheBufferAreSkippedOrEndTheList) {
    TempDir dir;
    RegFileKeyStore keys(dir.file("user.reg"), dir.file("machine.reg"));
    const std::string fits(259, 'f');
    const std::string name259 = std::string(258, 'n') + "\xc3\xa9", name260 = name259 + "n";
    WriteFile(dir.file("user.reg"),
              "Windows Registry Editor Version 5.00\n\n" + Key("Default") +
                  "\"MRU0\"=\"first:3390\"\n\"MRU1\"=dword:00000001\n" +
                  "\"MRU2\"=hex(1):6f,00,70,00,65,00,6e,00\n\"MRU3\"=\"" + std::string(260, 'x') +
                  "\"\n\"MRU4\"=\"" + fits +
                  "\"\n\"MRU6\"=hex(2):65,00,78,00,70,00,61,00,6e,00,64,00,00,00" +
                  "\n\"MRU7\"=hex:41,00,00,00\n" +
                  "\"MRU9\"=\"h\xc3\xb6st\"\n\"MRU10\"=\"never read\"\n" + Key("UsernameHint") +
                  "\"a\"=\"u\"\n\"" + name259 + "\"=\"" + std::string(259, 'u') +
                  "\"\n\"n\"=dword:00000001\n\"big\"=\"" + std::string(260, 'u') +
                  "\"\n\"after\"=\"u\"\n" + Key("Servers\\s1") + Key("Servers\\" + name259) +
                  Key("Servers\\" + name260) + Key("Servers\\s3"));
    const MstscSources sources = ReadMstscSources(keys);
    ASSERT_TRUE(sources.hasDefaultKey);
    const std::optional<std::string> none;
    EXPECT_EQ(sources.recent,
              (std::vector<std::optional<std::string>>{"first:3390", none, none, none, fits, none,
                                                       "expand", none, none, "h\xc3\xb6st"}));
    EXPECT_EQ(sources.hints, (std::vector<std::string>{"a", name259, "n"}));
    EXPECT_EQ(sources.servers, (std::vector<std::string>{"s1", name259}));
}

}  // namespace
}  // namespace vandrelle::test
