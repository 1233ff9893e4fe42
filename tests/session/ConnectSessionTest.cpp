// SPDX-License-Identifier: GPL-3.0-or-later
#include "SessionFixture.h"

#include "KeyStore.h"

namespace vandrelle::test {
namespace {

using ConnectSessionTest = SessionFixture;

TEST_F(ConnectSessionTest, AppliesTheRecordInItsFixedOrder) {
    record.ConnectToServerConsole = 1;
    record.RedirectDrives = 0;
    EXPECT_EQ(Open().ConnectSession(), 1);
    EXPECT_EQ(client.Trace(),
              "put_Server=rdp.example put_UserName=jdoe put_ClearTextPassword=pw put_Domain=CORP "
              "put_RDPPort=3389 put_ConnectToServerConsole=-1 put_ConnectToAdministerServer=-1 "
              "put_DesktopWidth=1000 put_DesktopHeight=700 put_ColorDepth=16 put_FullScreen=0 "
              "put_AudioRedirectionMode=0 put_KeyboardHookMode=1 put_PerformanceFlags=384 "
              "put_BitmapPersistence=1 put_RedirectPrinters=0 put_RedirectClipboard=-1 "
              "put_RedirectPorts=0 put_RedirectSmartCards=0 put_RedirectDrives=0 "
              "put_EnableCredSspSupport=-1 put_ContainerHandledFullScreen=1 Connect= ");
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(session->State(), kStateDisconnected);  // only events change the state
}

TEST_F(ConnectSessionTest, DesktopSizeFollowsTheFitAndMarginRules) {
    struct Case {
        int w, h;
        int expectW, expectH;
    };
    const Case cases[] = {
        {0, 0, 1000, 700},  {-10, -20, 980, 660}, {-600, -20, 1000, 700}, {0, -20, 1000, 660},
        {1280, 0, 1280, 0}, {-10, 600, -10, 600}, {-500, -20, 1000, 700},  // exactly no room left
    };
    for (const Case& c : cases) {
        client.calls.clear();
        record.DesktopWidth = c.w;
        record.DesktopHeight = c.h;
        Open().ConnectSession();
        EXPECT_EQ(client.Values("put_DesktopWidth"),
                  std::vector<std::string>{std::to_string(c.expectW)})
            << c.w << "x" << c.h;
        EXPECT_EQ(client.Values("put_DesktopHeight"),
                  std::vector<std::string>{std::to_string(c.expectH)})
            << c.w << "x" << c.h;
    }
}

TEST_F(ConnectSessionTest, FullScreenUsesThePrimaryScreen) {
    record.FullScreen = 1;
    record.DesktopWidth = 800;
    record.DesktopHeight = 600;
    Open().ConnectSession();
    EXPECT_EQ(client.Values("put_DesktopWidth"), (std::vector<std::string>{"800", "1920"}));
    EXPECT_EQ(client.Values("put_DesktopHeight"), (std::vector<std::string>{"600", "1080"}));
    EXPECT_EQ(client.Values("put_FullScreen"), std::vector<std::string>{"-1"});
    EXPECT_TRUE(view.events.empty());

    // A client already in full screen: the window covers the screen at once.
    client.calls.clear();
    client.fullScreen = VariantBool::True;
    Open().ConnectSession();
    EXPECT_FALSE(client.Called("put_FullScreen"));
    EXPECT_EQ(view.events, std::vector<std::string>{"enter"});
}

TEST_F(ConnectSessionTest, ShiftAndAnEmptyPasswordChangeWhatIsSent) {
    view.shiftDown = true;
    Open().ConnectSession();
    EXPECT_EQ(client.Values("put_UserName"), std::vector<std::string>{""});
    EXPECT_EQ(client.Values("put_ClearTextPassword"), std::vector<std::string>{""});
    EXPECT_EQ(client.Values("put_Domain"), std::vector<std::string>{""});
    EXPECT_EQ(session->Record().UserName, "jdoe");

    view.shiftDown = false;
    client.calls.clear();
    record.Password.clear();
    record.RDPPort = 0;
    record.ColorDepth = 0;
    Open().ConnectSession();
    EXPECT_FALSE(client.Called("put_ClearTextPassword"));
    EXPECT_FALSE(client.Called("put_RDPPort"));
    EXPECT_FALSE(client.Called("put_ColorDepth"));
    EXPECT_EQ(client.Values("put_UserName"), std::vector<std::string>{"jdoe"});
}

TEST_F(ConnectSessionTest, PerformanceFlagsAreReadBackWhenAnimationsAreOff) {
    record.PerformanceFlags = 0x184;
    Open().ConnectSession();
    EXPECT_EQ(client.Values("put_PerformanceFlags"), (std::vector<std::string>{"388", "404"}));
    EXPECT_EQ(client.performanceFlags, 0x194);
    client.calls.clear();
    record.PerformanceFlags = 0x180;
    Open().ConnectSession();
    EXPECT_EQ(client.Values("put_PerformanceFlags"), std::vector<std::string>{"384"});
    EXPECT_FALSE(client.Called("get_PerformanceFlags"));
}

TEST_F(ConnectSessionTest, DriveListsChooseDrivesAndLaterDrives) {
    client.AddDrive("C:");
    client.AddDrive("D:");
    client.AddDrive("Network (Z:)");
    client.AddDrive("nocolon");
    record.RedirectDrives = 1;

    record.DriveCollection = "  c: ";
    Open().ConnectSession();
    EXPECT_EQ(client.drives[0]->state, VariantBool::True);
    EXPECT_EQ(client.drives[1]->state, VariantBool::False);
    EXPECT_EQ(client.drives[2]->state, VariantBool::False);
    EXPECT_FALSE(client.drives[3]->state);
    EXPECT_EQ(client.Values("put_RedirectDynamicDrives"), std::vector<std::string>{"0"});
    EXPECT_EQ(client.Values("get_DriveCount").size(), 5u);  // read again for every index

    client.calls.clear();
    record.DriveCollection = "D:; z:. $:";
    Open().ConnectSession();
    EXPECT_EQ(client.drives[0]->state, VariantBool::False);
    EXPECT_EQ(client.drives[1]->state, VariantBool::True);
    EXPECT_EQ(client.drives[2]->state, VariantBool::True);
    EXPECT_EQ(client.Values("put_RedirectDynamicDrives"), std::vector<std::string>{"-1"});

    for (auto& d : client.drives) d->state.reset();
    client.calls.clear();
    record.DriveCollection = " \t ";
    Open().ConnectSession();
    EXPECT_EQ(client.Values("put_RedirectDynamicDrives"), std::vector<std::string>{"-1"});
    EXPECT_FALSE(client.drives[0]->state);  // no drive switched off

    client.calls.clear();
    record.RedirectDrives = 0;
    Open().ConnectSession();
    EXPECT_FALSE(client.Called("put_RedirectDynamicDrives"));
    EXPECT_EQ(client.Values("put_RedirectDrives"), std::vector<std::string>{"0"});
}

TEST_F(ConnectSessionTest, MissingOptionalCapabilitiesAreSkipped) {
    client.has5 = false;
    client.has6 = false;
    client.hasNonScriptable3 = false;
    record.RedirectDrives = 1;
    record.DriveCollection = "C:";
    Open().ConnectSession();
    EXPECT_FALSE(client.Called("put_RedirectClipboard"));
    EXPECT_FALSE(client.Called("put_ConnectToAdministerServer"));
    EXPECT_FALSE(client.Called("put_EnableCredSspSupport"));
    EXPECT_EQ(client.Values("put_RedirectDrives"), std::vector<std::string>{"-1"});
    EXPECT_EQ(view.errors,
              std::vector<std::string>{
                  "Cannot redirect specified drives. See readme.txt to download RDP 6."});
    EXPECT_EQ(client.Names().back(), "Connect");
}

TEST_F(ConnectSessionTest, ServerNameFailuresStopTheConnectWithTheirText) {
    struct Case {
        HResult code;
        std::string engineText;
        std::string expected;
    };
    const Case cases[] = {
        {static_cast<HResult>(0x80040201), "", "Server name error: IDispatch error #1"},
        {static_cast<HResult>(0x8004FFFF), "", "Server name error: IDispatch error #65023"},
        {static_cast<HResult>(0x80070057), "", "Server name error: Unknown error 0x80070057"},
        {static_cast<HResult>(0x80040200), "", "Server name error: Unknown error 0x80040200"},
        {static_cast<HResult>(0x80004005), "Bad host name.\r\n",
         "Server name error: Bad host name."},
    };
    for (const Case& c : cases) {
        client.calls.clear();
        view.errors.clear();
        client.serverPutFailure = c.code;
        client.serverPutFailureText = c.engineText;
        EXPECT_EQ(Open().ConnectSession(), 1);
        EXPECT_EQ(client.Names(), std::vector<std::string>{"put_Server"});
        EXPECT_EQ(view.errors, std::vector<std::string>{c.expected});
        EXPECT_EQ(session->State(), kStateDisconnected);
    }
    // The session can be told to connect again.
    client.serverPutFailure.reset();
    client.calls.clear();
    EXPECT_EQ(session->ConnectSession(), 1);
    EXPECT_EQ(client.Names().back(), "Connect");
}

TEST_F(ConnectSessionTest, WithoutAClientOnlyTheMessageShows) {
    EXPECT_EQ(Open(nullptr).ConnectSession(), 1);
    EXPECT_EQ(view.errors, std::vector<std::string>{
                               "Create remote desktop failed. See readme.txt to download RDP."});
}

TEST_F(ConnectSessionTest, ConnectIsIgnoredWhileOneIsUnderWay) {
    Open();
    bool handled = false;
    EXPECT_EQ(session->HandleMessage(WM_APP_CONNECT, 0, 0, handled), 1);
    EXPECT_TRUE(handled);
    EXPECT_EQ(session->HandleMessage(WM_APP_CONNECT, 0, 0, handled), 0);  // no event yet
    client.FireConnecting();
    EXPECT_EQ(session->ConnectSession(), 0);
    client.FireConnected();
    EXPECT_EQ(session->ConnectSession(), 0);
    EXPECT_EQ(client.Values("Connect").size(), 1u);

    // A failed Connect leaves the session usable.
    client.FireDisconnected(1);
    client.connectFailure = static_cast<HResult>(0x80004005);
    EXPECT_EQ(session->ConnectSession(), 1);
    EXPECT_EQ(view.errors, std::vector<std::string>{"Cannot connect: Unknown error 0x80004005"});
    client.connectFailure.reset();
    EXPECT_EQ(session->ConnectSession(), 1);
    EXPECT_EQ(client.Values("Connect").size(), 3u);
}

TEST_F(ConnectSessionTest, AddInsAreHandedToTheClient) {
    auto key = keys.CreateKey(Hive::CurrentUser,
                              "Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\A");
    key->WriteString("Name", "/opt/addins/a.so");
    Open().ConnectSession();
    EXPECT_EQ(client.Values("put_PluginDlls"), std::vector<std::string>{"/opt/addins/a.so"});
    const auto names = client.Names();
    EXPECT_EQ(names[names.size() - 3], "put_PluginDlls");
}

}  // namespace
}  // namespace vandrelle::test
