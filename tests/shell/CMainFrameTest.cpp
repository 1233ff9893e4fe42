// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on the offscreen platform with fake session hosts: how it
// opens sessions and follows them, its menus and keys, the find bar,
// quitting, and what it does when the system asks it to end.
#include "CDlgQuickConnect.h"
#include "CFindBar.h"
#include "CMainFrame.h"
#include "CServerList.h"
#include "CSimpleTabView.h"
#include "CVandrelleView.h"
#include "ItemPath.h"
#include "QtTestKit.h"
#include "RecordText.h"
#include "ResourceIds.h"
#include "SystemWatchers.h"
#include "TreeMerge.h"
#include "TreeNotation.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabBar>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <signal.h>

using namespace vandrelle;
using namespace vandrelle::test;

namespace {

// Europe, stored collapsed, holds Zürich with web12 and db1; Office holds
// Build and Lab.
const std::string kFile = TreeFile(
    "Europe[GroupCollapsed=1]{Zürich{web12[Server=10.1.0.12] db1[Server=db1.zh.test]}} "
    "Office{Build[Server=10.0.0.4] Lab[Server=10.0.0.5]}");

// A main window over kFile on disk, with fake session hosts.
struct Frame {
    void Open(const std::vector<std::u16string_view>& names, int command = 0) {
        PathBuffer path{};
        BuildItemPath(names, path);
        frame.Send(WM_APP_OPEN_SESSION, static_cast<std::uintptr_t>(command),
                   reinterpret_cast<std::intptr_t>(&path));
    }
    FakeRdpClient& Client(int made) { return hosts.clients.at(static_cast<std::size_t>(made)); }
    void Connect(int made) {
        Client(made).FireConnecting();
        Client(made).FireConnected();
    }
    // Lets the posted messages run.
    static void Pump() {
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    CSimpleTabView* View() { return frame.View(); }

    ConfigOnDisk disk{kFile};
    FakeHosts hosts;
    CMainFrame frame{disk.config, disk.keys, hosts.Factory()};
};

// The tree's item of that label at any depth, or nullptr.
QTreeWidgetItem* Item(QTreeWidget* tree, const char* label) {
    return tree->findItems(QString::fromUtf8(label), Qt::MatchExactly | Qt::MatchRecursive)
        .value(0);
}

void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

// Answers the next Quick Connect dialog from the keyboard: the console box
// and the server field by their mnemonics, then Enter; a dialog still open
// after that is cancelled (the test fails on what it shows).
void AnswerQuickConnect(const QString& text, bool console) {
    WhenModalOpens([text, console](QWidget* dialog) {
        if (console) {
            Key(Qt::Key_O, Qt::AltModifier);  // clicks the box after a moment
            QTRY_VERIFY(qobject_cast<CDlgQuickConnect*>(dialog)->ConsoleBox()->isChecked());
        }
        Key(Qt::Key_S, Qt::AltModifier);
        QTest::keyClicks(QApplication::focusWidget(), text);
        Key(Qt::Key_Return);
        if (dialog->isVisible()) qobject_cast<QDialog*>(dialog)->reject();
    });
}

}  // namespace

class CMainFrameTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Sessions from open to close. "C&onnect To" numbers the servers depth
    // first through groups whose submenus never showed; opening adds a tab
    // at the end and connects once it is there, and opening it again finds
    // it; a console session's switch is not stored. What the system tells
    // reaches them: an unlock releases the Windows keys in connected
    // sessions only. The tab menu greys what does not apply and acts on the
    // page it was opened for, even when tabs moved meanwhile. A double click
    // on a disconnected tab connects it (on a live one it covers the screen:
    // the end-to-end tests). A middle click closes a session's tab
    // (disconnecting it); the tree's tab takes neither, and comes forward by
    // a middle click on the strip. The end of the user's session saves what
    // is only marked changed. A typed server opens at once in a tab of its
    // own, never found by the tree, and is filed once under "Quick
    // Connections" (what a typed text may be: QuickConnectTest). A save that
    // fails is told (the copy kept of a file changed by someone else: the
    // store's tests). A remote log-off closes the tab when the menu says so,
    // and the session's error box goes with it. Quitting without an active
    // session asks nothing.
    void sessionsFromOpenToClose() {
        Frame f;
        f.frame.show();
        QMenu* menu = f.frame.WindowMenu();
        Q_EMIT menu->aboutToShow();
        const int quickAt = menu->actions().indexOf(f.frame.Action(IDM_QUICK_CONNECT));
        QMenu* connectTo = menu->actions().at(quickAt - 1)->menu();
        Q_EMIT connectTo->actions().at(1)->menu()->aboutToShow();  // Office
        f.frame.OnSysCommand(4144);                                // Lab
        QCOMPARE(f.View()->GetPageCaption(1), QStringLiteral("Lab"));
        QVERIFY(!f.Client(0).Called("Connect"));  // posted, not called
        Frame::Pump();
        QVERIFY(f.Client(0).Called("Connect"));

        f.Open({u"Office", u"Build"}, ID_SERVER_CONNECT_CONSOLE);
        QCOMPARE(f.View()->GetPageCaption(2), QStringLiteral("Build (console)"));
        QCOMPARE(f.frame.SessionAt(2)->Record().ConnectToServerConsole, 1);
        QVERIFY2(f.disk.Text().find("ConnectToServerConsole") == std::string::npos,
                 "the console switch was stored");
        f.Connect(0);  // not the active tab
        Frame::Pump();
        f.frame.OnUnlock();
        QCOMPARE(f.hosts.made[0]->windowsKeyReleases, 1);
        QCOMPARE(f.hosts.made[1]->windowsKeyReleases, 0);

        f.View()->SetActivePage(0);
        f.frame.OnSysCommand(4144);
        QCOMPARE(f.View()->GetActivePage(), 1);  // found, not opened again

        QVERIFY(f.frame.MakeSessionMenu(0) == nullptr);
        const std::unique_ptr<QMenu> tabMenu(f.frame.MakeSessionMenu(1));
        QVERIFY(!tabMenu->actions().at(0)->isEnabled());  // Connect
        QVERIFY(tabMenu->actions().at(1)->isEnabled());   // Disconnect
        Q_EMIT f.View()->ContextMenuRequested(1, QPoint(10, 10));
        f.View()->RemovePage(2);  // another tab goes; the context page is still Lab
        f.frame.OnSessionCommand(ID_SESSION_DISCONNECT);
        Frame::Pump();
        QVERIFY(f.Client(0).Called("Disconnect"));

        f.Client(0).FireDisconnected(1);
        f.Client(0).calls.clear();
        Q_EMIT f.View()->TabDoubleClicked(1);
        Frame::Pump();
        QVERIFY(f.Client(0).Called("Connect"));
        f.Client(0).FireConnecting();
        Q_EMIT f.View()->StripMiddleClicked();
        QCOMPARE(f.View()->GetActivePage(), 0);
        Q_EMIT f.View()->TabDoubleClicked(0);
        Q_EMIT f.View()->CloseRequested(0);
        QCOMPARE(f.View()->GetPageCount(), 2);
        Q_EMIT f.View()->CloseRequested(1);
        QCOMPARE(f.View()->GetPageCount(), 1);
        f.frame.OnSessionCommand(ID_SESSION_CONNECT);  // its page is gone: nothing
        QCOMPARE(f.Client(0).calls.back().name, std::string("Disconnect"));

        f.disk.config.DeleteNode(NodePath({"Office", "Lab"}));
        f.frame.OnCommitDataRequest();
        QVERIFY(!f.disk.config.IsDirty());
        QVERIFY(f.disk.Text().find("Lab") == std::string::npos);

        AnswerQuickConnect(QStringLiteral("  rdp.example:3390 "), true);
        f.frame.OnSysCommand(IDM_QUICK_CONNECT);
        QCOMPARE(f.View()->GetPageCaption(1), QStringLiteral("rdp.example (console)"));
        QCOMPARE(f.frame.SessionAt(1)->ServerPath(), PathBuffer{});
        Frame::Pump();
        QCOMPARE(f.Client(2).Values("put_Server"), std::vector<std::string>{"rdp.example"});
        QTreeWidgetItem* quick = CServerList::FindChildByLabel(f.frame.ServerList()->RootItem(),
                                                               QStringLiteral("Quick Connections"));

        AnswerQuickConnect(QStringLiteral("rdp.example"), false);
        f.frame.OnSysCommand(IDM_QUICK_CONNECT);
        QCOMPARE(ChildLabels(quick), QStringLiteral("rdp.example"));

        std::ofstream(f.disk.dir.file("plain")) << "a file, not a folder";
        f.disk.config.SetConfigPath(f.disk.dir.file("plain/Vandrelle.xml"));
        f.frame.OnSysCommand(IDM_CLOSE_TAB_ON_LOG_OFF);
        SeenBox told;
        AnswerNextMessageBox(QMessageBox::Ok, &told);
        QVERIFY(!f.disk.config.Save());
        QTRY_VERIFY(told.seen);

        f.Open({u"Office", u"Build"});
        f.Client(4).connectFailure = static_cast<HResult>(0x80004005);
        QPointer<QMessageBox> box;
        WhenModalOpens([&](QWidget* modal) {
            box = qobject_cast<QMessageBox*>(modal);
            f.Client(4).FireDisconnected(2);
        });
        QTRY_COMPARE(f.View()->GetPageCount(), 3);
        QTRY_VERIFY(!box);
        SeenBox none;
        AnswerNextMessageBox(QMessageBox::No, &none, 300);
        QVERIFY2(f.frame.close() && !none.seen, "asked to quit without an active session");
    }

