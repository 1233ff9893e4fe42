// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vandrelle {

// Result codes in the platform's form (negative = failure).
using HResult = std::int32_t;

// A member of the client failed. `code` is the result code; `message` is the
// engine's own text for it when it has one (empty otherwise).
class RdpError : public std::runtime_error {
public:
    RdpError(HResult code, std::string message = {})
        : std::runtime_error(message.empty() ? "RDP client error" : message),
          m_code(code),
          m_message(std::move(message)) {}
    HResult code() const { return m_code; }
    const std::string& message() const { return m_message; }

private:
    HResult m_code;
    std::string m_message;
};

// The client's boolean: true is -1, false is 0.
enum class VariantBool : std::int16_t { False = 0, True = -1 };
constexpr VariantBool ToVariantBool(int value) {
    return value != 0 ? VariantBool::True : VariantBool::False;
}

// The events a session handles. They are delivered on the user-interface
// thread, one at a time, never from inside a call into the client.
class RdpClientEvents {
public:
    virtual ~RdpClientEvents() = default;
    virtual void OnConnecting() = 0;
    virtual void OnConnected() = 0;
    virtual void OnDisconnected(std::int32_t reason) = 0;
    virtual void OnRequestGoFullScreen() = 0;
    virtual void OnRequestLeaveFullScreen() = 0;
    virtual void OnRequestContainerMinimize() = 0;
    // The link of a connected session died and the client tries to resume
    // it (`reason` is why it was lost, `attempt` counts from 1); input is not
    // sent meanwhile. OnAutoReconnected follows when it came back,
    // OnDisconnected when it did not. A client that does not resume never
    // sends them.
    virtual void OnAutoReconnecting(std::int32_t /*reason*/, std::int32_t /*attempt*/) {}
    virtual void OnAutoReconnected() {}
};

// One redirectable local drive of the client.
class RdpDrive {
public:
    virtual ~RdpDrive() = default;
    virtual std::string get_Name() const = 0;
    virtual void put_RedirectionState(VariantBool value) = 0;
};

// Optional capability: clipboard setting and error texts.
class RdpClient5 {
public:
    virtual ~RdpClient5() = default;
    virtual void put_RedirectClipboard(VariantBool value) = 0;
    virtual std::string GetErrorDescription(std::uint32_t reason, std::uint32_t extendedReason) = 0;
};

// Optional capability: the administrative session switch.
class RdpClient6 {
public:
    virtual ~RdpClient6() = default;
    virtual void put_ConnectToAdministerServer(VariantBool value) = 0;
};

// Optional capability: credential security, drives and device changes.
class RdpClientNonScriptable3 {
public:
    virtual ~RdpClientNonScriptable3() = default;
    virtual void put_EnableCredSspSupport(VariantBool value) = 0;
    virtual VariantBool get_RedirectDynamicDrives() = 0;
    virtual void put_RedirectDynamicDrives(VariantBool value) = 0;
    virtual std::uint32_t get_DriveCount() = 0;
    virtual RdpDrive& DriveByIndex(std::uint32_t index) = 0;
    virtual void NotifyRedirectDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

// The RDP client behind one session. Every member may throw RdpError.
//
// Connection states and the events that move between them:
//   idle        --Connect()-->               OnConnecting --> connecting
//   connecting  --OnConnected-->             connected
//   connecting  --OnDisconnected(reason)-->  idle   (failure, or Disconnect())
//   connected   --OnDisconnected(reason)-->  idle   (Disconnect(), logoff, network)
//   connected   --OnAutoReconnecting-->      resuming (the link died)
//   resuming    --OnAutoReconnected-->       connected
//   resuming    --OnDisconnected(reason)-->  idle
// Connect() is only called while idle; Disconnect() only while connecting or
// connected, and it returns at once: OnDisconnected(1) follows later. Property
// puts take effect at the next Connect(). The full-screen and minimize
// requests may come while connected.
class RdpClient {
public:
    virtual ~RdpClient() = default;

    // Subscribes the session's handlers (nullptr unsubscribes).
    virtual void SetEventSink(RdpClientEvents* sink) = 0;

    virtual void put_Server(const std::string& value) = 0;
    virtual void put_UserName(const std::string& value) = 0;
    virtual void put_Domain(const std::string& value) = 0;
    virtual void put_DisconnectedText(const std::string& value) = 0;
    virtual void put_DesktopWidth(std::int32_t value) = 0;
    virtual void put_DesktopHeight(std::int32_t value) = 0;
    virtual void Connect() = 0;
    virtual void Disconnect() = 0;

    // Advanced settings.
    virtual void put_PluginDlls(const std::string& value) = 0;
    virtual void put_ContainerHandledFullScreen(std::int32_t value) = 0;
    virtual void put_ColorDepth(std::int32_t value) = 0;
    virtual VariantBool get_FullScreen() = 0;
    virtual void put_FullScreen(VariantBool value) = 0;
    virtual std::int32_t get_ExtendedDisconnectReason() = 0;
    virtual void put_ClearTextPassword(const std::string& value) = 0;
    virtual void put_RDPPort(std::int32_t value) = 0;
    virtual void put_ConnectToServerConsole(VariantBool value) = 0;
    virtual void put_BitmapPersistence(std::int32_t value) = 0;
    virtual void put_RedirectPrinters(VariantBool value) = 0;
    virtual void put_RedirectPorts(VariantBool value) = 0;
    virtual void put_RedirectSmartCards(VariantBool value) = 0;
    virtual void put_RedirectDrives(VariantBool value) = 0;
    virtual std::int32_t get_PerformanceFlags() = 0;
    virtual void put_PerformanceFlags(std::int32_t value) = 0;

    // Secured settings.
    virtual void put_AudioRedirectionMode(std::int32_t value) = 0;
    virtual void put_KeyboardHookMode(std::int32_t value) = 0;

    // Optional capabilities: nullptr when the client lacks them.
    virtual RdpClient5* AsClient5() = 0;
    virtual RdpClient6* AsClient6() = 0;
    virtual RdpClientNonScriptable3* AsNonScriptable3() = 0;
};

}  // namespace vandrelle
