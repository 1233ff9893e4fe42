// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace vandrelle {

// How a connection ended, as the engine reports it.
struct EngineOutcome {
    bool localDisconnect = false;  // ended by our own Disconnect()
    bool wasActive = false;        // the session had been established
    std::uint32_t errorInfo = 0;   // the server's Set Error Info code
    std::uint32_t lastError = 0;   // the engine's own error code (class << 16 | type)
    // The link died under an established session (timed out, unreachable, or
    // the server's heartbeat stopped) and the engine could not resume it.
    bool linkDied = false;
};

// The client contract's pair: the disconnect reason and the extended reason.
struct DisconnectReason {
    std::int32_t reason = 1;
    std::int32_t extended = 0;
    friend bool operator==(const DisconnectReason&, const DisconnectReason&) = default;
};

// Reasons of the client contract that the engine produces.
inline constexpr std::int32_t kReasonLocal = 1;
inline constexpr std::int32_t kReasonRemoteByUser = 2;
inline constexpr std::int32_t kReasonByServer = 3;
inline constexpr std::int32_t kReasonDnsLookupFailed = 0x104;
inline constexpr std::int32_t kReasonSocketConnectFailed = 0x204;
inline constexpr std::int32_t kReasonLicensingFailed = 0x808;
inline constexpr std::int32_t kReasonSocketClosed = 0x904;

// Engine error codes (the values of the engine's connect error class).
inline constexpr std::uint32_t kEngineDnsNameNotFound = 0x20005;
inline constexpr std::uint32_t kEngineConnectFailed = 0x20006;
inline constexpr std::uint32_t kEngineConnectTransportFailed = 0x2000D;
inline constexpr std::uint32_t kEngineConnectCancelled = 0x2000B;

// Maps an outcome to the contract's reasons: our own disconnect is 1; a
// logoff or disconnect by the remote user 2; licensing failures 0x808; other
// server-side ends 3; a name that does not resolve 0x104; a transport that
// fails before the session is active 0x204, while active 0x904; any other
// engine failure (authentication, TLS, negotiation) its own engine code,
// which is above 0xFFFF. A link that died is 0x904 whatever the failed resume
// left behind, unless the server refused the credentials on the way.
DisconnectReason MapDisconnect(const EngineOutcome& outcome);

// A text for every reason MapDisconnect produces. `engineText(code)` gives the
// engine's own text for an engine code or a Set Error Info code.
std::string DescribeDisconnect(std::int32_t reason, std::int32_t extended,
                               std::string (*engineErrorText)(std::uint32_t),
                               std::string (*errorInfoText)(std::uint32_t));

}  // namespace vandrelle
