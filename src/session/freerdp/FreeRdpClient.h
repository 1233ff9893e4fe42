// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ConnectionEvents.h"
#include "EngineTypes.h"
#include "RdpClient.h"
#include "SessionPrompts.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vandrelle {

class FreeRdpConnection;

// The RDP client on FreeRDP. Every member is called on the user-interface
// thread; the connection runs on a worker thread of its own, a fresh engine
// context for every Connect(); events come back through `post`.
// Disconnect() and destruction never wait for the worker.
class FreeRdpClient : public RdpClient,
                      public RdpClient5,
                      public RdpClient6,
                      public RdpClientNonScriptable3,
                      private ConnectionEvents {
public:
    FreeRdpClient(UiPost post, SessionPrompts& prompts);
    ~FreeRdpClient() override;
    FreeRdpClient(const FreeRdpClient&) = delete;
    FreeRdpClient& operator=(const FreeRdpClient&) = delete;

    // The values given to the client, as the next Connect() uses them.
    const ConnectionValues& CurrentValues() const { return m_values; }

    void SetEventSink(RdpClientEvents* sink) override { m_sink = sink; }
    void put_Server(const std::string& value) override;
    void put_UserName(const std::string& value) override { m_values.userName = value; }
    void put_Domain(const std::string& value) override { m_values.domain = value; }
    void put_DisconnectedText(const std::string& value) override {
        m_values.disconnectedText = value;
        if (m_textChanged) m_textChanged();
    }
    void put_DesktopWidth(std::int32_t value) override { m_values.desktopWidth = value; }
    void put_DesktopHeight(std::int32_t value) override { m_values.desktopHeight = value; }
    void Connect() override;
    void Disconnect() override;
    void put_PluginDlls(const std::string& value) override { m_values.pluginDlls = value; }
    void put_ContainerHandledFullScreen(std::int32_t value) override {
        m_values.containerHandledFullScreen = value;
    }
    void put_ColorDepth(std::int32_t value) override;
    VariantBool get_FullScreen() override { return ToVariantBool(m_values.fullScreen); }
    void put_FullScreen(VariantBool value) override;
    std::int32_t get_ExtendedDisconnectReason() override { return m_extendedReason; }
    void put_ClearTextPassword(const std::string& value) override { m_values.password = value; }
    void put_RDPPort(std::int32_t value) override;
    void put_ConnectToServerConsole(VariantBool value) override {
        m_values.console = value != VariantBool::False;
    }
    void put_BitmapPersistence(std::int32_t value) override { m_values.bitmapPersistence = value; }
    void put_RedirectPrinters(VariantBool value) override {
        m_values.printers = value != VariantBool::False;
    }
    void put_RedirectPorts(VariantBool value) override {
        m_values.ports = value != VariantBool::False;
    }
    void put_RedirectSmartCards(VariantBool value) override {
        m_values.smartCards = value != VariantBool::False;
    }
    void put_RedirectDrives(VariantBool value) override {
        m_values.drives = value != VariantBool::False;
    }
    std::int32_t get_PerformanceFlags() override { return m_values.performanceFlags; }
    void put_PerformanceFlags(std::int32_t value) override { m_values.performanceFlags = value; }
    void put_AudioRedirectionMode(std::int32_t value) override { m_values.audioMode = value; }
    void put_KeyboardHookMode(std::int32_t value) override { m_values.keyboardHookMode = value; }
    RdpClient5* AsClient5() override { return this; }
    RdpClient6* AsClient6() override { return this; }
    RdpClientNonScriptable3* AsNonScriptable3() override { return this; }

    void put_RedirectClipboard(VariantBool value) override {
        m_values.clipboard = value != VariantBool::False;
    }
    std::string GetErrorDescription(std::uint32_t reason, std::uint32_t extended) override;
    void put_ConnectToAdministerServer(VariantBool value) override {
        m_values.console = value != VariantBool::False;
    }
    void put_EnableCredSspSupport(VariantBool value) override {
        m_values.credSsp = value != VariantBool::False;
    }
    VariantBool get_RedirectDynamicDrives() override {
        return ToVariantBool(m_values.dynamicDrives);
    }
    void put_RedirectDynamicDrives(VariantBool value) override {
        m_values.dynamicDrives = value != VariantBool::False;
    }
    std::uint32_t get_DriveCount() override;
    RdpDrive& DriveByIndex(std::uint32_t index) override;
    void NotifyRedirectDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) override;

    // Whether a connection is under way or established: from Connect() to its end.
    bool HasConnection() const { return m_connection != nullptr; }
    // Called on the user-interface thread when the text shown without a
    // connection may have changed: DisconnectedText was put, a connection
    // began or ended.
    void SetDisconnectedTextHandler(std::function<void()> handler) {
        m_textChanged = std::move(handler);
    }

    // Runs `use` with the frame while painting is held off; false when no
    // session is showing one.
    bool WithFrame(const std::function<void(const FrameView&)>& use) const;
    // Called on the user-interface thread with the part of the frame that has
    // changed since the last call (changes in between are merged).
    void SetFrameChangedHandler(std::function<void(FrameArea)> handler) {
        m_frameChanged = std::move(handler);
    }

    // Whether a session is established: from OnConnected to its end.
    bool IsConnected() const { return m_shown; }

    // Input for the remote session, sent from the connection's own thread in
    // the order given; dropped while no session is established. Positions
    // are in remote desktop pixels.
    enum class Button { Left, Right, Middle };
    void SendKey(std::uint32_t xkbKeycode, bool down, bool repeat = false);
    void SendMouseMove(int x, int y);
    void SendMouseButton(Button button, bool down, int x, int y);
    // One notch is 120; negative turns towards the user (or to the left).
    void SendWheel(int delta, bool horizontal, int x, int y);
    void SendLockState(bool capsLock, bool numLock, bool scrollLock);

    // Clipboard text, shared with the session while RedirectClipboard is on:
    // the local clipboard's text as it changes, and a handler that receives
    // the server's (on the user-interface thread).
    void SetLocalClipboardText(const std::string& text);
    void SetRemoteClipboardHandler(std::function<void(const std::string&)> handler) {
        m_remoteClipboard = std::move(handler);
    }

    // The screen's scale, told to the server at the next connect and with
    // every desktop size asked for.
    void SetScreenScale(std::int32_t desktopScale, std::int32_t deviceScale) {
        m_values.desktopScale = desktopScale;
        m_values.deviceScale = deviceScale;
    }
    // Whether the session's server takes new desktop sizes: from the opening
    // of its display-control channel to the end of the session. The handler
    // is called on the user-interface thread when it becomes true.
    bool CanResizeDesktop() const { return m_resizable; }
    void SetDesktopResizableHandler(std::function<void()> handler) {
        m_resizableChanged = std::move(handler);
    }
    // Asks the server for a desktop of this size (device pixels, within the
    // protocol's bounds), with the screen's scale; dropped where the server
    // does not take sizes. The new picture arrives as a frame change.
    void RequestDesktopSize(std::int32_t width, std::int32_t height);

    // Covering the screen when the container leaves it to the client
    // (ContainerHandledFullScreen 0): called on the user-interface thread with
    // true when FullScreen is set, false when it is cleared or the session ends.
    void SetFullScreenHandler(std::function<void(bool)> handler) {
        m_fullScreen = std::move(handler);
    }

    // The full-screen bar's buttons, as the client's own connection bar: with
    // a container that handles full screen they become its requests
    // (OnRequestLeaveFullScreen, OnRequestContainerMinimize); otherwise the
    // client leaves full screen by itself.
    void RequestLeaveFullScreen();
    void RequestContainerMinimize();

    // Waits until every connection of the process has ended its worker thread
    // (a closed client's connection ends on its own, soon). A program calls it
    // before it exits, after its clients are gone; false when time ran out.
    static bool WaitForConnectionsToEnd(std::chrono::milliseconds timeout);
    // Asks every connection of the process to end (each disconnects as after
    // Disconnect()), without their clients, and waits as above. For an end
    // where the clients cannot be closed (the display is gone).
    static bool EndAllConnections(std::chrono::milliseconds timeout);

