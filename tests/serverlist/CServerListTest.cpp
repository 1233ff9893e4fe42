// SPDX-License-Identifier: GPL-3.0-or-later
// The server tree panel on the offscreen platform, over a real configuration
// file and a frame that records what it is sent.
#include "CServerList.h"
#include "QtTestKit.h"
#include "ResourceIds.h"
#include "SessionMessages.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTest>
#include <QThread>
#include <QTreeWidget>

using namespace vandrelle;
using namespace vandrelle::test;

namespace {

// Records the messages the panel sends, with their paths as names.
class RecordingFrame : public MessageTarget {
public:
    struct Sent {
        std::uint32_t message;
        std::uintptr_t command;
        NodePath path;
    };
    std::vector<Sent> sent;
    std::intptr_t findResult = 0;

    void Post(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    std::intptr_t Send(std::uint32_t message, std::uintptr_t wParam,
                       std::intptr_t lParam) override {
        const auto& buffer = *reinterpret_cast<const PathBuffer*>(lParam);
        sent.push_back({message, wParam, NodePathFromBuffer(buffer)});
        return message == WM_APP_FIND_SESSION ? findResult : 0;
    }
};

std::string Group(const std::string& name, const std::string& inside,
                  const std::string& collapsed = "") {
    return "<Group><Properties><Name>" + name + "</Name>" + collapsed + "</Properties>" + inside +
           "</Group>";
}
std::string Server(const std::string& name) {
    return "<Server><Name>" + name + "</Name><Server>" + name + ".example</Server></Server>";
}
std::string File(const std::string& servers) {
    return "<?xml version=\"1.0\"?><Vandrelle><Servers>" + servers +
           "</Servers><Settings/></Vandrelle>";
}

QTreeWidgetItem* Child(const QTreeWidgetItem* parent, const char* label) {
    return CServerList::FindChildByLabel(parent, QString::fromUtf8(label));
}

QPoint LabelPoint(QTreeWidget* tree, QTreeWidgetItem* item) {
    const QRect r = tree->visualItemRect(item);
    return QPoint(r.left() + tree->iconSize().width() + 10, r.center().y());
}

// A right click as the window system delivers it: the button, then the
// request for a context menu at the same place.
void RightClick(QTreeWidget* tree, QPoint at) {
    QWidget* viewport = tree->viewport();
    QTest::mouseClick(viewport, Qt::RightButton, {}, at);
    QContextMenuEvent request(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &request);
}

// A properties sheet that records what it was asked and gives back the
// record it was given, changed by `edit`; Cancel when `cancel` is set.
struct FakeSheet {
    std::vector<SheetRequest> requests;
    std::vector<Properties> given;
    std::function<void(Properties&)> edit;
    bool cancel = false;
    SheetRunner Runner() {
        return [this](QWidget*, const SheetRequest& request, Properties& record) {
            requests.push_back(request);
            given.push_back(record);
            if (cancel) return false;
            if (edit) edit(record);
            return true;
        };
    }
};

// Mouse events with the left button held, as a drag delivers them.
void Drag(QTreeWidget* tree, QPoint from, QPoint to, bool release = true) {
    QWidget* viewport = tree->viewport();
    const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButton button,
                          Qt::MouseButtons held) {
        QMouseEvent e(type, at, viewport->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(viewport, &e);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, from + QPoint(20, 5), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    if (release) send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

}  // namespace

class CServerListTest : public QObject {
    Q_OBJECT
    RecordingFrame frame;  // what each test's panel sends

private Q_SLOTS:
    void init() {
        frame.sent.clear();
        frame.findResult = 0;
    }

    void eachLevelIsSortedAsAWholeAndUnreachableNodesAreLeftOut() {
        ConfigOnDisk disk(
            File(Server("delta") + Group("Charlie", Server("zulu") + Server("Yankee")) +
                 Server("Alpha") + "<!-- a comment does not end the list -->" + Group("bravo", "") +
                 "<Group><Properties><Description/></Properties>" + Server("hidden") +
                 "</Group><Server><Server>x</Server></Server>"));
        CServerList panel(disk.config, frame);
        QTreeWidgetItem* root = panel.RootItem();
        QCOMPARE(root->text(0), QStringLiteral("Servers"));
        QCOMPARE(ChildLabels(root), QStringLiteral("Alpha, bravo, Charlie, delta"));
        QCOMPARE(ChildLabels(Child(root, "Charlie")), QStringLiteral("Yankee, zulu"));
        QVERIFY(CServerList::IsServer(Child(root, "delta")));
        QVERIFY(!CServerList::IsServer(Child(root, "bravo")));
        QCOMPARE(root->data(0, CServerList::kItemDataRole).toInt(), CServerList::kGroupItem);
        QVERIFY(!root->icon(0).isNull());
        QVERIFY(!Child(root, "Alpha")->icon(0).isNull());
        QVERIFY(root->isExpanded());
        const auto* hint = panel.findChild<QLabel*>(QStringLiteral("emptyHint"));
        QVERIFY(hint && hint->isHidden());
    }

    void storedCollapseStatesAreShown() {
        ConfigOnDisk disk(File(Group("zero", Server("a"), "<GroupCollapsed>0</GroupCollapsed>") +
                               Group("none", Server("b")) +
                               Group("one", Server("c"), "<GroupCollapsed>1</GroupCollapsed>") +
                               Group("empty", Server("d"), "<GroupCollapsed></GroupCollapsed>") +
                               Group("word", Server("e"), "<GroupCollapsed>yes</GroupCollapsed>") +
                               "<Properties><GroupCollapsed>1</GroupCollapsed></Properties>"));
        CServerList panel(disk.config, frame);
        QTreeWidgetItem* root = panel.RootItem();
        QVERIFY(!root->isExpanded());
        QVERIFY(Child(root, "zero")->isExpanded());
        QVERIFY(Child(root, "none")->isExpanded());
        QVERIFY(!Child(root, "one")->isExpanded());
        QVERIFY(!Child(root, "empty")->isExpanded());
        QVERIFY(!Child(root, "word")->isExpanded());

        ConfigOnDisk bare(File(""));
        CServerList emptyPanel(bare.config, frame);
        QCOMPARE(emptyPanel.RootItem()->childCount(), 0);
        QVERIFY(emptyPanel.RootItem()->isExpanded());
    }

    // The user's collapse reaches the file at once and survives a restart;
    // nothing else of the group is rewritten (a password stored under
    // another installation's key stays as it is).
    void collapseStateIsSavedAndReadBackAfterARestart() {
        const std::string foreignPassword = "<Password>Zm9yZWlnbiBrZXk=</Password>";
        ConfigOnDisk disk(File(
            Group("Office", Server("a"),
                  "<InheritGeneral>0</InheritGeneral><UserName>u</UserName>" + foreignPassword)));
        {
            CServerList panel(disk.config, frame);
            QTreeWidgetItem* office = Child(panel.RootItem(), "Office");
            panel.Tree()->collapseItem(office);
            QVERIFY(disk.Text().find("<GroupCollapsed>1</GroupCollapsed>") != std::string::npos);
            QVERIFY(disk.Text().find(foreignPassword) != std::string::npos);
            QVERIFY(!disk.config.IsDirty());
            // The top keeps its state in a settings element of its own.
            panel.Tree()->collapseItem(panel.RootItem());
            panel.Tree()->expandItem(panel.RootItem());
            const pugi::xml_node top = disk.config.ServersElement().child("Properties");
            QCOMPARE(std::string(top.child_value("GroupCollapsed")), std::string("0"));
        }
        CConfigStore restarted(disk.keys);
        restarted.Init();
        QVERIFY(restarted.Load(disk.path));
        CServerList again(restarted, frame);
        QVERIFY(!Child(again.RootItem(), "Office")->isExpanded());
        QVERIFY(again.RootItem()->isExpanded());
        restarted.SetConfigPath(disk.path);
        again.Tree()->expandItem(Child(again.RootItem(), "Office"));
        QVERIFY(disk.Text().find("<GroupCollapsed>0</GroupCollapsed>") != std::string::npos);
    }

    void itemPathsAndLabelLookup() {
        ConfigOnDisk disk(File(Group("G", Server("S") + Server("s"))));
        CServerList panel(disk.config, frame);
        QTreeWidgetItem* g = Child(panel.RootItem(), "G");
        PathBuffer path;  // its layout: the item path's tests
        QVERIFY(panel.GetItemPath(Child(g, "S"), path));
        QVERIFY(NodePathFromBuffer(path) == NodePath({"G", "S"}));
        QVERIFY(panel.GetItemPath(panel.RootItem(), path));
        QVERIFY(NodePathFromBuffer(path).IsTop());
        QCOMPARE(Child(g, "s")->text(0), QStringLiteral("s"));  // exact, case-sensitive
        QVERIFY(Child(g, "x") == nullptr);
        QVERIFY(!panel.GetItemPath(nullptr, path));
    }

    // A double click or Enter on a server first looks for its open tab and
    // opens a new one only when there is none; on a group nothing is sent.
    void enterAndDoubleClickFindBeforeTheyOpen() {
        ConfigOnDisk disk(File(Group("G", Server("S"))));
        CServerList panel(disk.config, frame);
        panel.resize(300, 300);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTreeWidgetItem* server = Child(Child(panel.RootItem(), "G"), "S");
        panel.Tree()->setCurrentItem(server);
        QTest::keyClick(panel.Tree(), Qt::Key_Return);
        QCOMPARE(frame.sent.size(), 2u);
        QCOMPARE(frame.sent[0].message, WM_APP_FIND_SESSION);
        QCOMPARE(frame.sent[1].message, WM_APP_OPEN_SESSION);
        QCOMPARE(frame.sent[1].command, std::uintptr_t(0));
        QVERIFY(frame.sent[1].path == NodePath({"G", "S"}));

        frame.sent.clear();
        frame.findResult = 1;
        QTest::mouseClick(panel.Tree()->viewport(), Qt::LeftButton, {},
                          LabelPoint(panel.Tree(), server));
        QTest::mouseDClick(panel.Tree()->viewport(), Qt::LeftButton, {},
                           LabelPoint(panel.Tree(), server));
        QCOMPARE(frame.sent.size(), 1u);
        QCOMPARE(frame.sent[0].message, WM_APP_FIND_SESSION);

        frame.sent.clear();
        panel.Tree()->setCurrentItem(Child(panel.RootItem(), "G"));
        QTest::keyClick(panel.Tree(), Qt::Key_Enter);
        QVERIFY(frame.sent.empty());
    }

    void contextMenusHoldTheirItemsInOrder() {
        ConfigOnDisk disk(File(Group("G", Server("S"))));
        CServerList panel(disk.config, frame);
        const auto ids = [](QMenu* menu) {
            QList<int> list;
            for (QAction* a : menu->actions()) list << (a->isSeparator() ? 0 : a->data().toInt());
            delete menu;
            return list;
        };
        QTreeWidgetItem* g = Child(panel.RootItem(), "G");
        QCOMPARE(ids(panel.MakeContextMenu(Child(g, "S"))),
                 (QList<int>{ID_SERVER_CONNECT, ID_SERVER_CONNECT_CONSOLE,
                             ID_SERVER_CONNECT_NON_CONSOLE, ID_SERVER_CONNECT_MSTSC, 0,
                             ID_SERVER_DELETE, ID_SERVER_INSERT_COPY, 0, ID_SERVER_PROPERTIES}));
        QCOMPARE(ids(panel.MakeContextMenu(g)),
                 (QList<int>{ID_GROUP_CONNECT, ID_GROUP_ADD_SERVER, ID_GROUP_ADD_GROUP,
                             ID_GROUP_DELETE, 0, ID_GROUP_IMPORT_MSTSC, 0, ID_GROUP_PROPERTIES}));
        QMenu* server = panel.MakeContextMenu(Child(g, "S"));
        QCOMPARE(server->actions().at(3)->text(), QStringLiteral("Connect with &MSTSC"));
        QCOMPARE(server->title(), QStringLiteral("Server"));
        QCOMPARE(QAccessible::queryAccessibleInterface(server)->text(QAccessible::Name),
                 QStringLiteral("Server"));
        delete server;
        for (QTreeWidgetItem* item : {g, panel.RootItem()}) {
            QMenu* menu = panel.MakeContextMenu(item);
            QCOMPARE(menu->actions().at(3)->text(), QStringLiteral("&Delete"));
            QCOMPARE(menu->actions().at(3)->isEnabled(), item != panel.RootItem());
            QCOMPARE(QAccessible::queryAccessibleInterface(menu)->text(QAccessible::Name),
                     QStringLiteral("Group"));
            delete menu;
        }
    }

    // A right click makes the item under the pointer current and opens its
    // menu, without moving the selection; beside the label nothing opens.
    void rightClickSetsTheCurrentItemButNotTheSelection() {
        ConfigOnDisk disk(File(Server("a") + Server("b")));
        CServerList panel(disk.config, frame);
        panel.resize(400, 300);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTreeWidgetItem* a = Child(panel.RootItem(), "a");
        QTreeWidgetItem* b = Child(panel.RootItem(), "b");
        panel.Tree()->setCurrentItem(a);
        RightClick(panel.Tree(), LabelPoint(panel.Tree(), b));
        QTRY_VERIFY(panel.findChild<QMenu*>(QStringLiteral("IDR_SERVER_MENU")) != nullptr);
        QCOMPARE(panel.CurrentItem(), b);
        QCOMPARE(panel.Tree()->currentItem(), a);
        panel.findChild<QMenu*>(QStringLiteral("IDR_SERVER_MENU"))->close();

        // From the keyboard the selected item's menu opens: the Menu key comes
        // as a request for it, Shift+F10 as a key.
        for (bool menuKey : {true, false}) {
            QTRY_VERIFY(panel.findChild<QMenu*>(QStringLiteral("IDR_SERVER_MENU")) == nullptr);
            panel.SetCurrentItem(b);
            QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0),
                                  panel.Tree()->mapToGlobal(QPoint(0, 0)));
            if (menuKey) {
                QApplication::sendEvent(panel.Tree(), &key);
            } else {
                QTest::keyClick(panel.Tree(), Qt::Key_F10, Qt::ShiftModifier);
            }
            QTRY_VERIFY(panel.findChild<QMenu*>(QStringLiteral("IDR_SERVER_MENU")) != nullptr);
            QCOMPARE(panel.CurrentItem(), a);
            panel.findChild<QMenu*>(QStringLiteral("IDR_SERVER_MENU"))->close();
        }
        panel.SetCurrentItem(b);

        // Enter still acts on the selection.
        QTest::keyClick(panel.Tree(), Qt::Key_Return);
        QVERIFY(frame.sent.back().path == NodePath({"a"}));

        RightClick(panel.Tree(), QPoint(panel.Tree()->viewport()->width() - 5,
                                        panel.Tree()->visualItemRect(b).center().y()));
        QTest::qWait(50);
        QVERIFY(panel.findChild<QMenu*>(QStringLiteral("IDR_SERVER_MENU")) == nullptr);
        QCOMPARE(panel.CurrentItem(), b);
    }

