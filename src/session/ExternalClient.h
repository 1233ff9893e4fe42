// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Properties.h"

#include <optional>
#include <string>
#include <vector>

namespace vandrelle {

class CConfigStore;
class NodePath;

// The system's RDP client programs, in the order they are looked for.
inline const std::vector<std::string> kExternalClients = {"xfreerdp3", "xfreerdp", "sdl-freerdp3"};

// The longest command line the launch accepts, in characters.
inline constexpr std::size_t kMaxCommandLine = 4095;

struct ExternalCommand {
    std::string program;
    std::vector<std::string> arguments;
};

// The command for a server's record: "/v:host:port", then "/w:W" "/h:H" when
// both sizes are fixed, "/admin" "/console" for the console session, "/f" for
// full screen or when Shift is held. Credentials are never on the command line.
ExternalCommand BuildExternalCommand(const Properties& record, bool shiftDown,
                                     const std::string& program);

// The first of kExternalClients found on the PATH.
std::optional<std::string> FindExternalClient();

// The command that "Connect with MSTSC" starts for the server at `path`.
// Throws ConfigError when the path does not resolve.
ExternalCommand ExternalCommandFor(const CConfigStore& store, const NodePath& path, bool shiftDown);

// Starts the system's RDP client for the server, detached. Returns false with
// a message when no client is installed, the command line would be longer
// than kMaxCommandLine, or the program cannot be started.
bool LaunchExternalClient(const CConfigStore& store, const NodePath& path, bool shiftDown,
                          std::string* error);

}  // namespace vandrelle
