// SPDX-License-Identifier: GPL-3.0-or-later
#include "QuickConnect.h"

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
    EXPECT_EQ(Typed(u"host:-5").RDPPort, -5);        // refused later by the client, as typed
    const Properties v6 = Typed(u"a:b:3390");
    EXPECT_EQ(v6.Server, "a:b");
    EXPECT_EQ(v6.RDPPort, 3390);
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