    void connectCommandsOpenTabsWithTheirCommand() {
        ConfigOnDisk disk(
            File(Group("G", Server("two") + Group("sub", Server("deep")) + Server("one"))));
        CServerList panel(disk.config, frame);
        QTreeWidgetItem* g = Child(panel.RootItem(), "G");
        panel.SetCurrentItem(Child(g, "one"));
        panel.OnCommand(ID_SERVER_CONNECT_CONSOLE);
        panel.OnCommand(ID_SERVER_CONNECT_MSTSC);
        QCOMPARE(frame.sent.size(), 2u);
        QCOMPARE(frame.sent[0].command, std::uintptr_t(ID_SERVER_CONNECT_CONSOLE));
        QCOMPARE(frame.sent[1].command, std::uintptr_t(ID_SERVER_CONNECT_MSTSC));
        QVERIFY(frame.sent[0].path == NodePath({"G", "one"}));

        frame.sent.clear();
        panel.SetCurrentItem(g);
        panel.OnCommand(ID_GROUP_CONNECT);
        QCOMPARE(frame.sent.size(), 2u);  // not the subgroup's server
        QVERIFY(frame.sent[0].path == NodePath({"G", "one"}));
        QVERIFY(frame.sent[1].path == NodePath({"G", "two"}));
        QCOMPARE(frame.sent[0].message, WM_APP_OPEN_SESSION);
        QCOMPARE(frame.sent[0].command, std::uintptr_t(0));
    }