    // The window from the keyboard alone: the tree has the focus first.
    // Ctrl+F opens the find bar; typing
    // shows the matches only (inside a collapsed group too), the arrows and
    // Tab move among them. Escape gives the tree back with the choice shown
    // and the file untouched. (The names and counts a screen reader reads,
    // the menus from the Menu key, and Enter opening the match: the
    // accessibility test.) Ctrl+W closes a session's
    // tab, but not while a connected session has the keyboard: its remote desktop takes every key
    // (Ctrl+F too; F10 for the window menu: the end-to-end tests). Quitting asks once when a
    // session is connecting or connected (not without one: the end of sessionsFromOpenToClose); yes
    // disconnects them all. The placement is kept in the key store.
    void theWindowAndItsFindBarFromTheKeyboardThenQuitting() {
        Frame f;
        f.frame.setGeometry(60, 40, 700, 500);
        f.frame.show();
        f.frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.frame));
        QTreeWidget* tree = f.frame.ServerList()->Tree();
        QCOMPARE(QApplication::focusWidget(), tree);
        f.Open({u"Office", u"Lab"});
        f.Open({u"Office", u"Build"});
        Frame::Pump();
        f.Connect(1);
        QCOMPARE(QApplication::focusWidget(), f.hosts.made[1]->widget);
        Key(Qt::Key_W, Qt::ControlModifier);
        Key(Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(f.View()->GetPageCount(), 3);
        CFindBar* bar = f.frame.ServerList()->findChild<CFindBar*>();
        QVERIFY(!bar->IsOpen());
        Key(Qt::Key_Backtab,
            Qt::ControlModifier | Qt::ShiftModifier);  // to the one not connected
        QCOMPARE(QApplication::focusWidget(), f.hosts.made[0]->widget);
        Key(Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(f.View()->GetPageCount(), 2);
        QCOMPARE(f.View()->GetPageCaption(1), QStringLiteral("Build"));
        f.View()->SetActivePage(0);  // the tree's
        tree->setFocus();
        const auto current = [tree] { return tree->currentItem()->text(0); };
        tree->setCurrentItem(Item(tree, "Lab"));
        const std::string before = f.disk.Text();
        Key(Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), bar->Field());
        QTest::keyClicks(bar->Field(), QStringLiteral("zur"));
        QVERIFY(Item(tree, "Lab")->isHidden() && !Item(tree, "web12")->isHidden());
        QCOMPARE(current(), QStringLiteral("db1"));
        Key(Qt::Key_Down);
        QCOMPARE(current(), QStringLiteral("web12"));
        Key(Qt::Key_Up);
        Key(Qt::Key_Tab);
        QCOMPARE(current(), QStringLiteral("web12"));
        QCOMPARE(QApplication::focusWidget(), bar->Field());
        Key(Qt::Key_Escape);
        QVERIFY(!bar->isVisible() && !Item(tree, "Lab")->isHidden());
        QCOMPARE(current(), QStringLiteral("web12"));
        QVERIFY(Item(tree, "Europe")->isExpanded());
        QCOMPARE(f.disk.Text(), before);  // the collapse state stays as stored

        SeenBox box;
        AnswerNextMessageBox(QMessageBox::No, &box);
        QVERIFY2(!f.frame.close() && box.seen, "closed without asking, or on No");
        AnswerNextMessageBox(QMessageBox::Yes, &box);
        QVERIFY(f.frame.close());
        QCOMPARE(f.Client(1).calls.back().name, std::string("Disconnect"));
        CMainFrame next(f.disk.config, f.disk.keys, f.hosts.Factory());
        QCOMPARE(next.geometry(), QRect(60, 40, 700, 500));
    }

    // A session whose link dies: the tab's fifth image, the attempt in the
    // status bar, and the last picture over the session, taking the keyboard
    // focus from it. Resumed by the engine, the session has its focus back.
    // (Fresh connects and the limit: SessionTest.ALostLinkHeals...) Then
    // another writer (the companion) adds a server, edits the one whose tab is
    // open and deletes it: the tree follows within a second with the user's
    // groups open and closed and the same item selected, the open session
    // takes the edit, and the tab goes on.
    void aLostLinkHealsAndTheTreeFollowsAnotherWriter() {
        Frame f;
        f.frame.show();
        f.frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.frame));
        f.Open({u"Office", u"Lab"});
        Frame::Pump();
        f.Connect(0);
        QWidget* live = f.hosts.made[0]->widget;

        f.Client(0).sink->OnAutoReconnecting(0x904, 1);
        Frame::Pump();
        QCOMPARE(f.View()->GetPageImage(1), kStateReconnecting);
        QCOMPARE(f.frame.StatusText(),
                 QStringLiteral("Connection lost \u2014 reconnecting (attempt 1)\u2026"));
        auto* held = f.frame.SessionAt(1)->findChild<QLabel*>(QStringLiteral("heldPicture"));
        QVERIFY(held && held->isVisible());
        QCOMPARE(QApplication::focusWidget(), held);  // no key reaches the dead link

        f.Client(0).sink->OnAutoReconnected();
        Frame::Pump();
        QVERIFY(!f.frame.SessionAt(1)->findChild<QLabel*>(QStringLiteral("heldPicture")));
        QCOMPARE(QApplication::focusWidget(), live);

        QTreeWidget* tree = f.frame.ServerList()->Tree();
        f.frame.ServerList()->ExpandByProgram(Item(tree, "Europe"));  // not stored
        Item(tree, "Office")->setExpanded(false);
        tree->setCurrentItem(Item(tree, "db1"));
        CConfigStore companion(f.disk.keys);
        QVERIFY(companion.Init() && companion.Load(f.disk.path));
        companion.SetConfigPath(f.disk.path);
        companion.SetDiskMerge(MergeTrees);
        QVERIFY(companion.AddServer(NodePath({"Office"}), RecordFrom("Name=New Server=n")));
        QTRY_VERIFY_WITH_TIMEOUT(Item(tree, "New"), 1000);
        QVERIFY(companion.UpdateServer(NodePath({"Office", "Lab"}),
                                       RecordFrom("Name=Lab Server=10.9.9.9")));
        QTRY_COMPARE(f.frame.SessionAt(1)->Record().Server, std::string("10.9.9.9"));
        companion.DeleteNode(NodePath({"Office", "Lab"}));
        QVERIFY(companion.Save());
        QTRY_VERIFY_WITH_TIMEOUT(!Item(tree, "Lab"), 1000);
        QVERIFY(Item(tree, "Europe")->isExpanded() && !Item(tree, "Office")->isExpanded());
        QCOMPARE(tree->currentItem(), Item(tree, "db1"));
        QCOMPARE(f.View()->GetPageCaption(1), QStringLiteral("Lab"));
        // Connected again, the tab says its server is gone and keeps its settings.
        f.Client(0).FireDisconnected(1);
        Frame::Pump();
        SeenBox told;
        AnswerNextMessageBox(QMessageBox::Ok, &told);
        f.frame.SessionAt(1)->Post(WM_APP_RECONNECT, 0, 0);
        QTRY_VERIFY(told.text.contains(QStringLiteral("no longer in the configuration")));
        QTRY_COMPARE(f.Client(0).Values("Connect").size(), 2u);
    }

    // SIGTERM or SIGHUP while a command of the tree waits in a dialog: the
    // dialog is cancelled, and the window closes (keeping its placement)
    // only after the command returned (the tree's page, the dialog's parent,
    // goes with it).
    void aRequestToEndCancelsTheOpenDialogFirst() {
        for (const int command : {ID_SERVER_PROPERTIES, ID_SERVER_DELETE}) {
            Frame f;
            f.frame.show();
            EndRequestWatcher ends;
            QObject::connect(&ends, &EndRequestWatcher::EndRequested, &f.frame,
                             &CMainFrame::EndNow);
            bool opened = false;
            WhenModalOpens([&opened, command](QWidget*) {
                opened = true;
                ::raise(command == ID_SERVER_DELETE ? SIGHUP : SIGTERM);
            });
            CServerList* tree = f.frame.ServerList();
            tree->SetCurrentItem(tree->RootItem()->child(1)->child(1));  // Office, Lab
            tree->OnCommand(command);
            QVERIFY(opened);
            QVERIFY(f.frame.isVisible());
            QTRY_VERIFY(!f.frame.isVisible());
            QVERIFY(f.disk.config.FindNode(NodePath({"Office", "Lab"})));  // cancelled: kept
            WindowRect stored;
            QVERIFY(ReadWindowPos(f.disk.keys, stored));
        }
    }
};

QTEST_MAIN(CMainFrameTest)
#include "CMainFrameTest.moc"
