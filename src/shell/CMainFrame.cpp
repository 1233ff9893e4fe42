// SPDX-License-Identifier: GPL-3.0-or-later
#include "CMainFrame.h"

#include "AccessibleLabels.h"
#include "CDlgQuickConnect.h"
#include "CFindBar.h"
#include "CPropertySheet2.h"
#include "CServerList.h"
#include "CSimpleTabView.h"
#include "CVandrelleView.h"
#include "ConfigFollower.h"
#include "ConfigStore.h"
#include "ExternalClient.h"
#include "Icons.h"
#include "LocalDevices.h"
#include "MstscImport.h"
#include "QuickConnect.h"
#include "ResourceIds.h"
#include "StoredCredentials.h"
#include "Strings.h"
#include "SystemInfo.h"
#include "WindowPlace.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSessionManager>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace vandrelle {
namespace {

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A name or address as the user sees it: never reordered by what it holds.
QString Shown(const std::string& text) {
    return CServerList::ShownText(QString::fromStdString(text));
}

QRect ToQRect(const WindowRect& r) {
    return QRect(QPoint(r.left, r.top), QSize(r.right - r.left, r.bottom - r.top));
}

WindowRect ToWindowRect(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

// The tree's commands edit in the properties sheet, which lists the drives
// the engine offers as the machine's volumes.
bool EditInSheet(QWidget* owner, const SheetRequest& request, Properties& record) {
    SheetOptions options;
    options.title = request.title;
    options.serverPages = request.serverPages;
    options.groupMode = request.groupMode;
    options.rootMode = request.rootMode;
    options.siblingNames = request.siblingNames;
    for (const LocalDrive& drive : MountedVolumes()) {
        options.drives << QString::fromStdString(drive.name);
    }
    return RunPropertySheet(owner, options, record);
}

// How often and how long a request to end waits for open dialogs to go.
constexpr int kEndTries = 100;
constexpr int kEndRetryMs = 20;

// The four tab images: a session's state is its image; the tree's tab has the last.
constexpr int kTreeImage = 3;

}  // namespace

CMainFrame::CMainFrame(CConfigStore& config, KeyStore& keys, ClientHostFactory hosts,
                       QWidget* parent)
    : QMainWindow(parent), m_config(config), m_keys(keys), m_hosts(std::move(hosts)) {
    setObjectName(QString::fromLatin1(kWindowClass));
    setWindowTitle(Q(ResourceString(IDR_MAINFRAME)));
    setWindowIcon(ResourceIcon(IDR_MAINFRAME));

    QStatusBar* status = statusBar();
    status->setObjectName(QStringLiteral("statusBar"));
    status->setProperty("controlId", ATL_IDW_STATUS_BAR);
    m_statusPane = new StatusPane(Q(ResourceString(ATL_IDS_IDLEMESSAGE)), status);
    status->addWidget(m_statusPane, 1);
    m_desktopSize = new QLabel(status);
    m_desktopSize->setObjectName(QStringLiteral("desktopSize"));
    m_desktopSize->setAccessibleName(tr("Remote desktop size"));
    m_desktopSize->hide();
    status->addPermanentWidget(m_desktopSize);

    m_view = new CSimpleTabView(this);
    m_view->setObjectName(QStringLiteral("tabView"));
    setCentralWidget(m_view);
    connect(m_view, &CSimpleTabView::PageActivated, this, &CMainFrame::OnPageActivated);
    connect(m_view, &CSimpleTabView::ContextMenuRequested, this, &CMainFrame::OnTabContextMenu);
    connect(m_view, &CSimpleTabView::TabDoubleClicked, this, &CMainFrame::OnTabDoubleClick);
    connect(m_view, &CSimpleTabView::CloseRequested, this, &CMainFrame::OnTabCloseRequest);
    connect(m_view, &CSimpleTabView::StripMiddleClicked, this, &CMainFrame::ShowServersList);
    connect(m_view, &CSimpleTabView::StripContextMenuRequested, this,
            [this](QPoint at) { m_windowMenu->popup(at); });

    MakeWindowMenu();
    const bool statusVisible = m_config.GetStatusBarVisible() != 0;
    Action(IDM_STATUS_BAR)->setChecked(statusVisible);
    status->setVisible(statusVisible);
    Action(IDM_CLOSE_TAB_ON_LOG_OFF)->setChecked(m_config.GetCloseTabOnLogOff() != 0);

    m_view->SetImageList({ResourceIcon(IDI_DISCONNECTED), ResourceIcon(IDI_CONNECTING),
                          ResourceIcon(IDI_CONNECTED), ResourceIcon(IDR_MAINFRAME),
                          ResourceIcon(IDI_RECONNECTING)});
    m_serverList = new CServerList(m_config, *this, m_view);
    m_serverList->SetSheetRunner(&EditInSheet);
    m_serverList->SetImportRunner([this](const auto& hasChild, const auto& add) {
        EmptyCredentialStore credentials;
        ImportMstscConnections(m_keys, credentials, hasChild, add);
    });
    m_view->AddPage(m_serverList, tr("Servers"), kTreeImage);
    m_findBar = new CFindBar(*m_serverList);
    connect(m_findBar, &CFindBar::CountChanged, this, [this](const QString& count) {
        m_findCount = count;
        if (m_view->GetActivePage() == m_view->PageIndexOf(m_serverList)) {
            ShowPageState(m_view->GetActivePage());
        }
    });

    // A size that suits a first start; a stored placement replaces it.
    const QRect available = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    resize(QSize(960, 640).boundedTo(available.size()));
    WindowRect stored;
    if (m_config.IsMaximized() == 0 && ReadWindowPos(m_keys, stored) && stored.top != -32000) {
        // On the screens there are now; a place off every screen (a monitor
        // gone since) keeps its size only.
        std::vector<WindowRect> screens{ToWindowRect(available)};
        for (const QScreen* s : QGuiApplication::screens()) {
            screens.push_back(ToWindowRect(s->availableGeometry()));
        }
        if (const auto place = PlaceOnScreens(stored, screens)) {
            if (place->onScreen) {
                setGeometry(ToQRect(place->rect));
            } else {
                resize(ToQRect(place->rect).size());
            }
        }
    }
    m_normalRect = geometry();
    m_serverList->setFocus();

    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { OnCommitDataRequest(); });
    m_config.SetSaveListener([this](bool saved) { ReportSave(saved); });
    FollowConfigFile();
}