    // Adding asks the sheet with the parent's settings but a new name; the
    // new item goes to the end of its level (sorted only at the next start)
    // and shows, its group expanded; the file is saved at once.
    void addGroupAndServerAppendAndSave() {
        ConfigOnDisk disk(File(Group("Office", Server("zeta"),
                                     "<InheritGeneral>0</InheritGeneral><UserName>jdoe</UserName>"
                                     "<Description>shared</Description>"
                                     "<GroupCollapsed>1</GroupCollapsed>")));
        CServerList panel(disk.config, frame);
        FakeSheet sheet;
        panel.SetSheetRunner(sheet.Runner());
        QTreeWidgetItem* office = Child(panel.RootItem(), "Office");
        QVERIFY(!office->isExpanded());
        panel.SetCurrentItem(office);
        sheet.edit = [](Properties& r) {
            r.Name = "alpha";
            r.Server = "alpha.example";
        };
        panel.OnCommand(ID_GROUP_ADD_SERVER);
        QCOMPARE(sheet.requests.back().title, QStringLiteral("Add Server"));
        QVERIFY(sheet.requests.back().serverPages);
        QCOMPARE(sheet.requests.back().siblingNames, QStringList{QStringLiteral("zeta")});
        QCOMPARE(sheet.given.back().UserName, std::string("jdoe"));  // the group's settings
        QCOMPARE(sheet.given.back().InheritGeneral, 1);
        QVERIFY(sheet.given.back().Name.empty() && sheet.given.back().Description.empty());
        QCOMPARE(ChildLabels(office), QStringLiteral("zeta, alpha"));
        QVERIFY(office->isExpanded());
        QCOMPARE(panel.CurrentItem(), Child(office, "alpha"));
        QCOMPARE(panel.Tree()->currentItem(), Child(office, "alpha"));
        QVERIFY(disk.Text().find("alpha.example") != std::string::npos);
        QVERIFY(disk.Text().find("<GroupCollapsed>1</GroupCollapsed>") != std::string::npos);

        panel.SetCurrentItem(office);
        sheet.edit = [](Properties& r) { r.Name = "Sub"; };
        panel.OnCommand(ID_GROUP_ADD_GROUP);
        QCOMPARE(sheet.requests.back().title, QStringLiteral("Add Group"));
        QVERIFY(sheet.requests.back().groupMode && !sheet.requests.back().serverPages);
        QCOMPARE(panel.CurrentItem(), office);  // the parent stays current
        QVERIFY(Child(office, "Sub") != nullptr);
        QVERIFY(disk.config.FindNode(NodePath({"Office", "Sub"})));
        // A screen reader tells an item's kind, a group's servers below it
        // (as they are now) and a server's address.
        const QList<std::pair<QTreeWidgetItem*, const char*>> descriptions = {
            {panel.RootItem(), "group, 2 servers"},
            {Child(office, "Sub"), "group, no servers"},
            {Child(office, "alpha"), "server, alpha.example"}};
        for (const auto& [item, description] : descriptions) {
            QCOMPARE(item->data(0, Qt::AccessibleDescriptionRole).toString(),
                     QString::fromUtf8(description));
        }

        sheet.cancel = true;
        const std::string before = disk.Text();
        panel.OnCommand(ID_GROUP_ADD_SERVER);
        QCOMPARE(office->childCount(), 3);
        QCOMPARE(disk.Text(), before);
    }

