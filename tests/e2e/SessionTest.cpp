// SPDX-License-Identifier: GPL-3.0-or-later
// Sessions of the engine against a FreeRDP shadow server and xrdp of the
// test's own, each server started once for several checks.
#include "SessionHarness.h"

#include "KeyStore.h"
#include "LocalDevices.h"

#ifndef VANDRELLE_CYCLES
#define VANDRELLE_CYCLES 2  // the stress build repeats more
#endif

namespace vandrelle::test {
namespace {

class ShadowSessionTest : public SessionHarness {
protected:
    void SetUp() override {
        shadow = std::make_unique<ShadowServer>();
        ASSERT_TRUE(shadow->ok()) << shadow->error();
        record.RDPPort = shadow->port();
    }
};
using UnreachableServerTest = SessionHarness;

void AddIn(KeyStore& keys, const std::string& name, const std::string& path) {
    keys.CreateKey(Hive::CurrentUser,
                   "Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\" + name)
        ->WriteString("Name", path);
}

// A rejected certificate does not connect; one trusted always is not asked
// again. Add-ins load by path, and one missing or writable by others is
// reported and skipped. Local drives do not stand in the way.
TEST_F(ShadowSessionTest, CertificatesAddInsDrivesThePictureAndTheEnds) {
    prompts.certificateAnswer = CertificateAnswer::Reject;
    Connect();
    ASSERT_TRUE(WaitForStates(2));
    EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 0}));

    const std::string mark = UseTestHome() + "/addin-loaded";
    ::unlink(mark.c_str());
    AddIn(keys, "Missing", dir.file("no-such-addin.so"));
    AddIn(keys, "Test", VANDRELLE_TEST_ADDIN);
    MakeFolders(dir.file("open"));
    ::chmod(dir.file("open").c_str(), 0777);
    std::string copy;
    ASSERT_TRUE(ReadWholeFile(VANDRELLE_TEST_ADDIN, &copy, nullptr));
    WriteFile(dir.file("open/addin.so"), copy);
    AddIn(keys, "Open", dir.file("open/addin.so"));
    record.RedirectDrives = record.RedirectPorts = record.RedirectPrinters = 1;
    record.RedirectSmartCards = 1;
    record.DriveCollection = "C: $:";
    prompts.certificateAnswer = CertificateAnswer::AcceptAlways;
    Connect();
    ASSERT_TRUE(WaitForState(kStateConnected)) << Text();
    EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 2}));
    ASSERT_EQ(prompts.certificates.size(), 2u);
    EXPECT_FALSE(prompts.certificates[1].fingerprint.empty());
    EXPECT_TRUE(queue->RunUntil([&] { return Shows<ShadowServer>(400, 300); }, 10s));
    EXPECT_TRUE(FileExists(mark));
    ASSERT_EQ(prompts.problems.size(), 2u);
    EXPECT_NE(prompts.problems[0].find("no-such-addin.so"), std::string::npos);
    EXPECT_NE(prompts.problems[1].find("addin.so was not loaded: " + dir.file("open") +
                                       " can be written by other users"),
              std::string::npos)
        << prompts.problems[1];
    EXPECT_TRUE(client->CurrentValues().dynamicDrives);
    const auto drives = client->CurrentValues().driveCollection;
    Disconnect();
    ASSERT_TRUE(WaitForState(kStateDisconnected));
    EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 2, 0}));
    EXPECT_EQ(Text(), "Disconnected, reason (1, 0): Local disconnection.");

    Connect();
    ASSERT_TRUE(WaitForState(kStateConnected));
    EXPECT_EQ(prompts.certificates.size(), 2u);
    shadow->Kill();
    ASSERT_TRUE(WaitForStates(3));
    EXPECT_EQ(session->State(), kStateDisconnected);
    EXPECT_EQ(Text().rfind("Disconnected, reason (2308, 0): ", 0), 0u) << Text();

    if (const auto volumes = MountedVolumes(); volumes.empty() || volumes[0].path != "/") {
        GTEST_SKIP() << "the root file system is on no device here, so there is no C:";
    }
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives[0].name, "System (C:)");
    EXPECT_TRUE(drives[0].redirected);
    for (std::size_t i = 1; i < drives.size(); ++i) EXPECT_FALSE(drives[i].redirected);
}

// Tabs closed while connecting end cleanly; a session connects again after its end.
TEST_F(ShadowSessionTest, ClosingWhileConnectingAndConnectingAgain) {
    for (int i = 0; i < VANDRELLE_CYCLES; ++i) {
        Connect();
        queue->Pump(std::chrono::milliseconds(10 * (i % 5)));
        session.reset();
        client.reset();
    }
    // The workers end by themselves; the events they still send find no tab.
    const std::size_t reported = frame.posted.size();
    queue->Pump(2s);
    EXPECT_EQ(frame.posted.size(), reported);
    Connect();
    for (int i = 0; i < VANDRELLE_CYCLES; ++i) {
        ASSERT_TRUE(WaitForState(kStateConnected)) << "cycle " << i;
        Disconnect();
        ASSERT_TRUE(WaitForState(kStateDisconnected)) << "cycle " << i;
        EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 2, 0}));
        frame.posted.clear();
        session->ConnectSession();
    }
    EXPECT_TRUE(WaitForState(kStateConnected));
}

