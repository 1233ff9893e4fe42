// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ClientHost.h"
#include "NodePath.h"
#include "Session.h"
#include "SessionMessages.h"
#include "SessionView.h"

#include <QLabel>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <chrono>
#include <memory>
#include <string>

namespace vandrelle {

class CConfigStore;
class KeyStore;

// A session tab's window: hosts one RDP client and its picture, runs the
// session's logic (Session) on the frame's and the client's messages, and
// covers the whole main window while the session is in full screen. The
// object ends with its window: closing the tab deletes it, which disconnects a
// session that is connecting or connected.
class CVandrelleView : public QWidget, public SessionView, public MessageTarget {
    Q_OBJECT
public:
    // `record` is the server's effective settings, copied; `serverPath` the
    // server's path, of which the first 1024 bytes are kept (all zero for a
    // session that has no server in the tree). `frameWindow` is the main
    // window, whose child the session becomes while it covers the screen;
    // `frame` takes the session's reports.
    CVandrelleView(const ClientHostFactory& hosts, MessageTarget& frame, QWidget* frameWindow,
                   const CConfigStore& config, KeyStore& keys, Properties record,
                   const PathBuffer& serverPath, QWidget* parent = nullptr);
    ~CVandrelleView() override;

    std::int32_t State() const { return m_session->State(); }
    // What is done about a lost link, empty while none is being healed.
    std::string LinkStatus() const { return m_session->LinkStatus(); }
    void SetLinkHealLimit(std::chrono::milliseconds limit) { m_session->SetLinkHealLimit(limit); }
    const Properties& Record() const { return m_session->Record(); }
    void FollowStoredServer() { m_session->FollowStoredServer(); }
    const PathBuffer& ServerPath() const { return m_serverPath; }
    ClientHost& Host() { return *m_host; }
    // The remote desktop's size as last asked for or shown, empty before
    // the first; desktopSizeChanged tells each change.
    QSize DesktopSize() const { return m_desktopSize; }

    void OnDeviceChange(std::uintptr_t wParam, std::intptr_t lParam);
    void ReleaseWindowsKeys();

    // The frame's messages to the session (WM_APP_CONNECT, WM_APP_DISCONNECT,
    // WM_APP_RECONNECT, WM_APP_RECONNECT_FULL_SCREEN, WM_APP_ENTER_FULL_SCREEN).
    void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    std::intptr_t Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // SessionView
    Size ClientSize() const override;
    Size PrimaryScreenSize() const override;
    void EnterContainerFullScreen() override;
    void LeaveContainerFullScreen() override;
    bool IsContainerFullScreen() const override { return m_containerFullScreen; }
    void Relayout() override;
    void ShowError(const std::string& text) override;
    void PostToSelf(std::uint32_t message, int delayMs, std::uintptr_t wParam) override;
    void ShowLinkDown(bool down, const std::string& status) override;
    bool IsShiftDown() const override;
    std::intptr_t WindowId() const override;

Q_SIGNALS:
    void desktopSizeChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const QScreen* Screen() const;

    MessageTarget& m_frame;
    QPointer<QWidget> m_frameWindow;
    PathBuffer m_serverPath{};
    std::unique_ptr<ClientHost> m_host;
    std::unique_ptr<Session> m_session;
    // While covering the screen: where the window was, and in which parent.
    QPointer<QWidget> m_savedParent;
    QRect m_savedRect;
    bool m_containerFullScreen = false;
    QSize m_desktopSize;
    // While the link is down: the last picture, greyed, over the live one.
    QPointer<QLabel> m_heldPicture;
};

}  // namespace vandrelle
