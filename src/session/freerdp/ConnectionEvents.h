// SPDX-License-Identifier: GPL-3.0-or-later
// What a connection reports to the one who made it.
#pragma once

#include "DisconnectReason.h"
#include "EngineTypes.h"
#include "SessionPrompts.h"

#include <functional>
#include <optional>
#include <string>

namespace vandrelle {

class FreeRdpConnection;

// Every call comes on the user-interface thread, from a task the connection
// posted while its worker went on (or waits, for a question), and only while
// the owner is still there. A connection the owner has let go of, for a newer
// one, still reports: Shown and Ended say which connection speaks.
class ConnectionEvents {
public:
    virtual ~ConnectionEvents() = default;
    // The session is established and shows its picture.
    virtual void Shown(const FreeRdpConnection& connection) = 0;
    // The connection is over, whether or not it ever got through; its worker
    // thread ends next.
    virtual void Ended(const FreeRdpConnection& connection, DisconnectReason reason) = 0;
    // The link died (it timed out, or the server's heartbeat stopped): input
    // is dropped and the picture kept while the engine tries to resume the
    // session. LinkRestored follows when it came back; Ended when it did not.
    virtual void LinkInDoubt(const FreeRdpConnection&) {}
    virtual void LinkRestored(const FreeRdpConnection&) {}
    // The part of the frame painted since the last call (changes in between
    // are merged).
    virtual void FrameChanged(FrameArea area) = 0;
    // The server takes new desktop sizes from now on (its display-control
    // channel is open).
    virtual void DesktopResizable(const FreeRdpConnection&) {}
    // The server's clipboard has this text.
    virtual void RemoteClipboardText(const std::string& text) = 0;
    // The worker waits for the answer; an Abort(), or the question's task
    // dropped unrun (the owner gone), ends the wait as a rejection or a
    // cancelled log-on.
    virtual CertificateAnswer AskCertificate(const CertificateQuestion& question) = 0;
    virtual std::optional<LogonCredentials> AskCredentials(const std::string& server,
                                                           const LogonCredentials& known) = 0;
    // Something the connection could not do but went on without.
    virtual void ReportProblem(const std::string& text) = 0;
};

// Runs a task with the owner's events on the user-interface thread, queued
// behind what is there; the task is dropped, unrun, once the owner is gone.
using ToOwner = std::function<void(std::function<void(ConnectionEvents&)>)>;

}  // namespace vandrelle
