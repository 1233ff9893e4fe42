// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "DesktopFit.h"
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
    // The remote desktop follows the widget's size as `mode` says, where the
    // server takes new sizes; `sized` hears each size asked for and each new
    // size of the picture (remote pixels). A host without a picture ignores it.
    virtual void FollowArea(DesktopMode /*mode*/, std::function<void(int, int)> /*sized*/) {}
};

// Makes the host of a new session window (`view`, the hosted widget's parent).
using ClientHostFactory = std::function<std::unique_ptr<ClientHost>(QWidget* view)>;

// Hosts on the RDP engine, their questions asked in dialogs owned by the session window.
ClientHostFactory EngineHosts();

}  // namespace vandrelle
