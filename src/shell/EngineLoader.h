// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ClientHost.h"

#include <QString>

#include <chrono>

namespace vandrelle {

// The engine module as the program finds it: in lib/vandrelle beside the
// folder of the program (bin), in the build as once installed.
QString EngineModulePath();

// Hosts on the engine of the module at `path`, which is loaded (once, for
// the process) when the first host is made, that is when the first session
// opens. A module that cannot be loaded ends the process with the reason, as
// a missing library would have kept it from starting.
ClientHostFactory ModuleEngineHosts(QString path);

// Whether the module was loaded by this process.
bool EngineModuleLoaded();

// FreeRdpClient::EndAllConnections and WaitForConnectionsToEnd of the loaded
// module; true at once when the module was never loaded (no connection was).
bool EndEngineConnections(std::chrono::milliseconds timeout);
bool WaitForEngineConnections(std::chrono::milliseconds timeout);

}  // namespace vandrelle
