// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on the offscreen platform with fake session hosts: its
// window menu, the private messages, the tabs' images and menus, quitting and
// the placement kept in the key store.
#include "CDlgQuickConnect.h"
#include "CMainFrame.h"
#include "CServerList.h"
#include "CSimpleTabView.h"
#include "CVandrelleView.h"
#include "QtTestKit.h"
#include "ResourceIds.h"
#include "SystemWatchers.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QTabBar>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <signal.h>

using namespace vandrelle;
using namespace vandrelle::test;

namespace {

const std::string kFile =
    "<?xml version=\"1.0\"?><Vandrelle><Servers>"
    "<Group><Properties><Name>Office</Name><InheritGeneral>0</InheritGeneral>"
    "<UserName>jdoe</UserName></Properties>"
    "<Server><Name>Build box</Name><Server>10.0.0.4</Server></Server>"
    "<Server><Name>Lab</Name><Server>10.0.0.5</Server></Server></Group>"
    "</Servers><Settings>SETTINGS</Settings></Vandrelle>";

std::string FileWith(const std::string& settings) {
    std::string file = kFile;
    file.replace(file.find("SETTINGS"), 8, settings);
    return file;
}

PathBuffer Path(std::initializer_list<std::u16string_view> names) {
    PathBuffer path{};
    std::size_t at = 0;
    for (const std::u16string_view name : names) {
        std::copy(name.begin(), name.end(), path.begin() + static_cast<std::ptrdiff_t>(at));
        at += name.size() + 1;
    }
    return path;
}

std::intptr_t Buffer(const PathBuffer& path) {
    return reinterpret_cast<std::intptr_t>(&path);
}

QList<int> Ids(const QMenu* menu) {
    QList<int> ids;
    for (const QAction* a : menu->actions()) ids << (a->isSeparator() ? 0 : a->data().toInt());
    return ids;
}

// A main window over a configuration on disk, with fake session hosts.
struct Frame {
    explicit Frame(const std::string& settings = "") : disk(FileWith(settings)) {
        frame = std::make_unique<CMainFrame>(disk.config, disk.keys, hosts.Factory());
    }
    CVandrelleView* Open(std::initializer_list<std::u16string_view> names, int command = 0) {
        const PathBuffer path = Path(names);
        frame->Send(WM_APP_OPEN_SESSION, static_cast<std::uintptr_t>(command), Buffer(path));
        return frame->SessionAt(frame->View()->GetPageCount() - 1);
    }
    FakeRdpClient& Client(int made) {
        return hosts.made.at(static_cast<std::size_t>(made))->client;
    }
    // Lets the posted messages run.
    static void Pump() {
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    int ImageOf(int page) const { return frame->View()->GetPageImage(page); }
    // What a screen reader reads of a tab besides its name.
    QString StateOf(int page) const {
        return QAccessible::queryAccessibleInterface(frame->View()->Strip())
            ->child(page)
            ->text(QAccessible::Description);
    }
    // What a screen reader reads of the status bar, through its text.
    QString StatusRead() const {
        QAccessibleInterface* pane = QAccessible::queryAccessibleInterface(
            frame->findChild<QLabel*>(QStringLiteral("statusPane")));
        return pane->textInterface() ? pane->textInterface()->text(0, -1) : QString();
    }

    ConfigOnDisk disk;
    FakeHosts hosts;
    std::unique_ptr<CMainFrame> frame;
};

// Calls `act` with the next modal dialog once it is open (bounded).
void WhenModalOpens(QObject* owner, std::function<void(QWidget*)> act) {
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        timer->stop();
        timer->deleteLater();
        act(modal);
    });
    timer->start(10);
}

enum class Ending { Connect, Escape, CancelButton };

// Answers the next Quick Connect dialog from the keyboard: the console box
// and the server field by their mnemonics, then Enter, Escape, or Tab to
// Cancel and Space.
void AnswerQuickConnect(const QString& text, bool console, Ending ending = Ending::Connect) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, text, console, ending] {
        auto* dialog = qobject_cast<CDlgQuickConnect*>(QApplication::activeModalWidget());
        if (!dialog) return;
        timer->deleteLater();
        timer->stop();
        const auto key = [](Qt::Key k, Qt::KeyboardModifiers m = {}) {
            QTest::keyClick(QApplication::focusWidget(), k, m);
        };
        const auto answer = [&] {
            if (console) {
                key(Qt::Key_O, Qt::AltModifier);
                QTRY_VERIFY(dialog->ConsoleBox()->isChecked());
            }
            key(Qt::Key_S, Qt::AltModifier);
            QCOMPARE(QApplication::focusWidget(), dialog->ServerEdit());
            QTest::keyClicks(dialog->ServerEdit(), text);
            if (ending == Ending::CancelButton) {
                for (int i = 0; i < 3; ++i) key(Qt::Key_Tab);
                QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("IDCANCEL"));
            }
            key(ending == Ending::Connect  ? Qt::Key_Return
                : ending == Ending::Escape ? Qt::Key_Escape
                                           : Qt::Key_Space);
        };
        answer();
        if (dialog->isVisible()) dialog->reject();  // a check failed
    });
    timer->start(10);
}

}  // namespace

class CMainFrameTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theWindowMenuHoldsItsItemsInOrder() {
        Frame f;
        QCOMPARE(Ids(f.frame->WindowMenu()),
                 (QList<int>{SC_RESTORE_CMD, SC_MINIMIZE_CMD, SC_MAXIMIZE_CMD, 0,
                             IDM_SHOW_SERVERS_LIST, 0, IDM_STATUS_BAR, IDM_CLOSE_TAB_ON_LOG_OFF, 0,
                             IDM_QUICK_CONNECT, 0, IDM_HELP, ID_APP_ABOUT, 0, SC_CLOSE_CMD}));
        QVERIFY(f.frame->WindowMenuButton()->accessibleName().size() > 0);
        QCOMPARE(f.frame->windowTitle(), QStringLiteral("Vandrelle"));
        QCOMPARE(f.frame->StatusText(), QStringLiteral("Ready"));
        QCOMPARE(f.StatusRead(), QStringLiteral("Ready"));
        QCOMPARE(
            QAccessible::queryAccessibleInterface(f.frame->WindowMenu())->text(QAccessible::Name),
            QStringLiteral("Window"));
        // A highlighted item's prompt reaches the status text (as Qt sends it,
        // to the button the menu came from) until the menu closes.
        QStatusTipEvent prompt(QStringLiteral("Opens the user guide"));
        QApplication::sendEvent(f.frame->WindowMenuButton(), &prompt);
        QCOMPARE(f.StatusRead(), QStringLiteral("Opens the user guide"));
        Q_EMIT f.frame->WindowMenu()->aboutToHide();
        QCOMPARE(f.StatusRead(), QStringLiteral("Ready"));
        QCOMPARE(f.frame->View()->GetPageCount(), 1);
        QCOMPARE(f.frame->View()->GetPageCaption(0), QStringLiteral("Servers"));
        QCOMPARE(f.ImageOf(0), 3);
    }

    // The two switches of the menu start from the file and are written back
    // to it (saved with the next save), each only when it changes.
    void statusBarAndCloseTabSwitchesFollowTheFile() {
        Frame hidden(
            "<StatusBarVisible>0</StatusBarVisible><CloseTabOnLogOff>1</CloseTabOnLogOff>");
        hidden.frame->show();
        QVERIFY(!hidden.frame->statusBar()->isVisible());
        QVERIFY(!hidden.frame->Action(IDM_STATUS_BAR)->isChecked());
        QVERIFY(hidden.frame->Action(IDM_CLOSE_TAB_ON_LOG_OFF)->isChecked());

        Frame f;
        f.frame->show();
        QVERIFY(f.frame->statusBar()->isVisible());
        f.frame->OnSysCommand(IDM_STATUS_BAR);
        QVERIFY(!f.frame->statusBar()->isVisible());
        QVERIFY(!f.frame->Action(IDM_STATUS_BAR)->isChecked());
        QCOMPARE(f.disk.config.GetStatusBarVisible(), 0);
        QVERIFY(f.disk.config.IsDirty());
        f.frame->OnSysCommand(IDM_CLOSE_TAB_ON_LOG_OFF);
        QCOMPARE(f.disk.config.GetCloseTabOnLogOff(), 1);
        f.frame->OnSysCommand(IDM_CLOSE_TAB_ON_LOG_OFF);
        QCOMPARE(f.disk.config.GetCloseTabOnLogOff(), 0);
        QVERIFY(!f.frame->Action(IDM_CLOSE_TAB_ON_LOG_OFF)->isChecked());
    }

    // Opening adds a tab at the end with image 0 and connects once it is
    // there; finding compares the first 1024 bytes of the path.
    void openedSessionsAreFoundByTheirPath() {
        Frame f;
        CVandrelleView* lab = f.Open({u"Office", u"Lab"});
        QVERIFY(lab);
        QCOMPARE(f.frame->View()->GetPageCaption(1), QStringLiteral("Lab"));
        QCOMPARE(f.ImageOf(1), 0);
        QCOMPARE(f.frame->View()->GetActivePage(), 1);
        QVERIFY(!f.Client(0).Called("Connect"));  // posted, not called
        Frame::Pump();
        QVERIFY(f.Client(0).Called("Connect"));
        QCOMPARE(f.Client(0).Values("put_UserName"), std::vector<std::string>{"jdoe"});
        QCOMPARE(f.frame->windowTitle(), QStringLiteral("Lab - Vandrelle"));
        QCOMPARE(f.StatusRead(), QStringLiteral("[Lab] Server: 10.0.0.5; Username: jdoe"));

        CVandrelleView* console = f.Open({u"Office", u"Build box"}, ID_SERVER_CONNECT_CONSOLE);
        QCOMPARE(f.frame->View()->GetPageCaption(2), QStringLiteral("Build box (console)"));
        QCOMPARE(console->Record().ConnectToServerConsole, 1);
        Properties stored;
        f.disk.config.LoadProperties(NodePath({"Office", "Build box"}), stored);
        QCOMPARE(stored.ConnectToServerConsole, 0);

        const PathBuffer labPath = Path({u"Office", u"Lab"});
        QCOMPARE(f.frame->Send(WM_APP_FIND_SESSION, 0, Buffer(labPath)), std::intptr_t(1));
        QCOMPARE(f.frame->View()->GetActivePage(), 1);
        QCOMPARE(f.frame->windowTitle(), QStringLiteral("Lab - Vandrelle"));
        const PathBuffer other = Path({u"Office", u"Other"});
        QCOMPARE(f.frame->Send(WM_APP_FIND_SESSION, 0, Buffer(other)), std::intptr_t(0));
        const PathBuffer none{};
        QCOMPARE(f.frame->Send(WM_APP_FIND_SESSION, 0, Buffer(none)), std::intptr_t(0));

        // A path that reaches nothing opens no tab.
        const PathBuffer lost = Path({u"Nowhere", u"Lab"});
        f.frame->Send(WM_APP_OPEN_SESSION, 0, Buffer(lost));
        QCOMPARE(f.frame->View()->GetPageCount(), 3);
    }

    void tabImagesFollowTheSessionStateAndALogOffClosesTheTab() {
        Frame f("<CloseTabOnLogOff>1</CloseTabOnLogOff>");
        f.Open({u"Office", u"Lab"});
        QCOMPARE(f.StateOf(1), QStringLiteral("disconnected"));
        Frame::Pump();
        f.Client(0).FireConnecting();
        Frame::Pump();
        QCOMPARE(f.ImageOf(1), 1);
        QCOMPARE(f.StateOf(1), QStringLiteral("connecting"));
        f.Client(0).FireConnected();
        Frame::Pump();
        QCOMPARE(f.ImageOf(1), 2);
        QCOMPARE(f.StateOf(1), QStringLiteral("connected"));
        f.Client(0).FireDisconnected(3);
        Frame::Pump();
        QCOMPARE(f.ImageOf(1), 0);
        QCOMPARE(f.StateOf(1), QStringLiteral("disconnected"));
        QCOMPARE(f.StateOf(0), QString());  // the tree's tab has no state
        f.frame->View()->SetActivePage(1);
        f.Client(0).FireConnecting();
        f.Client(0).FireConnected();
        f.Client(0).FireDisconnected(2);  // the remote user logged off
        Frame::Pump();
        QCOMPARE(f.frame->View()->GetPageCount(), 1);
        QCOMPARE(f.frame->windowTitle(), QStringLiteral("Vandrelle"));
        QCOMPARE(f.frame->StatusText(), QStringLiteral("Ready"));
    }

    // The tab menu greys what does not apply and acts on the page it was
    // opened for, even when tabs moved meanwhile.
    void theTabMenuActsOnItsPage() {
        Frame f;
        f.Open({u"Office", u"Lab"});
        f.Open({u"Office", u"Build box"});
        Frame::Pump();
        const auto enabled = [&](int page) {
            std::unique_ptr<QMenu> menu(f.frame->MakeSessionMenu(page));
            QList<bool> states;
            for (QAction* a : menu->actions()) {
                if (!a->isSeparator()) states << a->isEnabled();
            }
            return states;
        };
        QVERIFY(f.frame->MakeSessionMenu(0) == nullptr);
        QCOMPARE(enabled(1), (QList<bool>{true, false, true, true, true}));
        f.Client(0).FireConnecting();
        QCOMPARE(enabled(1), (QList<bool>{false, true, true, true, true}));
        {
            std::unique_ptr<QMenu> menu(f.frame->MakeSessionMenu(1));
            QCOMPARE(Ids(menu.get()),
                     (QList<int>{ID_SESSION_CONNECT, ID_SESSION_DISCONNECT, ID_SESSION_CLOSE, 0,
                                 ID_SESSION_RECONNECT, ID_SESSION_RECONNECT_FULL_SCREEN}));
            QCOMPARE(QAccessible::queryAccessibleInterface(menu.get())->text(QAccessible::Name),
                     QStringLiteral("Session"));
        }
        Q_EMIT f.frame->View()->ContextMenuRequested(1, QPoint(10, 10));
        f.frame->View()->RemovePage(2);  // another tab goes; the context page is still Lab
        QCOMPARE(f.frame->ContextPage(), 1);
        f.frame->OnSessionCommand(ID_SESSION_DISCONNECT);
        Frame::Pump();
        QVERIFY(f.Client(0).Called("Disconnect"));
        f.frame->OnSessionCommand(ID_SESSION_CLOSE);
        QCOMPARE(f.frame->View()->GetPageCount(), 1);
        f.frame->OnSessionCommand(ID_SESSION_CONNECT);  // its page is gone: nothing
        QCOMPARE(f.frame->View()->GetPageCount(), 1);
    }

    // A double click on a disconnected tab connects it; on a live one it
    // covers the screen. A middle click closes a session's tab; the tree's
    // tab takes neither.
    void doubleAndMiddleClicksOnTabs() {
        Frame f;
        f.frame->show();
        CVandrelleView* lab = f.Open({u"Office", u"Lab"});
        Frame::Pump();
        f.Client(0).FireDisconnected(1);
        Frame::Pump();
        f.Client(0).calls.clear();
        Q_EMIT f.frame->View()->TabDoubleClicked(1);
        Frame::Pump();
        QVERIFY(f.Client(0).Called("Connect"));
        f.Client(0).FireConnecting();
        f.Client(0).FireConnected();
        Q_EMIT f.frame->View()->TabDoubleClicked(1);
        Frame::Pump();
        QVERIFY(lab->IsContainerFullScreen());
        QCOMPARE(lab->parentWidget(), f.frame.get());
        QVERIFY(f.hosts.made[0]->barVisible);
        QCOMPARE(f.Client(0).Values("put_FullScreen").back(), "-1");
        lab->LeaveContainerFullScreen();
        QCOMPARE(lab->parentWidget(), f.frame->View());
        QVERIFY(!f.frame->isFullScreen());

        Q_EMIT f.frame->View()->TabDoubleClicked(0);
        Q_EMIT f.frame->View()->CloseRequested(0);  // the tree's tab stays
        QCOMPARE(f.frame->View()->GetPageCount(), 2);
        Q_EMIT f.frame->View()->CloseRequested(1);
        QCOMPARE(f.frame->View()->GetPageCount(), 1);
        // A connected session disconnects as its tab closes.
        QCOMPARE(f.hosts.lastCalls, std::vector<std::string>{"Disconnect"});
    }

    // The window from the keyboard alone: Tab goes as on the screen (the menu
    // button, the tabs, the page); F10 (or Alt+Space) opens the window menu
    // and Ctrl+W closes a session's tab, but not while a connected session
    // has the keyboard: its remote desktop takes every key.
    void theWindowIsUsedFromTheKeyboard() {
        Frame f;
        f.frame->show();
        f.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.frame.get()));
        QTreeWidget* tree = f.frame->ServerList()->Tree();
        QCOMPARE(QApplication::focusWidget(), tree);
        const auto key = [](Qt::Key k, Qt::KeyboardModifiers m = {}) {
            QTest::keyClick(QApplication::focusWidget(), k, m);
        };
        QList<QWidget*> order;
        for (int i = 0; i < 3; ++i) {
            key(Qt::Key_Tab);
            order << QApplication::focusWidget();
        }
        QCOMPARE(order,
                 (QList<QWidget*>{f.frame->WindowMenuButton(), f.frame->View()->Strip(), tree}));
        QCOMPARE(f.frame->WindowMenuButton()->toolTip(), QStringLiteral("Window menu (F10)"));
        QMenu* menu = f.frame->WindowMenu();
        const auto menuOpensOn = [&](Qt::Key k, Qt::KeyboardModifiers m = {}) {
            bool shown = false;
            QTimer close;
            QObject::connect(&close, &QTimer::timeout, [&] {
                if (!menu->isVisible()) return;
                shown = true;
                QTest::keyClick(menu, Qt::Key_Escape);
            });
            close.start(10);
            key(k, m);
            return QTest::qWaitFor([&] { return shown; }, 2000);
        };
        QVERIFY(menuOpensOn(Qt::Key_F10));
        QVERIFY(menuOpensOn(Qt::Key_Space, Qt::AltModifier));
        key(Qt::Key_W, Qt::ControlModifier);  // the tree's tab stays

        f.Open({u"Office", u"Lab"});
        f.Open({u"Office", u"Build box"});
        Frame::Pump();
        f.Client(1).FireConnecting();
        f.Client(1).FireConnected();
        QCOMPARE(QApplication::focusWidget(), f.hosts.made[1]->widget);
        QVERIFY(!menuOpensOn(Qt::Key_F10));
        key(Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(f.frame->View()->GetPageCount(), 3);

        key(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);  // to the one not connected
        QCOMPARE(QApplication::focusWidget(), f.hosts.made[0]->widget);
        QVERIFY(menuOpensOn(Qt::Key_F10));
        key(Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(f.frame->View()->GetPageCount(), 2);
        QCOMPARE(f.frame->View()->GetPageCaption(1), QStringLiteral("Build box"));
    }

    void showServersListBringsTheTreeBack() {
        Frame f;
        f.Open({u"Office", u"Lab"});
        QCOMPARE(f.frame->View()->GetActivePage(), 1);
        f.frame->OnSysCommand(IDM_SHOW_SERVERS_LIST);
        QCOMPARE(f.frame->View()->GetActivePage(), 0);
        QCOMPARE(f.frame->windowTitle(), QStringLiteral("Vandrelle"));
        f.frame->View()->SetActivePage(1);
        Q_EMIT f.frame->View()->StripMiddleClicked();
        QCOMPARE(f.frame->View()->GetActivePage(), 0);
    }

    // Quitting asks once when a session is connecting or connected, unless
    // the file says not to ask.
    void quittingAsksOnlyWithActiveSessions() {
        {
            Frame f;
            f.frame->show();
            f.Open({u"Office", u"Lab"});
            Frame::Pump();
            QVERIFY(f.frame->close());  // disconnected sessions only: no question
        }
        {
            Frame f;
            f.frame->show();
            f.Open({u"Office", u"Lab"});
            f.Open({u"Office", u"Build box"});
            Frame::Pump();
            f.Client(1).FireConnecting();
            SeenBox box;
            AnswerNextMessageBox(QMessageBox::No, &box);
            QVERIFY(!f.frame->close());
            QCOMPARE(box.title, QStringLiteral("Quit Vandrelle"));
            QCOMPARE(box.text,
                     QStringLiteral("There are active connections, are you sure to quit?"));
            QCOMPARE(box.defaultButton, QMessageBox::Yes);
            QCOMPARE(box.icon, QMessageBox::Question);
            QCOMPARE(f.frame->View()->GetPageCount(), 3);
            AnswerNextMessageBox(QMessageBox::Yes, &box);
            QVERIFY(f.frame->close());
            QCOMPARE(f.frame->View()->GetPageCount(), 0);
            QCOMPARE(f.hosts.lastCalls.size(), 2u);
            QCOMPARE(f.hosts.lastCalls[1], std::string("Disconnect"));
        }
        {
            Frame f("<QuitWithoutConfirm>1</QuitWithoutConfirm>");
            f.frame->show();
            f.Open({u"Office", u"Lab"});
            Frame::Pump();
            f.Client(0).FireConnecting();
            QVERIFY(f.frame->close());
        }
    }

    // The normal rectangle is kept in the key store when the window closes,
    // written only when it changed; a maximized window keeps the rectangle
    // stored before; a stored minimized position is never applied.
    void placementIsKeptForTheNextStart() {
        ConfigOnDisk disk(FileWith(""));
        FakeHosts hosts;
        const QRect place(60, 40, 700, 500);
        {
            CMainFrame frame(disk.config, disk.keys, hosts.Factory());
            frame.setGeometry(place);
            frame.show();
            QVERIFY(frame.close());
        }
        WindowRect stored;
        QVERIFY(ReadWindowPos(disk.keys, stored));
        QCOMPARE(stored, (WindowRect{60, 40, 760, 540}));
        QCOMPARE(disk.config.IsMaximized(), 0);
        {
            CMainFrame frame(disk.config, disk.keys, hosts.Factory());
            QCOMPARE(frame.geometry(), place);
            const std::string before = ReadFile(disk.dir.file("registry.reg"));
            frame.show();
            QVERIFY(frame.close());
            QCOMPARE(ReadFile(disk.dir.file("registry.reg")), before);  // the same: not rewritten
        }
        {
            CMainFrame frame(disk.config, disk.keys, hosts.Factory());
            frame.showMaximized();
            QTRY_VERIFY(frame.isMaximized());
            QVERIFY(frame.close());
        }
        QCOMPARE(disk.config.IsMaximized(), 1);
        QVERIFY(ReadWindowPos(disk.keys, stored));
        QCOMPARE(stored, (WindowRect{60, 40, 760, 540}));

        disk.config.SetMaximized(0);
        WriteWindowPos(disk.keys, WindowRect{-32000, -32000, -31840, -31970});
        CMainFrame minimized(disk.config, disk.keys, hosts.Factory());
        QVERIFY(minimized.geometry().top() != -32000);

        // A stored place larger than the screens is brought onto them.
        WriteWindowPos(disk.keys, WindowRect{0, 0, 32767, 32767});
        CMainFrame huge(disk.config, disk.keys, hosts.Factory());
        QVERIFY(huge.screen()->availableGeometry().contains(huge.geometry()));
    }

    void unlockReleasesWindowsKeysInConnectedSessionsOnly() {
        Frame f;
        f.Open({u"Office", u"Lab"});
        f.Open({u"Office", u"Build box"});
        Frame::Pump();
        f.Client(0).FireConnecting();  // not the active tab
        f.Client(0).FireConnected();
        f.frame->OnUnlock();
        QCOMPARE(f.hosts.made[0]->windowsKeyReleases, 1);
        QCOMPARE(f.hosts.made[1]->windowsKeyReleases, 0);
    }

    // Every session hears of a device change (which clients follow new drives:
    // the session's tests).
    void deviceChangesReachEverySession() {
        Frame f;
        f.Open({u"Office", u"Lab"});
        f.Open({u"Office", u"Build box"});
        for (int i : {0, 1}) f.Client(i).dynamicDrives = VariantBool::True;
        f.frame->OnDeviceChange(0x0007, 0);
        for (int i : {0, 1}) {
            QCOMPARE(f.Client(i).Values("NotifyRedirectDeviceChange"),
                     std::vector<std::string>{"7,0"});
        }
    }

    // The end of the user's session saves what is only marked changed.
    void theEndOfTheUsersSessionSaves() {
        Frame f;
        f.disk.config.DeleteNode(NodePath({"Office", "Lab"}));
        QVERIFY(f.disk.config.IsDirty());
        f.frame->OnCommitDataRequest();
        QVERIFY(!f.disk.config.IsDirty());
        QVERIFY(f.disk.Text().find("Lab") == std::string::npos);
    }

    // SIGTERM while a command of the tree waits in a dialog: the dialog is
    // cancelled, and the window closes only after the command returned (the
    // tree's page, the dialog's parent, goes with the close).
    void aRequestToEndCancelsTheOpenDialogFirst() {
        for (const int command : {ID_SERVER_PROPERTIES, ID_SERVER_DELETE}) {
            Frame f;
            f.frame->show();
            EndRequestWatcher ends;
            QObject::connect(&ends, &EndRequestWatcher::EndRequested, f.frame.get(),
                             &CMainFrame::EndNow);
            bool opened = false;
            WhenModalOpens(f.frame.get(), [&opened](QWidget*) {
                opened = true;
                ::raise(SIGTERM);
            });
            CServerList* tree = f.frame->ServerList();
            tree->SetCurrentItem(tree->RootItem()->child(0)->child(1));  // Office, Lab
            tree->OnCommand(command);
            QVERIFY(opened);
            QVERIFY(f.frame->isVisible());
            QTRY_VERIFY(!f.frame->isVisible());
            QCOMPARE(f.frame->View()->GetPageCount(), 0);
            QVERIFY(f.disk.config.FindNode(NodePath({"Office", "Lab"})));  // cancelled: kept
        }
    }

    // A session's error box goes with its tab when a remote log-off closes
    // the tab under it.
    void aSessionsErrorBoxGoesWithItsTab() {
        Frame f("<CloseTabOnLogOff>1</CloseTabOnLogOff>");
        f.frame->show();
        f.Open({u"Office", u"Lab"});
        f.Client(0).connectFailure = static_cast<HResult>(0x80004005);
        QPointer<QMessageBox> box;
        SeenBox seen;
        WhenModalOpens(f.frame.get(), [&](QWidget* modal) {
            box = qobject_cast<QMessageBox*>(modal);
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            f.Client(0).FireDisconnected(2);
        });
        QTRY_COMPARE(f.frame->View()->GetPageCount(), 1);
        QTRY_VERIFY(!box);
        QCOMPARE(seen.title, QStringLiteral("Error"));
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QVERIFY2(seen.text.startsWith(QStringLiteral("Cannot connect: ")), qPrintable(seen.text));
    }

    // A save that fails is told once (until one succeeds); a version of the
    // file changed by someone else is kept, and the user told where.
    void savesThatFailOrKeepCopiesAreTold() {
        Frame f;
        f.frame->show();
        std::ofstream(f.disk.dir.file("plain")) << "a file, not a folder";
        f.disk.config.SetConfigPath(f.disk.dir.file("plain/Vandrelle.xml"));
        SeenBox box;
        AnswerNextMessageBox(QMessageBox::Ok, &box);
        f.disk.config.SetStatusBarVisible(0);
        QVERIFY(!f.disk.config.Save());
        QTRY_VERIFY(box.seen);
        QCOMPARE(box.title, QStringLiteral("Error"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY(box.text.contains(QStringLiteral("plain/Vandrelle.xml")));
        SeenBox again;
        AnswerNextMessageBox(QMessageBox::Ok, &again, 300);
        QVERIFY(!f.disk.config.Save());
        QTest::qWait(400);
        QVERIFY(!again.seen);

        f.disk.config.SetConfigPath(f.disk.path);
        std::ofstream(f.disk.path) << "<Vandrelle><Servers/></Vandrelle>";  // someone else's edit
        SeenBox kept;
        AnswerNextMessageBox(QMessageBox::Ok, &kept);
        QVERIFY(f.disk.config.Save());
        QTRY_VERIFY(kept.seen);
        QVERIFY(kept.text.contains(QString::fromStdString(f.disk.path + ".changed")));
    }

    // A typed server opens at once in a tab of its own, never found by the
    // tree, and is filed once under "Quick Connections".
    void quickConnectOpensAtOnceAndFilesTheServerOnce() {
        Frame f;
        f.frame->show();
        AnswerQuickConnect(QStringLiteral("  rdp.example:3390 "), true);
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        QCOMPARE(f.frame->View()->GetPageCount(), 2);
        QCOMPARE(f.frame->View()->GetPageCaption(1), QStringLiteral("rdp.example (console)"));
        CVandrelleView* session = f.frame->SessionAt(1);
        QCOMPARE(session->ServerPath(), PathBuffer{});
        QCOMPARE(session->Record().RDPPort, 3390);
        Frame::Pump();
        QCOMPARE(f.Client(0).Values("put_Server"), std::vector<std::string>{"rdp.example"});
        QTreeWidgetItem* root = f.frame->ServerList()->RootItem();
        QVERIFY(ChildLabels(root).endsWith(QStringLiteral(", Quick Connections")));
        QTreeWidgetItem* quick =
            CServerList::FindChildByLabel(root, QStringLiteral("Quick Connections"));
        QCOMPARE(ChildLabels(quick), QStringLiteral("rdp.example"));
        Properties stored;
        f.disk.config.LoadProperties(NodePath({"Quick Connections", "rdp.example"}), stored);
        QCOMPARE(stored.RDPPort, 3390);

        // The same name again: a second tab, no second entry; another case: an entry.
        AnswerQuickConnect(QStringLiteral("rdp.example"), false);
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        AnswerQuickConnect(QStringLiteral("RDP.example"), false);
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        QCOMPARE(f.frame->View()->GetPageCount(), 4);
        QCOMPARE(ChildLabels(quick), QStringLiteral("rdp.example, RDP.example"));
        // The tree's own entry opens a new tab: the quick session's path is empty.
        const PathBuffer entry = Path({u"Quick Connections", u"rdp.example"});
        QCOMPARE(f.frame->Send(WM_APP_FIND_SESSION, 0, Buffer(entry)), std::intptr_t(0));

        // Escape, Cancel, blanks only, and a text without a host file nothing.
        AnswerQuickConnect(QStringLiteral("a"), false, Ending::Escape);
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        AnswerQuickConnect(QStringLiteral("b"), true, Ending::CancelButton);
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        AnswerQuickConnect(QStringLiteral("   "), false);
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        QCOMPARE(f.frame->View()->GetPageCount(), 4);
        AnswerQuickConnect(QStringLiteral(":3390"), false);
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        QCOMPARE(f.frame->View()->GetPageCount(), 5);
        QCOMPARE(quick->childCount(), 2);

        // A port out of range is told, and the dialog comes back with the text to mend.
        SeenBox refused;
        AnswerQuickConnect(QStringLiteral("rdp.example:99999"), false);
        AnswerNextMessageBox(QMessageBox::Ok, &refused);
        QString shownAgain;
        QTimer::singleShot(300, [&] {
            auto* dialog = qobject_cast<CDlgQuickConnect*>(QApplication::activeModalWidget());
            if (dialog) shownAgain = dialog->ServerText();
            if (dialog) dialog->reject();
        });
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        QCOMPARE(refused.text, QString::fromLatin1(kPortRangeMessage));
        QCOMPARE(shownAgain, QStringLiteral("rdp.example:99999"));
        QCOMPARE(f.frame->View()->GetPageCount(), 5);
    }

    // "C&onnect To" mirrors the tree each time the menu opens, one submenu
    // however often; a chosen server opens, or its open tab comes forward.
    void connectToMirrorsTheTreeAndFindsOpenTabs() {
        Frame f;
        f.frame->show();
        QMenu* menu = f.frame->WindowMenu();
        for (int i = 0; i < 2; ++i) {
            Q_EMIT menu->aboutToShow();
            Q_EMIT menu->aboutToHide();
        }
        QList<QMenu*> connectTo;
        for (QAction* a : menu->actions()) {
            if (a->menu()) connectTo << a->menu();
        }
        QCOMPARE(connectTo.size(), 1);
        QCOMPARE(connectTo[0]->title(), QStringLiteral("C&onnect To"));
        const int quickAt = menu->actions().indexOf(f.frame->Action(IDM_QUICK_CONNECT));
        QCOMPARE(menu->actions().at(quickAt - 1)->menu(), connectTo[0]);
        QMenu* office = connectTo[0]->actions().at(0)->menu();
        QCOMPARE(office->title(), QStringLiteral("Office"));
        // Filled as it shows, numbered depth first from 4096 in steps of 16
        // (the tree panel's tests).
        Q_EMIT office->aboutToShow();
        f.frame->OnSysCommand(4112);  // Lab
        QCOMPARE(f.frame->View()->GetPageCount(), 2);
        QCOMPARE(f.frame->View()->GetPageCaption(1), QStringLiteral("Lab"));
        f.frame->View()->SetActivePage(0);
        f.frame->OnSysCommand(4112);
        QCOMPARE(f.frame->View()->GetPageCount(), 2);
        QCOMPARE(f.frame->View()->GetActivePage(), 1);
        f.frame->OnSysCommand(4128);  // no such server
        QCOMPARE(f.frame->View()->GetPageCount(), 2);
    }

    void theAboutBoxNamesTheProgramAndLinksTheGuide() {
        CAboutDlg about(nullptr, QStringLiteral("/usr/share/doc/vandrelle/user-guide.html"));
        QCOMPARE(about.windowTitle(), QStringLiteral("About Vandrelle"));
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("nameAndVersion"))->text(),
                 QStringLiteral("Vandrelle\nVersion 3.16"));
        auto* link = about.findChild<QLabel*>(QStringLiteral("IDC_LINK"));
        QVERIFY(link->text().contains(
            QStringLiteral("file:///usr/share/doc/vandrelle/user-guide.html")));
        QVERIFY(link->focusPolicy() & Qt::TabFocus);

        // A screen reader knows the link as one and follows it; a guide that
        // cannot be shown is told as the window menu's Help tells it.
        CAboutDlg missing(nullptr, QStringLiteral("/nonexistent/user-guide.html"));
        QAccessibleInterface* guide = QAccessible::queryAccessibleInterface(
            missing.findChild<QLabel*>(QStringLiteral("IDC_LINK")));
        QCOMPARE(guide->role(), QAccessible::Link);
        QCOMPARE(guide->text(QAccessible::Name), QStringLiteral("User guide"));
        QVERIFY(guide->actionInterface());
        SeenBox box;
        AnswerNextMessageBox(QMessageBox::Ok, &box);
        guide->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(box.seen);
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY(box.text.contains(QStringLiteral("/nonexistent/user-guide.html is missing")));
    }
};

QTEST_MAIN(CMainFrameTest)
#include "CMainFrameTest.moc"
