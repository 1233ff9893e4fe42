// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigFixture.h"
#include "NumberText.h"
#include "XmlDocument.h"

#include <climits>

namespace vandrelle::test {
namespace {

using ConfigReadTest = ConfigFixture;

TEST(NumberTextTest, ParsesLikeTheFileReader) {
    const std::pair<const char*, int> lenient[] = {{"12abc", 12},
                                                   {"abc", 0},
                                                   {"", 0},
                                                   {" -5", -5},
                                                   {"\t+7", 7},
                                                   {"--5", 0},
                                                   {"2147483647", INT_MAX},
                                                   {"2147483648", INT_MAX},
                                                   {"99999999999999999999999", INT_MAX},
                                                   {"-2147483648", INT_MIN},
                                                   {"-2147483649", INT_MIN}};
    for (const auto& [text, value] : lenient) EXPECT_EQ(ParseNumber(text), value) << text;
    EXPECT_EQ(FormatNumber(-20), "-20");
    int v = 0;
    EXPECT_TRUE(ParseStrictNumber("-20", &v));
    EXPECT_EQ(v, -20);
    EXPECT_TRUE(ParseStrictNumber("+7", &v));  // a sign, but not two
    EXPECT_EQ(v, 7);
    for (const char* text : {"12abc", "", "+-1", "2147483648"}) {
        EXPECT_FALSE(ParseStrictNumber(text, &v)) << text;
    }
}

TEST(NodePathTest, BufferFormEndsAtAnEmptyName) {
    const NodePath p({"Web", "db1"});
    EXPECT_EQ(p.ToBuffer(), std::string("Web\0db1\0\0", 9));
    EXPECT_EQ(NodePath::FromBuffer(p.ToBuffer()), p);
    EXPECT_TRUE(NodePath::FromBuffer(std::string("\0x\0\0", 4)).IsTop());
    EXPECT_EQ(NodePath::FromBuffer(std::string("a\0\0b\0\0", 6)), NodePath({"a"}));
}

// Names match by their whole text, case included, in document order; a path
// that does not resolve leaves the record as it was.
TEST_F(ConfigReadTest, PathsResolveByExactNameInDocumentOrder) {
    LoadData("hand-edited.xml");
    EXPECT_EQ(store->FindNode(NodePath()), store->ServersElement());
    // The group comes first in document order, so "Web" is the group, not the server;
    // a foreign element stands before it and a comment before group A.
    EXPECT_STREQ(store->FindNode(P({"Web"})).name(), "Group");
    EXPECT_EQ(Load(P({"Web", "db1"})).Server, "direct");  // first of two siblings named alike
    EXPECT_EQ(Load(P({"Web", "A", "db1"})).Server, "db1.example");
    EXPECT_FALSE(store->FindNode(P({"web"})));
    EXPECT_FALSE(store->FindNode(P({"Web", "nothing"})));
    try {
        store->FindNode(P({"web", "db1"}));
        FAIL() << "an inner name that does not resolve must be an error";
    } catch (const ConfigError& e) {
        EXPECT_EQ(e.code(), kInvalidPointer);
    }
    EXPECT_THROW(store->FindNode(NodePath({"Web", ""})), ConfigError);
    Properties p = Named("unchanged");
    store->LoadProperties(P({"Web", "nothing"}), p);
    store->LoadProperties(NodePath(), p);  // the top has no "Properties"
    EXPECT_EQ(p.Name, "unchanged");

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
    const std::pair<NodePath, const char*> found[] = {{P({"abcd"}), "split"},
                                                      {P({"nested"}), "nested"},
                                                      {P({"abcde"}), "longer"},
                                                      {P({"ab"}), "piece"},
                                                      {P({"late", "x"}), "in a later Properties"}};
    for (const auto& [path, server] : found) EXPECT_EQ(Load(path).Server, server);
    EXPECT_FALSE(store->FindNode(P({"abc"})));
    EXPECT_FALSE(store->FindNode(P({"ed"})));
}

// What the files hold, what missing elements default to, and the switches.
TEST_F(ConfigReadTest, FilesReadWithTheirDefaults) {
    EXPECT_EQ(store->GetStatusBarVisible(), 1);
    EXPECT_EQ(store->GetCloseTabOnLogOff(), 0);
    EXPECT_EQ(store->GetQuitWithoutConfirm(), 0);
    EXPECT_EQ(store->GetSingleInstance(), 0);
    struct Row {
        const char* file;
        NodePath path;
        int Properties::*field;
        int value;
    };
    const Row rows[] = {
        {"example.xml", P({"Office", "Build box"}), &Properties::RDPPort, 3389},
        {"example.xml", P({"Office", "Build box"}), &Properties::InheritGeneral, 1},
        {"example.xml", P({"Lab"}), &Properties::RDPPort, 3390},
        {"example.xml", P({"Lab"}), &Properties::DesktopWidth, -20},
        {"example.xml", P({"Lab"}), &Properties::ColorDepth, 32},
        {"example.xml", P({"Lab"}), &Properties::ConnectToServerConsole, 1},
        // Group A has no InheritGeneral: it inherits, and its own stale UserName is ignored.
        {"hand-edited.xml", P({"Web", "A", "db1"}), &Properties::RDPPort, 3390},
        {"hand-edited.xml", P({"Web", "A"}), &Properties::InheritGeneral, 1},
        {"hand-edited.xml", P({"Web", "db1"}), &Properties::KeyboardHookMode, 1},
        {"hand-edited.xml", P({"Web", "db1"}), &Properties::ColorDepth, 16},
        {"hand-edited.xml", P({"Web", "db1"}), &Properties::PerformanceFlags, 384},
        {"hand-edited.xml", P({"Web", "db1"}), &Properties::RedirectClipboard, 1},
        {"hand-edited.xml", P({"Web"}), &Properties::GroupCollapsed,
         0},  // left out by LoadProperties
    };
    for (const Row& row : rows) {
        LoadData(row.file);
        EXPECT_EQ(Load(row.path).*row.field, row.value) << row.file << " " << row.path.ToBuffer();
    }
    EXPECT_EQ(Load(P({"Web", "A", "db1"})).UserName, "u");
    Properties group;
    store->ReadGroupProperties(store->FindNode(P({"Web"})), group);
    EXPECT_EQ(group.GroupCollapsed, 1);
    EXPECT_EQ(store->GetStatusBarVisible(), 0);    // present but empty
    EXPECT_EQ(store->GetQuitWithoutConfirm(), 1);  // "1x"
    EXPECT_EQ(store->GetSingleInstance(), 0);
    LoadData("example.xml");
    const Properties lab = Load(P({"Lab"}));
    EXPECT_EQ(lab.UserName, "admin");
    EXPECT_EQ(lab.Description, "Test machine");
    EXPECT_EQ(Load(P({"Office", "Build box"})).Domain, "CORP");
    EXPECT_EQ(store->GetCloseTabOnLogOff(), 1);
}

TEST_F(ConfigReadTest, LogonFieldsComeFromTheNearestDefiningAncestor) {
    Properties b = Named("B");
    b.InheritGeneral = 0;
    b.UserName = "u";
    b.Password = "pw-B";
    b.RDPPort = 3390;
    ASSERT_TRUE(store->AddGroup(NodePath(), b));
    ASSERT_TRUE(store->AddGroup(P({"B"}), Named("A")));
    Properties s = Named("s");
    s.UserName = "ignored while inheriting";
    ASSERT_TRUE(store->AddServer(P({"B", "A"}), s));
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("C")));
    ASSERT_TRUE(store->AddServer(P({"C"}), s));

