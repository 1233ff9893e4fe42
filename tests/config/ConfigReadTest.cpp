// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigFixture.h"
#include "ConfigLocation.h"
#include "FileUtil.h"
#include "NumberText.h"
#include "XmlDocument.h"

#include <fcntl.h>
#include <sys/stat.h>

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

// The program in "app/sub", so that the second place "app/sub/../bin" is a
// folder of its own, and the user's folder in "xdg/vandrelle".
class ConfigFileTest : public ConfigFixture {
protected:
    ConfigFileTest() {
        MakeFolders(program);
        MakeFolders(dir.file("app/bin"));
        MakeFolders(user);
    }
    ConfigSearchResult Search() { return FindAndLoadConfig(*store, program, user); }

    std::string program = dir.file("app/sub");
    std::string second = dir.file("app/bin/Vandrelle.xml");
    std::string user = dir.file("xdg/vandrelle");
    std::string first = program + "/Vandrelle.xml";
    std::string example = ReadFile(DataFile("example.xml"));
    std::string malformed = ReadFile(DataFile("malformed.xml"));
};

// The bin folder beside the program's wins over the user's (the program's
// own folder wins over both: below; the user's is taken alone in the command
// line's tests); with none, the file is made beside the program at the first
// change. Saves go to the user's folder when the program's folder cannot be
// written, and also from a system folder: root may write to /usr/bin, yet an
// installed program must not leave its file among the system's programs.
//
// A program folder that every user may write is neither read nor written:
// another user could have put a file there, or a link that the first save
// would write through.
TEST_F(ConfigFileTest, TheSearchOrderDecidesTheSaveTargetUnlessOthersMayWriteThere) {
    EXPECT_FALSE(Search().loaded);
    EXPECT_EQ(store->ConfigPath(), first);
    WriteFile(user + "/Vandrelle.xml", example);
    WriteFile(second, "<V><Servers><Server><Name>bin</Name></Server></Servers></V>");
    ASSERT_TRUE(Search().loaded);
    EXPECT_EQ(store->ConfigPath(), program + "/../bin/Vandrelle.xml");
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("G")));  // saves go back to that file
    EXPECT_TRUE(HasText(ReadFile(second), "<Name>G</Name>"));
    ASSERT_EQ(::symlink("/usr/bin", dir.file("linked-bin").c_str()), 0);
    for (const std::string& folder :
         {dir.file("no/such/folder"), std::string("/usr/lib/../bin"), dir.file("linked-bin")})
        EXPECT_EQ(DefaultSavePath(folder, user), user + "/Vandrelle.xml") << folder;
    EXPECT_FALSE(IsSystemProgramFolder("/usr"));

    const std::string victim = dir.file("victim");
    ASSERT_EQ(::symlink(victim.c_str(), first.c_str()), 0);
    ASSERT_EQ(::chmod(program.c_str(), 01777), 0);
    ASSERT_EQ(::chmod(dir.file("app/bin").c_str(), 0777), 0);
    store = NewStore();  // a restart
    Search();
    EXPECT_EQ(store->ConfigPath(), user + "/Vandrelle.xml");
    EXPECT_FALSE(store->FindNode(P({"G"})));  // of the bin folder's file
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("H")));
    EXPECT_FALSE(FileExists(victim));
}

// A malformed file is passed over and left alone while another loads; as
// the save target, it is kept beside before the first save replaces it.
TEST_F(ConfigFileTest, AMalformedFileIsPassedOverOrKeptBeforeTheFirstSave) {
    WriteFile(first, malformed);
    WriteFile(second, example);
    const ConfigSearchResult found = Search();
    ASSERT_TRUE(found.loaded);
    ASSERT_EQ(found.problems.size(), 1u);
    EXPECT_TRUE(HasText(found.problems[0], first));
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("G")));
    EXPECT_EQ(ReadFile(first), malformed);

    ::unlink(second.c_str());
    store = NewStore();  // a restart
    EXPECT_FALSE(Search().loaded);
    ASSERT_TRUE(store->UnreadableTargetMessage());
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("G")));
    EXPECT_EQ(store->KeptUnreadableCopy(), first + ".unreadable");
    EXPECT_EQ(ReadFile(first + ".unreadable"), malformed);
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("H")));  // later saves make no more copies
    EXPECT_FALSE(FileExists(first + ".unreadable.1"));
    EXPECT_TRUE(HasText(ReadFile(first), "<Name>H</Name>"));
}

// The atomic replacement itself is the file utilities' and tested there; here,
// what the store makes of it. A write that cannot even start, or a rename onto
// a folder, keeps the changes pending and what stood there; the next save that
// works writes a new file readable by the user alone.
//
// A change made to the file after it was read (by hand, by the companion in
// another shell, by a colleague's copy of the program) is kept beside it
// before the save replaces it; the save itself goes ahead. Here an edit in
// place of the same size that even keeps the modification time: only the
// bytes tell. A save replaces the file by a new one (another inode) rather than
// writing into it, so that a process killed while it saves leaves the old
// version or the new one (the replacement itself: FileUtilTest).
TEST_F(ConfigFileTest, SavesKeepWhatStoodThereWhenTheyFailOrTheFileChanged) {
    MakeFolders(dir.file("folder/Vandrelle.xml"));  // a folder where the file should go
    store->SetConfigPath(dir.file("folder/Vandrelle.xml"));
    EXPECT_FALSE(store->AddGroup(NodePath(), Named("Lab")));
    EXPECT_TRUE(store->IsDirty());
    EXPECT_TRUE(HasText(store->LastSaveError(), "folder/Vandrelle.xml"));
    const std::string path = dir.file("Vandrelle.xml");
    store->SetConfigPath(path);
    EXPECT_TRUE(store->Save());
    EXPECT_FALSE(store->IsDirty());
    EXPECT_EQ(Permissions(path), 0600u);

    const struct stat before = StatOf(path);
    std::string edited = SavedFile();
    edited.replace(edited.find("<Name>Lab</Name>"), 16, "<Name>Lba</Name>");
    WriteFile(path, edited);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("I"))) << store->LastSaveError();
    EXPECT_EQ(store->KeptChangedCopy(), path + ".changed");
    EXPECT_EQ(ReadFile(path + ".changed"), edited);
    EXPECT_NE(StatOf(path).st_ino, before.st_ino);
    EXPECT_TRUE(Reopen()->FindNode(P({"Lab"})));  // the document in memory wins
    // Saved over, the file is as this store left it; a touch changes no byte.
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), nullptr, 0), 0);
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("J")));
    EXPECT_EQ(store->KeptChangedCopy(), "");
}

}  // namespace
}  // namespace vandrelle::test
