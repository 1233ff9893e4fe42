// SPDX-License-Identifier: GPL-3.0-or-later
// The General page's rules without a window: loading, auto-fill, the checks
// in their order with their messages, and what is stored.
#include "GeneralMapper.h"

#include <gtest/gtest.h>

namespace vandrelle {
namespace {

Properties Server(const std::string& name, const std::string& host) {
    Properties p;
    p.Name = name;
    p.Server = host;
    return p;
}

GeneralMode Siblings(std::vector<std::string> names) {
    GeneralMode mode;
    mode.siblingNames = std::move(names);
    return mode;
}

std::vector<GeneralControl> Controls(const std::vector<GeneralProblem>& problems) {
    std::vector<GeneralControl> controls;
    for (const GeneralProblem& p : problems) controls.push_back(p.control);
    return controls;
}

TEST(GeneralMapperTest, LoadShowsTheRecordWithEditLineBreaks) {
    Properties p = Server("web", "web.example");
    p.UserName = "u";
    p.Password = "secret";
    p.Domain = "corp";
    p.RDPPort = -5;
    p.Description = "one\r\ntwo\rthree\nfour";
    p.InheritGeneral = 0;
    GeneralMapper mapper({});
    const GeneralState s = mapper.Load(p);
    EXPECT_EQ(s.name, "web");
    EXPECT_EQ(s.server, "web.example");
    EXPECT_EQ(s.userName, "u");
    EXPECT_EQ(s.password, "secret");
    EXPECT_EQ(s.domain, "corp");
    EXPECT_EQ(s.port, "-5");
    EXPECT_EQ(s.description, "one\ntwo\nthree\nfour");
    EXPECT_FALSE(s.inherit);
}

// Every reader takes a non-zero InheritGeneral as inheriting (and the logon
// controls are disabled then), so the box shows such a value checked.
TEST(GeneralMapperTest, AnyNonZeroInheritValueShowsChecked) {
    GeneralMapper mapper({});
    for (int value : {1, 2, 5, -1}) {
        Properties p;
        p.InheritGeneral = value;
        EXPECT_TRUE(mapper.Load(p).inherit) << value;
    }
    Properties own;
    own.InheritGeneral = 0;
    EXPECT_FALSE(mapper.Load(own).inherit);
}

TEST(GeneralMapperTest, AutoFillLastsUntilTheServerIsEdited) {
    GeneralMapper mapper({});
    mapper.Load(Server("", ""));
    EXPECT_TRUE(mapper.AutoFill());
    EXPECT_EQ(mapper.ServerForName("db1"), "db1");
    mapper.ServerEdited();
    EXPECT_FALSE(mapper.AutoFill());
    EXPECT_EQ(mapper.ServerForName("db12"), std::nullopt);

    mapper.Load(Server("web", "web.example"));
    EXPECT_FALSE(mapper.AutoFill());
    EXPECT_EQ(mapper.ServerForName("web2"), std::nullopt);

    GeneralMode group;
    group.group = true;
    GeneralMapper groupMapper(group);
    groupMapper.Load(Server("", ""));
    EXPECT_EQ(groupMapper.ServerForName("Office"), std::nullopt);
}

TEST(GeneralMapperTest, AnOwnPortIsRefusedWhenNoNumberOrOutOfRange) {
    GeneralMapper mapper({});
    GeneralState s = mapper.Load(Server("web", "web.example"));
    s.inherit = false;
    for (const char* text : {"", "  ", "12abc", "99999999999"}) {
        s.port = text;
        const auto problems = mapper.Validate(s);
        ASSERT_EQ(problems.size(), 1u) << text;
        EXPECT_EQ(problems[0].control, GeneralControl::Port);
        EXPECT_EQ(problems[0].message, "") << "no number: a beep only";
    }
    for (const char* text : {"0", "65536", "-1"}) {
        s.port = text;
        const auto problems = mapper.Validate(s);
        ASSERT_EQ(problems.size(), 1u) << text;
        EXPECT_EQ(problems[0].control, GeneralControl::Port);
        EXPECT_EQ(problems[0].message, "Port must between 1 and 65535, default is 3389.");
    }
    for (const char* text : {"1", "65535", " 3390", "+22"}) {
        s.port = text;
        EXPECT_TRUE(mapper.Validate(s).empty()) << text;
    }
    // An inherited port belongs to an ancestor and its control is disabled: a
    // bad one there must not make this node's sheet impossible to confirm.
    s.inherit = true;
    s.port = "0";
    EXPECT_TRUE(mapper.Validate(s).empty());
}

TEST(GeneralMapperTest, ChecksComeInThePagesOrder) {
    GeneralMapper mapper({});
    GeneralState s = mapper.Load(Server("", ""));
    s.inherit = false;
    s.port = "0";
    s.name = " \t ";
    s.server = "  ";
    const auto problems = mapper.Validate(s);
    EXPECT_EQ(Controls(problems),
              (std::vector{GeneralControl::Port, GeneralControl::Name, GeneralControl::Server}));
    EXPECT_EQ(problems[1].message, "Must enter a name.");
    EXPECT_EQ(problems[2].message, "Must enter server name (IP Address or hostname).");
}

TEST(GeneralMapperTest, ServerWithOneColonIsRefusedButIpv6Passes) {
    GeneralMapper mapper({});
    GeneralState s = mapper.Load(Server("web", "x"));
    for (const char* host : {"10.0.0.1:3390", "web.example:3389", " host: "}) {
        s.server = host;
        const auto problems = mapper.Validate(s);
        ASSERT_EQ(problems.size(), 1u) << host;
        EXPECT_EQ(problems[0].control, GeneralControl::Server);
        EXPECT_EQ(problems[0].message,
                  "Format <IP Address:Port> is not supported. Type port in the 'Port' inputbox.");
    }
    for (const char* host : {"::1", "fe80::1", "2001:db8::1:3389", "web.example", "10.0.0.1"}) {
        s.server = host;
        EXPECT_TRUE(mapper.Validate(s).empty()) << host;
    }
}

TEST(GeneralMapperTest, ANameThatASiblingCarriesIsRefusedAfterTrimming) {
    GeneralMapper mapper(Siblings({"web", "Office", "db 1"}));
    GeneralState s = mapper.Load(Server("new", "host"));
    s.name = "  Office ";
    auto problems = mapper.Validate(s);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].control, GeneralControl::Name);
    EXPECT_EQ(problems[0].message, "A group or server named 'Office' already exists here.");