// Another writer's changes show in the tree; open sessions go on as they are.
void CMainFrame::FollowConfigFile() {
    const auto busy = [this] {
        return QApplication::activeModalWidget() || QApplication::activePopupWidget() ||
               m_serverList->IsDragging() || (m_findBar && m_findBar->IsOpen());
    };
    new ConfigFollower(
        m_config, busy,
        [this](CConfigStore::Reload result) {
            if (result == CConfigStore::Reload::Reloaded) {
                m_serverList->Rebuild();
                for (int page = 1; page < m_view->GetPageCount(); ++page) {
                    if (CVandrelleView* session = SessionAt(page)) session->FollowStoredServer();
                }
                return;
            }
            QMessageBox(QMessageBox::Warning, tr("Vandrelle"),
                        tr("The configuration file was changed on disk, but it cannot be "
                           "read:\n%1\n\nThe list stays as it was. Before the next save, that "
                           "file will be kept beside it.")
                            .arg(QString::fromStdString(m_config.LastLoadError())),
                        QMessageBox::Ok, this)
                .exec();
        },
        this);
}

CMainFrame::~CMainFrame() {
    m_config.SetSaveListener({});
    m_closing = true;
    m_view->RemoveAllPages();
}

// No save fails or keeps a copy without the user hearing of it. The text is
// taken at once (the next save changes it) and shown from the event loop
// (a save may come from inside any handler); a failure that repeats is told once.
void CMainFrame::ReportSave(bool saved) {
    const QString file = QString::fromStdString(m_config.ConfigPath());
    struct Notice {
        QMessageBox::Icon icon;
        QString title, text;
    };
    QList<Notice> notices;
    if (!saved) {
        const QString error = QString::fromStdString(m_config.LastSaveError());
        if (error == m_lastSaveError) return;
        m_lastSaveError = error;
        notices.push_back({QMessageBox::Critical, tr("Error"),
                           tr("The configuration could not be saved to %1:\n%2\n\nYour changes "
                              "are kept and will be saved with the next change.")
                               .arg(file, error)});
    } else {
        m_lastSaveError.clear();
        if (!m_config.KeptUnreadableCopy().empty()) {
            notices.push_back(
                {QMessageBox::Critical, tr("Error"),
                 tr("%1 could not be read when Vandrelle started. Before it was saved, the file "
                    "was kept as %2.")
                     .arg(file, QString::fromStdString(m_config.KeptUnreadableCopy()))});
        }
        if (!m_config.MergeConflicts().empty()) {
            QStringList fields;
            for (const MergeConflict& c : m_config.MergeConflicts())
                fields << QString::fromStdString(c.node + ": " + c.field);
            notices.push_back(
                {QMessageBox::Warning, tr("Vandrelle"),
                 tr("%1 had been changed by another program since Vandrelle read it. Both "
                    "versions were merged; these settings were changed in both, and yours were "
                    "kept:\n%2\n\nThe other version was kept as %3.")
                     .arg(file, fields.join(QLatin1Char('\n')),
                          QString::fromStdString(m_config.KeptChangedCopy()))});
        } else if (!m_config.KeptChangedCopy().empty()) {
            notices.push_back(
                {QMessageBox::Warning, tr("Vandrelle"),
                 tr("%1 had been changed by another program since Vandrelle read it. That "
                    "version was kept as %2; the list you see was saved.")
                     .arg(file, QString::fromStdString(m_config.KeptChangedCopy()))});
        }
    }
    for (const Notice& n : notices) {
        QTimer::singleShot(0, this, [this, n] {
            QMessageBox(n.icon, n.title, n.text, QMessageBox::Ok, this).exec();
        });
    }
}

