// SPDX-License-Identifier: GPL-3.0-or-later
// A session over the fake client, view and frame: what Connect sends and in
// which order, how the client's events move the session, and the session's
// events: disconnection texts, reconnecting, full screen, new drives and the
// healing of a lost link (which ends are healed and the waits: LinkTest).
// Then the services around the client: add-ins from the registry, the
// external client's command and launch, and saved log-on names.
#include "AddIns.h"
#include "ConfigStore.h"
#include "ExternalClient.h"
#include "FakeRdpClient.h"
#include "FileUtil.h"
#include "RecordText.h"
#include "RegFileKeyStore.h"
#include "Session.h"
#include "StoredCredentials.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>
#include <tuple>

namespace vandrelle::test {
namespace {

using Texts = std::vector<std::string>;
const std::string kClient = "Software\\Microsoft\\Terminal Server Client\\";

// A real configuration store and key store in a temporary folder.
class SessionTest : public ::testing::Test {
protected:
    SessionTest() : keys(dir.file("registry.reg"), dir.file("machine.reg")), config(keys) {
        config.Init();
        config.SetConfigPath(dir.file("Vandrelle.xml"));
    }

    // Replaces the session; the old one goes first, as its window would.
    Session& Open(bool withClient = true) {
        session.reset();
        client.calls.clear();
        session = std::make_unique<Session>(withClient ? &client : nullptr, view, frame, config,
                                            keys, record, NodePath({"srv"}));
        return *session;
    }
    std::string Connect() {
        Open().ConnectSession();
        return client.Trace();
    }
    void Connected(bool open = true) {
        (open ? Open() : *session).ConnectSession();
        client.FireConnecting();
        client.FireConnected();
    }
    std::intptr_t Handle(std::uint32_t message, std::uintptr_t wParam = 0) {
        bool handled = false;
        const std::intptr_t result = session->HandleMessage(message, wParam, 0, handled);
        EXPECT_TRUE(handled);
        return result;
    }
    // Handles a message the session posted to itself, as its window would.
    void Run(const FakeSessionView::Post& post) { Handle(post.message, post.wParam); }
    std::string LastText() const { return client.Values("put_DisconnectedText").back(); }
    // The report of a state to the frame, naming the tab's window.
    FakeFrame::Message StateReport(std::uintptr_t state) const {
        return {WM_APP_SESSION_STATE, state, view.WindowId()};
    }

    void Reg(const std::string& user, const std::string& machine = "") {
        WriteFile(dir.file("registry.reg"), "Windows Registry Editor Version 5.00\n\n" + user);
        WriteFile(dir.file("machine.reg"), "Windows Registry Editor Version 5.00\n\n" + machine);
    }
    // One add-in key holding `value` (as its Name unless told otherwise).
    static std::string AddIn(const std::string& hive, const std::string& key,
                             const std::string& value, const std::string& name = "Name") {
        return "[" + hive + "\\" + kClient + "Default\\AddIns\\" + key + "]\n\"" + name +
               "\"=" + value + "\n\n";
    }

