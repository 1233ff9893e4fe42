// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration store: reading files, where it finds and saves them,
// writing and editing the tree; its values in the key store (the password key
// that Init reads or makes, the window placement), and how passwords are
// stored; and the XML text the store reads and writes.
#include "ConfigFixture.h"
#include "ConfigLocation.h"
#include "FileUtil.h"
#include "KeyStore.h"
#include "NumberText.h"
#include "PasswordCodec.h"
#include "RecordText.h"
#include "TreeNotation.h"
#include "WindowPlace.h"
#include "XmlDocument.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <climits>
#include <functional>
#include <stdexcept>

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
    LoadData("hand-edited.xml");
    // Group A has no InheritGeneral: it inherits, and its own stale UserName is ignored.
    EXPECT_EQ(Load(P({"Web", "A", "db1"})).UserName, "u");
    EXPECT_EQ(Load(P({"Web", "db1"})).PerformanceFlags, 384);
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
    EXPECT_FALSE(LoadXml(head + "<Description>ab&#0;cd</Description></Server></Servers></V>"));
    EXPECT_TRUE(HasText(store->LastLoadError(), "line 2, column 48: a reference to character 0"));
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
}

using ConfigWriteTest = ConfigFixture;

// A server's elements in the order the writer adds them.
constexpr const char* kServerOrder =
    "Name Description Server InheritGeneral UserName Domain Password RDPPort "
    "ConnectToServerConsole DesktopHeight DesktopWidth ColorDepth FullScreen RedirectPrinters "
    "RedirectClipboard RedirectPorts RedirectSmartCards RedirectDrives DriveCollection "
    "AudioRedirectionMode KeyboardHookMode PerformanceFlags BitmapPersistence ";