TEST_F(UnreachableServerTest, RefusedPortsAndUnknownNamesGiveTheirReasons) {
    const struct {
        std::string server;
        int port;
        std::string text;
    } cases[] = {{"127.0.0.1", FreePort(), "Disconnected, reason (516, 0): "},
                 {"nonexistent.invalid", 3389,
                  "Disconnected, reason (260, 0): The server's name could not be found."}};
    for (const auto& c : cases) {
        record.Server = c.server;
        record.RDPPort = c.port;
        Connect();
        ASSERT_TRUE(WaitForStates(2)) << c.server;
        EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 0}));
        EXPECT_EQ(Text().rfind(c.text, 0), 0u) << Text();
    }
}

// Credential security: a wrong password ends with the engine's reason, an
// empty one asks the user (cancelled: no connection), a stored one logs on.
TEST_F(SessionHarness, ShadowNlaLogOnAndItsQuestions) {
    const char* user = "nlauser";
    const char* password = "Nla-Pass-1";
    const std::string sam = dir.file("SAM");
    ASSERT_EQ(std::system(
                  ("winpr-hash3 -u " + std::string(user) + " -p '" + password + "' -f sam > " + sam)
                      .c_str()),
              0);
    shadow =
        std::make_unique<ShadowServer>(std::vector<std::string>{"/sam-file:" + sam, "/sec:nla"});
    ASSERT_TRUE(shadow->ok()) << shadow->error();
    record.RDPPort = shadow->port();
    record.UserName = user;

    record.Password = "not-the-password";
    Connect();
    ASSERT_TRUE(WaitForStates(2));
    EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 0}));
    EXPECT_EQ(Text().rfind("Disconnected, reason (131081, 0): ", 0), 0u) << Text();
    EXPECT_NE(Text().find("uthentication"), std::string::npos) << Text();
    EXPECT_EQ(prompts.credentialAsks, 0);

    record.Password = "";
    Connect();
    ASSERT_TRUE(WaitForStates(2));
    EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 0}));
    EXPECT_EQ(prompts.credentialAsks, 1);
    prompts.credentials = LogonCredentials{user, "", password};
    Connect();
    ASSERT_TRUE(WaitForState(kStateConnected)) << Text();
    EXPECT_EQ(prompts.credentialAsks, 2);

    record.Password = password;
    Connect();
    ASSERT_TRUE(WaitForState(kStateConnected)) << Text();
    EXPECT_EQ(prompts.credentialAsks, 2);
    Disconnect();
    EXPECT_TRUE(WaitForState(kStateDisconnected));
}

// What the machine's xrdp services keep under /run/xrdp, by name.
std::string RunFolderListing() {
    std::string names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator("/run/xrdp", ec)) {
        names += entry.path().string() + "\n";
    }
    return std::filesystem::exists("/run/xrdp", ec) ? "/run/xrdp\n" + names : "";
}

// Real log-ons with a local user, beside another xrdp (the system's services
// or another test's), each ended by a logoff on the server: the tab stays, or
// closes when the switch is on. The machine is left as it was found.
TEST_F(SessionHarness, XrdpLogOnAndServerLogoffBesideOtherXrdps) {
    if (const std::string why = XrdpServer::Unavailable(); !why.empty()) {
        GTEST_SKIP() << "xrdp cannot run here: " << why;
    }
    const std::string before = RunFolderListing();
    {
        XrdpServer other;
        xrdp = std::make_unique<XrdpServer>();
        ASSERT_TRUE(other.ok()) << other.error();
        ASSERT_TRUE(xrdp->ok()) << xrdp->error();
        EXPECT_NE(other.port(), xrdp->port());
        record.RDPPort = xrdp->port();
        record.UserName = XrdpServer::kUser;
        record.Password = XrdpServer::kPassword;
        record.DesktopWidth = 1024;
        record.DesktopHeight = 768;
        // xrdp at times closes the connection while the client still answers
        // its late clipboard channel; the engine then stops at the failed write
        // before reading the logoff notice, and the session ends as a lost
        // connection (2308). That race is the server's: such an end is tried again.
        const auto logOnAndOff = [&] {
            for (int attempt = 1; attempt <= 3; ++attempt) {
                Connect();
                ASSERT_TRUE(WaitForState(kStateConnected, 30s));
                // A session that is still starting ends without the logoff's reason.
                ASSERT_TRUE(queue->RunUntil([&] { return Shows<XrdpServer>(-20, -20); }, 20s));
                ASSERT_TRUE(queue->RunUntil([&] { return xrdp->WindowManagerPid() != 0; }, 10s));
                ASSERT_TRUE(xrdp->LogOffSession());
                ASSERT_TRUE(WaitForStates(3));
                if (Text().rfind("Disconnected, reason (2308, 0)", 0) != 0) return;
            }
        };
        ASSERT_NO_FATAL_FAILURE(logOnAndOff());
        EXPECT_FALSE(prompts.certificates.empty());
        EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 2, 0}));
        EXPECT_EQ(Text(), "Disconnected, reason (2, 12): Remote disconnection by user.");
        config.SetCloseTabOnLogOff(1);
        ASSERT_NO_FATAL_FAILURE(logOnAndOff());
        EXPECT_EQ(States().back(), static_cast<std::uintptr_t>(kStateLoggedOff)) << Text();
        xrdp.reset();
    }
    EXPECT_EQ(RunFolderListing(), before);
}

}  // namespace
}  // namespace vandrelle::test
