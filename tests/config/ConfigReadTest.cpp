// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigFixture.h"
#include "NumberText.h"
#include "XmlDocument.h"

namespace vandrelle::test {
namespace {

using ConfigReadTest = ConfigFixture;

TEST(NumberTextTest, ParsesLikeTheFileReader) {
    EXPECT_EQ(ParseNumber("12abc"), 12);
    EXPECT_EQ(ParseNumber("abc"), 0);
    EXPECT_EQ(ParseNumber(""), 0);
    EXPECT_EQ(ParseNumber(" -5"), -5);
    EXPECT_EQ(ParseNumber("\t+7"), 7);
    EXPECT_EQ(ParseNumber("--5"), 0);
    EXPECT_EQ(ParseNumber("2147483647"), 2147483647);
    EXPECT_EQ(ParseNumber("2147483648"), 2147483647);
    EXPECT_EQ(ParseNumber("99999999999999999999999"), 2147483647);
    EXPECT_EQ(ParseNumber("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseNumber("-2147483649"), -2147483647 - 1);
    EXPECT_EQ(FormatNumber(-20), "-20");
    int v = 0;
    EXPECT_TRUE(ParseStrictNumber("-20", &v));
    EXPECT_EQ(v, -20);
    EXPECT_FALSE(ParseStrictNumber("12abc", &v));
    EXPECT_FALSE(ParseStrictNumber("", &v));
    EXPECT_FALSE(ParseStrictNumber("+-1", &v));
    EXPECT_FALSE(ParseStrictNumber("2147483648", &v));
}

TEST(NodePathTest, BufferFormEndsAtAnEmptyName) {
    const NodePath p({"Web", "db1"});
    EXPECT_EQ(p.ToBuffer(), std::string("Web\0db1\0\0", 9));
    EXPECT_EQ(NodePath::FromBuffer(p.ToBuffer()), p);
    EXPECT_TRUE(NodePath::FromBuffer(std::string("\0x\0\0", 4)).IsTop());
    EXPECT_EQ(NodePath::FromBuffer(std::string("a\0\0b\0\0", 6)), NodePath({"a"}));
}

TEST_F(ConfigReadTest, PathsResolveByExactNameInDocumentOrder) {
    LoadData("hand-edited.xml");
    EXPECT_EQ(store->FindNode(NodePath()), store->ServersElement());
    // The group comes first in document order, so "Web" is the group, not the server;
    // a foreign element stands before it and a comment before group A.
    EXPECT_STREQ(store->FindNode(P({"Web"})).name(), "Group");
    EXPECT_EQ(Load(P({"Web", "db1"})).Server, "direct");  // first of two siblings named alike
    EXPECT_EQ(Load(P({"Web", "A", "db1"})).Server, "db1.example");
    EXPECT_FALSE(store->FindNode(P({"web"})));  // case matters
    EXPECT_FALSE(store->FindNode(P({"Web", "nothing"})));
    try {
        store->FindNode(P({"web", "db1"}));
        FAIL() << "an inner name that does not resolve must be an error";
    } catch (const ConfigError& e) {
        EXPECT_EQ(e.code(), kInvalidPointer);
    }
    EXPECT_THROW(store->FindNode(NodePath({"Web", ""})), ConfigError);
}

TEST_F(ConfigReadTest, NamesMatchByTheirWholeTextOnly) {
    WriteFile(dir.file("Vandrelle.xml"),
              "<V><Servers>"
              "<Server><Name>ab<!--x-->cd</Name><Server>split</Server></Server>"
              "<Server><Name><b>nest</b>ed</Name><Server>nested</Server></Server>"
              "<Server><Name>abcde</Name><Server>longer</Server></Server>"
              "<Server><Name>ab</Name><Server>piece</Server></Server>"
              "<Group><Properties/><Properties><Name>la<![CDATA[te]]></Name></Properties>"
              "<Server><Name>x</Name><Server>in a later Properties</Server></Server></Group>"
              "</Servers></V>");
    ASSERT_TRUE(store->Load(dir.file("Vandrelle.xml")));
    EXPECT_EQ(Load(P({"abcd"})).Server, "split");
    EXPECT_EQ(Load(P({"nested"})).Server, "nested");
    EXPECT_EQ(Load(P({"abcde"})).Server, "longer");
    EXPECT_EQ(Load(P({"ab"})).Server, "piece");  // not the first server, whose name only starts so
    EXPECT_EQ(Load(P({"late", "x"})).Server, "in a later Properties");
    EXPECT_FALSE(store->FindNode(P({"abc"})));
    EXPECT_FALSE(store->FindNode(P({"ed"})));
}

TEST_F(ConfigReadTest, MissingNodeLeavesTheRecordUntouched) {
    LoadData("example.xml");
    Properties p;
    p.Name = "unchanged";
    store->LoadProperties(P({"Office", "nothing"}), p);
    EXPECT_EQ(p.Name, "unchanged");
    // The top has no "Properties": its record stays as it was.
    store->LoadProperties(NodePath(), p);
    EXPECT_EQ(p.Name, "unchanged");
}

TEST_F(ConfigReadTest, ExampleFileReadsAsDescribed) {
    LoadData("example.xml");
    const Properties build = Load(P({"Office", "Build box"}));
    EXPECT_EQ(build.UserName, "jdoe");
    EXPECT_EQ(build.Domain, "CORP");
    EXPECT_EQ(build.RDPPort, 3389);
    EXPECT_EQ(build.InheritGeneral, 1);
    const Properties lab = Load(P({"Lab"}));
    EXPECT_EQ(lab.UserName, "admin");
    EXPECT_EQ(lab.RDPPort, 3390);
    EXPECT_EQ(lab.DesktopWidth, -20);
    EXPECT_EQ(lab.ColorDepth, 32);
    EXPECT_EQ(lab.ConnectToServerConsole, 1);
    EXPECT_EQ(lab.Description, "Test machine");
    EXPECT_EQ(store->GetCloseTabOnLogOff(), 1);
}

TEST_F(ConfigReadTest, LogonFieldsComeFromTheNearestDefiningAncestor) {
    Properties b;
    b.Name = "B";
    b.InheritGeneral = 0;
    b.UserName = "u";
    b.Password = "pw-B";
    b.RDPPort = 3390;
    ASSERT_TRUE(store->AddGroup(NodePath(), b));
    Properties a;
    a.Name = "A";
    ASSERT_TRUE(store->AddGroup(P({"B"}), a));
    Properties s;
    s.Name = "s";
    s.UserName = "ignored while inheriting";
    ASSERT_TRUE(store->AddServer(P({"B", "A"}), s));

    const Properties got = Load(P({"B", "A", "s"}));
    EXPECT_EQ(got.UserName, "u");
    EXPECT_EQ(got.Password, "pw-B");
    EXPECT_EQ(got.RDPPort, 3390);
    EXPECT_EQ(got.InheritGeneral, 1);
    EXPECT_EQ(Load(P({"B", "A"})).UserName, "u");

    // With nobody defining them: the defaults.
    Properties c;
    c.Name = "C";
    ASSERT_TRUE(store->AddGroup(NodePath(), c));
    ASSERT_TRUE(store->AddServer(P({"C"}), s));
    const Properties lone = Load(P({"C", "s"}));
    EXPECT_EQ(lone.UserName, "");
    EXPECT_EQ(lone.Password, "");
    EXPECT_EQ(lone.RDPPort, 3389);

    // The top is the last place inheritance looks.
    Properties top;
    top.Name = "Servers";
    top.InheritGeneral = 0;
    top.UserName = "admin";
    ASSERT_TRUE(store->UpdateGroup(NodePath(), top));
    EXPECT_EQ(Load(P({"C", "s"})).UserName, "admin");
    EXPECT_EQ(Load(P({"B", "A", "s"})).UserName, "u");
}

TEST_F(ConfigReadTest, GroupWithoutInheritGeneralCountsAsInheriting) {
    LoadData("hand-edited.xml");
    // Group A has no InheritGeneral; its server gets the outer group's log-on fields,
    // and its own stale UserName element is ignored.
    const Properties db1 = Load(P({"Web", "A", "db1"}));
    EXPECT_EQ(db1.UserName, "u");
    EXPECT_EQ(db1.RDPPort, 3390);
    EXPECT_EQ(Load(P({"Web", "A"})).InheritGeneral, 1);
}

TEST_F(ConfigReadTest, MissingElementsKeepTheirDefaults) {
    LoadData("hand-edited.xml");
    const Properties p = Load(P({"Web", "db1"}));
    EXPECT_EQ(p.KeyboardHookMode, 1);
    EXPECT_EQ(p.ColorDepth, 16);
    EXPECT_EQ(p.PerformanceFlags, 384);
    EXPECT_EQ(p.RedirectClipboard, 1);
    Properties group;
    store->ReadGroupProperties(store->FindNode(P({"Web"})), group);
    EXPECT_EQ(group.GroupCollapsed, 1);
    EXPECT_EQ(Load(P({"Web"})).GroupCollapsed, 0);  // the full reader leaves collapse state out
}

TEST_F(ConfigReadTest, SwitchesReadTheirDefaultsAndNumbers) {
    EXPECT_EQ(store->GetStatusBarVisible(), 1);
    EXPECT_EQ(store->GetCloseTabOnLogOff(), 0);
    EXPECT_EQ(store->GetQuitWithoutConfirm(), 0);
    EXPECT_EQ(store->GetSingleInstance(), 0);
    LoadData("hand-edited.xml");
    EXPECT_EQ(store->GetStatusBarVisible(), 0);    // present but empty
    EXPECT_EQ(store->GetQuitWithoutConfirm(), 1);  // "1x"
    EXPECT_EQ(store->GetSingleInstance(), 0);
}

TEST_F(ConfigReadTest, ValuesAreTheirTextWithoutCommentsAndWithCrLfLineBreaks) {
    WriteFile(dir.file("Vandrelle.xml"),
              "<V><Servers><Server><Name>s<!-- the lab --></Name>"
              "<ColorDepth><!-- 24 --></ColorDepth><RDPPort><!--x-->3390</RDPPort>"
              "<Description>a\nb\r\nc</Description>"
              "<Server><![CDATA[h<1>]]></Server></Server></Servers></V>");
    ASSERT_TRUE(store->Load(dir.file("Vandrelle.xml")));
    const Properties p = Load(P({"s"}));
    EXPECT_EQ(p.Description, "a\r\nb\r\nc");
    EXPECT_EQ(p.ColorDepth, 0);  // present but without text
    EXPECT_EQ(p.Server, "h<1>");
    Properties own;
    own.InheritGeneral = 0;
    store->ReadGroupProperties(store->ServersElement(), own);  // no top "Properties": untouched
    EXPECT_EQ(own.RDPPort, 3389);
    store->ReadProperties(store->FindNode(P({"s"})), own);
    EXPECT_EQ(own.RDPPort, 3390);
}

TEST_F(ConfigReadTest, AnotherRootNameAndMissingTopElementsAreAccepted) {
    LoadData("no-top-elements.xml");
    EXPECT_FALSE(store->IsDirty());
    EXPECT_EQ(ChildNames(store->Document().document_element()), "Other Servers Settings ");
    LoadData("hand-edited.xml");
    EXPECT_STREQ(store->Document().document_element().name(), "MyConnections");
    EXPECT_EQ(ChildNames(store->Document().document_element()), "Settings Servers ");
}

TEST_F(ConfigReadTest, FailedLoadKeepsTheCurrentDocument) {
    LoadData("example.xml");
    EXPECT_FALSE(store->Load(DataFile("malformed.xml")));
    EXPECT_FALSE(store->LastLoadFileMissing());
    EXPECT_NE(store->LastLoadError().find("line"), std::string::npos) << store->LastLoadError();
    EXPECT_FALSE(store->Load(dir.file("absent.xml")));
    EXPECT_TRUE(store->LastLoadFileMissing());
    WriteFile(dir.file("empty.xml"), "<?xml version=\"1.0\"?>\n<!-- no root -->\n");
    EXPECT_FALSE(store->Load(dir.file("empty.xml")));
    EXPECT_TRUE(store->FindNode(P({"Lab"})));
}

std::string Repeat(std::string_view piece, int times) {
    std::string out;
    out.reserve(piece.size() * static_cast<std::size_t>(times));
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// Nesting up to the limit loads; one level more is refused with its place in
// the file. Hostile nesting (groups 100,000 deep, a million elements inside a
// name) is refused the same way, without a crash.
TEST_F(ConfigReadTest, DocumentsNestedTooDeeplyAreRefused) {
    const int inner = kMaxElementDepth - 2;  // between the root and the innermost element
    WriteFile(dir.file("Vandrelle.xml"),
              "<V>\n" + Repeat("<a>", inner) + "<b/>" + Repeat("</a>", inner) + "</V>");
    EXPECT_TRUE(store->Load(dir.file("Vandrelle.xml"))) << store->LastLoadError();
    WriteFile(dir.file("Vandrelle.xml"),
              "<V>\n" + Repeat("<a>", inner + 1) + "<b/>" + Repeat("</a>", inner + 1) + "</V>");
    EXPECT_FALSE(store->Load(dir.file("Vandrelle.xml")));
    EXPECT_NE(store->LastLoadError().find("line 2, column " + std::to_string((inner + 1) * 3 + 1) +
                                          ": elements nested deeper than " +
                                          std::to_string(kMaxElementDepth) + " levels"),
              std::string::npos)
        << store->LastLoadError();

    constexpr int kDeep = 100000;
    WriteFile(dir.file("groups.xml"),
              "<Vandrelle><Servers>" +
                  Repeat("<Group><Properties><Name>g</Name></Properties>", kDeep) +
                  Repeat("</Group>", kDeep) + "</Servers></Vandrelle>");
    EXPECT_FALSE(store->Load(dir.file("groups.xml")));
    EXPECT_NE(store->LastLoadError().find("nested deeper"), std::string::npos);
    constexpr int kMillion = 1000000;
    WriteFile(dir.file("name.xml"), "<V><Servers><Server><Name>" + Repeat("<x>", kMillion) + "t" +
                                        Repeat("</x>", kMillion) +
                                        "</Name></Server></Servers></V>");
    EXPECT_FALSE(store->Load(dir.file("name.xml")));
    EXPECT_NE(store->LastLoadError().find("nested deeper"), std::string::npos);
}

// The text of an element is collected without recursion, so that even a
// document built deeper than any file may be costs no stack.
TEST(XmlDocumentTest, ElementTextOfDeepNestingNeedsNoStack) {
    pugi::xml_document doc;
    pugi::xml_node name = doc.append_child("Name");
    pugi::xml_node node = name;
    for (int i = 0; i < 1000000; ++i) node = node.append_child("x");
    node.append_child(pugi::node_pcdata).set_value("deep");
    name.prepend_child(pugi::node_pcdata).set_value("so ");
    EXPECT_EQ(ElementText(name), "so deep");
    EXPECT_EQ(ElementDepth(node), 1000001);
    EXPECT_EQ(FirstElementBelow(name, 999999), node);
    EXPECT_FALSE(FirstElementBelow(name, 1000000));
}

// A reference to character 0 is not allowed in XML; decoded, it would end
// the text there and the rest would be lost without a word. Where the file's
// text is literal (comments, CDATA) it is only text and loads as it is.
TEST_F(ConfigReadTest, AReferenceToCharacterZeroIsRefusedNotCut) {
    const std::string head = "<V><Servers>\n<Server><Name>s</Name>";
    for (const char* value :
         {"<Description>ab&#0;cd</Description>", "<Description>ab&#x0;cd</Description>",
          "<Description>ab&#X000;cd</Description>", "<Description>ab&#00;cd</Description>"}) {
        WriteFile(dir.file("Vandrelle.xml"), head + value + "</Server></Servers></V>");
        EXPECT_FALSE(store->Load(dir.file("Vandrelle.xml"))) << value;
        EXPECT_NE(store->LastLoadError().find("line 2, column 38: a reference to character 0"),
                  std::string::npos)
            << store->LastLoadError();
    }
    WriteFile(dir.file("Vandrelle.xml"),
              head + "<Description a=\"&#0;\">x</Description></Server></Servers></V>");
    EXPECT_FALSE(store->Load(dir.file("Vandrelle.xml")));
    EXPECT_NE(store->LastLoadError().find("line 2, column 23"), std::string::npos)
        << store->LastLoadError();

    WriteFile(dir.file("Vandrelle.xml"),
              head +
                  "<!-- &#0; --><Description><![CDATA[a&#0;b]]>&#0010;&#x20;c</Description>"
                  "<Server>&#48;</Server></Server></Servers></V>");
    ASSERT_TRUE(store->Load(dir.file("Vandrelle.xml"))) << store->LastLoadError();
    const Properties p = Load(P({"s"}));
    EXPECT_EQ(p.Description, "a&#0;b\r\n c");
    EXPECT_EQ(p.Server, "0");
}

TEST_F(ConfigReadTest, Utf16FilesLoad) {
    // A file saved by another editor in UTF-16 with a byte order mark.
    const std::string text =
        "<V><Servers><Server><Name>\xC3\xA9t\xC3\xA9</Name></Server>"
        "</Servers></V>";
    std::string utf16 = "\xFF\xFE";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0xC3) {  // the only two-byte sequence used above: U+00E9
            utf16 += '\xE9';
            ++i;
        } else {
            utf16 += static_cast<char>(c);
        }
        utf16 += '\0';
    }
    WriteFile(dir.file("Vandrelle.xml"), utf16);
    ASSERT_TRUE(store->Load(dir.file("Vandrelle.xml"))) << store->LastLoadError();
    EXPECT_TRUE(store->FindNode(P({"\xC3\xA9t\xC3\xA9"})));

    // In UTF-16 too, a reference to character 0 is refused rather than cut.
    const std::string cut = "&#0;x";
    std::string refused = utf16.substr(0, utf16.find(std::string("<\0/\0N", 5)));
    for (const char c : cut) refused += std::string{c, '\0'};
    refused += utf16.substr(refused.size() - 2 * cut.size());
    WriteFile(dir.file("Vandrelle.xml"), refused);
    EXPECT_FALSE(store->Load(dir.file("Vandrelle.xml")));
    EXPECT_NE(store->LastLoadError().find("character 0"), std::string::npos)
        << store->LastLoadError();
}

}  // namespace
}  // namespace vandrelle::test