// New nodes get every element in the writer's order; log-on texts are not
// written while a node inherits, nor a host by a group, so only what is
// written must be storable. Passwords are stored enciphered under the
// installation key, so any text goes in. Everything reads back as written.
TEST_F(ConfigWriteTest, NewNodesAreWrittenInTheWritersOrderAndReadBackIdentically) {
    Properties g = Server("G \xF0\x9F\x96\xA5 & <Co>", 0);  // outside the BMP, XML specials
    g.Server = "not\x03written";
    g.Password = "p\xE2\x82\xAC ss";
    g.Description = "line one\r\n  line two \r\n";
    ASSERT_TRUE(store->AddGroup(NodePath(), g));
    Properties s = Server("\xF0\x9F\x98\x80", 0);
    s.DesktopHeight = INT_MIN;
    s.Domain = "  spaced  ";
    s.Password = "\x01\xE2\x82\xAC";  // SOH, euro
    const NodePath gp({g.Name}), sp({g.Name, s.Name});
    ASSERT_TRUE(store->AddServer(gp, s));
    ASSERT_TRUE(store->AddServer(NodePath(), RecordFrom("Name=i UserName=not\x02written")));
    EXPECT_EQ(ChildNames(store->FindNode(sp)), kServerOrder);
    std::string inheriting = kServerOrder;
    inheriting.erase(inheriting.find("UserName"), 33);  // "UserName Domain Password RDPPort "
    EXPECT_EQ(ChildNames(store->FindNode(P({"i"}))), inheriting);
    EXPECT_EQ(ChildNames(SelectElement(store->FindNode(gp), "Properties")),
              "Name Description InheritGeneral UserName Domain Password RDPPort GroupCollapsed ");
    EXPECT_EQ(ElementText(store->FindNode(sp).child("Password")),
              EncodePassword(s.Password, store->Key()));
    EXPECT_TRUE(SavedFile().starts_with(
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n"));
    // Log-on fields of a node that inherits come from the nearest ancestor
    // that defines them, the top last; with none, they are the defaults.
    EXPECT_EQ(Load(P({"i"})).RDPPort, 3389);
    ASSERT_TRUE(store->UpdateGroup(
        NodePath(), RecordFrom("Name=Servers InheritGeneral=0 UserName=admin Password=pw-top")));
    const Properties i = Load(P({"i"}));
    EXPECT_EQ(i.UserName + " " + i.Password, "admin pw-top");
    const auto reread = Reopen();
    g.Server.clear();
    EXPECT_TRUE(PropertiesEqual(Load(gp, reread.get()), g));
    EXPECT_TRUE(PropertiesEqual(Load(sp, reread.get()), s));
}

// An unchanged record or switch writes nothing; GroupCollapsed alone is no
// change, and a rewritten group is stored expanded. An import adds thousands
// of servers: within a batch they cost one save at its end, also when the
// batch is cut short; other saves stay immediate.
TEST_F(ConfigWriteTest, OnlyChangesAreWrittenAndABatchIsSavedOnceAtItsEnd) {
    ASSERT_TRUE(store->AddServer(NodePath(), Server("s", 0)));
    ::unlink(dir.file("Vandrelle.xml").c_str());
    ASSERT_TRUE(store->UpdateServer(P({"s"}), Load(P({"s"}))));
    store->SetStatusBarVisible(1);
    EXPECT_FALSE(FileExists(dir.file("Vandrelle.xml")));
    EXPECT_FALSE(store->IsDirty());
    store->SetCloseTabOnLogOff(1);
    store->SetCloseTabOnLogOff(0);
    EXPECT_TRUE(store->IsDirty());
    Properties g = RecordFrom("Name=G GroupCollapsed=1");
    ASSERT_TRUE(store->AddGroup(NodePath(), g));
    Properties edited = Load(P({"G"}));
    edited.Description = "new";
    ASSERT_TRUE(store->UpdateGroup(P({"G"}), edited));
    store->ReadGroupProperties(store->FindNode(P({"G"})), g);
    EXPECT_EQ(g.GroupCollapsed, 0);
    EXPECT_EQ(ChildNames(Reopen()->SettingsElement()), "CloseTabOnLogOff ");
    int saves = 0;
    store->SetSaveListener([&saves](bool) { ++saves; });
    try {
        CConfigStore::SaveBatch batch(*store);
        CConfigStore::SaveBatch inner(*store);
        ASSERT_TRUE(store->AddServer(NodePath(), Server("b1")));
        EXPECT_TRUE(inner.Finish());
        EXPECT_EQ(saves, 0);
        EXPECT_TRUE(store->IsDirty());
        store->AddServer(NodePath(), Server("b1"));  // a duplicate: throws
    } catch (const ConfigError&) {
    }
    EXPECT_EQ(saves, 1);
    EXPECT_TRUE(Reopen()->FindNode(P({"b1"})));
    ASSERT_TRUE(store->AddServer(NodePath(), Server("b2")));
    EXPECT_EQ(saves, 2);
}

// Refused operations leave the document as it was: those that would break
// the tree, would give two siblings one name (and so one path), or would
// write a text that cannot be stored (a name; log-on texts go through the
// same check). Deletes and moves that keep the tree whole are done.
TEST_F(ConfigWriteTest, TreeEditsAreDoneUnlessTheyWouldBreakTheTree) {
    LoadData("example.xml");
    ASSERT_TRUE(store->AddGroup(P({"Office"}), Named("Inner")));
    // A group named like a server in Office.
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("Build box")));
    const std::string before = SavedFile();
    Properties lab = Load(P({"Lab"}));
    lab.Name = "Build box";
    const NodePath top, office = P({"Office"}), inner = P({"Office", "Inner"}),
                        box = P({"Office", "Build box"});
    const std::pair<std::int32_t, std::function<void()>> refused[] = {
        {kInvalidArgument, [&] { store->DeleteNode(top); }},
        {kInvalidArgument, [&] { store->MoveNode(office, inner); }},
        {kInvalidArgument, [&] { store->MoveNode(office, P({"Lab"})); }},  // into a server
        {kInvalidPointer, [&] { store->MoveNode(P({"Nope"}), top); }},
        {kInvalidArgument, [&] { store->AddServer(top, Properties()); }},  // no name
        {kInvalidArgument, [&] { store->AddServer(top, Server("bad\x01name")); }},
        {kInvalidArgument, [&] { store->UpdateGroup(P({"Lab"}), Load(office)); }},
        {kInvalidArgument, [&] { store->AddServer(office, Server("Build box")); }},
        {kInvalidArgument, [&] { store->MoveNode(box, top); }},
        {kInvalidArgument, [&] { store->UpdateServer(P({"Lab"}), lab); }}};
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        try {
            refused[i].second();
            ADD_FAILURE() << "operation " << i << " was done";
        } catch (const ConfigError& e) {
            EXPECT_EQ(e.code(), refused[i].first) << "operation " << i;
        }
        EXPECT_FALSE(store->IsDirty());
        EXPECT_EQ(SerializeDocument(store->Document()), before);
    }
    // Case counts; a file that already holds two siblings of one name still works.
    EXPECT_TRUE(store->AddServer(office, Server("build box")));
    store->DeleteNode(P({"Lab"}));
    EXPECT_TRUE(store->IsDirty());  // saved by the next save
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("Target")));
    ASSERT_TRUE(store->MoveNode(office, P({"Target"})));
    auto reread = Reopen();
    EXPECT_TRUE(reread->FindNode(P({"Target", "Office", "Build box"})));
    EXPECT_FALSE(reread->FindNode(office));
    EXPECT_FALSE(reread->FindNode(P({"Lab"})));
    ASSERT_TRUE(LoadXml(TreeFile("twin twin")));
    Properties twin = Load(P({"twin"}));
    twin.Description = "first";
    EXPECT_TRUE(store->UpdateServer(P({"twin"}), twin));
}