    // A copy is proposed under the first "name (n)" its level does not hold.
    void insertCopyProposesAFreeName() {
        ConfigOnDisk disk(File(Server("A") + Server("A (2)")));
        CServerList panel(disk.config, frame);
        FakeSheet sheet;
        panel.SetSheetRunner(sheet.Runner());
        panel.SetCurrentItem(Child(panel.RootItem(), "A"));
        panel.OnCommand(ID_SERVER_INSERT_COPY);
        QCOMPARE(sheet.given.back().Name, std::string("A (3)"));
        QCOMPARE(sheet.given.back().Server, std::string("A.example"));
        QCOMPARE(panel.CurrentItem()->text(0), QStringLiteral("A (3)"));
        panel.SetCurrentItem(Child(panel.RootItem(), "A (2)"));
        panel.OnCommand(ID_SERVER_INSERT_COPY);
        QCOMPARE(sheet.given.back().Name, std::string("A (2) (2)"));
        QVERIFY(disk.config.FindNode(NodePath({"A (2) (2)"})));
    }

    // A rename shows at once, keeps the item's place until the next start,
    // and is written to the element found by the old name; the top's sheet
    // shows "Servers" and its own log-on settings.
    void propertiesRenameInPlaceAndTheTopHasItsOwnSheet() {
        ConfigOnDisk disk(File(Server("b") + Server("c")));
        CServerList panel(disk.config, frame);
        FakeSheet sheet;
        panel.SetSheetRunner(sheet.Runner());
        panel.SetCurrentItem(Child(panel.RootItem(), "b"));
        sheet.edit = [](Properties& r) { r.Name = "z"; };
        panel.OnCommand(ID_SERVER_PROPERTIES);
        QCOMPARE(sheet.requests.back().title, QStringLiteral("Properties of b"));
        QCOMPARE(sheet.requests.back().siblingNames, QStringList{QStringLiteral("c")});
        QCOMPARE(ChildLabels(panel.RootItem()), QStringLiteral("z, c"));
        QVERIFY(disk.config.FindNode(NodePath({"z"})));
        QVERIFY(!disk.config.FindNode(NodePath({"b"})));

        // A name a sibling carries is refused by the configuration too.
        SeenBox box;
        AnswerNextMessageBox(QMessageBox::Ok, &box);
        sheet.edit = [](Properties& r) { r.Name = "c"; };
        panel.OnCommand(ID_SERVER_PROPERTIES);
        QVERIFY(box.text.contains(QStringLiteral("already exists")));
        QCOMPARE(panel.CurrentItem()->text(0), QStringLiteral("z"));

        panel.SetCurrentItem(panel.RootItem());
        sheet.edit = [](Properties& r) { r.UserName = "admin"; };
        panel.OnCommand(ID_GROUP_PROPERTIES);
        const SheetRequest& top = sheet.requests.back();
        QVERIFY(top.rootMode && top.groupMode && top.siblingNames.isEmpty());
        QCOMPARE(top.title, QStringLiteral("Properties of Servers"));
        QCOMPARE(sheet.given.back().Name, std::string("Servers"));
        QCOMPARE(sheet.given.back().InheritGeneral, 0);
        QCOMPARE(panel.RootItem()->text(0), QStringLiteral("Servers"));
        Properties inherited;
        disk.config.LoadProperties(NodePath({"c"}), inherited);
        QCOMPARE(inherited.UserName, std::string("admin"));
    }

