// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigFixture.h"
#include "FileUtil.h"
#include "XmlDocument.h"

#include <sys/stat.h>

namespace vandrelle::test {
namespace {

using ConfigWriteTest = ConfigFixture;

// A server's elements in the order the writer adds them.
constexpr const char* kServerOrder =
    "Name Description Server InheritGeneral UserName Domain Password RDPPort "
    "ConnectToServerConsole DesktopHeight DesktopWidth ColorDepth FullScreen RedirectPrinters "
    "RedirectClipboard RedirectPorts RedirectSmartCards RedirectDrives DriveCollection "
    "AudioRedirectionMode KeyboardHookMode PerformanceFlags BitmapPersistence ";

Properties Server(const char* name, int inherit = 1) {
    Properties p;
    p.Name = name;
    p.Server = "host.example";
    p.InheritGeneral = inherit;
    return p;
}

TEST_F(ConfigWriteTest, NewNodesGetEveryElementInTheWritersOrder) {
    ASSERT_TRUE(store->AddServer(NodePath(), Server("own", 0)));
    ASSERT_TRUE(store->AddServer(NodePath(), Server("inherits")));
    Properties g;
    g.Name = "G";
    g.InheritGeneral = 0;
    ASSERT_TRUE(store->AddGroup(NodePath(), g));

    EXPECT_EQ(ChildNames(store->FindNode(P({"own"}))), kServerOrder);
    std::string inheriting = kServerOrder;
    inheriting.erase(inheriting.find("UserName"),
                     std::string("UserName Domain Password RDPPort ").size());
    EXPECT_EQ(ChildNames(store->FindNode(P({"inherits"}))), inheriting);
    EXPECT_EQ(ChildNames(SelectElement(store->FindNode(P({"G"})), "Properties")),
              "Name Description InheritGeneral UserName Domain Password RDPPort GroupCollapsed ");
    // New nodes are appended in order, and the file was written at once.
    EXPECT_EQ(ChildNames(store->ServersElement()), "Server Server Group ");
    EXPECT_FALSE(store->IsDirty());
    EXPECT_EQ(Reopen()->FindNode(P({"G"})).name(), std::string("Group"));
}

// An import adds thousands of servers: within a batch they cost one save at
// its end, also when the batch is cut short; other saves stay immediate.
TEST_F(ConfigWriteTest, ABatchOfEditsIsSavedOnceAtItsEnd) {
    int saves = 0;
    store->SetSaveListener([&saves](bool) { ++saves; });
    {
        CConfigStore::SaveBatch batch(*store);
        CConfigStore::SaveBatch inner(*store);
        ASSERT_TRUE(store->AddServer(NodePath(), Server("b1")));
        EXPECT_TRUE(inner.Finish());
        ASSERT_TRUE(store->AddServer(NodePath(), Server("b2")));
        EXPECT_EQ(saves, 0);
        EXPECT_TRUE(store->IsDirty());
        EXPECT_TRUE(batch.Finish());
        EXPECT_EQ(saves, 1);
    }
    EXPECT_EQ(saves, 1);
    EXPECT_TRUE(Reopen()->FindNode(P({"b2"})));
    try {
        CConfigStore::SaveBatch batch(*store);
        store->AddServer(NodePath(), Server("b3"));
        store->AddServer(NodePath(), Server("b3"));  // a duplicate: throws
    } catch (const ConfigError&) {
    }
    EXPECT_EQ(saves, 2);
    EXPECT_TRUE(Reopen()->FindNode(P({"b3"})));
    ASSERT_TRUE(store->AddServer(NodePath(), Server("b4")));
    EXPECT_EQ(saves, 3);
}

TEST_F(ConfigWriteTest, HandEditedOrderAndForeignElementsSurviveRewrites) {
    LoadData("hand-edited.xml");
    Properties p = Load(P({"Web", "A", "db1"}));
    p.Description = "changed";
    ASSERT_TRUE(store->UpdateServer(P({"Web", "A", "db1"}), p));
    const std::string names = ChildNames(store->FindNode(P({"Web", "A", "db1"})));
    // Existing elements keep their places; the stale UserName stays; new ones are appended.
    EXPECT_TRUE(names.starts_with("Server Name InheritGeneral UserName Extra ")) << names;
    EXPECT_TRUE(names.ends_with(" BitmapPersistence ")) << names;
    const std::string file = SavedFile();
    EXPECT_NE(file.find("<Extra>foreign</Extra>"), std::string::npos);
    EXPECT_NE(file.find("<!-- the database servers follow -->"), std::string::npos);
    EXPECT_NE(file.find("<Notes>not a node</Notes>"), std::string::npos);
    EXPECT_NE(file.find("<UserName>stale</UserName>"), std::string::npos);
}

TEST_F(ConfigWriteTest, StoppingAndStartingToInheritKeepsOrAppendsLogonElements) {
    ASSERT_TRUE(store->AddServer(NodePath(), Server("s")));
    Properties p = Load(P({"s"}));
    p.InheritGeneral = 0;
    p.UserName = "me";
    p.Password = "pw";
    ASSERT_TRUE(store->UpdateServer(P({"s"}), p));
    const std::string names = ChildNames(store->FindNode(P({"s"})));
    EXPECT_TRUE(names.ends_with(" BitmapPersistence UserName Domain Password RDPPort ")) << names;
    p.InheritGeneral = 1;
    ASSERT_TRUE(store->UpdateServer(P({"s"}), p));
    EXPECT_EQ(ChildNames(store->FindNode(P({"s"}))), names);
    EXPECT_EQ(Load(P({"s"})).UserName, "");  // ignored while inheriting
    p.InheritGeneral = 0;
    p.UserName = "again";
    ASSERT_TRUE(store->UpdateServer(P({"s"}), p));
    EXPECT_EQ(ChildNames(store->FindNode(P({"s"}))), names);  // rewritten where they stand
    EXPECT_EQ(Reopen()->FindNode(P({"s"})).child("UserName").text().as_string(),
              std::string("again"));
}

TEST_F(ConfigWriteTest, AnUnchangedRecordWritesNothing) {
    ASSERT_TRUE(store->AddServer(NodePath(), Server("s", 0)));
    ::unlink(dir.file("Vandrelle.xml").c_str());
    ASSERT_TRUE(store->UpdateServer(P({"s"}), Load(P({"s"}))));
    EXPECT_FALSE(FileExists(dir.file("Vandrelle.xml")));
    EXPECT_FALSE(store->IsDirty());

    // GroupCollapsed alone is no change, and a rewritten group is stored expanded.
    Properties g;
    g.Name = "G";
    g.GroupCollapsed = 1;
    ASSERT_TRUE(store->AddGroup(NodePath(), g));
    Properties edited = Load(P({"G"}));
    EXPECT_EQ(edited.GroupCollapsed, 0);
    edited.Description = "new";
    ASSERT_TRUE(store->UpdateGroup(P({"G"}), edited));
    Properties stored;
    store->ReadGroupProperties(store->FindNode(P({"G"})), stored);
    EXPECT_EQ(stored.GroupCollapsed, 0);
}

TEST_F(ConfigWriteTest, SavedFilesReadBackIdentically) {
    Properties g;
    g.Name = "G \xF0\x9F\x96\xA5 & <Co>";  // a character outside the BMP and XML specials
    g.InheritGeneral = 0;
    g.UserName = "\xC3\xA9ric";
    g.Password = "p\xE2\x82\xAC ss";
    g.Description = "line one\r\n  line two \r\n";
    g.RDPPort = 65535;
    ASSERT_TRUE(store->AddGroup(NodePath(), g));
    Properties s = Server("\xF0\x9F\x98\x80", 0);
    s.Description = "a\r\nb";
    s.DesktopHeight = -2147483647 - 1;
    s.DriveCollection = "C:D:$:";
    s.Domain = "  spaced  ";
    ASSERT_TRUE(store->AddServer(P({g.Name.c_str()}), s));

    auto reread = Reopen();
    const NodePath gp({g.Name}), sp({g.Name, s.Name});
    Properties rg, rs;
    reread->LoadProperties(gp, rg);
    reread->LoadProperties(sp, rs);
    EXPECT_TRUE(PropertiesEqual(rg, g));
    EXPECT_TRUE(PropertiesEqual(rs, s));
    // Rebuilding the same tree from what was read gives the same bytes again.
    const std::string first = SavedFile();
    reread->DeleteNode(gp);
    ASSERT_TRUE(reread->AddGroup(NodePath(), g));
    ASSERT_TRUE(reread->AddServer(gp, s));
    EXPECT_EQ(SavedFile(), first);
    EXPECT_EQ(first.rfind(
                  "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n", 0),
              0u);
}

TEST_F(ConfigWriteTest, SwitchesChangeOnlyWhenTheValueDoes) {
    store->SetStatusBarVisible(1);
    EXPECT_FALSE(store->IsDirty());
    EXPECT_EQ(ChildNames(store->SettingsElement()), "");
    store->SetCloseTabOnLogOff(1);
    store->SetCloseTabOnLogOff(0);
    EXPECT_TRUE(store->IsDirty());
    EXPECT_EQ(store->GetCloseTabOnLogOff(), 0);
    store->SetStatusBarVisible(0);
    ASSERT_TRUE(store->Save());
    auto reread = Reopen();
    EXPECT_EQ(reread->GetCloseTabOnLogOff(), 0);
    EXPECT_EQ(reread->GetStatusBarVisible(), 0);
    EXPECT_EQ(ChildNames(reread->SettingsElement()), "CloseTabOnLogOff StatusBarVisible ");
}

TEST_F(ConfigWriteTest, DeleteAndMoveChangeTheTree) {
    LoadData("example.xml");
    store->DeleteNode(P({"Lab"}));
    EXPECT_TRUE(store->IsDirty());
    EXPECT_EQ(SavedFile().find("<Name>Lab</Name>") != std::string::npos, true);  // not saved yet
    ASSERT_TRUE(store->Save());
    EXPECT_EQ(SavedFile().find("<Name>Lab</Name>"), std::string::npos);

    Properties g;
    g.Name = "Target";
    ASSERT_TRUE(store->AddGroup(NodePath(), g));
    ASSERT_TRUE(store->MoveNode(P({"Office"}), P({"Target"})));
    EXPECT_FALSE(store->IsDirty());
    auto reread = Reopen();
    EXPECT_TRUE(reread->FindNode(P({"Target", "Office", "Build box"})));
    EXPECT_FALSE(reread->FindNode(P({"Office"})));
    // Moved in, the group's server now inherits through its new parent.
    EXPECT_EQ(Load(P({"Target", "Office", "Build box"})).UserName, "jdoe");
}

TEST_F(ConfigWriteTest, OperationsThatWouldBreakTheTreeAreRefused) {
    LoadData("example.xml");
    Properties g;
    g.Name = "Inner";
    ASSERT_TRUE(store->AddGroup(P({"Office"}), g));
    const std::string before = SavedFile();
    auto expectRefused = [&](auto&& operation) {
        EXPECT_THROW(operation(), ConfigError);
        EXPECT_FALSE(store->IsDirty());
        EXPECT_EQ(SerializeDocument(store->Document()), before);
    };
    expectRefused([&] { store->DeleteNode(NodePath()); });
    expectRefused([&] { store->MoveNode(NodePath(), P({"Office"})); });
    expectRefused([&] { store->MoveNode(P({"Office"}), P({"Office"})); });
    expectRefused([&] { store->MoveNode(P({"Office"}), P({"Office", "Inner"})); });
    expectRefused([&] { store->MoveNode(P({"Office"}), P({"Lab"})); });  // into a server
    expectRefused([&] { store->MoveNode(P({"Nope"}), NodePath()); });
    expectRefused([&] { store->DeleteNode(P({"Office", "Nope"})); });
    expectRefused([&] { store->AddGroup(NodePath(), Properties()); });  // empty name
    expectRefused([&] { store->AddServer(NodePath(), Properties()); });
    expectRefused([&] { store->AddServer(P({"Lab"}), Server("x")); });  // under a server
    expectRefused([&] { store->AddServer(P({"Nope"}), Server("x")); });
    expectRefused([&] { store->AddServer(NodePath(), Server("bad\x01name")); });
    expectRefused([&] { store->AddServer(NodePath(), Server("bad\xFF")); });
    Properties renamed = Load(P({"Lab"}));
    renamed.Name.clear();
    expectRefused([&] { store->UpdateServer(P({"Lab"}), renamed); });
    expectRefused([&] { store->UpdateGroup(P({"Lab"}), Load(P({"Office"}))); });
    try {
        store->AddServer(P({"Nope"}), Server("x"));
        FAIL() << "adding under a missing group must be refused";
    } catch (const ConfigError& e) {
        EXPECT_EQ(e.code(), kInvalidPointer);
    }
}

// Two siblings of one name would share one path: adding, moving and renaming
// never make such a pair; a file that already holds one still loads and works.
TEST_F(ConfigWriteTest, SiblingsNeverShareAName) {
    LoadData("example.xml");
    Properties g;
    g.Name = "Build box";  // a server's name inside Office
    ASSERT_TRUE(store->AddGroup(NodePath(), g));
    const std::string before = SavedFile();
    auto expectDuplicate = [&](auto&& operation) {
        try {
            operation();
            ADD_FAILURE() << "a second sibling of one name was made";
        } catch (const ConfigError& e) {
            EXPECT_EQ(e.code(), kInvalidArgument);
            EXPECT_STREQ(e.what(), "A group or server named 'Build box' already exists here.");
        }
        EXPECT_EQ(SavedFile(), before);
    };
    expectDuplicate([&] { store->AddServer(P({"Office"}), Server("Build box")); });
    expectDuplicate([&] { store->AddGroup(NodePath(), g); });
    expectDuplicate([&] { store->MoveNode(P({"Office", "Build box"}), NodePath()); });
    Properties lab = Load(P({"Lab"}));
    lab.Name = "Build box";
    expectDuplicate([&] { store->UpdateServer(P({"Lab"}), lab); });
    // Case counts; keeping one's own name is no clash.
    EXPECT_TRUE(store->AddServer(P({"Office"}), Server("build box")));
    lab.Name = "Lab";
    lab.Description = "changed";
    EXPECT_TRUE(store->UpdateServer(P({"Lab"}), lab));

    WriteFile(dir.file("Vandrelle.xml"),
              "<Vandrelle><Servers><Server><Name>twin</Name></Server>"
              "<Server><Name>twin</Name></Server></Servers></Vandrelle>");
    ASSERT_TRUE(store->Load(dir.file("Vandrelle.xml")));
    EXPECT_TRUE(store->FindNode(P({"twin"})));
    Properties twin = Load(P({"twin"}));
    twin.Description = "first";
    EXPECT_TRUE(store->UpdateServer(P({"twin"}), twin));
}

// Adding and moving keep the file within the nesting a load accepts, so that
// the program never writes a file it would then refuse to read.
TEST_F(ConfigWriteTest, GroupsAreNotNestedDeeperThanALoadAccepts) {
    // Groups 1 to 252, each in the one before: the 252nd group's name lies at
    // the deepest level, as would a server's name inside it.
    constexpr int kGroups = kMaxElementDepth - 4;
    std::string xml = "<Vandrelle><Servers>";
    std::vector<std::string> deepest;
    for (int i = 1; i <= kGroups; ++i) {
        deepest.push_back(std::to_string(i));
        xml += "<Group><Properties><Name>" + deepest.back() + "</Name></Properties>";
    }
    for (int i = 0; i < kGroups; ++i) xml += "</Group>";
    xml +=
        "<Group><Properties><Name>Two</Name></Properties>"
        "<Group><Properties><Name>Inner</Name></Properties></Group></Group>"
        "</Servers><Settings/></Vandrelle>";
    WriteFile(dir.file("Vandrelle.xml"), xml);
    ASSERT_TRUE(store->Load(dir.file("Vandrelle.xml"))) << store->LastLoadError();
    const NodePath inDeepest(deepest);
    Properties g;
    g.Name = "G";
    EXPECT_THROW(store->AddGroup(inDeepest, g), ConfigError);
    EXPECT_FALSE(store->IsDirty());
    ASSERT_TRUE(store->AddServer(inDeepest, Server("s"))) << store->LastSaveError();

    // "Two" holds a group, so it needs three levels below itself.
    const NodePath above(std::vector<std::string>(deepest.begin(), deepest.end() - 1));
    EXPECT_THROW(store->MoveNode(P({"Two"}), above), ConfigError);
    EXPECT_FALSE(store->IsDirty());
    const NodePath twoAbove(std::vector<std::string>(deepest.begin(), deepest.end() - 2));
    ASSERT_TRUE(store->MoveNode(P({"Two"}), twoAbove)) << store->LastSaveError();
    auto reread = Reopen();
    std::vector<std::string> moved(deepest.begin(), deepest.end() - 2);
    moved.insert(moved.end(), {"Two", "Inner"});
    EXPECT_TRUE(reread->FindNode(NodePath(moved)));
    std::vector<std::string> server = deepest;
    server.push_back("s");
    EXPECT_TRUE(reread->FindNode(NodePath(server)));
}

TEST_F(ConfigWriteTest, PasswordsAreStoredEncodedUnderTheInstallationKey) {
    Properties s = Server("s", 0);
    s.Password = "secret";
    ASSERT_TRUE(store->AddServer(NodePath(), s));
    const std::string stored =
        ElementText(FirstChildElement(store->FindNode(P({"s"})), "Password"));
    EXPECT_EQ(stored, EncodePassword("secret", store->Key()));
    EXPECT_EQ(SavedFile().find("secret"), std::string::npos);
    EXPECT_EQ(Load(P({"s"})).Password, "secret");
    s.Password.clear();
    ASSERT_TRUE(store->UpdateServer(P({"s"}), s));
    EXPECT_EQ(ElementText(FirstChildElement(store->FindNode(P({"s"})), "Password")), "");
}

// A file from another installation: the passwords decode under this key to
// whatever the cipher gives, control characters included.
TEST_F(ConfigWriteTest, PasswordsThatDecodeToControlCharactersLeaveNodesEditable) {
    const std::string garbled = "\x01\x1b[2J\x7f";
    const std::string stored = EncodePassword(garbled, store->Key());
    WriteFile(
        dir.file("Vandrelle.xml"),
        "<Vandrelle><Servers><Group><Properties><Name>G</Name>"
        "<InheritGeneral>0</InheritGeneral><UserName>u</UserName>"
        "<Password>" +
            stored +
            "</Password></Properties>"
            "<Server><Name>s</Name><Server>h</Server><InheritGeneral>1</InheritGeneral></Server>"
            "</Group></Servers></Vandrelle>");
    ASSERT_TRUE(store->Load(dir.file("Vandrelle.xml")));
    ASSERT_EQ(Load(P({"G", "s"})).Password, garbled);

    Properties group = Load(P({"G"}));
    group.Description = "edited";
    ASSERT_TRUE(store->UpdateGroup(P({"G"}), group));
    Properties server = Load(P({"G", "s"}));
    server.Description = "edited too";
    ASSERT_TRUE(store->UpdateServer(P({"G", "s"}), server));

    auto reread = Reopen();
    Properties g, s;
    reread->LoadProperties(P({"G"}), g);
    reread->LoadProperties(P({"G", "s"}), s);
    EXPECT_EQ(g.Description, "edited");
    EXPECT_EQ(g.Password, garbled);
    EXPECT_EQ(s.Description, "edited too");
    EXPECT_EQ(s.Password, garbled);
    // The inheriting server writes no log-on elements of its own.
    EXPECT_FALSE(FirstChildElement(reread->FindNode(P({"G", "s"})), "Password"));
}

TEST_F(ConfigWriteTest, OnlyTextsWrittenAsTextMustBeStorable) {
    // The password is written enciphered: any text goes in, and what the code
    // page cannot hold (or what is no UTF-8) comes back as '?'.
    Properties s = Server("s", 0);
    s.Password = "\xCE\xA9\xFF\x01\xE2\x82\xAC";  // Omega, a stray byte, SOH, euro
    ASSERT_TRUE(store->AddServer(NodePath(), s));
    EXPECT_EQ(Load(P({"s"})).Password, "??\x01\xE2\x82\xAC");

    // Log-on texts are not written while a node inherits, nor a host by a group.
    Properties inherits = Server("i");
    inherits.UserName = "not\x02written";
    ASSERT_TRUE(store->AddServer(NodePath(), inherits));
    Properties g;
    g.Name = "G";
    g.Server = "not\x03written";
    ASSERT_TRUE(store->AddGroup(NodePath(), g));

    // What is written as text is still checked.
    const std::string before = SavedFile();
    Properties own = Server("o", 0);
    own.UserName = "bad\x02";
    EXPECT_THROW(store->AddServer(NodePath(), own), ConfigError);
    g.InheritGeneral = 0;
    g.Domain = "bad\x04";
    EXPECT_THROW(store->UpdateGroup(P({"G"}), g), ConfigError);
    Properties drives = Server("d");
    drives.DriveCollection = "C:\x05";
    EXPECT_THROW(store->AddServer(NodePath(), drives), ConfigError);
    EXPECT_EQ(SavedFile(), before);
    EXPECT_FALSE(store->FindNode(P({"o"})));
}

}  // namespace
}  // namespace vandrelle::test
