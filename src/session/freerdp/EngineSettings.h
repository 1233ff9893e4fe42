// SPDX-License-Identifier: GPL-3.0-or-later
// The client's values in the engine's terms.
#pragma once

#include "EngineTypes.h"

#include <freerdp/freerdp.h>

#include <functional>
#include <string>
#include <vector>

namespace vandrelle {

// Sets the engine's settings for a connection made with these values, the
// local devices chosen for redirection among them.
void ApplySettings(rdpSettings* settings, const ConnectionValues& values);

// The transport's watch on the link (see ApplyLinkWatch): the TCP user
// timeout in milliseconds; keep-alive's idle delay and interval in seconds
// and its probe count (used by the kernel only without a user timeout); the
// engine's own resume attempts after a lost link.
inline constexpr UINT32 kTcpAckTimeoutMs = 13000;
inline constexpr UINT32 kKeepAliveDelayS = 5;
inline constexpr UINT32 kKeepAliveIntervalS = 2;
inline constexpr UINT32 kKeepAliveRetries = 5;
inline constexpr UINT32 kEngineResumeTries = 1;

// Sets how a dead link is seen (TCP timeouts, heartbeats) and that the engine
// may resume a session whose link died.
void ApplyLinkWatch(rdpSettings* settings);

// Loads each add-in library of a comma-separated list of paths as a channel.
// One that another user could have written (ResolveSafeAddIn), that does not
// load, or whose entry point fails, is reported and left out. Returns the
// libraries loaded, to be closed once the engine is gone.
std::vector<void*> LoadAddIns(rdpContext* context, const std::string& paths,
                              const std::function<void(const std::string&)>& report);

}  // namespace vandrelle
