// SPDX-License-Identifier: GPL-3.0-or-later
#include "DisconnectReason.h"

namespace vandrelle {
namespace {

// The engine's codes for credentials the server refused (its connect class,
// authentication failed, password expired through no credentials given).
bool IsCredentialFailure(std::uint32_t code) {
    return code == 0x20009 || (code >= 0x2000E && code <= 0x2001B && code != 0x20011);
}

}  // namespace

DisconnectReason MapDisconnect(const EngineOutcome& o) {
    const auto info = static_cast<std::int32_t>(o.errorInfo);
    if (o.errorInfo == 0xB || o.errorInfo == 0xC) return {kReasonRemoteByUser, info};
    if (o.errorInfo >= 0x100 && o.errorInfo <= 0x10A) return {kReasonLicensingFailed, info};
    if (o.localDisconnect) return {kReasonLocal, 0};
    if (o.errorInfo != 0) return {kReasonByServer, info};
    if (o.linkDied && !IsCredentialFailure(o.lastError)) return {kReasonSocketClosed, 0};
    switch (o.lastError) {
        case 0:
            return {o.wasActive ? kReasonByServer : kReasonSocketConnectFailed, 0};
        case kEngineDnsNameNotFound:
            return {kReasonDnsLookupFailed, 0};
        case kEngineConnectFailed:
        case kEngineConnectTransportFailed:
            return {o.wasActive ? kReasonSocketClosed : kReasonSocketConnectFailed, 0};
        case kEngineConnectCancelled:
            return {kReasonLocal, 0};
        default:
            return {static_cast<std::int32_t>(o.lastError), 0};
    }
}

std::string DescribeDisconnect(std::int32_t reason, std::int32_t extended,
                               std::string (*engineErrorText)(std::uint32_t),
                               std::string (*errorInfoText)(std::uint32_t)) {
    std::string text;
    switch (reason) {
        case kReasonLocal:
            text = "Local disconnection.";
            break;
        case kReasonRemoteByUser:
            text = "Remote disconnection by user.";
            break;
        case kReasonByServer:
            text = "Remote disconnection by server.";
            break;
        case kReasonDnsLookupFailed:
            text = "The server's name could not be found.";
            break;
        case kReasonSocketConnectFailed:
            text = "The server could not be reached: the connection was refused or timed out.";
            break;
        case kReasonLicensingFailed:
            text = "The server's licensing failed.";
            break;
        case kReasonSocketClosed:
            text = "The connection to the server was lost.";
            break;
        default:
            text = reason > 0xFFFF ? engineErrorText(static_cast<std::uint32_t>(reason))
                                   : "Disconnected (code " + std::to_string(reason) + ").";
    }
    if (extended != 0) text += " " + errorInfoText(static_cast<std::uint32_t>(extended));
    return text;
}

}  // namespace vandrelle
