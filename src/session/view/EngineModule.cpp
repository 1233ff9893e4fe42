// SPDX-License-Identifier: GPL-3.0-or-later
#include "EngineModule.h"

#include "FreeRdpClient.h"

#define VANDRELLE_ENGINE_EXPORT __attribute__((visibility("default")))

extern "C" {

VANDRELLE_ENGINE_EXPORT vandrelle::ClientHost* VandrelleEngineHost(QWidget* view) {
    static const vandrelle::ClientHostFactory hosts = vandrelle::EngineHosts();
    return hosts(view).release();
}

VANDRELLE_ENGINE_EXPORT bool VandrelleEngineEndAll(long long milliseconds) {
    return vandrelle::FreeRdpClient::EndAllConnections(std::chrono::milliseconds(milliseconds));
}

VANDRELLE_ENGINE_EXPORT bool VandrelleEngineWaitAll(long long milliseconds) {
    return vandrelle::FreeRdpClient::WaitForConnectionsToEnd(
        std::chrono::milliseconds(milliseconds));
}
}