// The window menu: the window's own commands, the program's, and Close.
void CMainFrame::MakeWindowMenu() {
    m_windowMenu = new QMenu(tr("Window"), this);
    m_windowMenu->setObjectName(QStringLiteral("windowMenu"));
    m_windowMenu->setAccessibleName(tr("Window"));
    AddCommand(m_windowMenu, tr("&Restore"), SC_RESTORE_CMD);
    AddCommand(m_windowMenu, tr("Mi&nimize"), SC_MINIMIZE_CMD);
    AddCommand(m_windowMenu, tr("Ma&ximize"), SC_MAXIMIZE_CMD);
    m_windowMenu->addSeparator();
    AddCommand(m_windowMenu, tr("&Show servers list"), IDM_SHOW_SERVERS_LIST);
    // Ctrl+F shown beside it; the key itself is seen by eventFilter, which
    // leaves it to a connected session.
    QAction* find = AddCommand(m_windowMenu, tr("&Find Server..."), IDM_FIND_SERVER);
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    find->setShortcutContext(Qt::WidgetShortcut);
    m_windowMenu->addSeparator();
    AddCommand(m_windowMenu, tr("Status &Bar"), IDM_STATUS_BAR)->setCheckable(true);
    AddCommand(m_windowMenu, tr("Close &tab on log off"), IDM_CLOSE_TAB_ON_LOG_OFF)
        ->setCheckable(true);
    m_windowMenu->addSeparator();
    AddCommand(m_windowMenu, tr("&Quick Connect..."), IDM_QUICK_CONNECT);
    m_windowMenu->addSeparator();
    AddCommand(m_windowMenu, tr("&Help"), IDM_HELP);
    AddCommand(m_windowMenu, tr("&About..."), ID_APP_ABOUT);
    m_windowMenu->addSeparator();
    AddCommand(m_windowMenu, tr("&Close"), SC_CLOSE_CMD);
    connect(m_windowMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateWindowMenu);
    connect(m_windowMenu, &QMenu::aboutToHide, this, [this] { m_statusPane->ShowPrompt({}); });

    m_menuButton = new QToolButton(this);
    m_menuButton->setObjectName(QStringLiteral("windowMenuButton"));
    m_menuButton->setIcon(ResourceIcon(IDR_MAINFRAME));
    m_menuButton->setAutoRaise(true);
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setMenu(m_windowMenu);
    m_menuButton->setAccessibleName(tr("Window menu"));
    m_menuButton->setToolTip(tr("Window menu (F10)"));
    m_view->SetStripButton(m_menuButton);
    qApp->installEventFilter(this);
}

