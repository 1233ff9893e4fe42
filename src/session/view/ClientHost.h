// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "RdpClient.h"

#include <functional>
#include <memory>

class QWidget;

namespace vandrelle {

// What a session window hosts: an RDP client and the widget that shows its
// remote desktop. The real host runs the engine; tests host a fake client.
class ClientHost {
public:
    virtual ~ClientHost() = default;
    virtual RdpClient& Client() = 0;
    // A child of the session window that fills it and takes its keyboard focus.
    virtual QWidget* Widget() = 0;
    // The bar that offers to leave full screen and to minimize.
    virtual void SetFullScreenBarVisible(bool visible) = 0;
    // Releases both Windows keys in the remote session, which may have missed
    // their release while the local screen was locked.
    virtual void ReleaseWindowsKeys() = 0;
};

// Makes the host of a new session window (`view`, the hosted widget's parent).
using ClientHostFactory = std::function<std::unique_ptr<ClientHost>(QWidget* view)>;

// Hosts on the RDP engine, their questions asked in dialogs owned by the session window.
ClientHostFactory EngineHosts();

}  // namespace vandrelle
