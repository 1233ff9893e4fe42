// SPDX-License-Identifier: GPL-3.0-or-later
#include "QuickConnect.h"

#include "Utf16.h"

#include <gtest/gtest.h>

using namespace vandrelle;

namespace {

Properties Typed(std::u16string_view text, bool console = false) {
    const auto record = QuickConnectRecord(text, console);
    EXPECT_TRUE(record.has_value()) << "nothing for a text that is not blank";
    return record.value_or(Properties{});
}

TEST(QuickConnect, TheTextSplitsAtItsLastColonAndThePortReadsAsTheCLibraryReadsIt) {
    EXPECT_EQ(Typed(u"host").Server, "host");
    EXPECT_EQ(Typed(u"host").RDPPort, 3389);
    EXPECT_EQ(Typed(u"host:3390").RDPPort, 3390);
    EXPECT_EQ(Typed(u"host:3390").Name, "host");
    for (const auto* text : {u"host:", u"host:0", u"host:abc"}) {
        const Properties r = Typed(text);
        EXPECT_EQ(r.Server, "host");
        EXPECT_EQ(r.RDPPort, 3389);
    }
    EXPECT_EQ(Typed(u"host: 3391x").RDPPort, 3391);  // leading blanks, up to the first non-digit
}

TEST(QuickConnect, IPv6AddressesReadAsImportedOnes) {
    struct Row {
        std::u16string_view text;
        std::string server;
        int port;
    };
    for (const Row& row : {Row{u"fe80::1", "fe80::1", 3389}, Row{u"[::1]", "::1", 3389},
                           Row{u"[::1]:3390", "::1", 3390}, Row{u"a:b:3390", "a:b:3390", 3389}}) {
        const Properties r = Typed(row.text);
        EXPECT_EQ(r.Server, row.server) << Utf16ToUtf8(row.text);
        EXPECT_EQ(r.RDPPort, row.port) << Utf16ToUtf8(row.text);
    }
}

TEST(QuickConnect, APortOutsideItsRangeIsRefusedWithTheSheetsMessage) {
    for (const auto* text : {u"host:-5", u"host:65536", u"host:99999", u"[::1]:70000"}) {
        std::string problem;
        EXPECT_FALSE(QuickConnectRecord(text, false, &problem)) << Utf16ToUtf8(text);
        EXPECT_EQ(problem, kPortRangeMessage);
    }
    std::string problem;
    EXPECT_EQ(QuickConnectRecord(u"host:65535", false, &problem)->RDPPort, 65535);
    EXPECT_EQ(problem, "");
}

TEST(QuickConnect, BlanksAroundAreDroppedAndTheRecordHasItsOwnLogOn) {
    const Properties r = Typed(u" \t host.example \n", true);
    EXPECT_EQ(r.Name, "host.example");
    EXPECT_EQ(r.Server, "host.example");
    EXPECT_EQ(r.ConnectToServerConsole, 1);
    EXPECT_EQ(r.InheritGeneral, 0);
    EXPECT_EQ(r.ColorDepth, Properties().ColorDepth);
    EXPECT_FALSE(QuickConnectRecord(u"", false));
    EXPECT_FALSE(QuickConnectRecord(u"  \t ", false));
    EXPECT_EQ(Typed(u":3390").Server, "");  // a session without a server: its connect fails
    EXPECT_EQ(Typed(u"höst").Server, "h\xC3\xB6st");
}

}  // namespace
