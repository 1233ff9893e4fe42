// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "LinkHealing.h"
#include "NodePath.h"
#include "Properties.h"
#include "RdpClient.h"
#include "SessionMessages.h"
#include "SessionView.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace vandrelle {

class CConfigStore;
class KeyStore;

// The logic of one session tab: applies the server's record to its RDP
// client, follows the client's events through the session states and reports
// them to the main frame, and runs the disconnect and reconnect commands.
// Everything runs on the user-interface thread.
class Session : public RdpClientEvents {
public:
    // A reconnect waits for the disconnection by polling at this interval,
    // and gives up after this many polls (30 seconds).
    static constexpr int kReconnectPollMs = 100;
    static constexpr int kReconnectMaxPolls = 300;
    static_assert(kReconnectPollMs * kReconnectMaxPolls >= 30000);

    // `client` is nullptr when the RDP client could not be created; the
    // session then only reports that when told to connect.
    Session(RdpClient* client, SessionView& view, MessageTarget& frame, const CConfigStore& config,
            KeyStore& keys, Properties record, NodePath path);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The window is going away: disconnects a live connection and unsubscribes.
    void Destroy();

    // Handles the session window's private messages; `handled` says whether
    // the message was one of them.
    std::intptr_t HandleMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                                bool& handled);

    // Applies the record to the client and connects. Returns 0 (and does
    // nothing) unless the session is disconnected with no connect under way.
    std::intptr_t ConnectSession();
    // After the configuration was read anew from its file (another writer
    // changed it): the next connect uses what it now says of this server (a
    // tab opened on the console stays so). A server no longer there keeps the
    // settings it had, and the next connect tells the user.
    void FollowStoredServer();

    // A device change seen by the main frame, passed on to the client when it
    // redirects drives plugged in later.
    void OnDeviceChange(std::uintptr_t wParam, std::intptr_t lParam);

    void OnConnecting() override;
    void OnConnected() override;
    void OnDisconnected(std::int32_t reason) override;
    void OnRequestGoFullScreen() override;
    void OnRequestLeaveFullScreen() override;
    void OnRequestContainerMinimize() override;
    void OnAutoReconnecting(std::int32_t reason, std::int32_t attempt) override;
    void OnAutoReconnected() override;

    // How long after its link died a session keeps reconnecting (five
    // minutes unless set).
    void SetLinkHealLimit(std::chrono::milliseconds limit) { m_healer.SetLimit(limit); }
    // What is being done about a lost link ("Connection lost — reconnecting
    // (attempt 2)…"), empty while the link is not being healed.
    std::string LinkStatus() const;

    std::int32_t State() const { return m_state; }
    Properties& Record() { return m_record; }
    const NodePath& Path() const { return m_path; }

private:
    void ApplyRecord(RdpClient& client);
    void ApplyDesktopSize(RdpClient& client);
    void ApplyDrives(RdpClientNonScriptable3& drives);
    void SetState(std::int32_t state);
    std::string ReasonText(std::int32_t reason);
    std::intptr_t Reconnect(std::uint32_t message, std::uintptr_t wParam);
    std::intptr_t Disconnect();
    void ShowHealing();
    bool HealEnded(std::int32_t& reason);
    void EndHealing();
    void HealLimitReached(std::uintptr_t healing);
    void ShowDisconnected(std::int32_t reason);

    RdpClient* m_client;
    SessionView& m_view;
    MessageTarget& m_frame;
    const CConfigStore& m_config;
    KeyStore& m_keys;
    Properties m_record;
    NodePath m_path;
    std::int32_t m_state = kStateDisconnected;
    bool m_connectRequested = false;  // Connect() called, no event seen yet
    std::uint64_t m_connects = 0;     // Connect() calls so far
    bool m_destroyed = false;
    LinkHealer m_healer;
    std::uintptr_t m_healing = 0;  // the current healing; timers of older ones do nothing
    bool m_healWaiting = false;    // healing, no connection under way: a timer will connect
    bool m_giveUp = false;         // the limit passed while a connection was under way
    bool m_serverGone = false;     // no longer in the file; the user is told at the next connect
};

}  // namespace vandrelle