// A menu command: its identifier as data, its prompt as status tip (a blank
// one where it has none, so that the status bar shows no stale text).
QAction* CMainFrame::AddCommand(QMenu* menu, const QString& text, int id) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    const QString prompt = Q(MenuPrompt(id));
    action->setStatusTip(prompt.isEmpty() ? QStringLiteral(" ") : prompt);
    connect(action, &QAction::triggered, this, [this, id] { OnSysCommand(id); });
    m_actions[id] = action;
    return action;
}

// A menu item's prompt goes to the status pane, where a screen reader reads
// it, rather than being painted over the status bar.
bool CMainFrame::event(QEvent* event) {
    if (event->type() != QEvent::StatusTip) return QMainWindow::event(event);
    m_statusPane->ShowPrompt(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
}

// F10 opens the window menu (Alt+Space too, where the window manager lets it
// through), Ctrl+F the find bar, and Ctrl+W closes the active session's tab, wherever the focus is
// in the window but in a connected session, whose remote desktop has every
// key (also those it passes on to its parents). They are seen before the
// focused widget, which might take them.
bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    const QWidget* focus = QApplication::focusWidget();
    if (widget->window() != this || InConnectedSession(focus ? focus : widget)) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if ((key->key() == Qt::Key_F10 && modifiers == Qt::NoModifier) ||
        (key->key() == Qt::Key_Space && modifiers == Qt::AltModifier)) {
        QTimer::singleShot(0, m_menuButton, &QToolButton::showMenu);
        return true;
    }
    if (key->key() == Qt::Key_W && modifiers == Qt::ControlModifier) {
        OnTabCloseRequest(m_view->GetActivePage());
        return true;
    }
    if (key->key() == Qt::Key_F && modifiers == Qt::ControlModifier) {
        FindServer();
        return true;
    }
    return false;
}

bool CMainFrame::InConnectedSession(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        if (const auto* session = qobject_cast<const CVandrelleView*>(w)) {
            return session->State() == kStateConnected;
        }
    }
    return false;
}

QAction* CMainFrame::Action(int id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

// Each opening of the menu mirrors the tree as it is now in "C&onnect To".
void CMainFrame::UpdateWindowMenu() {
    if (m_serverList) {
        QMenu* connectTo =
            m_serverList->BuildConnectToMenu(m_windowMenu, Action(IDM_QUICK_CONNECT));
        // Straight to the tree: servers past the window commands' range open too.
        connect(connectTo, &QMenu::triggered, this, [this](QAction* chosen) {
            if (m_serverList) m_serverList->ConnectByMenuId(chosen->data().toInt());
        });
    }
    const bool maximized = isMaximized() || m_frameFullScreen;
    Action(SC_RESTORE_CMD)->setEnabled(maximized || isMinimized());
    Action(SC_MAXIMIZE_CMD)->setEnabled(!maximized);
    Action(IDM_STATUS_BAR)->setChecked(statusBar()->isVisible());
    Action(IDM_CLOSE_TAB_ON_LOG_OFF)->setChecked(m_config.GetCloseTabOnLogOff() != 0);
}

QString CMainFrame::StatusText() const {
    return m_statusPane->text();
}

void CMainFrame::OnSysCommand(int id) {
    if (id >= kConnectToFirstId && id <= kConnectToLastId) {
        if (m_serverList) m_serverList->ConnectByMenuId(id);
        return;
    }
    switch (id) {
        case IDM_QUICK_CONNECT:
            QuickConnect();
            break;
        case IDM_HELP:
            OpenUserGuide();
            break;
        case ID_APP_ABOUT:
            CAboutDlg(ActiveOwner(), UserGuide()).exec();
            break;
        case IDM_SHOW_SERVERS_LIST:
            ShowServersList();
            break;
        case IDM_FIND_SERVER:
            FindServer();
            break;
        case IDM_STATUS_BAR:
            ToggleStatusBar();
            break;
        case IDM_CLOSE_TAB_ON_LOG_OFF:
            ToggleCloseTabOnLogOff();
            break;
        case SC_RESTORE_CMD:
            if (m_maximized && isMinimized()) {
                showMaximized();
            } else {
                showNormal();
            }
            break;
        case SC_MINIMIZE_CMD:
            showMinimized();
            break;
        case SC_MAXIMIZE_CMD:
            showMaximized();
            break;
        case SC_CLOSE_CMD:
            close();
            break;
        default:
            break;
    }
}

void CMainFrame::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    QMetaObject::invokeMethod(
        this, [this, message, wParam, lParam] { Send(message, wParam, lParam); },
        Qt::QueuedConnection);
}

