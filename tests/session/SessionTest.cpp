// SPDX-License-Identifier: GPL-3.0-or-later
// A session over the fake client, view and frame: what Connect sends and in
// which order, how the client's events move the session, and the session's
// events: disconnection texts, reconnecting, full screen and new drives.
#include "ConfigStore.h"
#include "FakeRdpClient.h"
#include "KeyStore.h"
#include "RegFileKeyStore.h"
#include "Session.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <memory>

namespace vandrelle::test {
namespace {

// A real configuration store and key store in a temporary folder.
class SessionTest : public ::testing::Test {
protected:
    SessionTest() : keys(dir.file("registry.reg"), dir.file("machine.reg")), config(keys) {
        config.Init();
        config.SetConfigPath(dir.file("Vandrelle.xml"));
        record.Server = "rdp.example";
        record.UserName = "jdoe";
        record.Password = "pw";
        record.Domain = "CORP";
    }

    // Replaces the session; the old one goes first, as its window would.
    Session& Open(RdpClient* withClient) {
        session.reset();
        client.calls.clear();
        session = std::make_unique<Session>(withClient, view, frame, config, keys, record,
                                            NodePath({"srv"}));
        return *session;
    }
    Session& Open() { return Open(&client); }

    void Connected() {
        Open().ConnectSession();
        client.FireConnecting();
        client.FireConnected();
    }

    std::intptr_t Handle(std::uint32_t message, std::uintptr_t wParam = 0) {
        bool handled = false;
        const std::intptr_t result = session->HandleMessage(message, wParam, 0, handled);
        EXPECT_TRUE(handled);
        return result;
    }

    // The values the client was given for one property, comma-separated.
    std::string Sent(const std::string& name) const {
        std::string out;
        for (const std::string& v : client.Values(name)) out += (out.empty() ? "" : ",") + v;
        return out;
    }
    std::string LastText() const { return client.Values("put_DisconnectedText").back(); }

    std::vector<std::int64_t> PostedStates() const {
        std::vector<std::int64_t> states;
        for (const auto& m : frame.posted) {
            if (m.message != WM_APP_SESSION_STATE) continue;
            EXPECT_EQ(m.lParam, view.WindowId());
            states.push_back(static_cast<std::int64_t>(m.wParam));
        }
        return states;
    }

