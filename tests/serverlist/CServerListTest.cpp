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

    // Each level is sorted as a whole; nodes without a name are left out;
    // a group is collapsed only where the file says 1 (or the empty text);
    // an item's path names its nodes.
    void theTreeShowsTheFileSortedWithItsCollapseStates() {
        ConfigOnDisk disk(File(Server("delta") +
                               Group("Charlie", Server("zulu") + Server("Yankee")) +
                               Server("Alpha") + "<!-- a comment does not end the list -->" +
                               Group("bravo", Server("b"), "<GroupCollapsed>0</GroupCollapsed>") +
                               Group("one", Server("c"), "<GroupCollapsed>1</GroupCollapsed>") +
                               Group("empty", Server("d"), "<GroupCollapsed></GroupCollapsed>") +
                               Group("word", Server("e"), "<GroupCollapsed>yes</GroupCollapsed>") +
                               "<Group><Properties><Description/></Properties>" + Server("hidden") +
                               "</Group><Server><Server>x</Server></Server>"));
        CServerList panel(disk.config, frame);
        QTreeWidgetItem* root = panel.RootItem();
        QCOMPARE(ChildLabels(root),
                 QStringLiteral("Alpha, bravo, Charlie, delta, empty, one, word"));
        QCOMPARE(ChildLabels(Child(root, "Charlie")), QStringLiteral("Yankee, zulu"));
        QVERIFY(CServerList::IsServer(Child(root, "delta")));
        QVERIFY(!CServerList::IsServer(Child(root, "bravo")));
        QVERIFY(root->isExpanded());
        for (const char* group : {"bravo", "Charlie", "one", "empty", "word"})
            QVERIFY2(Child(root, group)->isExpanded() ==
                         (group[0] != 'o' && group[0] != 'e' && group[0] != 'w'),
                     group);
        PathBuffer path;
        QVERIFY(panel.GetItemPath(Child(Child(root, "Charlie"), "zulu"), path));
        QVERIFY(NodePathFromBuffer(path) == NodePath({"Charlie", "zulu"}));
        QVERIFY(panel.GetItemPath(root, path));
        QVERIFY(NodePathFromBuffer(path).IsTop());
        QVERIFY(!panel.GetItemPath(nullptr, path));
        QVERIFY(Child(root, "alpha") == nullptr);  // labels are compared exactly
    }

    // The user's collapse reaches the file at once and survives a restart;
    // nothing else of the group is rewritten (a password stored under
    // another installation's key stays as it is); the top has its own state.
    void collapseStateIsSavedAndReadBackAfterARestart() {
        const std::string foreignPassword = "<Password>Zm9yZWlnbiBrZXk=</Password>";
        ConfigOnDisk disk(File(
            Group("Office", Server("a"),
                  "<InheritGeneral>0</InheritGeneral><UserName>u</UserName>" + foreignPassword) +
            "<Properties><GroupCollapsed>1</GroupCollapsed></Properties>"));
        {
            CServerList panel(disk.config, frame);
            QVERIFY(!panel.RootItem()->isExpanded());
            panel.Tree()->collapseItem(Child(panel.RootItem(), "Office"));
            QVERIFY(disk.Text().find("<GroupCollapsed>1</GroupCollapsed>") != std::string::npos);
            QVERIFY(disk.Text().find(foreignPassword) != std::string::npos);
            QVERIFY(!disk.config.IsDirty());
            panel.Tree()->expandItem(panel.RootItem());
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

    // A double click or Enter on a server first looks for its open tab and
    // opens a new one only when there is none; on a group nothing is sent.
    // The menu's commands send theirs; a group's connect opens its own
    // servers, not its subgroups'.
    void openingSendsFindThenOpen() {
        ConfigOnDisk disk(
            File(Group("G", Server("two") + Group("sub", Server("deep")) + Server("one"))));
        CServerList panel(disk.config, frame);
        panel.resize(300, 300);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTreeWidgetItem* g = Child(panel.RootItem(), "G");
        QTreeWidgetItem* one = Child(g, "one");
        panel.Tree()->setCurrentItem(one);
        QTest::keyClick(panel.Tree(), Qt::Key_Return);
        QCOMPARE(frame.sent.size(), 2u);
        QCOMPARE(frame.sent[0].message, WM_APP_FIND_SESSION);
        QCOMPARE(frame.sent[1].message, WM_APP_OPEN_SESSION);
        QCOMPARE(frame.sent[1].command, std::uintptr_t(0));
        QVERIFY(frame.sent[1].path == NodePath({"G", "one"}));
        frame.findResult = 1;
        const QPoint at = LabelPoint(panel.Tree(), one);
        QTest::mouseClick(panel.Tree()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(panel.Tree()->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(frame.sent.size(), 3u);
        panel.Tree()->setCurrentItem(g);
        QTest::keyClick(panel.Tree(), Qt::Key_Enter);
        QCOMPARE(frame.sent.size(), 3u);

        frame.sent.clear();
        panel.SetCurrentItem(one);
        panel.OnCommand(ID_SERVER_CONNECT_CONSOLE);
        panel.OnCommand(ID_SERVER_CONNECT_MSTSC);
        QCOMPARE(frame.sent[0].command, std::uintptr_t(ID_SERVER_CONNECT_CONSOLE));
        QCOMPARE(frame.sent[1].command, std::uintptr_t(ID_SERVER_CONNECT_MSTSC));
        frame.sent.clear();
        panel.SetCurrentItem(g);
        panel.OnCommand(ID_GROUP_CONNECT);
        QCOMPARE(frame.sent.size(), 2u);
        QVERIFY(frame.sent[0].path == NodePath({"G", "one"}));
        QVERIFY(frame.sent[1].path == NodePath({"G", "two"}));
        QCOMPARE(frame.sent[0].message, WM_APP_OPEN_SESSION);
    }

    // The top cannot be deleted. A right click
    // makes the item under the pointer current and opens its menu without
    // moving the selection (Enter still acts on the selection); Shift+F10
    // opens the selected item's; beside the label nothing opens.
    void contextMenusByMouseAndKeyboard() {
        ConfigOnDisk disk(File(Group("G", Server("a") + Server("b"))));
        CServerList panel(disk.config, frame);
        QTreeWidgetItem* a = Child(Child(panel.RootItem(), "G"), "a");
        QTreeWidgetItem* b = Child(Child(panel.RootItem(), "G"), "b");
        std::unique_ptr<QMenu> top(panel.MakeContextMenu(panel.RootItem()));
        QCOMPARE(top->actions().at(3)->data().toInt(), int(ID_GROUP_DELETE));
        QVERIFY(!top->actions().at(3)->isEnabled());
        panel.resize(400, 300);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        const auto menu = [&] {
            return panel.findChild<QMenu*>(QStringLiteral("IDR_SERVER_MENU"));
        };
        panel.Tree()->setCurrentItem(a);
        RightClick(panel.Tree(), LabelPoint(panel.Tree(), b));
        QTRY_VERIFY(menu() != nullptr);
        QCOMPARE(panel.CurrentItem(), b);
        QCOMPARE(panel.Tree()->currentItem(), a);
        menu()->close();
        QTRY_VERIFY(menu() == nullptr);
        QTest::keyClick(panel.Tree(), Qt::Key_Return);
        QVERIFY(frame.sent.back().path == NodePath({"G", "a"}));

        panel.SetCurrentItem(b);
        QTest::keyClick(panel.Tree(), Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(menu() != nullptr);
        QCOMPARE(panel.CurrentItem(), a);
        menu()->close();
        QTRY_VERIFY(menu() == nullptr);

        RightClick(panel.Tree(), QPoint(panel.Tree()->viewport()->width() - 5,
                                        panel.Tree()->visualItemRect(b).center().y()));
        QTest::qWait(50);
        QVERIFY(menu() == nullptr);
    }

    // Adding asks the sheet with the parent's settings but a new name; the
    // new item goes to the end of its level (sorted only at the next start)
    // and shows, its group expanded; the file is saved at once. A screen
    // reader is told an item's kind and what it holds or reaches.
    void addGroupAndServerAppendAndSave() {
        ConfigOnDisk disk(File(Group("Office", Server("zeta"),
                                     "<InheritGeneral>0</InheritGeneral><UserName>jdoe</UserName>"
                                     "<Description>shared</Description>"
                                     "<GroupCollapsed>1</GroupCollapsed>")));
        CServerList panel(disk.config, frame);
        FakeSheet sheet;
        panel.SetSheetRunner(sheet.Runner());
        QTreeWidgetItem* office = Child(panel.RootItem(), "Office");
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

        sheet.edit = [](Properties& r) { r.Name = "Sub"; };
        panel.OnCommand(ID_GROUP_ADD_GROUP);  // a server is current: nothing is added
        QCOMPARE(sheet.requests.size(), 1u);
        panel.SetCurrentItem(office);
        panel.OnCommand(ID_GROUP_ADD_GROUP);
        QCOMPARE(sheet.requests.back().title, QStringLiteral("Add Group"));
        QVERIFY(sheet.requests.back().groupMode && !sheet.requests.back().serverPages);
        QCOMPARE(panel.CurrentItem(), office);  // the parent stays current
        QVERIFY(disk.config.FindNode(NodePath({"Office", "Sub"})));
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
    // and is written to the element found by the old name; a refused one is
    // told and undone; the top's sheet shows "Servers" and its own log-on.
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

        SeenBox box;
        AnswerNextMessageBox(QMessageBox::Ok, &box);
        sheet.edit = [](Properties& r) { r.Name = "c"; };
        panel.OnCommand(ID_SERVER_PROPERTIES);
        QVERIFY(box.text.contains(QStringLiteral("already exists")));
        QCOMPARE(panel.CurrentItem()->text(0), QStringLiteral("z"));
        panel.OnCommand(ID_GROUP_PROPERTIES);  // a server's current: not a group's sheet
        QCOMPARE(sheet.requests.size(), 2u);

        panel.SetCurrentItem(panel.RootItem());
        sheet.edit = [](Properties& r) { r.UserName = "admin"; };
        panel.OnCommand(ID_GROUP_PROPERTIES);
        const SheetRequest& top = sheet.requests.back();
        QVERIFY(top.rootMode && top.groupMode && top.siblingNames.isEmpty());
        QCOMPARE(top.title, QStringLiteral("Properties of Servers"));
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
    // look and is sorted into its new level; Escape cancels a drag. Ctrl+X
    // and Ctrl+V move the same way; a refused paste keeps the mark, Escape
    // forgets it, the top cannot be marked.
    void dragAndDropAndCutAndPasteMove() {
        ConfigOnDisk disk(
            File(Group("G", Group("inner", Server("deep"), "<GroupCollapsed>1</GroupCollapsed>") +
                                Server("x") + Server("y")) +
                 Group("B", Server("a") + Server("z"))));
        CServerList panel(disk.config, frame);
        panel.resize(400, 400);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTreeWidget* tree = panel.Tree();
        QTreeWidgetItem* g = Child(panel.RootItem(), "G");
        QTreeWidgetItem* b = Child(panel.RootItem(), "B");
        QTreeWidgetItem* inner = Child(g, "inner");
        Drag(tree, LabelPoint(tree, inner), LabelPoint(tree, Child(b, "z")), false);
        QVERIFY(panel.IsDragging());
        QCOMPARE(panel.DropTarget(), Child(b, "z"));
        QTest::keyClick(tree, Qt::Key_Escape);
        QVERIFY(!panel.IsDragging());
        QCOMPARE(inner->parent(), g);

        Drag(tree, LabelPoint(tree, inner), LabelPoint(tree, Child(b, "z")));
        QCOMPARE(ChildLabels(b), QStringLiteral("a, inner, z"));
        QVERIFY(!inner->isExpanded());
        QCOMPARE(inner->childCount(), 1);
        QCOMPARE(tree->currentItem(), inner);
        QVERIFY(!disk.config.IsDirty());
        QVERIFY(disk.config.FindNode(NodePath({"B", "inner", "deep"})));
        QVERIFY(!disk.config.FindNode(NodePath({"G", "inner"})));

        QTreeWidgetItem* y = Child(g, "y");
        const auto key = [&](QTreeWidgetItem* selected, Qt::Key k, Qt::KeyboardModifiers m) {
            tree->setCurrentItem(selected);
            QTest::keyClick(tree, k, m);
        };
        key(panel.RootItem(), Qt::Key_X, Qt::ControlModifier);
        QVERIFY(panel.MarkedItem() == nullptr);
        key(y, Qt::Key_X, Qt::ControlModifier);
        QVERIFY(panel.MarkedItem() == y && y->font(0).italic());
        key(Child(g, "x"), Qt::Key_V, Qt::ControlModifier);  // a server beside it
        QCOMPARE(y->parent(), g);
        key(Child(b, "a"), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(ChildLabels(b), QStringLiteral("a, inner, y, z"));
        QVERIFY(panel.MarkedItem() == nullptr && !y->font(0).italic());
        QVERIFY(disk.config.FindNode(NodePath({"B", "y"})));
        key(g, Qt::Key_X, Qt::ControlModifier);
        key(g, Qt::Key_Escape, Qt::NoModifier);
        QVERIFY(panel.MarkedItem() == nullptr && !g->font(0).italic());
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
    // submenus are filled only when they show, past the window commands'
    // range with many servers; one submenu however often the menu is made;
    // a chosen server opens or is found.
    void connectToNumbersDepthFirst() {
        std::string many;
        for (int i = 0; i < 3400; ++i) many += Server("srv-" + std::to_string(10000 + i));
        ConfigOnDisk disk(File(
            Group("A", Server("s1") + Group("deep", Server("d1") + Server("d2")) + Server("s2")) +
            Group("B", "") + Group("C", many)));
        CServerList panel(disk.config, frame);
        QMenu window;
        QAction* quick = window.addAction(QStringLiteral("&Quick Connect..."));
        panel.BuildConnectToMenu(&window, quick);
        QMenu* menu = panel.BuildConnectToMenu(&window, quick);
        QCOMPARE(window.actions().size(), 2);
        QCOMPARE(window.actions().at(0)->menu(), menu);
        QMenu* a = menu->actions().at(0)->menu();
        QMenu* b = menu->actions().at(1)->menu();
        QMenu* c = menu->actions().at(2)->menu();
        for (QMenu* m : {a, b, c}) Q_EMIT m->aboutToShow();
        QVERIFY(b->actions().isEmpty());
        QCOMPARE(c->actions().at(0)->data().toInt(), 4096 + 4 * 16);
        QCOMPARE(c->actions().last()->data().toInt(), 4096 + 3403 * 16);
        QVERIFY(c->actions().last()->data().toInt() > kConnectToLastId);
        // In the tree's order: "deep" (d1, d2), then s1 and s2.
        QMenu* deep = a->actions().at(0)->menu();
        QCOMPARE(a->actions().at(1)->data().toInt(), 4096 + 32);
        QCOMPARE(a->actions().at(2)->data().toInt(), 4096 + 48);
        Q_EMIT deep->aboutToShow();
        QCOMPARE(deep->actions().at(1)->data().toInt(), 4096 + 16);

        panel.ConnectByMenuId(4096 + 16);
        QCOMPARE(frame.sent.size(), 2u);
        QVERIFY(frame.sent[1].path == NodePath({"A", "deep", "d2"}));
        QCOMPARE(frame.sent[1].command, std::uintptr_t(ID_SERVER_CONNECT));
        panel.ConnectByMenuId(4096 + 3403 * 16);
        QVERIFY(frame.sent.back().path == NodePath({"C", "srv-13399"}));
        frame.findResult = 1;
        panel.ConnectByMenuId(4096 + 16);
        QCOMPARE(frame.sent.size(), 5u);  // found: not opened again
        panel.ConnectByMenuId(4100);      // no server has it
        QCOMPARE(frame.sent.size(), 5u);
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

    // While the tree holds no server a hint says how to add one (a screen
    // reader reads it as the tree's description); it never takes the focus.
    // The Delete key (from the keypad, with a modifier too) asks first; the
    // tree follows at once, the file at the next save; the top is not deleted.
    void theHintAndTheDeleteKey() {
        ConfigOnDisk disk(File(Group("G", "")));
        CServerList panel(disk.config, frame);
        FakeSheet sheet;
        sheet.edit = [](Properties& r) { r.Name = "S"; };
        panel.SetSheetRunner(sheet.Runner());
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        panel.Tree()->setFocus();
        auto* hint = panel.findChild<QLabel*>(QStringLiteral("emptyHint"));
        QVERIFY(hint->isVisible());
        QCOMPARE(panel.Tree()->accessibleDescription(), hint->text());
        panel.SetCurrentItem(Child(panel.RootItem(), "G"));
        panel.OnCommand(ID_GROUP_ADD_SERVER);
        QVERIFY(!hint->isVisible());
        QVERIFY(panel.Tree()->accessibleDescription().isEmpty());
        QCOMPARE(panel.focusWidget(), panel.Tree());
        QVERIFY(disk.config.Save());
        const std::string before = disk.Text();

        SeenBox box;
        for (const Qt::KeyboardModifiers with :
             {Qt::NoModifier, Qt::KeypadModifier, Qt::ShiftModifier, Qt::ControlModifier}) {
            box.seen = false;
            AnswerNextMessageBox(QMessageBox::No, &box, 1000);
            QTest::keyClick(panel.Tree(), Qt::Key_Delete, with);  // the new server is selected
            QVERIFY2(box.seen, qPrintable(QString::number(with.toInt(), 16)));
        }
        QCOMPARE(box.text, QStringLiteral("Delete server 'S'?"));
        QCOMPARE(box.defaultButton, QMessageBox::No);
        AnswerNextMessageBox(QMessageBox::Yes, &box);
        QTest::keyClick(panel.Tree(), Qt::Key_Delete);
        QVERIFY(hint->isVisible());
        QCOMPARE(panel.focusWidget(), panel.Tree());
        QVERIFY(disk.config.IsDirty());
        QCOMPARE(disk.Text(), before);

        panel.SetCurrentItem(Child(panel.RootItem(), "G"));
        AnswerNextMessageBox(QMessageBox::Yes, &box);
        panel.OnCommand(ID_GROUP_DELETE);
        QCOMPARE(box.text, QStringLiteral("Delete group 'G'?"));
        QCOMPARE(panel.RootItem()->childCount(), 0);
        panel.Tree()->setCurrentItem(panel.RootItem());
        box.seen = false;
        AnswerNextMessageBox(QMessageBox::Yes, &box, 300);
        QTest::keyClick(panel.Tree(), Qt::Key_Delete);  // only a beep
        QTest::qWait(400);
        QVERIFY(!box.seen);
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