    for (const char* name : {"office", "Web", "db  1", "Office2"}) {
        s.name = name;
        EXPECT_TRUE(mapper.Validate(s).empty()) << "exact comparison: " << name;
    }
    // The empty-name check comes first, and a name already refused is not
    // refused twice.
    s.name = "";
    GeneralMapper blankSibling(Siblings({""}));
    problems = blankSibling.Validate(s);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].message, "Must enter a name.");
}

TEST(GeneralMapperTest, GroupsSkipTheServerChecksButNotThePortOrName) {
    GeneralMode mode = Siblings({"Office"});
    mode.group = true;
    GeneralMapper mapper(mode);
    GeneralState s = mapper.Load(Server("Lab", ""));
    s.inherit = false;
    EXPECT_TRUE(mapper.Validate(s).empty()) << "no server needed";
    s.server = "host:1";
    EXPECT_TRUE(mapper.Validate(s).empty()) << "a group's server is never checked";
    s.port = "70000";
    s.name = "Office";
    EXPECT_EQ(Controls(mapper.Validate(s)),
              (std::vector{GeneralControl::Port, GeneralControl::Name}));
}

TEST(GeneralMapperTest, StoreTrimsNamesAndWritesRecordLineBreaks) {
    GeneralMapper mapper({});
    Properties p = Server("x", "y");
    GeneralState s = mapper.Load(p);
    s.name = "  web 1\t";
    s.server = " web.example ";
    s.userName = " u ";
    s.password = " p ";
    s.domain = "d";
    s.port = "3390";
    s.description = "a\nb\n";
    s.inherit = false;
    mapper.Store(s, p);
    EXPECT_EQ(p.Name, "web 1");
    EXPECT_EQ(p.Server, "web.example");
    EXPECT_EQ(p.UserName, " u ") << "logon texts are kept as typed";
    EXPECT_EQ(p.Password, " p ");
    EXPECT_EQ(p.Domain, "d");
    EXPECT_EQ(p.RDPPort, 3390);
    EXPECT_EQ(p.Description, "a\r\nb\r\n");
    EXPECT_EQ(p.InheritGeneral, 0);

    s.inherit = true;
    s.port = "";
    mapper.Store(s, p);
    EXPECT_EQ(p.InheritGeneral, 1);
    EXPECT_EQ(p.RDPPort, 3390) << "a port that is no number is not written";
}

TEST(GeneralMapperTest, AnUntouchedRecordStoresUnchanged) {
    Properties p = Server("web", "web.example");
    p.Description = "line 1\r\nline 2";
    p.InheritGeneral = 0;
    p.RDPPort = 3391;
    GeneralMapper mapper({});
    Properties stored = p;
    mapper.Store(mapper.Load(p), stored);
    EXPECT_TRUE(PropertiesEqual(stored, p));

    GeneralMode group;
    group.group = true;
    GeneralMapper groupMapper(group);
    Properties g = Server("Lab", " kept ");
    Properties groupStored = g;
    groupMapper.Store(groupMapper.Load(g), groupStored);
    EXPECT_EQ(groupStored.Server, " kept ") << "a group's hidden server is left alone";
}

}  // namespace
}  // namespace vandrelle
