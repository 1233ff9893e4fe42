// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CServerList.h"
#include "ClientHost.h"
#include "NodePath.h"
#include "Properties.h"
#include "SessionMessages.h"

#include <QMainWindow>
#include <QPointer>

#include <map>

class QDialog;
class QLabel;
class QMenu;
class QToolButton;

namespace vandrelle {

class CConfigStore;
class CSimpleTabView;
class CVandrelleView;
class KeyStore;
class StatusPane;
class CFindBar;

// The program's one main window: the tab view with the server tree as its
// first page and the sessions after it, the status bar, and the window menu
// that holds the program's commands. It is the hub of the private messages:
// the tree panel asks it (sent) to find or open sessions, the sessions report
// their states (posted) and their full screen (sent) to it.
class CMainFrame : public QMainWindow, public MessageTarget {
    Q_OBJECT
public:
    // The name by which a second start finds the running program.
    static constexpr const char* kWindowClass = "VandrelleMainFrame";

    CMainFrame(CConfigStore& config, KeyStore& keys, ClientHostFactory hosts,
               QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The private messages (WM_APP_OPEN_SESSION, WM_APP_FIND_SESSION and
    // WM_APP_FULL_SCREEN are sent, WM_APP_SESSION_STATE and the minimize
    // request posted).
    void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    std::intptr_t Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    CSimpleTabView* View() const { return m_view; }
    CServerList* ServerList() const { return m_serverList; }
    QMenu* WindowMenu() const { return m_windowMenu; }
    QToolButton* WindowMenuButton() const { return m_menuButton; }
    // The window menu's item of that command identifier, or nullptr.
    QAction* Action(int id) const;
    QString StatusText() const;

    // The session of a page, or nullptr for the tree's page.
    CVandrelleView* SessionAt(int page) const;
    // The page on which the last tab menu, double click or middle click happened.
    int ContextPage() const;

    // A window menu command (its identifier).
    void OnSysCommand(int id);
    // A command of the tab menu, on the context page.
    void OnSessionCommand(int id);
    // The tab menu of a page; nullptr for the tree's page. The caller owns it.
    QMenu* MakeSessionMenu(int page);

    // The session manager asks whether the user's session may end: the
    // configuration is saved.
    void OnCommitDataRequest();
    // The login manager reports that the local screen was unlocked.
    void OnUnlock();
    // A device came or went: every session hears of it.
    void OnDeviceChange(std::uintptr_t wParam, std::intptr_t lParam);
    // Ends the program without the quit question (a signal from the system
    // asks it to end): as a confirmed close. Dialogs and menus open then are
    // cancelled first, and the close waits (bounded) until the commands that
    // opened them have returned: their pages must outlive them.
    void EndNow();
    // The display is gone: nothing can be shown or closed any more. The
    // placement and the configuration are saved as a close saves them,
    // without touching any widget.
    void EndWithoutDisplay();
    // Brings the window to the front, restored if minimized (a second start asks it).
    void BringForward();
    // The user guide's file.
    static QString UserGuide();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FollowConfigFile();
    void MakeWindowMenu();
    // Whether the widget is in a session that is connected (its keys are the remote desktop's).
    static bool InConnectedSession(const QWidget* widget);
    QAction* AddCommand(QMenu* menu, const QString& text, int id);
    void UpdateWindowMenu();
    void OnPageActivated(int index);
    void ShowDesktopSize(const CVandrelleView* session);
    void ShowPageState(int index);
    void OnTabContextMenu(int index, QPoint screenPosition);
    void OnTabDoubleClick(int index);
    void OnTabCloseRequest(int index);
    void ShowServersList();
    // Brings the "Servers" page forward and opens its find bar.
    void FindServer();
    void ToggleStatusBar();
    void ToggleCloseTabOnLogOff();
    void OpenSession(int command, const PathBuffer& path);
    void AddSessionTab(Properties record, const PathBuffer& path);
    QWidget* ActiveOwner();
    void QuickConnect();
    void OpenUserGuide();
    bool FindSession(const PathBuffer& path);
    void OnSessionState(std::int32_t state, std::intptr_t window);
    // A session's state on its tab: the image, and the same in words.
    void ShowSessionState(int page, std::int32_t state);
    void FullScreen(bool enter, std::intptr_t window);
    bool ConfirmQuit();
    void CloseAll();
    void FinishEnd(int triesLeft);
    void CancelOpenWindows();
    void TrackPlacement();
    void SavePlacement();
    int PageOfWindow(std::intptr_t window) const;
    void ReportSave(bool saved);

    CConfigStore& m_config;
    KeyStore& m_keys;
    ClientHostFactory m_hosts;
    CSimpleTabView* m_view = nullptr;
    QPointer<CServerList> m_serverList;
    QPointer<CFindBar> m_findBar;
    QString m_findCount;  // the find bar's count while it filters
    StatusPane* m_statusPane = nullptr;
    QLabel* m_desktopSize = nullptr;
    QMenu* m_windowMenu = nullptr;
    QToolButton* m_menuButton = nullptr;
    std::map<int, QAction*> m_actions;
    QPointer<QWidget> m_contextPage;
    // Placement: the last rectangle in the normal state, and whether maximized.
    QRect m_normalRect;
    bool m_maximized = false;
    // While a session covers the screen: the window's state before.
    bool m_frameFullScreen = false;
    QRect m_rectBeforeFullScreen;
    bool m_maximizedBeforeFullScreen = false;
    bool m_closing = false;
    bool m_ending = false;
    // The modal dialogs EndNow cancelled, until each is destroyed.
    QList<QPointer<QDialog>> m_cancelled;
    QString m_lastSaveError;
};

}  // namespace vandrelle
