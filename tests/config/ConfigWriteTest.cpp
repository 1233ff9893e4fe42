// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigFixture.h"
#include "FileUtil.h"
#include "RecordText.h"
#include "TreeNotation.h"
#include "XmlDocument.h"

#include <sys/stat.h>

#include <climits>
#include <functional>

namespace vandrelle::test {
namespace {

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
    EXPECT_EQ(ChildNames(store->ServersElement()), "Group Server ");
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

}  // namespace
}  // namespace vandrelle::test