std::intptr_t CMainFrame::Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    switch (message) {
        case WM_APP_OPEN_SESSION:
            OpenSession(static_cast<int>(wParam), *reinterpret_cast<const PathBuffer*>(lParam));
            return 0;
        case WM_APP_FIND_SESSION:
            return FindSession(*reinterpret_cast<const PathBuffer*>(lParam)) ? 1 : 0;
        case WM_APP_FULL_SCREEN:
            FullScreen(wParam != 0, lParam);
            return 0;
        case WM_APP_SESSION_STATE:
            OnSessionState(static_cast<std::int32_t>(wParam), lParam);
            return 0;
        case WM_SYSCOMMAND:
            if (wParam == SC_MINIMIZE) showMinimized();
            return 0;
        default:
            return 0;
    }
}

CVandrelleView* CMainFrame::SessionAt(int page) const {
    return qobject_cast<CVandrelleView*>(m_view->GetPageData(page));
}

int CMainFrame::PageOfWindow(std::intptr_t window) const {
    for (int i = 0; i < m_view->GetPageCount(); ++i) {
        if (reinterpret_cast<std::intptr_t>(m_view->GetPageWidget(i)) == window) return i;
    }
    return -1;
}

int CMainFrame::ContextPage() const {
    return m_contextPage ? m_view->PageIndexOf(m_contextPage) : -1;
}

// The page's session, server and user in the status bar, its name in the caption.
void CMainFrame::ShowPageState(int index) {
    if (index < 0) return;
    if (const CVandrelleView* session = SessionAt(index)) {
        const Properties& r = session->Record();
        const QString link = Q(session->LinkStatus());
        m_statusPane->SetStateText(
            !link.isEmpty() ? link
                            : tr("[%1] Server: %2; Username: %3")
                                  .arg(Shown(r.Name), Shown(r.Server), Shown(r.UserName)));
        setWindowTitle(Shown(r.Name) + QStringLiteral(" - ") + Q(ResourceString(IDR_MAINFRAME)));
    } else {
        m_statusPane->SetStateText(m_findCount.isEmpty() ? Q(ResourceString(ATL_IDS_IDLEMESSAGE))
                                                         : m_findCount);
        setWindowTitle(Q(ResourceString(IDR_MAINFRAME)));
    }
}

void CMainFrame::OnPageActivated(int index) {
    ShowPageState(index);
    ShowDesktopSize(SessionAt(index));
}

// Beside the state, the remote desktop's size as it follows the window.
void CMainFrame::ShowDesktopSize(const CVandrelleView* session) {
    const QSize size = session ? session->DesktopSize() : QSize();
    m_desktopSize->setText(QStringLiteral("%1 \u00d7 %2").arg(size.width()).arg(size.height()));
    m_desktopSize->setVisible(!size.isEmpty());
}

QMenu* CMainFrame::MakeSessionMenu(int page) {
    const CVandrelleView* session = SessionAt(page);
    if (!session) return nullptr;
    auto* menu = new QMenu(tr("Session"), this);
    menu->setObjectName(QStringLiteral("IDR_SESSION_MENU"));
    menu->setAccessibleName(tr("Session"));
    menu->setProperty("resourceId", IDR_SESSION_MENU);
    const auto add = [&](const QString& text, int id) {
        QAction* action = menu->addAction(text);
        action->setData(id);
        action->setStatusTip(QStringLiteral(" "));
        connect(action, &QAction::triggered, this, [this, id] { OnSessionCommand(id); });
        return action;
    };
    const bool live = session->State() != kStateDisconnected;
    add(tr("&Connect"), ID_SESSION_CONNECT)->setEnabled(!live);
    add(tr("&Disconnect"), ID_SESSION_DISCONNECT)->setEnabled(live);
    add(tr("C&lose"), ID_SESSION_CLOSE);
    menu->addSeparator();
    add(tr("R&econnect"), ID_SESSION_RECONNECT);
    add(tr("&Reconnect in Full Screen mode"), ID_SESSION_RECONNECT_FULL_SCREEN);
    connect(menu, &QMenu::aboutToHide, this, [this] { m_statusPane->ShowPrompt({}); });
    return menu;
}

