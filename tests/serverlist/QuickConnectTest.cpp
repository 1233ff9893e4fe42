// SPDX-License-Identifier: GPL-3.0-or-later
#include "QuickConnect.h"

#include "Utf16.h"

#include <gtest/gtest.h>

using namespace vandrelle;

namespace {

// Blanks around the text are dropped; it splits at its only colon (or after
// an address in brackets) and the port reads as the C library reads it:
// leading blanks, digits up to the first other character; 0 or none keeps the
// default, out of range refuses, and so does a text of blanks only. The record
// has its own log-on settings and the console switch given.
TEST(QuickConnect, HostAndPortOfTheTypedText) {
    struct Row {
        std::u16string_view text;
        std::string server;
        int port;  // -1: refused for its port, 0: refused without a word
    };
    for (const Row& row :
         {Row{u" \t host.example \n", "host.example", 3389}, Row{u"host:0", "host", 3389},
          Row{u"host:abc", "host", 3389}, Row{u"host: 3391x", "host", 3391},
          Row{u"host:65535", "host", 65535}, Row{u"[::1]:3390", "::1", 3390},
          Row{u"a:b:3390", "a:b:3390", 3389}, Row{u"h\u00f6st", "h\xC3\xB6st", 3389},
          Row{u"host:-5", "", -1}, Row{u"host:65536", "", -1}, Row{u"  \t ", "", 0}}) {
        SCOPED_TRACE(Utf16ToUtf8(row.text));
        std::string problem;
        const bool console = row.port == 3389;  // given on some rows, not on others
        const auto record = QuickConnectRecord(row.text, console, &problem);
        ASSERT_EQ(record.has_value(), row.port > 0);
        EXPECT_EQ(problem, row.port < 0 ? kPortRangeMessage : "");
        if (!record) continue;
        EXPECT_EQ(record->Server + " " + record->Name, row.server + " " + row.server);
        EXPECT_EQ(record->RDPPort, row.port);
        EXPECT_EQ(std::vector({record->ConnectToServerConsole, record->InheritGeneral}),
                  std::vector({console ? 1 : 0, 0}));
    }
}

}  // namespace