    void dropTargetsFollowTheRules() {
        ConfigOnDisk disk(File(Group("G", Server("s1") + Server("s2") + Group("sub", Server("t"))) +
                               Group("H", Server("h1") + Server("s1")) + Server("top")));
        CServerList panel(disk.config, frame);
        QTreeWidgetItem* root = panel.RootItem();
        QTreeWidgetItem* g = Child(root, "G");
        QTreeWidgetItem* h = Child(root, "H");
        QTreeWidgetItem* sub = Child(g, "sub");
        QTreeWidgetItem* s2 = Child(g, "s2");
        QVERIFY(!panel.TargetFor(g, g));    // itself
        QVERIFY(!panel.TargetFor(g, sub));  // below itself
        QVERIFY(!panel.TargetFor(g, Child(sub, "t")));
        QVERIFY(!panel.TargetFor(g, root));                             // its parent
        QVERIFY(!panel.TargetFor(s2, Child(g, "s1")));                  // a server beside it
        QCOMPARE(panel.TargetFor(s2, Child(h, "h1")), Child(h, "h1"));  // another group's server
        QCOMPARE(panel.TargetFor(s2, root), root);
        QCOMPARE(panel.TargetFor(s2, sub), sub);
        QVERIFY(!panel.TargetFor(Child(g, "s1"), h));  // H holds an "s1" already
        QVERIFY(!panel.TargetFor(Child(g, "s1"), Child(h, "h1")));
    }