void CMainFrame::OnTabContextMenu(int index, QPoint screenPosition) {
    m_contextPage = m_view->GetPageWidget(index);
    QMenu* menu = MakeSessionMenu(index);
    if (!menu) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(screenPosition);
}

// The commands act on the page the menu was opened for, wherever it is now;
// a page that was closed meanwhile takes none.
void CMainFrame::OnSessionCommand(int id) {
    const int page = ContextPage();
    CVandrelleView* session = SessionAt(page);
    if (!session) return;
    switch (id) {
        case ID_SESSION_CONNECT:
            session->Post(WM_APP_CONNECT, 0, 0);
            break;
        case ID_SESSION_DISCONNECT:
            session->Post(WM_APP_DISCONNECT, 0, 0);
            break;
        case ID_SESSION_CLOSE:
            m_view->RemovePage(page);
            break;
        case ID_SESSION_RECONNECT:
            session->Post(WM_APP_DISCONNECT, 0, 0);
            session->Post(WM_APP_RECONNECT, 0, 0);
            break;
        case ID_SESSION_RECONNECT_FULL_SCREEN:
            session->Post(WM_APP_DISCONNECT, 0, 0);
            session->Post(WM_APP_RECONNECT_FULL_SCREEN, 0, 0);
            break;
        default:
            break;
    }
}

void CMainFrame::OnTabDoubleClick(int index) {
    m_contextPage = m_view->GetPageWidget(index);
    CVandrelleView* session = SessionAt(index);
    if (!session) return;
    session->Post(
        session->State() != kStateDisconnected ? WM_APP_ENTER_FULL_SCREEN : WM_APP_CONNECT, 0, 0);
}

void CMainFrame::OnTabCloseRequest(int index) {
    m_contextPage = m_view->GetPageWidget(index);
    if (SessionAt(index)) m_view->RemovePage(index);
}

// The caption and status bar follow the page shown, also when no
// activation is reported for it.
void CMainFrame::ShowServersList() {
    const int page = m_view->PageIndexOf(m_serverList);
    if (page < 0 || page == m_view->GetActivePage()) return;
    m_view->SetActivePage(page);
    ShowPageState(page);
}

void CMainFrame::FindServer() {
    if (!m_serverList || !m_findBar) return;
    ShowServersList();
    m_findBar->Open();
}

void CMainFrame::ToggleStatusBar() {
    const bool visible = !statusBar()->isVisible();
    statusBar()->setVisible(visible);
    Action(IDM_STATUS_BAR)->setChecked(visible);
    m_config.SetStatusBarVisible(visible ? 1 : 0);
}

void CMainFrame::ToggleCloseTabOnLogOff() {
    const int value = m_config.GetCloseTabOnLogOff() == 0 ? 1 : 0;
    Action(IDM_CLOSE_TAB_ON_LOG_OFF)->setChecked(value != 0);
    m_config.SetCloseTabOnLogOff(value);
}

// A new tab at the right end, with the server's settings as they are now
// (the console switch of the command applied), connected once it is in place.
void CMainFrame::OpenSession(int command, const PathBuffer& path) {
    const NodePath node = NodePathFromBuffer(path);
    if (command == ID_SERVER_CONNECT_MSTSC) {
        std::string error;
        bool started = false;
        try {
            const bool shift =
                QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
            started = LaunchExternalClient(m_config, node, shift, &error);
        } catch (const ConfigError& e) {
            error = e.what();
        }
        if (!started) {
            QMessageBox(QMessageBox::Critical, tr("Error"), QString::fromStdString(error),
                        QMessageBox::Ok, this)
                .exec();
        }
        return;
    }
    Properties record;
    try {
        m_config.LoadProperties(node, record);
    } catch (const ConfigError&) {
        return;  // the path no longer leads anywhere
    }
    if (command == ID_SERVER_CONNECT_CONSOLE) record.ConnectToServerConsole = 1;
    if (command == ID_SERVER_CONNECT_NON_CONSOLE) record.ConnectToServerConsole = 0;
    AddSessionTab(std::move(record), path);
}

