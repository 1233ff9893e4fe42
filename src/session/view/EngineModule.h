// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ClientHost.h"

// The entry points of the engine module (vandrelle-engine.so), which the
// program loads when its first session opens; it looks them up by these names.
// Both sides are built together, so C++ types cross freely.
extern "C" {

// A new host on the RDP engine for the session window `view` (EngineHosts());
// the caller owns it.
vandrelle::ClientHost* VandrelleEngineHost(QWidget* view);
using VandrelleEngineHostFunction = vandrelle::ClientHost* (*)(QWidget*);

// FreeRdpClient::EndAllConnections and FreeRdpClient::WaitForConnectionsToEnd,
// bounded by `milliseconds`.
bool VandrelleEngineEndAll(long long milliseconds);
bool VandrelleEngineWaitAll(long long milliseconds);
using VandrelleEngineEndFunction = bool (*)(long long);
}