    // A drop moves the element (saved at once) and the item, which keeps its
    // look and is sorted into its new level; Escape cancels a drag.
    void dragAndDropMovesAndEscapeCancels() {
        ConfigOnDisk disk(
            File(Group("G", Group("inner", Server("deep"), "<GroupCollapsed>1</GroupCollapsed>") +
                                Server("x")) +
                 Group("B", Server("a") + Server("z"))));
        CServerList panel(disk.config, frame);
        panel.resize(400, 400);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTreeWidget* tree = panel.Tree();
        QTreeWidgetItem* g = Child(panel.RootItem(), "G");
        QTreeWidgetItem* b = Child(panel.RootItem(), "B");
        QTreeWidgetItem* inner = Child(g, "inner");
        QVERIFY(!inner->isExpanded());

        Drag(tree, LabelPoint(tree, inner), LabelPoint(tree, Child(b, "z")), false);
        QVERIFY(panel.IsDragging());
        QCOMPARE(panel.DropTarget(), Child(b, "z"));
        QTest::keyClick(tree, Qt::Key_Escape);
        QVERIFY(!panel.IsDragging());
        QCOMPARE(inner->parent(), g);

        Drag(tree, LabelPoint(tree, inner), LabelPoint(tree, Child(b, "z")));
        QVERIFY(!panel.IsDragging());
        QCOMPARE(inner->parent(), b);
        QCOMPARE(ChildLabels(b), QStringLiteral("a, inner, z"));
        QVERIFY(!inner->isExpanded());
        QCOMPARE(inner->childCount(), 1);
        QCOMPARE(tree->currentItem(), inner);
        QVERIFY(!disk.config.IsDirty());
        QVERIFY(disk.config.FindNode(NodePath({"B", "inner", "deep"})));
        QVERIFY(!disk.config.FindNode(NodePath({"G", "inner"})));
    }