// Adding and moving keep the file within the nesting a load accepts, so that
// the program never writes a file it would then refuse to read.
TEST_F(ConfigWriteTest, GroupsAreNotNestedDeeperThanALoadAccepts) {
    // 252 groups named "g", each in the one before: the innermost one's name
    // lies at the deepest level, as would a server's name inside it.
    const int depth = kMaxElementDepth - 4;
    ASSERT_TRUE(LoadXml(TreeFile(Repeat("g{", depth) + Repeat("}", depth) + " Two{In{}}")));
    const auto below = [depth](int up, const char* more = nullptr) {
        std::vector<std::string> names(depth - up, "g");
        if (more) names.push_back(more);
        return NodePath(names);
    };
    EXPECT_THROW(store->AddGroup(below(0), Named("G")), ConfigError);
    ASSERT_TRUE(store->AddServer(below(0), Server("s"))) << store->LastSaveError();
    // "Two" holds a group, so it needs three levels below itself.
    EXPECT_THROW(store->MoveNode(P({"Two"}), below(1)), ConfigError);
    EXPECT_FALSE(store->IsDirty());
    ASSERT_TRUE(store->MoveNode(P({"Two"}), below(2))) << store->LastSaveError();
    auto reread = Reopen();
    EXPECT_TRUE(reread->FindNode(below(2, "Two")));
    EXPECT_TRUE(reread->FindNode(below(0, "s")));
}

constexpr const char* kHive =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Vandrelle]\n";

using Bytes = std::vector<std::uint8_t>;
using ConfigRegistryTest = ConfigFixture;