// The session's tab at the right end, disconnected, its connect posted: it
// runs once the caller's command is done.
void CMainFrame::AddSessionTab(Properties record, const PathBuffer& path) {
    QString caption = Shown(record.Name);
    if (record.ConnectToServerConsole != 0) caption += QStringLiteral(" (console)");
    auto* session =
        new CVandrelleView(m_hosts, *this, this, m_config, m_keys, std::move(record), path, m_view);
    m_view->AddPage(session, caption, kStateDisconnected, session);
    connect(session, &CVandrelleView::desktopSizeChanged, this, [this, session] {
        if (m_view->GetActivePage() == m_view->PageIndexOf(session)) ShowDesktopSize(session);
    });
    ShowSessionState(m_view->PageIndexOf(session), kStateDisconnected);
    session->Post(WM_APP_CONNECT, 0, 0);
}

QWidget* CMainFrame::ActiveOwner() {
    QWidget* active = QApplication::activeWindow();
    return active ? active : this;
}

// A session to a typed server, opened at once and then filed under "Quick
// Connections"; its path is all zero, so the tree never finds it open.
void CMainFrame::QuickConnect() {
    CDlgQuickConnect dialog(ActiveOwner());
    std::optional<Properties> record;
    while (!record) {
        if (dialog.exec() != QDialog::Accepted) return;
        const QString text = dialog.ServerText();
        std::string problem;
        record =
            QuickConnectRecord(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                   static_cast<std::size_t>(text.size())),
                               dialog.Console(), &problem);
        if (!record && problem.empty()) return;
        // A port no server listens on is told, and the text stays to be mended.
        if (!record) {
            QMessageBox(QMessageBox::Critical, tr("Error"), Q(problem), QMessageBox::Ok, &dialog)
                .exec();
        }
    }
    AddSessionTab(*record, PathBuffer{});
    if (m_serverList) m_serverList->AddQuickConnection(*record);
}

// The user guide installed with the program (the build puts it at the same
// place relative to the program).
QString CMainFrame::UserGuide() {
    return QDir::cleanPath(QString::fromStdString(ProgramFolder()) +
                           QStringLiteral("/../share/doc/vandrelle/user-guide.html"));
}

void CMainFrame::OpenUserGuide() {
    CAboutDlg::OpenGuide(this, UserGuide());
}

bool CMainFrame::FindSession(const PathBuffer& path) {
    for (int i = 0; i < m_view->GetPageCount(); ++i) {
        const CVandrelleView* session = SessionAt(i);
        if (session && SameIdentity(session->ServerPath(), path)) {
            m_view->SetActivePage(i);
            ShowPageState(i);
            return true;
        }
    }
    return false;
}

void CMainFrame::OnSessionState(std::int32_t state, std::intptr_t window) {
    const int page = PageOfWindow(window);
    if (page < 0) return;
    if (state == kStateLoggedOff) {
        m_view->RemovePage(page);
    } else {
        ShowSessionState(page, state);
        // The status bar tells what is done about a lost link, attempt by attempt.
        if (page == m_view->GetActivePage()) ShowPageState(page);
    }
}

void CMainFrame::ShowSessionState(int page, std::int32_t state) {
    switch (state) {
        case kStateConnecting:
            m_view->SetPageDescription(page, tr("connecting"));
            break;
        case kStateConnected:
            m_view->SetPageDescription(page, tr("connected"));
            break;
        case kStateReconnecting:
            m_view->SetPageDescription(page, tr("reconnecting"));
            break;
        default:
            state = kStateDisconnected;
            m_view->SetPageDescription(page, tr("disconnected"));
            break;
    }
    m_view->SetPageImage(page, state);
}

// A session covers the screen: the window does too, and comes back as it was.
void CMainFrame::FullScreen(bool enter, std::intptr_t window) {
    if (enter) {
        if (m_frameFullScreen) return;
        m_rectBeforeFullScreen = geometry();
        m_maximizedBeforeFullScreen = isMaximized();
        m_frameFullScreen = true;
        showFullScreen();
        return;
    }
    if (!m_frameFullScreen) return;
    m_frameFullScreen = false;
    if (m_maximizedBeforeFullScreen) {
        showMaximized();
    } else {
        showNormal();
        setGeometry(m_rectBeforeFullScreen);
    }
    // The session is back in its tab; show it there.
    const int page = PageOfWindow(window);
    if (page >= 0) m_view->SetActivePage(page);
}