    // Ctrl+X marks the selected item and Ctrl+V moves it to the selected
    // group (or a server's) as a drop would, saved at once; where a drop is
    // refused the mark stays; Escape forgets it; the top cannot be marked.
    void cutAndPasteMoveByTheDropsRules() {
        ConfigOnDisk disk(File(Group("G", Server("s1") + Server("s2")) + Group("H", Server("h1"))));
        CServerList panel(disk.config, frame);
        panel.show();
        QTreeWidget* tree = panel.Tree();
        QTreeWidgetItem* g = Child(panel.RootItem(), "G");
        QTreeWidgetItem* s2 = Child(g, "s2");
        const auto key = [&](QTreeWidgetItem* selected, Qt::Key k, Qt::KeyboardModifiers m) {
            tree->setCurrentItem(selected);
            QTest::keyClick(tree, k, m);
        };
        key(panel.RootItem(), Qt::Key_X, Qt::ControlModifier);
        QVERIFY(panel.MarkedItem() == nullptr);
        key(s2, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(panel.MarkedItem(), s2);
        QVERIFY(s2->font(0).italic());
        key(Child(g, "s1"), Qt::Key_V, Qt::ControlModifier);  // a server beside it
        QCOMPARE(s2->parent(), g);
        key(Child(Child(panel.RootItem(), "H"), "h1"), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(ChildLabels(Child(panel.RootItem(), "H")), QStringLiteral("h1, s2"));
        QCOMPARE(tree->currentItem(), s2);
        QVERIFY(panel.MarkedItem() == nullptr && !s2->font(0).italic());
        QVERIFY(!disk.config.IsDirty());
        QVERIFY(disk.config.FindNode(NodePath({"H", "s2"})));

        key(g, Qt::Key_X, Qt::ControlModifier);
        key(g, Qt::Key_Escape, Qt::NoModifier);
        QVERIFY(panel.MarkedItem() == nullptr && !g->font(0).italic());
        key(Child(panel.RootItem(), "H"), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(g->parent(), panel.RootItem());
    }

    // The import asks first, skips what the group holds, sorts the group and
    // saves once. Past a second, it shows its progress, and can be stopped.
    void importAsksAddsAndSorts() {
        ConfigOnDisk disk(File(Group("G", Server("m"))));
        CServerList panel(disk.config, frame);
        std::vector<std::string> asked;
        bool shown = false;
        panel.SetImportRunner([&](const auto& hasChild, const auto& add) {
            for (const char* name : {"z", "m", "a", "b"}) {
                asked.push_back(name);
                if (*name == 'a') QThread::msleep(1100);
                if (hasChild(name)) continue;
                Properties record;
                record.Name = record.Server = name;
                add(record);
                auto* progress = panel.findChild<QProgressDialog*>();
                if (*name == 'a' && progress && progress->isVisible()) {
                    shown = true;
                    QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
                }
            }
        });
        int saves = 0;
        disk.config.SetSaveListener([&saves](bool) { ++saves; });
        QTreeWidgetItem* g = Child(panel.RootItem(), "G");
        panel.SetCurrentItem(g);
        SeenBox box;
        AnswerNextMessageBox(QMessageBox::No, &box);
        panel.OnCommand(ID_GROUP_IMPORT_MSTSC);
        QCOMPARE(box.title, QStringLiteral("Vandrelle"));
        QCOMPARE(box.text, QStringLiteral("Are you sure to import MSTSC connections?"));
        QCOMPARE(box.defaultButton, QMessageBox::No);
        QVERIFY(asked.empty());
        AnswerNextMessageBox(QMessageBox::Yes, &box);
        panel.OnCommand(ID_GROUP_IMPORT_MSTSC);
        QCOMPARE(asked.size(), 4u);
        QVERIFY(shown);
        QCOMPARE(ChildLabels(g), QStringLiteral("a, m, z"));  // stopped before b
        QCOMPARE(saves, 1);
        QVERIFY(disk.config.FindNode(NodePath({"G", "a"})));
        QVERIFY(!disk.config.IsDirty());
    }

    // Depth first from 4096 in steps of 16, counted through groups whose
    // submenus are filled only when they show; one submenu however often the
    // menu is made; a chosen server opens or is found.
    void connectToNumbersDepthFirst() {
        ConfigOnDisk disk(File(
            Group("A", Server("s1") + Group("deep", Server("d1") + Server("d2")) + Server("s2")) +
            Group("B", "") + Server("s3")));
        CServerList panel(disk.config, frame);
        QMenu window;
        QAction* quick = window.addAction(QStringLiteral("&Quick Connect..."));
        panel.BuildConnectToMenu(&window, quick);
        QMenu* menu = panel.BuildConnectToMenu(&window, quick);
        QCOMPARE(window.actions().size(), 2);
        QCOMPARE(window.actions().at(0)->menu(), menu);
        QCOMPARE(menu->actions().size(), 3);
        QMenu* a = menu->actions().at(0)->menu();
        QMenu* b = menu->actions().at(1)->menu();
        QCOMPARE(menu->actions().at(2)->text(), QStringLiteral("s3"));
        QCOMPARE(menu->actions().at(2)->data().toInt(), 4096 + 4 * 16);
        Q_EMIT a->aboutToShow();
        Q_EMIT b->aboutToShow();
        QVERIFY(b->actions().isEmpty());
        // In the tree's order: "deep" (d1, d2), then s1 and s2.
        QMenu* deep = a->actions().at(0)->menu();
        QCOMPARE(a->actions().at(1)->data().toInt(), 4096 + 32);  // s1, after d1 and d2
        QCOMPARE(a->actions().at(2)->data().toInt(), 4096 + 48);  // s2
        Q_EMIT deep->aboutToShow();
        QCOMPARE(deep->actions().at(1)->data().toInt(), 4096 + 16);  // d2

        panel.ConnectByMenuId(4096 + 16);
        QCOMPARE(frame.sent.size(), 2u);
        QVERIFY(frame.sent[1].path == NodePath({"A", "deep", "d2"}));
        QCOMPARE(frame.sent[1].command, std::uintptr_t(ID_SERVER_CONNECT));
        frame.findResult = 1;
        panel.ConnectByMenuId(4096 + 16);
        QCOMPARE(frame.sent.size(), 3u);  // found: not opened again
        panel.ConnectByMenuId(4100);      // no server has it
        QCOMPARE(frame.sent.size(), 3u);
    }

    // Identifiers run past the window commands' range with thousands of
    // servers; every one of them still opens.
    void everyServerOfAHugeMenuOpens() {
        std::string servers;
        for (int i = 0; i < 3400; ++i) servers += Server("srv-" + std::to_string(10000 + i));
        ConfigOnDisk disk(File(servers));
        CServerList panel(disk.config, frame);
        QMenu window;
        QMenu* menu = panel.BuildConnectToMenu(&window, window.addAction(QStringLiteral("q")));
        QAction* last = menu->actions().last();
        QCOMPARE(last->data().toInt(), 4096 + 3399 * 16);
        QVERIFY(last->data().toInt() > kConnectToLastId);
        panel.ConnectByMenuId(last->data().toInt());
        QVERIFY(frame.sent.back().path == NodePath({"srv-13399"}));
    }

    // A name is shown as stored, never reordered by a bidirectional control;
    // a node whose name is empty, which no path can reach, is not shown.
    void namesShowTheirControlsAndEmptyNamesAreLeftOut() {
        const std::string spoof =
            "abc\xE2\x80\xAE"
            "fdp.exe";
        ConfigOnDisk disk(File(Server(spoof) + Server("") + Group("", Server("inside"))));
        CServerList panel(disk.config, frame);
        QCOMPARE(ChildLabels(panel.RootItem()), QString::fromStdString(spoof));
        auto* delegate = qobject_cast<QStyledItemDelegate*>(panel.Tree()->itemDelegate());
        QVERIFY(delegate);
        QCOMPARE(delegate->displayText(QString::fromStdString(spoof), QLocale()),
                 QStringLiteral("abc<U+202E>fdp.exe"));
    }

    // While the tree holds no server a hint says how to add one: readable by a
    // screen reader, it never takes the focus from the tree.
    void aHintShowsWhileTheTreeHoldsNoServer() {
        ConfigOnDisk disk(File(Group("G", "")));
        CServerList panel(disk.config, frame);
        FakeSheet sheet;
        sheet.edit = [](Properties& r) { r.Name = "S"; };
        panel.SetSheetRunner(sheet.Runner());
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        panel.Tree()->setFocus();
        auto* hint = panel.findChild<QLabel*>(QStringLiteral("emptyHint"));
        QVERIFY(hint && hint->isVisible());
        for (const char* words : {"Add server", "Shift+F10", "Quick Connect", "F10"})
            QVERIFY2(hint->text().contains(QLatin1String(words)), words);
        QAccessibleInterface* read = QAccessible::queryAccessibleInterface(hint);
        QCOMPARE(read->role(), QAccessible::StaticText);
        QCOMPARE(read->text(QAccessible::Name), hint->text());
        QVERIFY(!read->state().invisible && !read->state().focusable);
        QCOMPARE(panel.Tree()->accessibleDescription(), hint->text());
        QCOMPARE(panel.focusWidget(), panel.Tree());

        panel.SetCurrentItem(Child(panel.RootItem(), "G"));
        panel.OnCommand(ID_GROUP_ADD_SERVER);
        QVERIFY(!hint->isVisible());
        QVERIFY(QAccessible::queryAccessibleInterface(hint)->state().invisible);
        QVERIFY(panel.Tree()->accessibleDescription().isEmpty());
        QCOMPARE(panel.focusWidget(), panel.Tree());
        SeenBox box;
        AnswerNextMessageBox(QMessageBox::Yes, &box);
        QTest::keyClick(panel.Tree(), Qt::Key_Delete);  // the new server is selected
        QVERIFY(hint->isVisible());
        QCOMPARE(panel.focusWidget(), panel.Tree());
    }

    // The Delete key asks first; the tree follows at once, the file at the next save.
    void deleteAsksThenRemovesTheItemAndMarksTheStore() {
        ConfigOnDisk disk(File(Group("G", Server("S")) + Server("T")));
        CServerList panel(disk.config, frame);
        panel.show();
        const std::string before = disk.Text();

        panel.Tree()->setCurrentItem(panel.RootItem());
        QTest::keyClick(panel.Tree(), Qt::Key_Delete);  // only a beep
        QCOMPARE(panel.RootItem()->childCount(), 2);

        panel.Tree()->setCurrentItem(Child(panel.RootItem(), "T"));
        SeenBox box;
        AnswerNextMessageBox(QMessageBox::No, &box);
        QTest::keyClick(panel.Tree(), Qt::Key_Delete);
        QVERIFY(box.seen);
        QCOMPARE(box.title, QStringLiteral("Confirm"));
        QCOMPARE(box.text, QStringLiteral("Delete server 'T'?"));
        QCOMPARE(box.icon, QMessageBox::Question);
        QCOMPARE(box.defaultButton, QMessageBox::No);
        QVERIFY(Child(panel.RootItem(), "T") != nullptr);
        // The keypad's Delete, and Delete with a modifier, are the same key.
        for (const Qt::KeyboardModifiers with :
             {Qt::KeypadModifier, Qt::ShiftModifier, Qt::ControlModifier}) {
            box.seen = false;
            AnswerNextMessageBox(QMessageBox::No, &box, 1000);
            QTest::keyClick(panel.Tree(), Qt::Key_Delete, with);
            QVERIFY2(box.seen, qPrintable(QString::number(with.toInt(), 16)));
        }

        panel.SetCurrentItem(Child(panel.RootItem(), "G"));
        AnswerNextMessageBox(QMessageBox::Yes, &box);
        panel.OnCommand(ID_GROUP_DELETE);
        QCOMPARE(box.text, QStringLiteral("Delete group 'G'?"));
        QCOMPARE(ChildLabels(panel.RootItem()), QStringLiteral("T"));
        QVERIFY(!disk.config.FindNode(NodePath({"G"})));
        QVERIFY(disk.config.IsDirty());
        QCOMPARE(disk.Text(), before);
        QVERIFY(disk.config.Save());
        QVERIFY(disk.Text().find("<Name>G</Name>") == std::string::npos);
    }

    // Two siblings that agree in the part of their paths a buffer holds: the
    // longer one's commands are refused, never run on the other.
    void aPathTooLongForItsBufferIsRefusedNotCut() {
        const std::string shorter(1020, 'n'), longer = shorter + std::string(480, 'n');
        ConfigOnDisk disk(File(Group("G", Server(longer) + Server(shorter))));
        CServerList panel(disk.config, frame);
        QTreeWidgetItem* group = Child(panel.RootItem(), "G");
        panel.SetCurrentItem(Child(group, longer.c_str()));
        SeenBox box;
        AnswerNextMessageBox(QMessageBox::Yes, &box);  // were it the question
        panel.OnCommand(ID_SERVER_DELETE);
        QVERIFY(disk.config.FindNode(NodePath({"G", shorter})));
        QVERIFY(box.text.contains(QStringLiteral("too long")));
        box.seen = false;
        AnswerNextMessageBox(QMessageBox::Ok, &box);
        panel.OnCommand(ID_SERVER_CONNECT);
        QVERIFY(box.seen);
        QCOMPARE(group->childCount(), 2);
        QVERIFY(disk.config.FindNode(NodePath({"G", shorter})));
        QVERIFY(!disk.config.IsDirty());
        QVERIFY(frame.sent.empty());
    }
};

QTEST_MAIN(CServerListTest)
#include "CServerListTest.moc"
