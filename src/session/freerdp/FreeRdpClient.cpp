// SPDX-License-Identifier: GPL-3.0-or-later
#include "FreeRdpClient.h"

#include "DisconnectReason.h"
#include "FreeRdpConnection.h"
#include "LocalDevices.h"

#include <freerdp/error.h>
#include <freerdp/input.h>
#include <winpr/input.h>

#include <algorithm>

static_assert(vandrelle::kEngineDnsNameNotFound == FREERDP_ERROR_DNS_NAME_NOT_FOUND);
static_assert(vandrelle::kEngineConnectFailed == FREERDP_ERROR_CONNECT_FAILED);
static_assert(vandrelle::kEngineConnectTransportFailed == FREERDP_ERROR_CONNECT_TRANSPORT_FAILED);
static_assert(vandrelle::kEngineConnectCancelled == FREERDP_ERROR_CONNECT_CANCELLED);

namespace vandrelle {
namespace {

std::string EngineErrorText(std::uint32_t code) {
    const char* text = freerdp_get_last_error_string(code);
    return text ? text : "Connection failed.";
}

std::string ErrorInfoText(std::uint32_t code) {
    const char* text = freerdp_get_error_info_string(code);
    return text ? text : "";
}

// A drive of the collection; its choice is kept in the client's values.
class CollectionDrive : public RdpDrive {
public:
    explicit CollectionDrive(ConnectionValues::Drive& drive) : m_drive(drive) {}
    std::string get_Name() const override { return m_drive.name; }
    void put_RedirectionState(VariantBool value) override {
        m_drive.redirected = value != VariantBool::False;
    }

private:
    ConnectionValues::Drive& m_drive;
};

}  // namespace

FreeRdpClient::FreeRdpClient(UiPost post, SessionPrompts& prompts)
    : m_post(std::move(post)), m_prompts(prompts) {
    for (const LocalDrive& d : MountedVolumes()) {
        m_values.driveCollection.push_back({d.name, d.path, true});
    }
    for (auto& d : m_values.driveCollection)
        m_drives.push_back(std::make_unique<CollectionDrive>(d));
}

FreeRdpClient::~FreeRdpClient() {
    *m_alive = false;
    m_alive.reset();  // queued events for this client are dropped from now on
    if (m_connection) m_connection->Abort();
}

void FreeRdpClient::Deliver(std::function<void(RdpClientEvents&)> event) {
    m_post([alive = std::weak_ptr<bool>(m_alive), this, event] {
        if (alive.lock() && m_sink) event(*m_sink);
    });
}

void FreeRdpClient::put_Server(const std::string& value) {
    if (value.empty() || value.find_first_of(" \t\r\n/\\") != std::string::npos) {
        throw RdpError(static_cast<HResult>(0x80070057), "The server name is not valid.");
    }
    m_values.server = value;
}

void FreeRdpClient::put_ColorDepth(std::int32_t value) {
    if (value != 8 && value != 15 && value != 16 && value != 24 && value != 32) {
        throw RdpError(static_cast<HResult>(0x80070057), "The colour depth is not valid.");
    }
    m_values.colorDepth = value;
}

void FreeRdpClient::put_RDPPort(std::int32_t value) {
    if (value < 1 || value > 65535) {
        throw RdpError(static_cast<HResult>(0x80070057), "The port is not valid.");
    }
    m_values.port = value;
}

// Full screen belongs to a session that shows its picture: a value given
// before the connect waits for it (Shown), and the end of the session gives
// the screen back (Ended).
void FreeRdpClient::put_FullScreen(VariantBool value) {
    const bool was = m_values.fullScreen;
    m_values.fullScreen = value != VariantBool::False;
    if (m_shown) ApplyFullScreen(was);
}

void FreeRdpClient::ApplyFullScreen(bool was) {
    const bool on = m_values.fullScreen;
    if (m_values.containerHandledFullScreen) {
        if (on) {
            Deliver([](RdpClientEvents& sink) { sink.OnRequestGoFullScreen(); });
        } else if (was) {
            Deliver([](RdpClientEvents& sink) { sink.OnRequestLeaveFullScreen(); });
        }
    } else if (on != was && m_fullScreen) {
        m_fullScreen(on);
    }
}

void FreeRdpClient::Shown(const FreeRdpConnection& connection) {
    if (m_connection.get() != &connection) return;
    m_shown = true;
    if (m_sink) m_sink->OnConnected();
    if (m_values.fullScreen) ApplyFullScreen(false);
}

// Every connection's end is told to the sink, also one that was replaced by
// a later Connect(); only the current one's ends the session.
void FreeRdpClient::Ended(const FreeRdpConnection& connection, DisconnectReason reason) {
    if (m_connection.get() == &connection) {
        m_connection.reset();
        m_shown = false;
        m_resizable = false;
        // A screen the client covers itself is given back; a container leaves
        // full screen on the disconnection by itself.
        const bool was = m_values.fullScreen;
        m_values.fullScreen = false;
        if (!m_values.containerHandledFullScreen && was && m_fullScreen) m_fullScreen(false);
    }
    m_extendedReason = reason.extended;
    if (m_sink) m_sink->OnDisconnected(reason.reason);
    if (m_textChanged) m_textChanged();
}

void FreeRdpClient::LinkInDoubt(const FreeRdpConnection& connection) {
    if (m_connection.get() == &connection && m_sink)
        m_sink->OnAutoReconnecting(kReasonSocketClosed, 1);
}

void FreeRdpClient::LinkRestored(const FreeRdpConnection& connection) {
    if (m_connection.get() == &connection && m_sink) m_sink->OnAutoReconnected();
}

void FreeRdpClient::FrameChanged(FrameArea area) {
    if (m_frameChanged) m_frameChanged(area);
}

void FreeRdpClient::DesktopResizable(const FreeRdpConnection& connection) {
    if (m_connection.get() != &connection) return;
    m_resizable = true;
    if (m_resizableChanged) m_resizableChanged();
}

void FreeRdpClient::RequestDesktopSize(std::int32_t width, std::int32_t height) {
    if (!m_connection || !m_resizable) return;
    m_connection->RequestLayout({width, height, m_values.desktopScale, m_values.deviceScale});
}

void FreeRdpClient::RemoteClipboardText(const std::string& text) {
    m_localClipboard = text;  // it came from there: not to be offered back
    if (m_remoteClipboard) m_remoteClipboard(text);
}

void FreeRdpClient::Connect() {
    m_extendedReason = 0;
    m_resizable = false;
    ToOwner toOwner = [post = m_post, alive = std::weak_ptr<bool>(m_alive),
                       owner = static_cast<ConnectionEvents*>(this)](
                          std::function<void(ConnectionEvents&)> task) {
        post([alive, owner, task] {
            if (alive.lock()) task(*owner);
        });
    };
    m_connection = std::make_shared<FreeRdpConnection>(m_values, std::move(toOwner));
    if (m_localClipboard) m_connection->SetLocalClipboard(*m_localClipboard);
    Deliver([](RdpClientEvents& sink) { sink.OnConnecting(); });
    if (m_textChanged) m_textChanged();
    m_connection->Start();
}

void FreeRdpClient::Disconnect() {
    if (m_connection) m_connection->Abort();
}

bool FreeRdpClient::WaitForConnectionsToEnd(std::chrono::milliseconds timeout) {
    return FreeRdpConnection::WaitForAllToEnd(timeout);
}

bool FreeRdpClient::EndAllConnections(std::chrono::milliseconds timeout) {
    FreeRdpConnection::AbortAll();
    return FreeRdpConnection::WaitForAllToEnd(timeout);
}

std::string FreeRdpClient::GetErrorDescription(std::uint32_t reason, std::uint32_t extended) {
    return DescribeDisconnect(static_cast<std::int32_t>(reason),
                              static_cast<std::int32_t>(extended), EngineErrorText, ErrorInfoText);
}

bool FreeRdpClient::WithFrame(const std::function<void(const FrameView&)>& use) const {
    return m_connection && m_connection->WithFrame(use);
}

void FreeRdpClient::SendKey(std::uint32_t xkbKeycode, bool down, bool repeat) {
    if (!m_connection) return;
    const DWORD vk = GetVirtualKeyCodeFromKeycode(xkbKeycode, WINPR_KEYCODE_TYPE_XKB);
    const DWORD scancode = GetVirtualScanCodeFromVirtualKeyCode(vk, WINPR_KBD_TYPE_IBM_ENHANCED);
    if (scancode == 0) return;
    m_connection->QueueInput({InputEvent::Kind::Key, scancode, down, repeat, 0, 0});
}

namespace {

std::uint16_t Clamp(int value, int size) {
    return static_cast<std::uint16_t>(std::clamp(value, 0, std::max(0, size - 1)));
}

}  // namespace

void FreeRdpClient::SendMouseMove(int x, int y) {
    if (!m_connection) return;
    m_connection->QueueInput(
        {InputEvent::Kind::Mouse, PTR_FLAGS_MOVE, false, false, Clamp(x, 65536), Clamp(y, 65536)});
}

void FreeRdpClient::SendMouseButton(Button button, bool down, int x, int y) {
    if (!m_connection) return;
    std::uint32_t flags = button == Button::Left    ? PTR_FLAGS_BUTTON1
                          : button == Button::Right ? PTR_FLAGS_BUTTON2
                                                    : PTR_FLAGS_BUTTON3;
    if (down) flags |= PTR_FLAGS_DOWN;
    m_connection->QueueInput(
        {InputEvent::Kind::Mouse, flags, down, false, Clamp(x, 65536), Clamp(y, 65536)});
}

void FreeRdpClient::SendWheel(int delta, bool horizontal, int x, int y) {
    if (!m_connection || delta == 0) return;
    // The protocol carries a 9-bit two's complement rotation; send large turns in pieces.
    while (delta != 0) {
        const int step = std::clamp(delta, -255, 255);
        delta -= step;
        std::uint32_t flags = horizontal ? PTR_FLAGS_HWHEEL : PTR_FLAGS_WHEEL;
        if (step < 0)
            flags |= PTR_FLAGS_WHEEL_NEGATIVE | (static_cast<std::uint32_t>(0x200 + step) & 0xFF);
        else
            flags |= static_cast<std::uint32_t>(step) & 0xFF;
        m_connection->QueueInput(
            {InputEvent::Kind::Mouse, flags, false, false, Clamp(x, 65536), Clamp(y, 65536)});
    }
}

void FreeRdpClient::SendLockState(bool capsLock, bool numLock, bool scrollLock) {
    if (!m_connection) return;
    std::uint32_t flags = 0;
    if (capsLock) flags |= KBD_SYNC_CAPS_LOCK;
    if (numLock) flags |= KBD_SYNC_NUM_LOCK;
    if (scrollLock) flags |= KBD_SYNC_SCROLL_LOCK;
    m_connection->QueueInput({InputEvent::Kind::Sync, flags, false, false, 0, 0});
}

void FreeRdpClient::SetLocalClipboardText(const std::string& text) {
    if (m_localClipboard == text) return;
    m_localClipboard = text;
    if (m_connection) m_connection->SetLocalClipboard(text);
}

void FreeRdpClient::RequestLeaveFullScreen() {
    if (m_values.containerHandledFullScreen) {
        Deliver([](RdpClientEvents& sink) { sink.OnRequestLeaveFullScreen(); });
    } else {
        put_FullScreen(VariantBool::False);
    }
}

void FreeRdpClient::RequestContainerMinimize() {
    Deliver([](RdpClientEvents& sink) { sink.OnRequestContainerMinimize(); });
}

std::uint32_t FreeRdpClient::get_DriveCount() {
    return static_cast<std::uint32_t>(m_drives.size());
}

RdpDrive& FreeRdpClient::DriveByIndex(std::uint32_t index) {
    if (index >= m_drives.size()) throw RdpError(static_cast<HResult>(0x80070057));
    return *m_drives[index];
}

void FreeRdpClient::NotifyRedirectDeviceChange(std::uintptr_t, std::intptr_t) {
    // The engine watches the mounts itself for drives plugged in later.
}

}  // namespace vandrelle