bool CMainFrame::ConfirmQuit() {
    if (m_config.GetQuitWithoutConfirm() != 0) return true;
    for (int i = 0; i < m_view->GetPageCount(); ++i) {
        const CVandrelleView* session = SessionAt(i);
        if (!session || session->State() == kStateDisconnected) continue;
        QMessageBox box(QMessageBox::Question, tr("Quit Vandrelle"),
                        tr("There are active connections, are you sure to quit?"),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    }
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!m_closing && !ConfirmQuit()) {
        event->ignore();
        return;
    }
    CloseAll();
    event->accept();
}

void CMainFrame::EndNow() {
    if (m_ending || m_closing) return;
    m_ending = true;
    FinishEnd(kEndTries);
}

// A dialog or menu runs an event loop of its own on the stack of the command
// that opened it, where the request to end arrives: a page deleted then takes
// the dialog or the command's objects from under it. So every one is answered
// as Cancel, and the pages go once the modal ones are destroyed (their
// commands returned) or the time is up; new ones meanwhile are cancelled too.
void CMainFrame::FinishEnd(int triesLeft) {
    CancelOpenWindows();
    const bool waiting = std::any_of(m_cancelled.cbegin(), m_cancelled.cend(),
                                     [](const QPointer<QDialog>& d) { return !d.isNull(); });
    if (waiting && triesLeft > 0) {
        QTimer::singleShot(kEndRetryMs, this, [this, triesLeft] { FinishEnd(triesLeft - 1); });
        return;
    }
    CloseAll();
    close();
}

void CMainFrame::CancelOpenWindows() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible()) continue;
        if (auto* dialog = qobject_cast<QDialog*>(window)) {
            if (dialog->isModal() && !m_cancelled.contains(dialog)) m_cancelled.push_back(dialog);
            dialog->reject();
        } else if (window->windowType() == Qt::Popup) {
            window->close();
        }
    }
}

void CMainFrame::EndWithoutDisplay() {
    m_closing = true;
    m_config.SetSaveListener({});  // a failure could not be shown
    SavePlacement();
    m_config.Save();
}

// Every page goes (its sessions disconnect), then the placement is kept for
// the next start.
void CMainFrame::CloseAll() {
    if (m_closing) return;
    m_closing = true;
    m_view->RemoveAllPages();
    SavePlacement();
}

void CMainFrame::SavePlacement() {
    m_config.SetMaximized(m_maximized ? 1 : 0);
    if (m_maximized) return;
    const WindowRect normal = ToWindowRect(m_normalRect);
    WindowRect stored;
    if (!ReadWindowPos(m_keys, stored) || !(stored == normal)) WriteWindowPos(m_keys, normal);
}

// The placement follows the window in its own states; while a session covers
// the screen it keeps what it was before.
void CMainFrame::TrackPlacement() {
    if (m_frameFullScreen || isFullScreen()) return;
    if (isMaximized()) {
        m_maximized = true;
    } else if (!isMinimized()) {
        m_maximized = false;
        m_normalRect = geometry();
    }
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) TrackPlacement();
}

void CMainFrame::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    TrackPlacement();
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    TrackPlacement();
}

void CMainFrame::OnCommitDataRequest() {
    m_config.Save();
}

void CMainFrame::OnUnlock() {
    activateWindow();
    for (int i = 0; i < m_view->GetPageCount(); ++i) {
        if (CVandrelleView* session = SessionAt(i)) session->ReleaseWindowsKeys();
    }
}

void CMainFrame::OnDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) {
    for (int i = 0; i < m_view->GetPageCount(); ++i) {
        if (CVandrelleView* session = SessionAt(i)) session->OnDeviceChange(wParam, lParam);
    }
}

void CMainFrame::BringForward() {
    if (isMinimized()) {
        if (m_maximized) {
            showMaximized();
        } else {
            showNormal();
        }
    }
    show();
    raise();
    activateWindow();
}

}  // namespace vandrelle
