// SPDX-License-Identifier: GPL-3.0-or-later
#include "SessionFixture.h"

namespace vandrelle::test {
namespace {

using SessionEventsTest = SessionFixture;

std::intptr_t Handle(Session& s, std::uint32_t message, std::uintptr_t wParam = 0) {
    bool handled = false;
    const std::intptr_t result = s.HandleMessage(message, wParam, 0, handled);
    EXPECT_TRUE(handled);
    return result;
}

TEST_F(SessionEventsTest, StatesFollowTheEventsAndReachTheFrame) {
    Connected();
    EXPECT_EQ(session->State(), kStateConnected);
    EXPECT_EQ(view.events, std::vector<std::string>{"relayout"});
    client.FireDisconnected(1);
    EXPECT_EQ(session->State(), kStateDisconnected);
    EXPECT_EQ(PostedStates(), (std::vector<std::int64_t>{1, 2, 0}));
    EXPECT_EQ(client.Values("put_DisconnectedText"),
              std::vector<std::string>{"Disconnected, reason (1, 0): Local disconnection."});
}

TEST_F(SessionEventsTest, ReasonTextsAndTheExtendedReason) {
    Connected();
    client.extendedReason = 12;
    client.FireDisconnected(3);
    EXPECT_EQ(client.Values("put_DisconnectedText").back(),
              "Disconnected, reason (3, 12): Remote disconnection by server.");
    client.FireDisconnected(2);
    EXPECT_EQ(client.Values("put_DisconnectedText").back(),
              "Disconnected, reason (2, 12): Remote disconnection by user.");
    client.errorDescription = "The host name could not be found.";
    client.extendedReason = 0;
    client.FireDisconnected(0x104);
    EXPECT_EQ(client.Values("GetErrorDescription"), std::vector<std::string>{"260,0"});
    EXPECT_EQ(client.Values("put_DisconnectedText").back(),
              "Disconnected, reason (260, 0): The host name could not be found.");
}

TEST_F(SessionEventsTest, DisconnectedTextIsCutAt259Characters) {
    Connected();
    client.errorDescription = std::string(300, 'x');
    client.FireDisconnected(0x904);
    const std::string text = client.Values("put_DisconnectedText").back();
    EXPECT_EQ(text.size(), 259u);
    EXPECT_EQ(text.rfind("Disconnected, reason (2308, 0): xxx", 0), 0u);

    // Counted in UTF-16 units, never splitting a character.
    client.errorDescription.clear();
    for (int i = 0; i < 200; ++i) client.errorDescription += "\xF0\x9F\x98\x80";  // 2 units each
    client.FireDisconnected(0x904);
    const std::string emoji = client.Values("put_DisconnectedText").back();
    const std::size_t prefix = std::string("Disconnected, reason (2308, 0): ").size();
    EXPECT_EQ((emoji.size() - prefix) % 4, 0u);
    EXPECT_EQ(prefix + (emoji.size() - prefix) / 2, 258u);  // 226 units of emoji fit, not 227
}

TEST_F(SessionEventsTest, RemoteLogoffClosesTheTabOnlyWhenSwitchedOn) {
    Connected();
    client.FireDisconnected(2);
    EXPECT_EQ(PostedStates().back(), 0);

    config.SetCloseTabOnLogOff(1);
    Connected();
    client.FireDisconnected(2);
    EXPECT_EQ(session->State(), kStateLoggedOff);
    EXPECT_EQ(PostedStates().back(), 3);
    // The tab is closed in state 3: no Disconnect when the window goes away.
    session->Destroy();
    EXPECT_FALSE(client.Called("Disconnect"));
    EXPECT_EQ(client.sink, nullptr);

    // Without the error-text capability: no text and no tab closing.
    client.calls.clear();
    client.has5 = false;
    Connected();
    client.FireDisconnected(2);
    EXPECT_EQ(PostedStates().back(), 0);
    EXPECT_FALSE(client.Called("put_DisconnectedText"));
}

TEST_F(SessionEventsTest, DisconnectionLeavesFullScreenBeforeReporting) {
    Connected();
    client.sink->OnRequestGoFullScreen();
    EXPECT_TRUE(view.containerFullScreen);
    const std::size_t postsBefore = frame.posted.size();
    client.FireDisconnected(1);
    EXPECT_FALSE(view.containerFullScreen);
    EXPECT_EQ(view.events, (std::vector<std::string>{"relayout", "enter", "leave"}));
    EXPECT_EQ(frame.posted.size(), postsBefore + 1);

    client.sink->OnRequestContainerMinimize();
    EXPECT_EQ(frame.posted.back(), (FakeFrame::Message{WM_SYSCOMMAND, SC_MINIMIZE, 0}));
}

TEST_F(SessionEventsTest, DisconnectActsOnlyOutsideTheDisconnectedState) {
    Open();
    EXPECT_EQ(Handle(*session, WM_APP_DISCONNECT), 1);
    EXPECT_FALSE(client.Called("Disconnect"));
    session->ConnectSession();
    client.FireConnecting();
    EXPECT_EQ(Handle(*session, WM_APP_DISCONNECT), 1);
    EXPECT_EQ(client.Values("Disconnect").size(), 1u);
    // Closing the tab while connecting disconnects.
    session->Destroy();
    EXPECT_EQ(client.Values("Disconnect").size(), 2u);
}

TEST_F(SessionEventsTest, ReconnectWaitsForTheDisconnectedEvent) {
    Connected();
    client.calls.clear();
    Handle(*session, WM_APP_DISCONNECT);
    EXPECT_EQ(Handle(*session, WM_APP_RECONNECT), 1);
    // Still connected: the reconnect waits on a short timer instead of spinning.
    ASSERT_EQ(view.selfPosts.size(), 1u);
    EXPECT_EQ(view.selfPosts[0].message, WM_APP_RECONNECT);
    EXPECT_GT(view.selfPosts[0].delayMs, 0);
    Handle(*session, WM_APP_RECONNECT, view.selfPosts.back().wParam);
    EXPECT_FALSE(client.Called("Connect"));
    client.FireDisconnected(1);
    Handle(*session, WM_APP_RECONNECT, view.selfPosts.back().wParam);
    const auto names = client.Names();
    const auto disconnectAt = std::find(names.begin(), names.end(), "put_DisconnectedText");
    const auto connectAt = std::find(names.begin(), names.end(), "Connect");
    ASSERT_NE(connectAt, names.end());
    EXPECT_LT(disconnectAt, connectAt);
    EXPECT_EQ(view.selfPosts.size(), 2u);
}

TEST_F(SessionEventsTest, ReconnectGivesUpAfterItsBound) {
    Connected();
    Handle(*session, WM_APP_RECONNECT);
    for (int i = 1; i < Session::kReconnectMaxPolls; ++i) {
        Handle(*session, WM_APP_RECONNECT, view.selfPosts.back().wParam);
    }
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(view.selfPosts.size(), static_cast<std::size_t>(Session::kReconnectMaxPolls));
    Handle(*session, WM_APP_RECONNECT, view.selfPosts.back().wParam);
    EXPECT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.selfPosts.size(), static_cast<std::size_t>(Session::kReconnectMaxPolls));
}

// Reconnect chosen twice before the first disconnection: the first request
// reconnects, the second finds it done and ends without a word.
TEST_F(SessionEventsTest, ReconnectsQueuedTogetherConnectOnceAndEndQuietly) {
    Connected();
    client.calls.clear();
    Handle(*session, WM_APP_DISCONNECT);
    Handle(*session, WM_APP_RECONNECT);
    Handle(*session, WM_APP_DISCONNECT);
    Handle(*session, WM_APP_RECONNECT);
    ASSERT_EQ(view.selfPosts.size(), 2u);
    const auto first = view.selfPosts[0].wParam, second = view.selfPosts[1].wParam;
    client.FireDisconnected(1);
    Handle(*session, WM_APP_RECONNECT, first);
    client.FireConnecting();
    client.FireConnected();
    const std::size_t posts = view.selfPosts.size();
    Handle(*session, WM_APP_RECONNECT, second);
    EXPECT_EQ(client.Values("Connect").size(), 1u);
    EXPECT_EQ(view.selfPosts.size(), posts);  // no more waiting
    EXPECT_TRUE(view.errors.empty());
}

TEST_F(SessionEventsTest, ReconnectInFullScreenIsFullScreenOnce) {
    Open();
    Handle(*session, WM_APP_RECONNECT_FULL_SCREEN);
    EXPECT_EQ(client.Values("put_FullScreen"), std::vector<std::string>{"-1"});
    EXPECT_EQ(session->Record().FullScreen, 0);
    client.FireConnecting();
    client.FireDisconnected(1);
    client.calls.clear();
    Handle(*session, WM_APP_CONNECT);
    EXPECT_EQ(client.Values("put_FullScreen"), std::vector<std::string>{"0"});
}

TEST_F(SessionEventsTest, DeviceChangesReachOnlyClientsThatFollowNewDrives) {
    Open();
    session->OnDeviceChange(0x8000, 77);
    EXPECT_FALSE(client.Called("NotifyRedirectDeviceChange"));
    client.dynamicDrives = VariantBool::True;
    session->OnDeviceChange(0x8000, 77);
    EXPECT_EQ(client.Values("NotifyRedirectDeviceChange"), std::vector<std::string>{"32768,77"});
    client.hasNonScriptable3 = false;
    session->OnDeviceChange(0x8000, 78);
    EXPECT_EQ(client.Values("NotifyRedirectDeviceChange").size(), 1u);
}

TEST_F(SessionEventsTest, EnterFullScreenCoversTheScreenAndTellsTheClient) {
    Connected();
    Handle(*session, WM_APP_ENTER_FULL_SCREEN);
    EXPECT_TRUE(view.containerFullScreen);
    EXPECT_EQ(client.Values("put_FullScreen").back(), "-1");
    bool handled = true;
    session->HandleMessage(0x0401, 0, 0, handled);
    EXPECT_FALSE(handled);
}

}  // namespace
}  // namespace vandrelle::test