// The first run stores a random key that later runs reuse, also when the
// program's key already holds other values (a section pasted from Windows);
// another installation gets another key. A stored key is read and the file
// left as it is; the window's state and placement persist.
//
// A stored key that cannot be used stops Init with its reason and is left as
// it is, not replaced by a new one that would make every password unreadable;
// such a store neither enciphers nor deciphers a password.
TEST_F(ConfigRegistryTest, TheFirstRunMakesTheKeyLaterRunsReuseItAndAnUnusableOneIsKept) {
    const std::string path = dir.file("registry.reg");
    const PasswordKey elsewhere = store->Key();  // made by the fixture's first run
    WriteFile(path, std::string(kHive) + "\"Maximized\"=dword:00000001\n");
    CConfigStore first(keys);
    ASSERT_TRUE(first.Init()) << first.LastInitError();
    EXPECT_EQ(keys.OpenKey(Hive::CurrentUser, kProgramKey)->ReadBinary("key"),
              Bytes(first.Key().begin(), first.Key().end()));
    EXPECT_EQ(first.IsMaximized(), 1);
    EXPECT_NE(first.Key(), elsewhere);
    first.SetMaximized(0);
    const std::string made = ReadFile(path);
    CConfigStore again(keys);
    ASSERT_TRUE(again.Init()) << again.LastInitError();
    EXPECT_EQ(again.Key(), first.Key());
    EXPECT_EQ(again.IsMaximized(), 0);
    EXPECT_EQ(ReadFile(path), made);
    WindowRect rect;
    const WindowRect written{-8, -32000, 1920, 1080};
    WriteWindowPos(keys, written);
    ASSERT_TRUE(ReadWindowPos(keys, rect));
    EXPECT_EQ(rect, written);

    const std::string bad = std::string(kHive) + "\"key\"=hex:00,01,02\n";
    WriteFile(path, bad);
    CConfigStore broken(keys);
    EXPECT_FALSE(broken.Init());
    EXPECT_TRUE(HasText(broken.LastInitError(), "is not 16 bytes of binary data"));
    EXPECT_TRUE(HasText(broken.LastInitError(), "left as it is"));
    EXPECT_THROW(broken.AddServer(NodePath(), RecordFrom("Name=s Password=secret")),
                 std::logic_error);
    EXPECT_FALSE(broken.IsDirty());
    EXPECT_EQ(ReadFile(path), bad);
}

// A stored place is moved onto the screens, or left out when it has no
// area or its numbers would overflow.
const std::vector<WindowRect> kScreens{{0, 0, 1920, 1080}, {1920, 0, 3200, 1024}};

struct Row {
    const char* what;
    WindowRect stored;
    std::optional<WindowRect> shown;
    bool onScreen = true;
};

TEST(WindowPlaceTest, AStoredPlaceIsKeptOnTheScreensOrLeftOut) {
    const Row rows[] = {
        {"mostly on the second", {1800, 0, 2800, 500}, WindowRect{1920, 0, 2920, 500}},
        {"past the right edge", {1500, 900, 2100, 1300}, WindowRect{1320, 680, 1920, 1080}},
        {"off every screen", {-5000, -5000, -4200, -4400}, WindowRect{0, 0, 800, 600}, false},
        {"no area", {10, 10, 10, 400}, std::nullopt},
        {"left at INT_MIN", {INT_MIN, 0, 800, 600}, std::nullopt},
    };
    for (const Row& row : rows) {
        const auto place = PlaceOnScreens(row.stored, kScreens);
        ASSERT_EQ(place.has_value(), row.shown.has_value()) << row.what;
        if (!place) continue;
        EXPECT_EQ(place->rect, *row.shown) << row.what;
        EXPECT_EQ(place->onScreen, row.onScreen) << row.what;
    }
    EXPECT_FALSE(PlaceOnScreens({0, 0, 10, 10}, {}));
}

