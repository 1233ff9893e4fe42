// SPDX-License-Identifier: GPL-3.0-or-later
#include "Session.h"

#include "AddIns.h"
#include "ConfigStore.h"
#include "ErrorText.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace vandrelle {
namespace {

// The contract's reason for a connection lost under a session.
constexpr std::int32_t kReasonLinkLost = 0x904;

constexpr std::string_view kSpace = " \t\r\n\v\f";

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(kSpace) - first + 1));
}

std::string UpperAscii(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

Session::Session(RdpClient* client, SessionView& view, MessageTarget& frame,
                 const CConfigStore& config, KeyStore& keys, Properties record, NodePath path)
    : m_client(client),
      m_view(view),
      m_frame(frame),
      m_config(config),
      m_keys(keys),
      m_record(std::move(record)),
      m_path(std::move(path)) {
    if (m_client) m_client->SetEventSink(this);
}

Session::~Session() {
    Destroy();
}

void Session::Destroy() {
    if (m_destroyed) return;
    m_destroyed = true;
    if (!m_client) return;
    try {
        if (m_state == kStateConnecting || m_state == kStateConnected ||
            (m_state == kStateReconnecting && !m_healWaiting))
            m_client->Disconnect();
    } catch (const RdpError&) {
        // The window goes away whatever the client says.
    }
    m_client->SetEventSink(nullptr);
}

std::intptr_t Session::HandleMessage(std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t /*lParam*/, bool& handled) {
    handled = true;
    switch (message) {
        case WM_APP_CONNECT:
            return ConnectSession();
        case WM_APP_DISCONNECT:
            return Disconnect();
        case WM_APP_HEAL_CONNECT:
            if (wParam == m_healing && m_healWaiting) ConnectSession();
            return 1;
        case WM_APP_HEAL_LIMIT:
            HealLimitReached(wParam);
            return 1;
        case WM_APP_RECONNECT:
        case WM_APP_RECONNECT_FULL_SCREEN:
            return Reconnect(message, wParam);
        case WM_APP_ENTER_FULL_SCREEN:
            m_view.EnterContainerFullScreen();
            if (m_client) {
                try {
                    m_client->put_FullScreen(VariantBool::True);
                } catch (const RdpError&) {
                    // The window covers the screen already; the client's own
                    // full-screen mode is only a refinement.
                }
            }
            return 1;
        default:
            handled = false;
            return 0;
    }
}

// A reconnect waits for the disconnection by reposting itself, carrying in
// wParam how many connects the session had made when the request came
// (plus one, so that 0 is a new request) and how often it has waited. A
// request that finds a connect made since it came is done: an earlier
// request reconnected the session.
std::intptr_t Session::Reconnect(std::uint32_t message, std::uintptr_t wParam) {
    constexpr int kPollBits = 16;
    static_assert(kReconnectMaxPolls < (1 << kPollBits));
    const std::uint64_t connectsThen = wParam != 0 ? (wParam >> kPollBits) - 1 : m_connects;
    int polls = static_cast<int>(wParam & ((1u << kPollBits) - 1));
    if (connectsThen != m_connects) return 1;
    if (m_state != kStateDisconnected || m_connectRequested) {
        if (++polls > kReconnectMaxPolls) {
            m_view.ShowError(
                "Reconnect abandoned: the session did not disconnect within 30 seconds.");
            return 1;
        }
        m_view.PostToSelf(message, kReconnectPollMs,
                          static_cast<std::uintptr_t>(((connectsThen + 1) << kPollBits) |
                                                      static_cast<std::uint64_t>(polls)));
        return 1;
    }
    if (message == WM_APP_RECONNECT) {
        ConnectSession();
    } else {
        const int remembered = m_record.FullScreen;
        m_record.FullScreen = 1;
        ConnectSession();
        m_record.FullScreen = remembered;
    }
    return 1;
}

// The user's Disconnect also cancels the healing of a lost link: a session
// waiting for its next connect ends at once, one with a connection under way
// when that ends.
std::intptr_t Session::Disconnect() {
    if (m_healer.Active()) {
        EndHealing();
        if (m_healWaiting) {
            ShowDisconnected(1);
            return 1;
        }
    }
    if (m_state != kStateDisconnected && m_client) {
        try {
            m_client->Disconnect();
        } catch (const RdpError& e) {
            m_view.ShowError("Cannot disconnect: " + ErrorText(e));
        }
    }
    return 1;
}

void Session::FollowStoredServer() {
    if (m_path.IsTop()) return;  // a quick connection's tab: no server in the tree
    Properties stored;
    try {
        m_config.LoadProperties(m_path, stored);  // a node not found leaves the name empty
    } catch (const ConfigError&) {
    }
    m_serverGone = stored.Name.empty();
    if (m_serverGone) return;
    stored.ConnectToServerConsole = m_record.ConnectToServerConsole;
    m_record = std::move(stored);
}

// Also the next fresh connect of a healing (the client is idle then).
std::intptr_t Session::ConnectSession() {
    if ((m_state != kStateDisconnected && !m_healWaiting) || m_connectRequested) return 0;
    if (!m_client) {
        m_view.ShowError("Create remote desktop failed. See readme.txt to download RDP.");
        return 1;
    }
    if (std::exchange(m_serverGone, false)) {
        m_view.ShowError("\"" + m_record.Name +
                         "\" is no longer in the configuration file (another program changed "
                         "it). This connection uses the settings it had.");
    }
    try {
        m_client->put_Server(m_record.Server);
    } catch (const RdpError& e) {
        m_view.ShowError("Server name error: " + ErrorText(e));
        return 1;
    }
    try {
        ApplyRecord(*m_client);
        m_connectRequested = true;
        m_healWaiting = false;
        ++m_connects;
        m_client->Connect();
    } catch (const RdpError& e) {
        m_connectRequested = false;
        m_view.ShowError("Cannot connect: " + ErrorText(e));
        if (m_healer.Active()) {
            EndHealing();
            ShowDisconnected(1);
        }
    }
    return 1;
}

void Session::ApplyRecord(RdpClient& client) {
    if (m_view.IsShiftDown()) {
        client.put_UserName("");
        client.put_ClearTextPassword("");
        client.put_Domain("");
    } else {
        client.put_UserName(m_record.UserName);
        if (!m_record.Password.empty()) client.put_ClearTextPassword(m_record.Password);
        client.put_Domain(m_record.Domain);
    }
    if (m_record.RDPPort != 0) client.put_RDPPort(m_record.RDPPort);
    const VariantBool console = ToVariantBool(m_record.ConnectToServerConsole);
    client.put_ConnectToServerConsole(console);
    if (RdpClient6* six = client.AsClient6()) six->put_ConnectToAdministerServer(console);
    ApplyDesktopSize(client);
    if (m_record.ColorDepth != 0) client.put_ColorDepth(m_record.ColorDepth);
    if (m_record.FullScreen != 0) {
        const Size screen = m_view.PrimaryScreenSize();
        client.put_DesktopWidth(screen.width);
        client.put_DesktopHeight(screen.height);
        if (client.get_FullScreen() == VariantBool::True) {
            m_view.EnterContainerFullScreen();
        } else {
            client.put_FullScreen(VariantBool::True);
        }
    } else {
        client.put_FullScreen(VariantBool::False);
    }
    client.put_AudioRedirectionMode(m_record.AudioRedirectionMode);
    client.put_KeyboardHookMode(m_record.KeyboardHookMode);
    client.put_PerformanceFlags(m_record.PerformanceFlags);
    if (m_record.PerformanceFlags & 0x4) {
        client.put_PerformanceFlags(client.get_PerformanceFlags() | 0x10);
    }
    client.put_BitmapPersistence(m_record.BitmapPersistence);
    client.put_RedirectPrinters(ToVariantBool(m_record.RedirectPrinters));
    if (RdpClient5* five = client.AsClient5()) {
        five->put_RedirectClipboard(ToVariantBool(m_record.RedirectClipboard));
    }
    client.put_RedirectPorts(ToVariantBool(m_record.RedirectPorts));
    client.put_RedirectSmartCards(ToVariantBool(m_record.RedirectSmartCards));
    RdpClientNonScriptable3* ns3 = client.AsNonScriptable3();
    client.put_RedirectDrives(ToVariantBool(m_record.RedirectDrives));
    if (m_record.RedirectDrives != 0) {
        if (ns3) {
            ApplyDrives(*ns3);
        } else {
            m_view.ShowError("Cannot redirect specified drives. See readme.txt to download RDP 6.");
        }
    }
    if (ns3) ns3->put_EnableCredSspSupport(VariantBool::True);
    const std::string addIns = GetAddInList(m_keys);
    if (!addIns.empty()) client.put_PluginDlls(addIns);
    client.put_ContainerHandledFullScreen(1);
}

void Session::ApplyDesktopSize(RdpClient& client) {
    const Size area = m_view.ClientSize();
    const std::int64_t w = m_record.DesktopWidth;
    const std::int64_t h = m_record.DesktopHeight;
    std::int64_t width = area.width, height = area.height;
    if (w > 0 || h > 0) {
        width = w;
        height = h;
    } else if (w != 0 || h != 0) {
        // Fit with a margin of -w on the left and right and -h at top and bottom.
        const std::int64_t mw = area.width + 2 * w, mh = area.height + 2 * h;
        if (mw > 0 && mh > 0) {
            width = mw;
            height = mh;
        }
    }
    client.put_DesktopWidth(static_cast<std::int32_t>(width));
    client.put_DesktopHeight(static_cast<std::int32_t>(height));
}

void Session::ApplyDrives(RdpClientNonScriptable3& drives) {
    const std::string list = UpperAscii(Trim(m_record.DriveCollection));
    if (list.empty()) {
        drives.put_RedirectDynamicDrives(VariantBool::True);
        return;
    }
    for (std::uint32_t i = 0; i < drives.get_DriveCount(); ++i) {
        RdpDrive& drive = drives.DriveByIndex(i);
        const std::string name = drive.get_Name();
        const auto colon = name.rfind(':');
        if (colon == std::string::npos || colon == 0) continue;
        const bool listed = list.find(name[colon - 1]) != std::string::npos;
        drive.put_RedirectionState(listed ? VariantBool::True : VariantBool::False);
    }
    drives.put_RedirectDynamicDrives(list.find("$:") != std::string::npos ? VariantBool::True
                                                                          : VariantBool::False);
}

void Session::SetState(std::int32_t state) {
    m_state = state;
    m_frame.Post(WM_APP_SESSION_STATE, static_cast<std::uintptr_t>(state), m_view.WindowId());
}

void Session::OnConnecting() {
    m_connectRequested = false;
    SetState(m_healer.Active() ? kStateReconnecting : kStateConnecting);
}

void Session::OnConnected() {
    m_connectRequested = false;
    if (m_healer.Active()) EndHealing();
    SetState(kStateConnected);
    m_view.Relayout();
}

std::string Session::ReasonText(std::int32_t reason) {
    switch (reason) {
        case 1:
            return "Local disconnection.";
        case 2:
            return "Remote disconnection by user.";
        case 3:
            return "Remote disconnection by server.";
        default:
            break;
    }
    try {
        return m_client->AsClient5()->GetErrorDescription(
            static_cast<std::uint32_t>(reason),
            static_cast<std::uint32_t>(m_client->get_ExtendedDisconnectReason()));
    } catch (const RdpError& e) {
        return ErrorText(e);
    }
}

void Session::OnDisconnected(std::int32_t reason) {
    m_connectRequested = false;
    if (m_healer.Active() && HealEnded(reason)) return;
    ShowDisconnected(reason);
}

void Session::ShowDisconnected(std::int32_t reason) {
    m_healWaiting = false;
    m_state = kStateDisconnected;
    if (m_view.IsContainerFullScreen()) m_view.LeaveContainerFullScreen();
    if (m_client && m_client->AsClient5()) {
        const std::string text = ReasonText(reason);
        if (reason == 2 && m_config.GetCloseTabOnLogOff() != 0) m_state = kStateLoggedOff;
        try {
            const std::string full = "Disconnected, reason (" + std::to_string(reason) + ", " +
                                     std::to_string(m_client->get_ExtendedDisconnectReason()) +
                                     "): " + text;
            m_client->put_DisconnectedText(CutToUtf16Units(full, 259));
        } catch (const RdpError&) {
            // The text is a courtesy; the state report below is what matters.
        }
    }
    SetState(m_state);
}

std::string Session::LinkStatus() const {
    return m_healer.Active() ? ReconnectingText(m_healer.Attempt()) : std::string();
}

// The client resumes a connected session whose link died; if that fails,
// fresh connects follow (HealEnded) until the limit, whose timer starts now.
void Session::OnAutoReconnecting(std::int32_t, std::int32_t) {
    if (m_state != kStateConnected && m_state != kStateReconnecting) return;
    if (!m_healer.Active()) {
        ++m_healing;
        m_giveUp = false;
        m_view.PostToSelf(WM_APP_HEAL_LIMIT, static_cast<int>(m_healer.Limit().count()), m_healing);
    }
    m_healer.LinkInDoubt(std::chrono::steady_clock::now());
    ShowHealing();
}

void Session::OnAutoReconnected() {
    if (!m_healer.Active()) return;
    EndHealing();
    SetState(kStateConnected);
}

void Session::ShowHealing() {
    m_view.ShowLinkDown(true, LinkStatus());
    SetState(kStateReconnecting);
}

// A healing session ended a connection: true when it connects again after
// the back-off. Otherwise the healing is over: the server or the user ended
// the session (which ends as any other), or the link did not come back in
// time (abandoned, as a lost connection).
bool Session::HealEnded(std::int32_t& reason) {
    std::int32_t extended = 0;
    try {
        extended = m_client->get_ExtendedDisconnectReason();
    } catch (const RdpError&) {
        // Without it the end counts as the reason alone says.
    }
    const auto decision = m_giveUp
                              ? LinkHealer::Decision{LinkHealer::Step::GiveUp, {}}
                              : m_healer.Ended(reason, extended, std::chrono::steady_clock::now());
    if (decision.step == LinkHealer::Step::Retry) {
        m_healWaiting = true;
        m_view.PostToSelf(WM_APP_HEAL_CONNECT, static_cast<int>(decision.delay.count()), m_healing);
        ShowHealing();
        return true;
    }
    EndHealing();
    if (decision.step == LinkHealer::Step::GiveUp) {
        reason = kReasonLinkLost;
        m_view.ShowError(AbandonedText(m_healer.Limit()));
    }
    return false;
}

void Session::EndHealing() {
    m_healer.Stop();
    ++m_healing;
    m_giveUp = false;
    m_view.ShowLinkDown(false, {});
}

// The limit passed: a session waiting for its next connect gives up at once,
// one with a connection under way (which may hang on a frozen server) ends
// it and gives up then.
void Session::HealLimitReached(std::uintptr_t healing) {
    if (healing != m_healing || !m_healer.Active()) return;
    if (m_healWaiting) {
        EndHealing();
        m_view.ShowError(AbandonedText(m_healer.Limit()));
        ShowDisconnected(kReasonLinkLost);
        return;
    }
    m_giveUp = true;
    try {
        m_client->Disconnect();
    } catch (const RdpError&) {
        // The connection ends on its own then, and the healing with it.
    }
}

void Session::OnRequestGoFullScreen() {
    m_view.EnterContainerFullScreen();
}

void Session::OnRequestLeaveFullScreen() {
    m_view.LeaveContainerFullScreen();
}

void Session::OnRequestContainerMinimize() {
    m_frame.Post(WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

void Session::OnDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) {
    if (!m_client) return;
    RdpClientNonScriptable3* ns3 = m_client->AsNonScriptable3();
    if (!ns3) return;
    try {
        if (ns3->get_RedirectDynamicDrives() == VariantBool::True) {
            ns3->NotifyRedirectDeviceChange(wParam, lParam);
        }
    } catch (const RdpError&) {
        // A missed device change only means a drive shows up at the next connect.
    }
}

}  // namespace vandrelle
