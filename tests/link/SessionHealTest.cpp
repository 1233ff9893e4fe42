// SPDX-License-Identifier: GPL-3.0-or-later
// A session over the fake client heals a lost link: fresh connects after the
// back-off, the user's Disconnect, the limit. (The window's side and a logoff
// while the link is down: the main window's test.)
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

// The session window's timers and the held picture, recorded.
struct HealView : FakeSessionView {
    std::vector<std::tuple<std::uint32_t, int, std::uintptr_t>> timers;
    std::string linkDown;  // the status shown while the link is down, "" while up
    void PostToSelf(std::uint32_t message, int delayMs, std::uintptr_t wParam) override {
        FakeSessionView::PostToSelf(message, delayMs, wParam);
        timers.emplace_back(message, delayMs, wParam);
    }
    void ShowLinkDown(bool down, const std::string& status) override {
        linkDown = down ? status : "";
    }
};

class SessionHealTest : public ::testing::Test {
protected:
    SessionHealTest() : keys(dir.file("registry.reg"), dir.file("machine.reg")), config(keys) {
        config.Init();
        config.SetConfigPath(dir.file("Vandrelle.xml"));
        record.Server = "srv";
    }
    // A connected session whose link the engine saw die.
    void LinkLost(std::chrono::milliseconds limit = 5min) {
        session.reset();  // the old one lets go of the client first
        session = std::make_unique<Session>(&client, view, frame, config, keys, record,
                                            NodePath({"srv"}));
        session->SetLinkHealLimit(limit);
        session->ConnectSession();
        client.FireConnecting();
        client.FireConnected();
        frame.posted.clear();
        client.sink->OnAutoReconnecting(0x904, 1);
    }
    // Runs the last timer the session set, as its window would.
    void RunTimer() {
        bool handled = false;
        const auto [message, delay, wParam] = view.timers.back();
        session->HandleMessage(message, wParam, 0, handled);
    }
    int LastDelay() const { return std::get<1>(view.timers.back()); }
    std::uintptr_t LastState() const { return frame.posted.back().wParam; }
    std::size_t Connects() const { return client.Values("Connect").size(); }

    TempDir dir;
    RegFileKeyStore keys;
    CConfigStore config;
    Properties record;
    FakeRdpClient client;
    HealView view;
    FakeFrame frame;
    std::unique_ptr<Session> session;
};

// The engine's resume fails, fresh connects follow with back-off until one
// is through. The user's Disconnect cancels a healing; a session the server
// closed without the engine's word is not healed.
TEST_F(SessionHealTest, FreshConnectsWithBackOffUntilBackAndTheUserMayCancel) {
    LinkLost();
    EXPECT_EQ(LastState(), static_cast<std::uintptr_t>(kStateReconnecting));
    EXPECT_EQ(std::get<0>(view.timers.back()), WM_APP_HEAL_LIMIT);
    EXPECT_EQ(LastDelay(), 300000);
    const struct {
        std::int32_t reason;
        int delay;
    } failures[] = {{0x904, 1000}, {0x204, 2000}, {0x104, 4000}};  // resume, then connects
    for (const auto& f : failures) {
        client.FireDisconnected(f.reason);
        EXPECT_EQ(LastDelay(), f.delay);
        const std::size_t before = Connects();
        RunTimer();
        EXPECT_EQ(Connects(), before + 1);
        client.FireConnecting();
        EXPECT_EQ(LastState(), static_cast<std::uintptr_t>(kStateReconnecting));
    }
    EXPECT_EQ(view.linkDown, "Connection lost \u2014 reconnecting (attempt 4)\u2026");
    client.FireConnected();
    EXPECT_EQ(view.linkDown, "");
    client.FireDisconnected(0x904);  // the server closed: no word of a dead link
    EXPECT_EQ(LastState(), static_cast<std::uintptr_t>(kStateDisconnected));

    LinkLost();
    client.FireDisconnected(0x904);
    bool handled = false;
    session->HandleMessage(WM_APP_DISCONNECT, 0, 0, handled);  // while waiting to connect
    EXPECT_EQ(client.Values("put_DisconnectedText").back(),
              "Disconnected, reason (1, 0): Local disconnection.");
    RunTimer();
    LinkLost();  // while the engine resumes: the client is told to stop
    session->HandleMessage(WM_APP_DISCONNECT, 0, 0, handled);
    EXPECT_EQ(view.linkDown, "");
    EXPECT_TRUE(client.Called("Disconnect"));
    EXPECT_EQ(Connects(), 6u);  // 1 + 3, then one connect for each session after
    EXPECT_TRUE(view.errors.empty());
}

TEST_F(SessionHealTest, GivesUpAtTheLimitAsALostConnection) {
    LinkLost(3s);
    client.FireDisconnected(0x904);  // waits 1 s
    RunTimer();
    client.FireDisconnected(0x204);  // waits 2 s: 3 s in all
    RunTimer();
    client.FireDisconnected(0x204);  // 4 s more would pass the limit
    EXPECT_EQ(LastState(), static_cast<std::uintptr_t>(kStateDisconnected));
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_NE(view.errors[0].find("within 3 seconds"), std::string::npos);
    EXPECT_EQ(client.Values("put_DisconnectedText").back().rfind("Disconnected, reason (2308, 0)"),
              0u);

    // The limit's timer ends a connection that hangs (a frozen server).
    LinkLost(3s);
    const auto limit = view.timers.back();
    client.FireDisconnected(0x904);
    RunTimer();
    client.FireConnecting();
    view.timers.push_back(limit);
    RunTimer();
    EXPECT_TRUE(client.Called("Disconnect"));
    client.FireDisconnected(1);
    EXPECT_EQ(view.errors.size(), 2u);
    EXPECT_EQ(client.Values("put_DisconnectedText").back().rfind("Disconnected, reason (2308, 0)"),
              0u);
}

}  // namespace
}  // namespace vandrelle::test