const PasswordKey kKey = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// A password is stored as Base64 of a fresh RC4 run over its code page bytes.
TEST(PasswordCodecTest, StoredFormIsBase64OfFreshRc4OverCp1252) {
    // Base64: RFC 4648 section 10 both ways (the first eight pairs of encoded
    // and plain text), then the lenient decoder's tolerance of junk, missing
    // padding and a NUL that ends the text.
    // clang-format off
    const std::string rows[] = {
        "", "",  "Zg==", "f",  "Zm8=", "fo",  "Zm9v", "foo",  "Zm9vYg==", "foob",
        "Zm9vYmE=", "fooba",  "Zm9vYmFy", "foobar",  "+/+/", "\xFB\xFF\xBF",
        "Zm9vYg", "foob",  " Zm9v\r\nYm Fy\n", "foobar",  "Z*m9v!Y=m~E=", "fooba",
        std::string("Zm9v\0YmFy", 9), "foo",  "Zm9vY", "foo"};
    // clang-format on
    for (std::size_t i = 0; i < std::size(rows); i += 2) {
        const Bytes bytes(rows[i + 1].begin(), rows[i + 1].end());
        EXPECT_EQ(Base64DecodeLenient(rows[i]), bytes) << testing::PrintToString(rows[i]);
        const std::string encoded = Base64Encode(bytes.data(), bytes.size());
        EXPECT_TRUE(i >= 16 || encoded == rows[i])
            << encoded << " for " << testing::PrintToString(rows[i + 1]);
    }

    // Every byte comes back from its UTF-8 form: the code page's own characters
    // (the euro sign at 0x80, for one), and the C1 control for the empty entries
    // of 0x80..0x9F. What the code page cannot hold, and invalid UTF-8, become
    // question marks.
    for (unsigned b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(byte)), byte) << "byte " << b;
    }
    EXPECT_EQ(Cp1252ToUtf8("\x80\x81\x9F\xE9"), "€\xC2\x81Ÿé");
    // Pairs of UTF-8 and what the code page makes of it: outside the BMP one
    // mark; C1 controls, stray, overlong, surrogate, too high and cut sequences.
    // clang-format off
    const char* const cases[] = {
        "a😀b", "a?b",  "\xC2\x80\xC2\x85", "??",  "Āő", "??",  "a\xFF!", "a?!",  "\xC0\xAF", "??",  "\xE0\x80\xAF", "???",  "\xED\xA0\x80", "???",
        "\xE2\x82z", "??z",  "\xF4\x90\x80\x80", "????",  "x\xC3", "x?",  "\xEF\xBF\xBD", "?"};
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); i += 2)
        EXPECT_EQ(Utf8ToCp1252(cases[i]), cases[i + 1]) << testing::PrintToString(cases[i]);

    // "Pé€", NUL, "!" XORed with RFC 6229's key stream for the key 01..10 (9a c7
    // cc 9a 60). Decoding tolerates white space and ends at the first deciphered
    // NUL.
    EXPECT_EQ(EncodePassword(std::string("Pé€") + '\0' + "!", kKey), "yi5MmkE=");
    EXPECT_EQ(EncodePassword("Pé€", kKey), "yi5M");  // the stream starts afresh
    EXPECT_EQ(DecodePassword(" yi5\r\nMmkE=", kKey), "Pé€");
    EXPECT_EQ(EncodePassword("", kKey), "");
}

// The parser keeps an element's leading text in the element itself; reading
// and editing must not tell that apart from a text node, and a save writes
// what the file held.
TEST(XmlTextTest, TextReadsAndEditsAlikeWhereverTheParserKeepsIt) {
    // The file, its root's text, the text set (or with "<b>" a child appended)
    // and the file saved.
    const std::array<std::string, 4> rows[] = {
        {"<a>x</a>", "x", "", "<a />\n"},
        {"<a>t<b>u</b>v<![CDATA[w]]></a>", "tuvw", "", "<a />\n"},
        // An empty element written across lines takes a child without turning
        // into mixed content.
        {"<a>\n  </a>", "\n  ", "<b>", "<a>\n  <b />\n</a>\n"},
    };
    for (const auto& [file, text, edit, saved] : rows) {
        SCOPED_TRACE(file);
        pugi::xml_document doc;
        std::string error;
        ASSERT_TRUE(ParseDocument(doc, file, &error)) << error;
        const pugi::xml_node a = doc.document_element();
        EXPECT_EQ(ElementText(a), text);
        EXPECT_TRUE(ElementTextEquals(a, text) && !ElementTextEquals(a, text + "."));
        if (edit == "<b>")
            AppendChildElement(a, "b");
        else
            SetElementText(a, edit);
        const std::string written = SerializeDocument(doc);
        EXPECT_EQ(written.substr(written.find('\n') + 1), saved);
    }
}

}  // namespace
}  // namespace vandrelle::test