private:
    // What the connections report. Only the current connection's Shown and
    // Ended act on the session; every Ended reaches the sink.
    void Shown(const FreeRdpConnection& connection) override;
    void Ended(const FreeRdpConnection& connection, DisconnectReason reason) override;
    void FrameChanged(FrameArea area) override;
    void LinkInDoubt(const FreeRdpConnection& connection) override;
    void LinkRestored(const FreeRdpConnection& connection) override;
    void DesktopResizable(const FreeRdpConnection& connection) override;
    void RemoteClipboardText(const std::string& text) override;
    CertificateAnswer AskCertificate(const CertificateQuestion& question) override {
        return m_prompts.AskCertificate(question);
    }
    std::optional<LogonCredentials> AskCredentials(const std::string& server,
                                                   const LogonCredentials& known) override {
        return m_prompts.AskCredentials(server, known);
    }
    void ReportProblem(const std::string& text) override { m_prompts.ReportProblem(text); }

    void Deliver(std::function<void(RdpClientEvents&)> event);
    // Acts on a change of FullScreen while a session shows its picture.
    void ApplyFullScreen(bool was);

    UiPost m_post;
    SessionPrompts& m_prompts;
    RdpClientEvents* m_sink = nullptr;
    ConnectionValues m_values;
    std::int32_t m_extendedReason = 0;
    std::shared_ptr<FreeRdpConnection> m_connection;
    bool m_shown = false;  // between OnConnected and the end of that session
    bool m_resizable = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::vector<std::unique_ptr<RdpDrive>> m_drives;
    std::function<void(FrameArea)> m_frameChanged;
    std::function<void(bool)> m_fullScreen;
    std::function<void()> m_textChanged;
    std::function<void()> m_resizableChanged;
    std::function<void(const std::string&)> m_remoteClipboard;
    std::optional<std::string> m_localClipboard;
};

}  // namespace vandrelle