    TempDir dir;
    RegFileKeyStore keys;
    CConfigStore config;
    Properties record;
    FakeRdpClient client;
    FakeSessionView view;
    FakeFrame frame;
    std::unique_ptr<Session> session;
};

TEST_F(SessionTest, ConnectAppliesTheRecordInItsFixedOrder) {
    record.ConnectToServerConsole = 1;
    record.RedirectDrives = 0;
    auto key = keys.CreateKey(Hive::CurrentUser,
                              "Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\A");
    key->WriteString("Name", "/opt/addins/a.so");
    EXPECT_EQ(Open().ConnectSession(), 1);
    EXPECT_EQ(client.Trace(),
              "put_Server=rdp.example put_UserName=jdoe put_ClearTextPassword=pw put_Domain=CORP "
              "put_RDPPort=3389 put_ConnectToServerConsole=-1 put_ConnectToAdministerServer=-1 "
              "put_DesktopWidth=1000 put_DesktopHeight=700 put_ColorDepth=16 put_FullScreen=0 "
              "put_AudioRedirectionMode=0 put_KeyboardHookMode=1 put_PerformanceFlags=384 "
              "put_BitmapPersistence=1 put_RedirectPrinters=0 put_RedirectClipboard=-1 "
              "put_RedirectPorts=0 put_RedirectSmartCards=0 put_RedirectDrives=0 "
              "put_EnableCredSspSupport=-1 put_PluginDlls=/opt/addins/a.so "
              "put_ContainerHandledFullScreen=1 Connect= ");
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(session->State(), kStateDisconnected);  // only events change the state
}

// Fit and margins follow the 1000 x 700 window; full screen sends the record's
// size, then the primary screen's.
TEST_F(SessionTest, DesktopSizeFollowsTheWindowTheMarginAndFullScreen) {
    struct Case {
        int w, h, fullScreen;
        const char* sent;  // widths x heights
    };
    const Case cases[] = {
        {0, 0, 0, "1000x700"},      {-10, -20, 0, "980x660"}, {-600, -20, 0, "1000x700"},
        {-500, -20, 0, "1000x700"}, {0, -20, 0, "1000x660"},  {-10, 0, 0, "980x700"},
        {1280, 0, 0, "1280x0"},     {-10, 600, 0, "-10x600"}, {800, 600, 1, "800,1920x600,1080"},
    };
    for (const Case& c : cases) {
        record.DesktopWidth = c.w;
        record.DesktopHeight = c.h;
        record.FullScreen = c.fullScreen;
        Open().ConnectSession();
        EXPECT_EQ(Sent("put_DesktopWidth") + "x" + Sent("put_DesktopHeight"), c.sent) << c.w;
        EXPECT_EQ(Sent("put_FullScreen"), c.fullScreen ? "-1" : "0");
    }
    EXPECT_TRUE(view.events.empty());
    // A client already in full screen: the window covers the screen at once.
    client.fullScreen = VariantBool::True;
    Open().ConnectSession();
    EXPECT_FALSE(client.Called("put_FullScreen"));
    EXPECT_EQ(view.events, std::vector<std::string>{"enter"});
}

TEST_F(SessionTest, ShiftEmptyValuesAndAnimationsChangeWhatIsSent) {
    view.shiftDown = true;
    Open().ConnectSession();
    EXPECT_EQ(Sent("put_UserName") + Sent("put_ClearTextPassword") + Sent("put_Domain"), "");
    EXPECT_TRUE(client.Called("put_Domain"));
    EXPECT_EQ(session->Record().UserName, "jdoe");

    view.shiftDown = false;
    record.Password.clear();
    record.RDPPort = 0;
    record.ColorDepth = 0;
    record.PerformanceFlags = 0x184;  // animations off: read back what the client keeps
    Open().ConnectSession();
    EXPECT_FALSE(client.Called("put_ClearTextPassword") || client.Called("put_RDPPort") ||
                 client.Called("put_ColorDepth"));
    EXPECT_EQ(Sent("put_UserName"), "jdoe");
    EXPECT_EQ(Sent("put_PerformanceFlags"), "388,404");
    EXPECT_EQ(client.performanceFlags, 0x194);
    record.PerformanceFlags = 0x180;
    Open().ConnectSession();
    EXPECT_EQ(Sent("put_PerformanceFlags"), "384");
    EXPECT_FALSE(client.Called("get_PerformanceFlags"));
}

TEST_F(SessionTest, DriveListsChooseDrivesAndLaterDrives) {
    for (const char* name : {"C:", "D:", "Network (Z:)", "nocolon"}) client.AddDrive(name);
    struct Case {
        int redirect;
        const char* list;
        const char* states;  // per drive: T on, F off, - untouched
        const char *dynamic, *drives;
    };
    const Case cases[] = {{1, "  c: ", "TFF-", "0", "-1"},
                          {1, "D:; z:. $:", "FTT-", "-1", "-1"},
                          {1, " \t ", "----", "-1", "-1"},  // no drive switched off
                          {0, "C:", "----", "", "0"}};
    for (const Case& c : cases) {
        for (auto& d : client.drives) d->state.reset();
        record.RedirectDrives = c.redirect;
        record.DriveCollection = c.list;
        Open().ConnectSession();
        std::string states;
        for (auto& d : client.drives) {
            states += !d->state ? '-' : *d->state == VariantBool::True ? 'T' : 'F';
        }
        EXPECT_EQ(states, c.states) << c.list;
        EXPECT_EQ(Sent("put_RedirectDynamicDrives"), c.dynamic) << c.list;
        EXPECT_EQ(Sent("put_RedirectDrives"), c.drives) << c.list;
    }
    record.RedirectDrives = 1;
    Open().ConnectSession();
    EXPECT_EQ(client.Values("get_DriveCount").size(), 5u);  // read again for every index
}

TEST_F(SessionTest, MissingOptionalCapabilitiesAreSkipped) {
    client.has5 = client.has6 = client.hasNonScriptable3 = false;
    record.RedirectDrives = 1;
    record.DriveCollection = "C:";
    Open().ConnectSession();
    EXPECT_FALSE(client.Called("put_RedirectClipboard") ||
                 client.Called("put_ConnectToAdministerServer") ||
                 client.Called("put_EnableCredSspSupport"));
    EXPECT_EQ(Sent("put_RedirectDrives"), "-1");
    EXPECT_EQ(view.errors,
              std::vector<std::string>{
                  "Cannot redirect specified drives. See readme.txt to download RDP 6."});
    EXPECT_EQ(client.Names().back(), "Connect");
}

TEST_F(SessionTest, ConnectFailuresShowTheirTextAndLeaveTheSessionUsable) {
    const std::pair<std::uint32_t, std::string> cases[] = {
        {0x80040201, "IDispatch error #1"},
        {0x8004FFFF, "IDispatch error #65023"},
        {0x80070057, "Unknown error 0x80070057"},
        {0x80040200, "Unknown error 0x80040200"},
        {0x80004005, "Bad host name."}};  // the engine's own text
    for (const auto& [code, text] : cases) {
        view.errors.clear();
        client.serverPutFailure = static_cast<HResult>(code);
        client.serverPutFailureText = code == 0x80004005 ? "Bad host name.\r\n" : "";
        EXPECT_EQ(Open().ConnectSession(), 1);
        EXPECT_EQ(client.Names(), std::vector<std::string>{"put_Server"});
        EXPECT_EQ(view.errors, std::vector<std::string>{"Server name error: " + text});
    }
    client.serverPutFailure.reset();
    client.connectFailure = static_cast<HResult>(0x80004005);
    EXPECT_EQ(session->ConnectSession(), 1);
    EXPECT_EQ(view.errors.back(), "Cannot connect: Unknown error 0x80004005");
    client.connectFailure.reset();
    EXPECT_EQ(session->ConnectSession(), 1);
    EXPECT_EQ(client.Values("Connect").size(), 2u);
    EXPECT_EQ(session->State(), kStateDisconnected);

    EXPECT_EQ(Open(nullptr).ConnectSession(), 1);
    EXPECT_EQ(view.errors.back(), "Create remote desktop failed. See readme.txt to download RDP.");
}

TEST_F(SessionTest, ConnectIsIgnoredWhileOneIsUnderWay) {
    Open();
    EXPECT_EQ(Handle(WM_APP_CONNECT), 1);
    EXPECT_EQ(Handle(WM_APP_CONNECT), 0);  // no event yet
    client.FireConnecting();
    EXPECT_EQ(session->ConnectSession(), 0);
    client.FireConnected();
    EXPECT_EQ(session->ConnectSession(), 0);
    EXPECT_EQ(client.Values("Connect").size(), 1u);
    client.FireDisconnected(1);
    EXPECT_EQ(session->ConnectSession(), 1);
}

TEST_F(SessionTest, StatesAndDisconnectionTextsFollowTheEvents) {
    Connected();
    EXPECT_EQ(session->State(), kStateConnected);
    EXPECT_EQ(view.events, std::vector<std::string>{"relayout"});
    client.FireDisconnected(1);
    EXPECT_EQ(session->State(), kStateDisconnected);
    EXPECT_EQ(PostedStates(), (std::vector<std::int64_t>{1, 2, 0}));
    EXPECT_EQ(LastText(), "Disconnected, reason (1, 0): Local disconnection.");
    client.extendedReason = 12;
    client.FireDisconnected(3);
    EXPECT_EQ(LastText(), "Disconnected, reason (3, 12): Remote disconnection by server.");
    client.FireDisconnected(2);
    EXPECT_EQ(LastText(), "Disconnected, reason (2, 12): Remote disconnection by user.");
    client.errorDescription = "The host name could not be found.";
    client.extendedReason = 0;
    client.FireDisconnected(0x104);
    EXPECT_EQ(Sent("GetErrorDescription"), "260,0");
    EXPECT_EQ(LastText(), "Disconnected, reason (260, 0): The host name could not be found.");

    // Cut at 259 UTF-16 units, never splitting a character.
    const std::string prefix = "Disconnected, reason (2308, 0): ";
    client.errorDescription.clear();
    for (int i = 0; i < 300; ++i) client.errorDescription += "\xE0\xA0\x80";  // U+0800: 1 unit
    client.FireDisconnected(0x904);
    EXPECT_EQ(LastText().rfind(prefix + "\xE0\xA0\x80", 0), 0u);
    EXPECT_EQ(LastText().size(), prefix.size() + 227 * 3);
    client.errorDescription.clear();
    for (int i = 0; i < 200; ++i) client.errorDescription += "\xF0\x9F\x98\x80";  // 2 units each
    client.FireDisconnected(0x904);
    EXPECT_EQ(LastText().size(), prefix.size() + 113 * 4);  // 113 fit, not 114
}

TEST_F(SessionTest, RemoteLogoffClosesTheTabOnlyWhenSwitchedOn) {
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
    client.has5 = false;
    Connected();
    client.FireDisconnected(2);
    EXPECT_EQ(PostedStates().back(), 0);
    EXPECT_FALSE(client.Called("put_DisconnectedText"));
}

TEST_F(SessionTest, DisconnectActsOnlyOutsideTheDisconnectedState) {
    Open();
    EXPECT_EQ(Handle(WM_APP_DISCONNECT), 1);
    EXPECT_FALSE(client.Called("Disconnect"));
    session->ConnectSession();
    client.FireConnecting();
    EXPECT_EQ(Handle(WM_APP_DISCONNECT), 1);
    EXPECT_EQ(client.Values("Disconnect").size(), 1u);
    session->Destroy();  // closing the tab while connecting disconnects
    EXPECT_EQ(client.Values("Disconnect").size(), 2u);
}

TEST_F(SessionTest, ReconnectWaitsForTheDisconnectedEventWithinItsBound) {
    Connected();
    client.calls.clear();
    Handle(WM_APP_DISCONNECT);
    EXPECT_EQ(Handle(WM_APP_RECONNECT), 1);
    // Still connected: the reconnect waits on a short timer instead of spinning.
    ASSERT_EQ(view.selfPosts.size(), 1u);
    EXPECT_EQ(view.selfPosts[0].message, WM_APP_RECONNECT);
    EXPECT_GT(view.selfPosts[0].delayMs, 0);
    Handle(WM_APP_RECONNECT, view.selfPosts.back().wParam);
    EXPECT_FALSE(client.Called("Connect"));
    client.FireDisconnected(1);
    Handle(WM_APP_RECONNECT, view.selfPosts.back().wParam);
    const auto names = client.Names();
    const auto connectAt = std::find(names.begin(), names.end(), "Connect");
    ASSERT_NE(connectAt, names.end());
    EXPECT_LT(std::find(names.begin(), names.end(), "put_DisconnectedText"), connectAt);
    EXPECT_EQ(view.selfPosts.size(), 2u);

    Connected();
    Handle(WM_APP_RECONNECT);
    const std::size_t first = view.selfPosts.size();
    for (int i = 1; i < Session::kReconnectMaxPolls; ++i) {
        Handle(WM_APP_RECONNECT, view.selfPosts.back().wParam);
    }
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(view.selfPosts.size() - first + 1, std::size_t(Session::kReconnectMaxPolls));
    Handle(WM_APP_RECONNECT, view.selfPosts.back().wParam);
    EXPECT_EQ(view.errors.size(), 1u) << "gives up after its bound";
    EXPECT_EQ(view.selfPosts.size() - first + 1, std::size_t(Session::kReconnectMaxPolls));
}

// Reconnect chosen twice before the first disconnection: the first request
// reconnects, the second finds it done and ends without a word.
TEST_F(SessionTest, ReconnectsQueuedTogetherConnectOnceAndEndQuietly) {
    Connected();
    client.calls.clear();
    for (int i = 0; i < 2; ++i) {
        Handle(WM_APP_DISCONNECT);
        Handle(WM_APP_RECONNECT);
    }
    ASSERT_EQ(view.selfPosts.size(), 2u);
    client.FireDisconnected(1);
    Handle(WM_APP_RECONNECT, view.selfPosts[0].wParam);
    client.FireConnecting();
    client.FireConnected();
    Handle(WM_APP_RECONNECT, view.selfPosts[1].wParam);
    EXPECT_EQ(client.Values("Connect").size(), 1u);
    EXPECT_EQ(view.selfPosts.size(), 2u);  // no more waiting
    EXPECT_TRUE(view.errors.empty());
}

TEST_F(SessionTest, FullScreenRequestsAndReconnectInFullScreenOnce) {
    Open();
    Handle(WM_APP_RECONNECT_FULL_SCREEN);
    EXPECT_EQ(Sent("put_FullScreen"), "-1");
    EXPECT_EQ(session->Record().FullScreen, 0);
    client.FireConnecting();
    client.FireDisconnected(1);
    client.calls.clear();
    Handle(WM_APP_CONNECT);
    EXPECT_EQ(Sent("put_FullScreen"), "0");

    view.events.clear();
    Connected();
    client.sink->OnRequestGoFullScreen();
    EXPECT_TRUE(view.containerFullScreen);
    // A disconnection leaves full screen before it is reported.
    const std::size_t postsBefore = frame.posted.size();
    client.FireDisconnected(1);
    EXPECT_FALSE(view.containerFullScreen);
    EXPECT_EQ(view.events, (std::vector<std::string>{"relayout", "enter", "leave"}));
    EXPECT_EQ(frame.posted.size(), postsBefore + 1);
    client.sink->OnRequestContainerMinimize();
    EXPECT_EQ(frame.posted.back(), (FakeFrame::Message{WM_SYSCOMMAND, SC_MINIMIZE, 0}));
    Connected();
    Handle(WM_APP_ENTER_FULL_SCREEN);
    EXPECT_TRUE(view.containerFullScreen);
    EXPECT_EQ(client.Values("put_FullScreen").back(), "-1");
    bool handled = true;
    session->HandleMessage(0x0401, 0, 0, handled);
    EXPECT_FALSE(handled);
}

TEST_F(SessionTest, DeviceChangesReachOnlyClientsThatFollowNewDrives) {
    Open();
    session->OnDeviceChange(0x8000, 77);
    EXPECT_FALSE(client.Called("NotifyRedirectDeviceChange"));
    client.dynamicDrives = VariantBool::True;
    session->OnDeviceChange(0x8000, 77);
    client.hasNonScriptable3 = false;
    session->OnDeviceChange(0x8000, 78);
    EXPECT_EQ(Sent("NotifyRedirectDeviceChange"), "32768,77");
}

}  // namespace
}  // namespace vandrelle::test
