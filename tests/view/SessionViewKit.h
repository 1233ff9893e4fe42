// SPDX-License-Identifier: GPL-3.0-or-later
// What the session widget's tests share: prompts with a fixed answer, a sink
// that records the client's events, and a poster onto Qt's event loop.
#pragma once

#include "FixedPrompts.h"
#include "FreeRdpClient.h"

#include <QCoreApplication>
#include <QStringList>

namespace vandrelle::test {

class RecordingSink : public RdpClientEvents {
public:
    QStringList events;
    void OnConnecting() override { events << QStringLiteral("connecting"); }
    void OnConnected() override { events << QStringLiteral("connected"); }
    void OnDisconnected(std::int32_t reason) override {
        events << QStringLiteral("disconnected %1").arg(reason);
    }
    void OnRequestGoFullScreen() override { events << QStringLiteral("go full screen"); }
    void OnRequestLeaveFullScreen() override { events << QStringLiteral("leave full screen"); }
    void OnRequestContainerMinimize() override { events << QStringLiteral("minimize"); }
};

inline UiPost QtPost() {
    return [](std::function<void()> task) {
        QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
    };
}

}  // namespace vandrelle::test