    TempDir dir;
    RegFileKeyStore keys;
    CConfigStore config;
    Properties record = RecordFrom("Server=rdp.example UserName=jdoe Password=pw Domain=CORP");
    FakeRdpClient client;
    FakeSessionView view;
    FakeFrame frame;
    std::unique_ptr<Session> session;
};

TEST_F(SessionTest, ConnectSendsTheRecordInItsOrderTheWindowsSizeAndTheDrives) {
    record.ConnectToServerConsole = 1;
    record.RedirectDrives = 0;
    keys.CreateKey(Hive::CurrentUser, kClient + "Default\\AddIns\\A")
        ->WriteString("Name", "/opt/addins/a.so");
    EXPECT_EQ(Connect(),
              "put_Server=rdp.example put_UserName=jdoe put_ClearTextPassword=pw put_Domain=CORP "
              "put_RDPPort=3389 put_ConnectToServerConsole=-1 put_ConnectToAdministerServer=-1 "
              "put_DesktopWidth=1000 put_DesktopHeight=700 put_ColorDepth=16 put_FullScreen=0 "
              "put_AudioRedirectionMode=0 put_KeyboardHookMode=1 put_PerformanceFlags=384 "
              "put_BitmapPersistence=1 put_RedirectPrinters=0 put_RedirectClipboard=-1 "
              "put_RedirectPorts=0 put_RedirectSmartCards=0 put_RedirectDrives=0 "
              "put_EnableCredSspSupport=-1 put_PluginDlls=/opt/addins/a.so "
              "put_ContainerHandledFullScreen=1 Connect= ");

    // Shift held sends empty log-on values and leaves the record as it is; an
    // empty password is not sent; animations off are read back from the client.
    view.shiftDown = true;
    EXPECT_TRUE(HasText(Connect(), "put_UserName= put_ClearTextPassword= put_Domain= "));
    EXPECT_EQ(session->Record().UserName, "jdoe");
    view.shiftDown = false;
    record.Password.clear();
    record.PerformanceFlags = 0x184;
    EXPECT_FALSE(HasText(Connect(), "Password"));
    EXPECT_EQ(client.Sent("put_UserName") + client.Sent("put_PerformanceFlags"), "jdoe388,404");

    // Fit and margins follow the 1000 x 700 window; full screen sends the
    // record's size, then the primary screen's.
    // The record's width, height and full screen, then the widths x heights sent.
    const std::tuple<int, int, int, std::string> cases[] = {
        {0, 0, 0, "1000x700"},   {-500, -20, 0, "1000x700"}, {-10, 0, 0, "980x700"},
        {0, -20, 0, "1000x660"}, {-10, 600, 0, "-10x600"},   {800, 600, 1, "800,1920x600,1080"},
    };
    for (const auto& [w, h, fullScreen, sent] : cases) {
        record.DesktopWidth = w;
        record.DesktopHeight = h;
        record.FullScreen = fullScreen;
        Connect();
        EXPECT_EQ(client.Sent("put_DesktopWidth") + "x" + client.Sent("put_DesktopHeight"), sent);
        EXPECT_EQ(client.Sent("put_FullScreen"), fullScreen ? "-1" : "0");
    }
    // A client already in full screen: the window covers the screen at once.
    client.fullScreen = VariantBool::True;
    EXPECT_FALSE(HasText(Connect(), "put_FullScreen"));
    EXPECT_EQ(view.events, Texts{"enter"});
    // Drive lists choose the drives to redirect and whether later ones follow.
    for (const char* name : {"C:", "D:", "Network (Z:)", "nocolon", ":"})
        client.drives.emplace_back(name);
    // Redirect, the list; per drive T on, F off, - untouched; then what is sent
    // for dynamic drives and for drives.
    const std::tuple<int, const char*, const char*, const char*, const char*> lists[] = {
        {1, "  c: z:", "TFT--", "0", "-1"},
        {1, " \t ", "-----", "-1", "-1"},  // no drive switched off
        {0, "C:", "-----", "", "0"}};
    for (const auto& [redirect, list, states, dynamic, drives] : lists) {
        for (auto& d : client.drives) d.state.reset();
        record.RedirectDrives = redirect;
        record.DriveCollection = list;
        Connect();
        std::string set;
        for (auto& d : client.drives)
            set += !d.state ? '-' : *d.state == VariantBool::True ? 'T' : 'F';
        EXPECT_EQ(set, states) << list;
        EXPECT_EQ(client.Sent("put_RedirectDynamicDrives"), dynamic) << list;
        EXPECT_EQ(client.Sent("put_RedirectDrives"), drives) << list;
    }
}

// A refused connect shows its text and leaves the session usable. Connect
// acts only while disconnected and no connection is under way; Disconnect,
// and closing the tab, only outside the disconnected state.
TEST_F(SessionTest, ConnectAndDisconnectActOnlyInTheirStatesAndAfterFailures) {
    client.serverPutFailure.emplace(static_cast<HResult>(0x80070057), "Not a valid name.");
    EXPECT_EQ(Connect(), "put_Server=rdp.example ");
    EXPECT_EQ(view.errors.back(), "Server name error: Not a valid name.");
    client.serverPutFailure.reset();
    client.connectFailure = static_cast<HResult>(0x80004005);
    EXPECT_EQ(Handle(WM_APP_DISCONNECT), 1);
    EXPECT_EQ(Handle(WM_APP_CONNECT), 1);
    EXPECT_EQ(view.errors.back(), "Cannot connect: Unknown error 0x80004005");
    client.connectFailure.reset();
    EXPECT_EQ(Handle(WM_APP_CONNECT), 1);
    EXPECT_EQ(Handle(WM_APP_CONNECT), 0) << "no event yet";
    client.FireConnecting();
    EXPECT_EQ(session->ConnectSession(), 0);
    client.FireConnected();
    EXPECT_EQ(session->ConnectSession(), 0);
    Handle(WM_APP_DISCONNECT);
    client.FireDisconnected(1);
    EXPECT_EQ(session->ConnectSession(), 1);
    client.FireConnecting();
    session->Destroy();  // closing the tab while connecting disconnects
    EXPECT_EQ(client.Values("Connect").size(), 3u);
    EXPECT_EQ(client.Values("Disconnect").size(), 2u);
    EXPECT_EQ(Open(false).ConnectSession(), 1);
    EXPECT_EQ(view.errors.back(), "Create remote desktop failed. See readme.txt to download RDP.");
}

// A remote log-off closes the tab only when switched on; a tab closed in
// state 3 sends no Disconnect when its window goes away. Reconnecting, full
// screen and new drives follow.
TEST_F(SessionTest, StatesTextsReconnectFullScreenAndNewDrivesFollowTheEvents) {
    Connected();
    EXPECT_EQ(view.events, Texts{"relayout"});
    client.FireDisconnected(1);
    EXPECT_EQ(frame.posted, (std::vector{StateReport(1), StateReport(2), StateReport(0)}));
    EXPECT_EQ(LastText(), "Disconnected, reason (1, 0): Local disconnection.");
    client.extendedReason = 12;
    client.FireDisconnected(0x104);
    EXPECT_EQ(client.Sent("GetErrorDescription"), "260,12");
    EXPECT_EQ(LastText(), "Disconnected, reason (260, 12): The engine's description.");
    // Cut at 259 units of UTF-16, where an emoji takes two.
    client.errorDescription.clear();
    for (int i = 0; i < 300; ++i) client.errorDescription += "\xF0\x9F\x98\x80";
    client.FireDisconnected(0x904);
    EXPECT_EQ(LastText(),
              "Disconnected, reason (2308, 12): " + client.errorDescription.substr(0, 113 * 4));

    for (int closeOnLogOff : {0, 1}) {
        config.SetCloseTabOnLogOff(closeOnLogOff);
        Connected();
        client.FireDisconnected(2);
        EXPECT_EQ(frame.posted.back(), StateReport(closeOnLogOff ? kStateLoggedOff : 0));
    }
    session->Destroy();
    EXPECT_FALSE(client.Called("Disconnect"));
    EXPECT_EQ(client.sink, nullptr);

    // Reconnect waits for the disconnection on a short timer, within a bound;
    // chosen twice before the first disconnection, it connects once and the
    // second request ends without a word.
    Connected();
    client.calls.clear();
    for (int i = 0; i < 2; ++i) {
        Handle(WM_APP_DISCONNECT);
        EXPECT_EQ(Handle(WM_APP_RECONNECT), 1);
    }
    ASSERT_EQ(view.selfPosts.size(), 2u);
    client.FireDisconnected(1);
    Run(view.selfPosts[0]);
    EXPECT_EQ(client.Values("Connect").size(), 1u);
    client.FireConnecting();
    client.FireConnected();
    Run(view.selfPosts[1]);
    EXPECT_EQ(client.Values("Connect").size(), 1u);
    EXPECT_EQ(view.selfPosts.size(), 2u);  // no more waiting

    Handle(WM_APP_RECONNECT);
    for (int i = 1; i < Session::kReconnectMaxPolls; ++i) Run(view.selfPosts.back());
    EXPECT_TRUE(view.errors.empty());
    Run(view.selfPosts.back());
    EXPECT_EQ(view.errors.size(), 1u) << "gives up after its bound";
    EXPECT_EQ(view.selfPosts.size(), std::size_t(Session::kReconnectMaxPolls + 2));

    // Full screen requests, minimising, and new drives.
    Open();
    Handle(WM_APP_RECONNECT_FULL_SCREEN);  // full screen for this connection only
    EXPECT_EQ(client.Sent("put_FullScreen") + std::to_string(session->Record().FullScreen), "-10");
    view.events.clear();
    Connected();
    client.sink->OnRequestGoFullScreen();
    // A disconnection leaves full screen before it is reported.
    client.FireDisconnected(1);
    EXPECT_EQ(view.events, (Texts{"relayout", "enter", "leave"}));
    client.sink->OnRequestContainerMinimize();
    EXPECT_EQ(frame.posted.back(), (FakeFrame::Message{WM_SYSCOMMAND, SC_MINIMIZE, 0}));
    Connected();
    Handle(WM_APP_ENTER_FULL_SCREEN);
    EXPECT_EQ(client.Values("put_FullScreen").back(), "-1");
    // Device changes reach only a client that follows new drives.
    session->OnDeviceChange(0x8000, 77);
    client.dynamicDrives = VariantBool::True;
    session->OnDeviceChange(0x8000, 78);
    EXPECT_EQ(client.Sent("NotifyRedirectDeviceChange"), "32768,78");
}

// The engine's resume fails, fresh connects follow with back-off until one is
// through, or until a wait would pass the limit: abandoned then, as a lost
// connection. The user's Disconnect cancels a healing (which ends are healed:
// LinkTest).
TEST_F(SessionTest, ALostLinkHealsWithBackOffUntilBackOrTheLimitAndTheUserMayCancel) {
    // A connected session whose link the engine saw die; its healing gives up
    // rather than wait past 3 s.
    const auto linkLost = [this] {
        Open().SetLinkHealLimit(std::chrono::seconds(3));
        Connected(false);
        client.sink->OnAutoReconnecting(0x904, 1);
    };
    linkLost();
    EXPECT_EQ(session->State(), kStateReconnecting);
    EXPECT_EQ(view.selfPosts.back().ms, 3000);
    // The resume fails, then a fresh connect: each waits longer.
    for (const auto& [reason, delay] : {std::pair{0x904, 1000}, std::pair{0x204, 2000}}) {
        client.FireDisconnected(reason);
        EXPECT_EQ(view.selfPosts.back().ms, delay);
        Run(view.selfPosts.back());
        client.FireConnecting();
        EXPECT_EQ(session->State(), kStateReconnecting);
    }
    EXPECT_EQ(session->LinkStatus(), "Connection lost \u2014 reconnecting (attempt 3)\u2026");
    client.FireDisconnected(0x204);  // a wait of 4 s would pass the limit
    EXPECT_EQ(session->State(), kStateDisconnected);
    EXPECT_EQ(client.Values("Connect").size(), 3u);
    EXPECT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(LastText().rfind("Disconnected, reason (2308, 0)"), 0u);

    linkLost();
    client.FireDisconnected(0x904);
    Run(view.selfPosts.back());
    client.FireConnected();
    EXPECT_EQ(session->LinkStatus(), "");

    linkLost();
    client.FireDisconnected(0x904);
    Handle(WM_APP_DISCONNECT);  // while waiting to connect
    EXPECT_EQ(LastText(), "Disconnected, reason (1, 0): Local disconnection.");
    Run(view.selfPosts.back());
    EXPECT_EQ(client.Values("Connect").size(), 1u);
    linkLost();  // while the engine resumes: the client is told to stop
    Handle(WM_APP_DISCONNECT);
    EXPECT_EQ(session->LinkStatus(), "");
    EXPECT_TRUE(client.Called("Disconnect"));

    // The limit's timer ends a connection that hangs (a frozen server).
    linkLost();
    const FakeSessionView::Post limit = view.selfPosts.back();
    client.FireDisconnected(0x904);
    Run(view.selfPosts.back());
    client.calls.clear();
    Run(limit);
    EXPECT_TRUE(client.Called("Disconnect"));
    client.FireDisconnected(1);
    EXPECT_EQ(view.errors.size(), 2u);
}

// The user's entries come first and hide the machine's of the same key; a
// value that is no readable string, or too long, is left out; an expandable
// one is taken as it is written.
TEST_F(SessionTest, AddInsComeUserFirstAndOnlyFromSafeLibraries) {
    const std::string u = "HKEY_CURRENT_USER", m = "HKEY_LOCAL_MACHINE";
    Reg(AddIn(u, "A", "\"pa\"") + AddIn(u, "B", "hex(2):25,00,48,00,00,00") +
            AddIn(u, "C", "dword:00000001") + AddIn(u, "F", "\"" + std::string(260, 'x') + "\"") +
            AddIn(u, "G", "\"" + std::string(259, 'y') + "\"") + AddIn(u, "J", "\"x\"", "Other"),
        AddIn(m, "J", "\"pj\"") + AddIn(m, "K", "\"pk\""));
    EXPECT_EQ(GetAddInList(keys), "pa,%H," + std::string(259, 'y') + ",pk");

    // A library that another user could have written or replaced is not
    // loaded; an accepted one is loaded from where its links lead.
    MakeFolders(dir.file("open"));
    MakeFolders(dir.file("sticky"));
    const std::pair<const char*, mode_t> modes[] = {
        {"ok.so", 0755},         {"shared.so", 0664}, {"theirs.so", 0644}, {"open/lib.so", 0644},
        {"sticky/lib.so", 0644}, {"open", 0777},      {"sticky", 01777}};
    for (const auto& [name, mode] : modes) {
        if (!FileExists(dir.file(name))) WriteFile(dir.file(name), "");
        ::chmod(dir.file(name).c_str(), mode);
    }
    ::symlink(dir.file("ok.so").c_str(), dir.file("link.so").c_str());
    std::vector<std::pair<std::string, std::string>> cases = {
        // an empty reason: accepted
        {dir.file("ok.so"), ""},
        {dir.file("link.so"), ""},
        {dir.file("sticky/lib.so"), ""},
        {"ok.so", "not an absolute path"},
        {dir.file("shared.so"), "shared.so can be written by other users (mode 0664)"},
        {dir.file("open/lib.so"), "/open can be written by other users (mode 0777)"}};
    if (::chown(dir.file("theirs.so").c_str(), 4242, 4242) == 0)  // as root only
        cases.emplace_back(dir.file("theirs.so"), "theirs.so belongs to another user (uid 4242)");
    for (const auto& [path, refusal] : cases) {
        std::string library, why;
        EXPECT_EQ(ResolveSafeAddIn(path, &library, &why), refusal.empty()) << path;
        EXPECT_EQ(library, refusal.empty() ? std::filesystem::canonical(path).string() : "");
        EXPECT_TRUE(HasText(why, refusal));
    }
}

// Sizes are passed only when both are fixed; a host stays one argument. The
// log-on settings are not given. The launch starts the client detached with
// that argument list, and refuses a command line it would have to cut.
TEST_F(SessionTest, ExternalCommandFollowsTheRecordAndLaunchesDetached) {
    // The record, whether shift is held, and the arguments.
    const std::tuple<std::string, bool, std::string> cases[] = {
        {"DesktopWidth=1024 DesktopHeight=768", false, "/v:host:3390 /w:1024 /h:768"},
        {"DesktopWidth=1280", false, "/v:host:3390"},
        {"DesktopWidth=800 DesktopHeight=600 ConnectToServerConsole=1 FullScreen=1", false,
         "/v:host:3390 /w:800 /h:600 /admin /console /f"},
        {"DesktopWidth=800 DesktopHeight=600", true, "/v:host:3390 /w:800 /h:600 /f"},
        {"Server=::1", false, "/v:[::1]:3390"}};
    for (const auto& [fields, shift, arguments] : cases) {
        Properties r =
            RecordFrom("Server=host RDPPort=3390 UserName=secret Password=secret " + fields);
        std::string joined;
        for (const auto& a : BuildExternalCommand(r, shift, "x").arguments) joined += a + " ";
        EXPECT_EQ(joined, arguments + " ") << fields;
        r.Server = "host /p:x";
        EXPECT_EQ(BuildExternalCommand(r, false, "x").arguments[0], "/v:host /p:x:3390");
    }

    // A stand-in client on a PATH of our own writes its arguments to a file.
    const std::string bin = dir.file("bin");
    MakeFolders(bin);
    const std::string args = bin + "/xfreerdp3.args";
    WriteFile(bin + "/xfreerdp3",
              "#!/bin/sh\nprintf '%s\\n' \"$@\" >\"$0.tmp\" && mv \"$0.tmp\" \"$0.args\"\n");
    ::chmod((bin + "/xfreerdp3").c_str(), 0755);
    ScopedEnv path("PATH", bin + ":/usr/bin:/bin");

    Properties r = RecordFrom("Name=s");
    r.Server = "host; touch " + dir.file("injected");
    ASSERT_TRUE(config.AddServer(NodePath(), r));
    std::string error;
    EXPECT_TRUE(LaunchExternalClient(config, NodePath({"s"}), false, &error)) << error;
    for (int i = 0; i < 100 && !FileExists(args); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(ReadFile(args), "/v:" + r.Server + ":3389\n");
    EXPECT_FALSE(FileExists(dir.file("injected")));
    // Refused rather than cut: a command line over 4095 characters.
    ASSERT_TRUE(
        config.AddServer(NodePath(), RecordFrom("Name=long Server=" + std::string(4100, 'h'))));
    EXPECT_FALSE(LaunchExternalClient(config, NodePath({"long"}), false, &error));
}

// What the system keeps of RDP log-ons, by target: UTF-16LE secrets.
struct SavedCredentials : CredentialStore {
    std::optional<std::vector<Credential>> Enumerate(std::string_view filter) override {
        const auto it = byFilter.find(std::string(filter));
        return it == byFilter.end() ? std::nullopt : std::optional(it->second);
    }
    std::map<std::string, std::vector<Credential>> byFilter;
};

// A hint is looked for in the list of hints, then in the server's own key; it
// gives the user and the domain, unless that names the server itself. The
// first generic credential of the hinted user, in any case, gives the
// password, from TERMSRV/<server> or else the bare server name. No hint
// changes nothing.
TEST_F(SessionTest, HintsGiveTheUserAndTheFirstMatchingCredentialThePassword) {
    SavedCredentials saved;
    std::string user = "u0", password = "p0", domain = "d0";
    EXPECT_FALSE(LookupStoredCredentials(keys, saved, "srv", user, password, domain));
    EXPECT_EQ(user + password + domain, "u0p0d0");
    Reg("[HKEY_CURRENT_USER\\" + kClient +
        "UsernameHint]\n\"srv\"=\"CORP\\\\JDoe\"\n\"Box\"=\"BOX\\\\admin\"\n"
        "\"mail\"=\"ann@example.org\"\n\n[HKEY_CURRENT_USER\\" +
        kClient + "Servers\\own]\n\"UsernameHint\"=\"carol\"\n");
    const auto wide = [](std::string text, std::vector<std::uint8_t> more = {}) {
        std::vector<std::uint8_t> out;
        for (const char c : text) out.insert(out.end(), {static_cast<std::uint8_t>(c), 0});
        out.insert(out.end(), more.begin(), more.end());
        return out;
    };
    saved.byFilter["TERMSRV/srv"] = {
        {Credential::kGeneric, std::nullopt, wide("no-user")},
        {2, std::string("CORP\\jdoe"), wide("domain-type")},
        {Credential::kGeneric, std::string("other"), wide("wrong")},
        {Credential::kGeneric, std::string("jdoe@corp.example"),
         wide("abc", {0, 0, 'x', 0})},  // ends at the NUL
        {Credential::kGeneric, std::string("CORP\\jdoe"), wide("later")}};
    saved.byFilter["own"] = {{Credential::kGeneric,
                              std::string("carol"),
                              {0xAC, 0x20, 0x00, 0xD8, 0x00, 0xDC}}};  // "€" U+10000
    const char* cases[][4] = {{"srv", "JDoe", "CORP", "abc"},
                              {"Box", "admin", "d0", "p0"},
                              {"mail", "ann", "example.org", "p0"},
                              {"own", "carol", "d0", "\xE2\x82\xAC\xF0\x90\x80\x80"}};
    for (const auto& c : cases) {
        domain = "d0";
        password = "p0";
        EXPECT_TRUE(LookupStoredCredentials(keys, saved, c[0], user, password, domain));
        EXPECT_EQ(user + "|" + domain + "|" + password,
                  std::string(c[1]) + "|" + c[2] + "|" + c[3]);
    }
}

}  // namespace
}  // namespace vandrelle::test
