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
        if (!dialog || !dialog->isActiveWindow()) return;  // the keys go to its focus
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
    // A highlighted item's prompt reaches the
    // status pane (as Qt sends it, to the menu's button) until the menu
    // closes; Show Servers List brings the tree's tab forward, as does a
    // middle click on the strip.
    void theWindowMenuAndTheStatusPane() {
        Frame f;
        QCOMPARE(f.StatusRead(), QStringLiteral("Ready"));
        QStatusTipEvent prompt(QStringLiteral("Opens the user guide"));
        QApplication::sendEvent(f.frame->WindowMenuButton(), &prompt);
        QCOMPARE(f.StatusRead(), QStringLiteral("Opens the user guide"));
        Q_EMIT f.frame->WindowMenu()->aboutToHide();
        QCOMPARE(f.StatusRead(), QStringLiteral("Ready"));
        QCOMPARE(f.frame->View()->GetPageCaption(0), QStringLiteral("Servers"));
        QCOMPARE(f.ImageOf(0), 3);

        f.Open({u"Office", u"Lab"});
        f.frame->OnSysCommand(IDM_SHOW_SERVERS_LIST);
        QCOMPARE(f.frame->View()->GetActivePage(), 0);
        QCOMPARE(f.frame->windowTitle(), QStringLiteral("Vandrelle"));
        f.frame->View()->SetActivePage(1);
        Q_EMIT f.frame->View()->StripMiddleClicked();
        QCOMPARE(f.frame->View()->GetActivePage(), 0);
    }

    // The two switches of the menu start from the file and are written back.
    void statusBarAndCloseTabSwitchesFollowTheFile() {
        Frame hidden(
            "<StatusBarVisible>0</StatusBarVisible><CloseTabOnLogOff>1</CloseTabOnLogOff>");
        hidden.frame->show();
        QVERIFY(!hidden.frame->statusBar()->isVisible());
        QVERIFY(hidden.frame->Action(IDM_CLOSE_TAB_ON_LOG_OFF)->isChecked());
        hidden.frame->OnSysCommand(IDM_STATUS_BAR);
        QVERIFY(hidden.frame->statusBar()->isVisible());
        QVERIFY(hidden.frame->Action(IDM_STATUS_BAR)->isChecked());
        QCOMPARE(hidden.disk.config.GetStatusBarVisible(), 1);
        hidden.frame->OnSysCommand(IDM_CLOSE_TAB_ON_LOG_OFF);
        QCOMPARE(hidden.disk.config.GetCloseTabOnLogOff(), 0);
        QVERIFY(!hidden.frame->Action(IDM_CLOSE_TAB_ON_LOG_OFF)->isChecked());
    }

    // Opening adds a tab at the end and connects once it is there; finding
    // compares the whole path; a console session's switch is not stored.
    void openedSessionsAreFoundByTheirPath() {
        Frame f;
        f.Open({u"Office", u"Lab"});
        QCOMPARE(f.frame->View()->GetPageCaption(1), QStringLiteral("Lab"));
        QCOMPARE(f.ImageOf(1), 0);
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

        const PathBuffer lab = Path({u"Office", u"Lab"}), other = Path({u"Office", u"Other"});
        QCOMPARE(f.frame->Send(WM_APP_FIND_SESSION, 0, Buffer(lab)), std::intptr_t(1));
        QCOMPARE(f.frame->View()->GetActivePage(), 1);
        QCOMPARE(f.frame->Send(WM_APP_FIND_SESSION, 0, Buffer(other)), std::intptr_t(0));
        const PathBuffer lost = Path({u"Nowhere", u"Lab"});
        f.frame->Send(WM_APP_OPEN_SESSION, 0, Buffer(lost));
        QCOMPARE(f.frame->View()->GetPageCount(), 3);
    }

    // Image and screen reader's state follow the session; a remote log-off
    // closes the tab when the file says so.
    void tabImagesFollowTheSessionStateAndALogOffClosesTheTab() {
        Frame f("<CloseTabOnLogOff>1</CloseTabOnLogOff>");
        f.Open({u"Office", u"Lab"});
        Frame::Pump();
        struct Step {
            std::function<void()> fire;
            int image;
            const char* state;
        };
        FakeRdpClient& c = f.Client(0);
        for (const Step& step : {Step{[&] { c.FireConnecting(); }, 1, "connecting"},
                                 Step{[&] { c.FireConnected(); }, 2, "connected"},
                                 Step{[&] { c.FireDisconnected(3); }, 0, "disconnected"}}) {
            step.fire();
            Frame::Pump();
            QCOMPARE(f.ImageOf(1), step.image);
            QCOMPARE(f.StateOf(1), QString::fromLatin1(step.state));
        }
        c.FireConnecting();
        c.FireConnected();
        c.FireDisconnected(2);  // the remote user logged off
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
        Q_EMIT f.frame->View()->ContextMenuRequested(1, QPoint(10, 10));
        f.frame->View()->RemovePage(2);  // another tab goes; the context page is still Lab
        f.frame->OnSessionCommand(ID_SESSION_DISCONNECT);
        Frame::Pump();
        QVERIFY(f.Client(0).Called("Disconnect"));
        f.frame->OnSessionCommand(ID_SESSION_CLOSE);
        QCOMPARE(f.frame->View()->GetPageCount(), 1);
        f.frame->OnSessionCommand(ID_SESSION_CONNECT);  // its page is gone: nothing
        QCOMPARE(f.frame->View()->GetPageCount(), 1);
    }

    // A double click on a disconnected tab connects it; on a live one it
    // covers the screen. A middle click closes a session's tab (disconnecting
    // it); the tree's tab takes neither.
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
        QCOMPARE(f.Client(0).Values("put_FullScreen").back(), "-1");
        lab->LeaveContainerFullScreen();
        QCOMPARE(lab->parentWidget(), f.frame->View());

        Q_EMIT f.frame->View()->TabDoubleClicked(0);
        Q_EMIT f.frame->View()->CloseRequested(0);
        QCOMPARE(f.frame->View()->GetPageCount(), 2);
        Q_EMIT f.frame->View()->CloseRequested(1);
        QCOMPARE(f.frame->View()->GetPageCount(), 1);
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
        QMenu* menu = f.frame->WindowMenu();
        // Bounded waits: 300 ms where the menu must not open, else 3 s.
        const auto menuOpensOn = [&](Qt::Key k, Qt::KeyboardModifiers m = {}, int bound = 3000) {
            bool shown = false;
            QTimer close;
            QObject::connect(&close, &QTimer::timeout, [&] {
                if (!menu->isVisible()) return;
                shown = true;
                QTest::keyClick(menu, Qt::Key_Escape);
            });
            close.start(10);
            key(k, m);
            // The offscreen platform may leave the closed popup active, where
            // a window manager gives the window its activation back.
            if (!QTest::qWaitFor([&] { return shown && !menu->isVisible(); }, bound)) return false;
            f.frame->activateWindow();
            return QTest::qWaitForWindowActive(f.frame.get());
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
        QVERIFY(!menuOpensOn(Qt::Key_F10, {}, 300));
        key(Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(f.frame->View()->GetPageCount(), 3);

        key(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);  // to the one not connected
        QCOMPARE(QApplication::focusWidget(), f.hosts.made[0]->widget);
        QVERIFY(menuOpensOn(Qt::Key_F10));
        key(Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(f.frame->View()->GetPageCount(), 2);
        QCOMPARE(f.frame->View()->GetPageCaption(1), QStringLiteral("Build box"));
    }

    // Quitting asks once when a session is connecting or connected, unless
    // the file says not to ask; yes disconnects them all.
    void quittingAsksOnlyWithActiveSessions() {
        for (const bool active : {false, true}) {
            Frame f;
            f.frame->show();
            f.Open({u"Office", u"Lab"});
            f.Open({u"Office", u"Build box"});
            Frame::Pump();
            if (active) f.Client(1).FireConnecting();
            SeenBox box;
            AnswerNextMessageBox(QMessageBox::No, &box, 300);
            QCOMPARE(f.frame->close(), !active);
            QCOMPARE(box.seen, active);
            if (!active) continue;
            QCOMPARE(box.text,
                     QStringLiteral("There are active connections, are you sure to quit?"));
            QCOMPARE(box.defaultButton, QMessageBox::Yes);
            AnswerNextMessageBox(QMessageBox::Yes, &box);
            QVERIFY(f.frame->close());
            QCOMPARE(f.frame->View()->GetPageCount(), 0);
            QCOMPARE(f.hosts.lastCalls[1], std::string("Disconnect"));
        }
        Frame f("<QuitWithoutConfirm>1</QuitWithoutConfirm>");
        f.frame->show();
        f.Open({u"Office", u"Lab"});
        Frame::Pump();
        f.Client(0).FireConnecting();
        QVERIFY(f.frame->close());
    }

    // The normal rectangle is kept in the key store when the window closes,
    // written only when it changed; a maximized window keeps the rectangle
    // stored before; a stored minimized or oversized place is not applied.
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
        {
            CMainFrame frame(disk.config, disk.keys, hosts.Factory());
            QCOMPARE(frame.geometry(), place);
            const std::string before = ReadFile(disk.dir.file("registry.reg"));
            frame.show();
            QVERIFY(frame.close());
            QCOMPARE(ReadFile(disk.dir.file("registry.reg")), before);  // not rewritten
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
        WriteWindowPos(disk.keys, WindowRect{0, 0, 32767, 32767});
        CMainFrame huge(disk.config, disk.keys, hosts.Factory());
        QVERIFY(huge.screen()->availableGeometry().contains(huge.geometry()));
    }

    // What the system tells reaches the sessions: an unlock releases the
    // Windows keys in connected sessions only, a device change reaches all,
    // and the end of the user's session saves what is only marked changed.
    void systemNoticesReachTheSessions() {
        Frame f;
        f.Open({u"Office", u"Lab"});
        f.Open({u"Office", u"Build box"});
        Frame::Pump();
        f.Client(0).FireConnecting();  // not the active tab
        f.Client(0).FireConnected();
        f.frame->OnUnlock();
        QCOMPARE(f.hosts.made[0]->windowsKeyReleases, 1);
        QCOMPARE(f.hosts.made[1]->windowsKeyReleases, 0);
        for (int i : {0, 1}) f.Client(i).dynamicDrives = VariantBool::True;
        f.frame->OnDeviceChange(0x0007, 0);
        for (int i : {0, 1}) {
            QCOMPARE(f.Client(i).Values("NotifyRedirectDeviceChange"),
                     std::vector<std::string>{"7,0"});
        }
        f.disk.config.DeleteNode(NodePath({"Office", "Lab"}));
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
        QString text;
        WhenModalOpens(f.frame.get(), [&](QWidget* modal) {
            box = qobject_cast<QMessageBox*>(modal);
            text = box->text();
            f.Client(0).FireDisconnected(2);
        });
        QTRY_COMPARE(f.frame->View()->GetPageCount(), 1);
        QTRY_VERIFY(!box);
        QVERIFY2(text.startsWith(QStringLiteral("Cannot connect: ")), qPrintable(text));
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
    // tree, and is filed once under "Quick Connections" (names compared
    // case-sensitively); Escape and Cancel file nothing; a port out
    // of range is told and the dialog comes back with the text to mend.
    void quickConnectOpensAtOnceAndFilesTheServerOnce() {
        Frame f;
        f.frame->show();
        AnswerQuickConnect(QStringLiteral("  rdp.example:3390 "), true);
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        QCOMPARE(f.frame->View()->GetPageCaption(1), QStringLiteral("rdp.example (console)"));
        QCOMPARE(f.frame->SessionAt(1)->ServerPath(), PathBuffer{});
        Frame::Pump();
        QCOMPARE(f.Client(0).Values("put_Server"), std::vector<std::string>{"rdp.example"});
        QTreeWidgetItem* root = f.frame->ServerList()->RootItem();
        QVERIFY(ChildLabels(root).endsWith(QStringLiteral(", Quick Connections")));
        QTreeWidgetItem* quick =
            CServerList::FindChildByLabel(root, QStringLiteral("Quick Connections"));
        Properties stored;
        f.disk.config.LoadProperties(NodePath({"Quick Connections", "rdp.example"}), stored);
        QCOMPARE(stored.RDPPort, 3390);

        AnswerQuickConnect(QStringLiteral("rdp.example"), false);
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        AnswerQuickConnect(QStringLiteral("RDP.example"), false);
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        QCOMPARE(f.frame->View()->GetPageCount(), 4);
        QCOMPARE(ChildLabels(quick), QStringLiteral("rdp.example, RDP.example"));
        const PathBuffer entry = Path({u"Quick Connections", u"rdp.example"});
        QCOMPARE(f.frame->Send(WM_APP_FIND_SESSION, 0, Buffer(entry)), std::intptr_t(0));

        AnswerQuickConnect(QStringLiteral("a"), false, Ending::Escape);
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        AnswerQuickConnect(QStringLiteral("b"), true, Ending::CancelButton);
        f.frame->OnSysCommand(IDM_QUICK_CONNECT);
        QCOMPARE(f.frame->View()->GetPageCount(), 4);
        QCOMPARE(quick->childCount(), 2);

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
        QCOMPARE(f.frame->View()->GetPageCount(), 4);
    }

    // "C&onnect To" mirrors the tree each time the menu opens, one submenu
    // however often (its numbering: the tree panel's tests); a chosen server
    // opens, or its open tab comes forward.
    void connectToMirrorsTheTreeAndFindsOpenTabs() {
        Frame f;
        QMenu* menu = f.frame->WindowMenu();
        for (int i = 0; i < 2; ++i) {
            Q_EMIT menu->aboutToShow();
            Q_EMIT menu->aboutToHide();
        }
        const int quickAt = menu->actions().indexOf(f.frame->Action(IDM_QUICK_CONNECT));
        QMenu* connectTo = menu->actions().at(quickAt - 1)->menu();
        QCOMPARE(connectTo->title(), QStringLiteral("C&onnect To"));
        QCOMPARE(quickAt, 10);  // one submenu more than the items
        QMenu* office = connectTo->actions().at(0)->menu();
        Q_EMIT office->aboutToShow();
        f.frame->OnSysCommand(4112);  // Lab
        QCOMPARE(f.frame->View()->GetPageCaption(1), QStringLiteral("Lab"));
        f.frame->View()->SetActivePage(0);
        f.frame->OnSysCommand(4112);
        QCOMPARE(f.frame->View()->GetPageCount(), 2);
        QCOMPARE(f.frame->View()->GetActivePage(), 1);
    }

    // The About box names the program and links the guide, for a screen
    // reader too; a guide that cannot be shown is told.
    void theAboutBoxNamesTheProgramAndLinksTheGuide() {
        CAboutDlg about(nullptr, QStringLiteral("/nonexistent/user-guide.html"));
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("nameAndVersion"))->text(),
                 QStringLiteral("Vandrelle\nVersion 3.16"));
        QAccessibleInterface* guide = QAccessible::queryAccessibleInterface(
            about.findChild<QLabel*>(QStringLiteral("IDC_LINK")));
        QCOMPARE(guide->role(), QAccessible::Link);
        SeenBox box;
        AnswerNextMessageBox(QMessageBox::Ok, &box);
        guide->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(box.seen);
        QVERIFY(box.text.contains(QStringLiteral("/nonexistent/user-guide.html is missing")));
    }
};

QTEST_MAIN(CMainFrameTest)
#include "CMainFrameTest.moc"
