// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigFixture.h"
#include "NumberText.h"
#include "XmlDocument.h"

#include <climits>

namespace vandrelle::test {
namespace {

using ConfigReadTest = ConfigFixture;

// The file reader takes a number's leading digits and clamps it; the strict
// form (of typed fields) takes one sign and digits only.
TEST(NumberTextTest, ParsesLenientlyOrStrictly) {
    const std::pair<const char*, int> lenient[] = {
        {"12abc", 12}, {" -5", -5}, {"2147483648", INT_MAX}, {"-2147483649", INT_MIN}};
    for (const auto& [text, value] : lenient)
        EXPECT_EQ(ParseNumber(text), value) << testing::PrintToString(text);
    int v = 0;
    EXPECT_TRUE(ParseStrictNumber("+7", &v) && v == 7);
    for (const char* text : {"12abc", "", "+-1", "2147483648"})
        EXPECT_FALSE(ParseStrictNumber(text, &v)) << testing::PrintToString(text);
}

// What the files hold, what missing elements default to, and the switches.
// Names match by their whole text, case included, in document order; a path
// that does not resolve leaves the record as it was. A rewrite keeps what a
// hand-edited file holds where it stands.
TEST_F(ConfigReadTest, FilesReadWithDefaultsResolveByExactNameAndRewritesKeepWhatStood) {
    EXPECT_EQ(store->GetStatusBarVisible(), 1);
    EXPECT_EQ(store->GetCloseTabOnLogOff(), 0);
    LoadData("example.xml");
    EXPECT_EQ(Load(P({"Lab"})).RDPPort, 3390);
    EXPECT_EQ(store->GetCloseTabOnLogOff(), 1);

    LoadData("hand-edited.xml");
    // Group A has no InheritGeneral: it inherits, and its own stale UserName is ignored.
    EXPECT_EQ(Load(P({"Web", "A", "db1"})).UserName, "u");
    EXPECT_EQ(Load(P({"Web", "db1"})).PerformanceFlags, 384);
    EXPECT_EQ(Load(P({"Web"})).GroupCollapsed, 0);  // left out by LoadProperties
    Properties group;
    store->ReadGroupProperties(store->FindNode(P({"Web"})), group);
    EXPECT_EQ(group.GroupCollapsed, 1);
    EXPECT_EQ(store->GetStatusBarVisible(), 0);                 // present but empty
    EXPECT_EQ(store->GetQuitWithoutConfirm(), 1);               // "1x"
    EXPECT_STREQ(store->FindNode(P({"Web"})).name(), "Group");  // the group precedes the server
    EXPECT_EQ(Load(P({"Web", "db1"})).Server, "direct");        // first of two siblings named alike
    EXPECT_FALSE(store->FindNode(P({"web"})));
    EXPECT_THROW(store->FindNode(P({"web", "db1"})), ConfigError) << "an inner name not found";
    Properties p = Named("unchanged");
    store->LoadProperties(P({"Web", "nothing"}), p);
    EXPECT_EQ(p.Name, "unchanged");

    // The hand-made order, the stale UserName and foreign elements stay; new
    // elements are appended.
    p = Load(P({"Web", "A", "db1"}));
    p.Description = "changed";
    ASSERT_TRUE(store->UpdateServer(P({"Web", "A", "db1"}), p));
    const std::string names = ChildNames(store->FindNode(P({"Web", "A", "db1"})));
    EXPECT_TRUE(names.starts_with("Server Name InheritGeneral UserName Extra ")) << names;
    EXPECT_TRUE(names.ends_with(" BitmapPersistence ")) << names;
    for (const char* kept : {"<Extra>foreign</Extra>", "<!-- the database servers follow -->",
                             "<Notes>not a node</Notes>", "<UserName>stale</UserName>"})
        EXPECT_TRUE(HasText(SavedFile(), kept));
}

// A value is its text without comments, with CRLF line breaks; a reference
// to character 0 would cut it there, so it is refused with its place, while
// in comments and CDATA it is only text. Nesting up to the limit loads; one
// level more is refused with its place in the file, also for a million
// elements inside a name, without a crash.
TEST_F(ConfigReadTest, ValuesAreTheirTextAndWhatALoadCannotKeepIsRefusedWithItsPlace) {
    const std::string head = "<V><Servers>\n<Server><Name>s<!-- x --></Name>";
    ASSERT_TRUE(LoadXml(head + "<ColorDepth><!-- 24 --></ColorDepth><!-- &#0; -->"
                               "<Description>a\nb\r\n<![CDATA[&#0;]]>&#x20;</Description>"
                               "<Server><![CDATA[h<1>]]></Server></Server></Servers></V>"));
    const Properties p = Load(P({"s"}));
    EXPECT_EQ(p.Description, "a\r\nb\r\n&#0; ");
    EXPECT_EQ(p.ColorDepth, 0);
    EXPECT_EQ(p.Server, "h<1>");
    const std::pair<const char*, const char*> refused[] = {
        {"<Description>ab&#0;cd</Description>", "line 2, column 48: a reference to character 0"},
        {"<Description a=\"&#0;\">x</Description>", "line 2, column 33"}};
    for (const auto& [value, where] : refused) {
        EXPECT_FALSE(LoadXml(head + value + "</Server></Servers></V>"))
            << testing::PrintToString(value);
        EXPECT_TRUE(HasText(store->LastLoadError(), where));
    }
    const int inner = kMaxElementDepth - 2;  // between the root and the innermost element
    EXPECT_TRUE(LoadXml("<V>\n" + Repeat("<a>", inner) + "<b/>" + Repeat("</a>", inner) + "</V>"));
    EXPECT_FALSE(
        LoadXml("<V>\n" + Repeat("<a>", inner + 1) + "<b/>" + Repeat("</a>", inner + 1) + "</V>"));
    EXPECT_TRUE(HasText(
        store->LastLoadError(),
        "line 2, column " + std::to_string((inner + 1) * 3 + 1) + ": elements nested deeper than"));
    EXPECT_FALSE(LoadXml("<V><Servers><Server><Name>" + Repeat("<x>", 1000000) + "t" +
                         Repeat("</x>", 1000000) + "</Name></Server></Servers></V>"));
    EXPECT_TRUE(HasText(store->LastLoadError(), "nested deeper"));
}

// Another root name, missing top elements and UTF-16 with a byte order mark
// (of another editor) are accepted; a failed load keeps the current document.
TEST_F(ConfigReadTest, LoadsAcceptOddFilesAndAFailureKeepsTheDocument) {
    LoadData("no-top-elements.xml");
    EXPECT_FALSE(store->IsDirty());
    EXPECT_EQ(ChildNames(store->Document().document_element()), "Other Servers Settings ");
    LoadData("example.xml");
    EXPECT_FALSE(store->Load(DataFile("malformed.xml")));
    EXPECT_FALSE(store->LastLoadFileMissing());
    EXPECT_FALSE(store->Load(dir.file("absent.xml")));
    EXPECT_TRUE(store->LastLoadFileMissing());
    EXPECT_TRUE(store->FindNode(P({"Lab"})));
    std::string utf16 = "\xFF\xFE";
    for (const char c :
         std::string("<V><Servers><Server><Name>\xE9t\xE9</Name></Server></Servers></V>"))
        utf16 += std::string{c, '\0'};
    ASSERT_TRUE(LoadXml(utf16));
    EXPECT_TRUE(store->FindNode(P({"\xC3\xA9t\xC3\xA9"})));
}

}  // namespace
}  // namespace vandrelle::test