    const Properties got = Load(P({"B", "A", "s"}));
    EXPECT_EQ(got.UserName + " " + got.Password + " " + std::to_string(got.RDPPort), "u pw-B 3390");
    EXPECT_EQ(got.InheritGeneral, 1);
    EXPECT_EQ(Load(P({"B", "A"})).UserName, "u");
    const Properties lone = Load(P({"C", "s"}));  // nobody defines them: the defaults
    EXPECT_EQ(lone.UserName + "|" + lone.Password + "|" + std::to_string(lone.RDPPort), "||3389");

    // The top is the last place inheritance looks.
    Properties top = Named("Servers");
    top.InheritGeneral = 0;
    top.UserName = "admin";
    ASSERT_TRUE(store->UpdateGroup(NodePath(), top));
    EXPECT_EQ(Load(P({"C", "s"})).UserName, "admin");
    EXPECT_EQ(Load(P({"B", "A", "s"})).UserName, "u");
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

// Another root name and missing top elements are accepted; a failed load
// keeps the current document.
TEST_F(ConfigReadTest, LoadsAcceptOddFilesAndAFailureKeepsTheDocument) {
    LoadData("no-top-elements.xml");
    EXPECT_FALSE(store->IsDirty());
    EXPECT_EQ(ChildNames(store->Document().document_element()), "Other Servers Settings ");
    LoadData("hand-edited.xml");
    EXPECT_STREQ(store->Document().document_element().name(), "MyConnections");
    EXPECT_EQ(ChildNames(store->Document().document_element()), "Settings Servers ");

    LoadData("example.xml");
    EXPECT_FALSE(store->Load(DataFile("malformed.xml")));
    EXPECT_FALSE(store->LastLoadFileMissing());
    EXPECT_TRUE(HasText(store->LastLoadError(), "line"));
    EXPECT_FALSE(store->Load(dir.file("absent.xml")));
    EXPECT_TRUE(store->LastLoadFileMissing());
    WriteFile(dir.file("empty.xml"), "<?xml version=\"1.0\"?>\n<!-- no root -->\n");
    EXPECT_FALSE(store->Load(dir.file("empty.xml")));
    EXPECT_TRUE(store->FindNode(P({"Lab"})));
}

std::string Repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// Nesting up to the limit loads; one level more is refused with its place in
// the file; a million elements inside a name are refused the same way,
// without a crash.
TEST_F(ConfigReadTest, DocumentsNestedTooDeeplyAreRefused) {
    const int inner = kMaxElementDepth - 2;  // between the root and the innermost element
    const std::string path = dir.file("Vandrelle.xml");
    WriteFile(path, "<V>\n" + Repeat("<a>", inner) + "<b/>" + Repeat("</a>", inner) + "</V>");
    EXPECT_TRUE(store->Load(path)) << store->LastLoadError();
    WriteFile(path,
              "<V>\n" + Repeat("<a>", inner + 1) + "<b/>" + Repeat("</a>", inner + 1) + "</V>");
    EXPECT_FALSE(store->Load(path));
    EXPECT_TRUE(HasText(store->LastLoadError(), "line 2, column " +
                                                    std::to_string((inner + 1) * 3 + 1) +
                                                    ": elements nested deeper than " +
                                                    std::to_string(kMaxElementDepth) + " levels"));
    WriteFile(path, "<V><Servers><Server><Name>" + Repeat("<x>", 1000000) + "t" +
                        Repeat("</x>", 1000000) + "</Name></Server></Servers></V>");
    EXPECT_FALSE(store->Load(path));
    EXPECT_TRUE(HasText(store->LastLoadError(), "nested deeper"));
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
    const std::pair<const char*, const char*> refused[] = {
        {"<Description>ab&#0;cd</Description>", "line 2, column 38: a reference to character 0"},
        {"<Description>ab&#x0;cd</Description>", "line 2, column 38"},
        {"<Description>ab&#X000;cd</Description>", "line 2, column 38"},
        {"<Description>ab&#00;cd</Description>", "line 2, column 38"},
        {"<Description a=\"&#0;\">x</Description>", "line 2, column 23"}};
    for (const auto& [value, where] : refused) {
        WriteFile(dir.file("Vandrelle.xml"), head + value + "</Server></Servers></V>");
        EXPECT_FALSE(store->Load(dir.file("Vandrelle.xml"))) << value;
        EXPECT_TRUE(HasText(store->LastLoadError(), where));
    }
    WriteFile(dir.file("Vandrelle.xml"),
              head +
                  "<!-- &#0; --><Description><![CDATA[a&#0;b]]>&#0010;&#x20;c</Description>"
                  "<Server>&#48;</Server></Server></Servers></V>");
    ASSERT_TRUE(store->Load(dir.file("Vandrelle.xml"))) << store->LastLoadError();
    EXPECT_EQ(Load(P({"s"})).Description, "a&#0;b\r\n c");
    EXPECT_EQ(Load(P({"s"})).Server, "0");
}

// A file saved by another editor in UTF-16 with a byte order mark loads; in
// it too, a reference to character 0 is refused rather than cut.
TEST_F(ConfigReadTest, Utf16FilesLoad) {
    const auto utf16 = [](const std::string& latin1) {
        std::string out = "\xFF\xFE";
        for (const char c : latin1) out += std::string{c, '\0'};
        return out;
    };
    const std::string start = "<V><Servers><Server><Name>\xE9t\xE9";
    WriteFile(dir.file("Vandrelle.xml"), utf16(start + "</Name></Server></Servers></V>"));
    ASSERT_TRUE(store->Load(dir.file("Vandrelle.xml"))) << store->LastLoadError();
    EXPECT_TRUE(store->FindNode(P({"\xC3\xA9t\xC3\xA9"})));
    WriteFile(dir.file("Vandrelle.xml"), utf16(start + "&#0;x</Name></Server></Servers></V>"));
    EXPECT_FALSE(store->Load(dir.file("Vandrelle.xml")));
    EXPECT_TRUE(HasText(store->LastLoadError(), "character 0"));
}

}  // namespace
}  // namespace vandrelle::test
