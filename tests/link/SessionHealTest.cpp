// SPDX-License-Identifier: GPL-3.0-or-later
// A session over the fake client heals a lost link: fresh connects after the
// back-off, the user's Disconnect, the limit. (The window's side: the main
// window's test; which ends are healed and the waits: LinkHealingTest.)
#include "ConfigStore.h"
#include "FakeRdpClient.h"
#include "RegFileKeyStore.h"
#include "Session.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

namespace vandrelle::test {
namespace {

using namespace std::chrono_literals;

// The session window, recording the timers it is asked for.
struct TimerView : FakeSessionView {
    std::vector<std::tuple<std::uint32_t, int, std::uintptr_t>> timers;
    void PostToSelf(std::uint32_t message, int delayMs, std::uintptr_t wParam) override {
        timers.emplace_back(message, delayMs, wParam);
    }
};

// The engine's resume fails, fresh connects follow with back-off until one is
// through, or until a wait would pass the limit: abandoned then, as a lost
// connection. An end the server chose is not healed; the user's Disconnect
// cancels a healing.
TEST(SessionHealTest, FreshConnectsWithBackOffUntilBackOrTheLimitAndTheUserMayCancel) {
    TempDir dir;
    RegFileKeyStore keys(dir.file("registry.reg"), dir.file("machine.reg"));
    CConfigStore config(keys);
    config.Init();
    FakeRdpClient client;
    TimerView view;
    FakeFrame frame;
    std::unique_ptr<Session> session;
    // A connected session whose link the engine saw die; its healing gives up
    // rather than wait past 3 s.
    const auto linkLost = [&] {
        session.reset();  // the old one lets go of the client first
        session = std::make_unique<Session>(&client, view, frame, config, keys, Properties(),
                                            NodePath({"srv"}));
        session->SetLinkHealLimit(3s);
        session->ConnectSession();
        client.FireConnecting();
        client.FireConnected();
        client.sink->OnAutoReconnecting(0x904, 1);
    };
    // Runs the last timer the session set, as its window would.
    bool handled = false;
    const auto runTimer = [&] {
        const auto [message, delay, wParam] = view.timers.back();
        session->HandleMessage(message, wParam, 0, handled);
    };
    const auto endText = [&] { return client.Values("put_DisconnectedText").back(); };

    linkLost();
    EXPECT_EQ(session->State(), kStateReconnecting);
    EXPECT_EQ(std::get<1>(view.timers.back()), 3000);
    // The resume fails, then a fresh connect: each waits longer.
    for (const auto& [reason, delay] : {std::pair{0x904, 1000}, std::pair{0x204, 2000}}) {
        client.FireDisconnected(reason);
        EXPECT_EQ(std::get<1>(view.timers.back()), delay);
        runTimer();
        client.FireConnecting();
        EXPECT_EQ(session->State(), kStateReconnecting);
    }
    EXPECT_EQ(session->LinkStatus(), "Connection lost \u2014 reconnecting (attempt 3)\u2026");
    client.FireDisconnected(0x204);  // a wait of 4 s would pass the limit
    EXPECT_EQ(session->State(), kStateDisconnected);
    EXPECT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(endText().rfind("Disconnected, reason (2308, 0)"), 0u);

    linkLost();
    client.FireDisconnected(0x904);
    runTimer();
    client.FireConnected();
    EXPECT_EQ(session->LinkStatus(), "");
    client.sink->OnAutoReconnecting(0x904, 1);
    client.FireDisconnected(3);  // the server's choice: not healed
    EXPECT_EQ(session->State(), kStateDisconnected);

    linkLost();
    client.FireDisconnected(0x904);
    session->HandleMessage(WM_APP_DISCONNECT, 0, 0, handled);  // while waiting to connect
    EXPECT_EQ(endText(), "Disconnected, reason (1, 0): Local disconnection.");
    runTimer();
    linkLost();  // while the engine resumes: the client is told to stop
    session->HandleMessage(WM_APP_DISCONNECT, 0, 0, handled);
    EXPECT_EQ(session->LinkStatus(), "");
    EXPECT_TRUE(client.Called("Disconnect"));
    EXPECT_EQ(client.Values("Connect").size(), 7u);  // 1 + 2, 1 + 1, then 1 for each session

    // The limit's timer ends a connection that hangs (a frozen server).
    linkLost();
    const auto limit = view.timers.back();
    client.FireDisconnected(0x904);
    runTimer();
    client.calls.clear();
    view.timers.push_back(limit);
    runTimer();
    EXPECT_TRUE(client.Called("Disconnect"));
    client.FireDisconnected(1);
    EXPECT_EQ(view.errors.size(), 2u);
}

}  // namespace
}  // namespace vandrelle::test
