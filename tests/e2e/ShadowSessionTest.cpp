// SPDX-License-Identifier: GPL-3.0-or-later
#include "SessionHarness.h"

#include "KeyStore.h"
#include "LocalDevices.h"

namespace vandrelle::test {
namespace {

using namespace std::chrono_literals;
using UnreachableServerTest = SessionHarness;

TEST_F(ShadowSessionTest, ConnectsShowsTheDesktopAndDisconnectsLocally) {
    Open();
    session->ConnectSession();
    ASSERT_TRUE(WaitForState(kStateConnected))
        << "states: " << States().size()
        << ", certificate questions: " << prompts.certificates.size()
        << ", text: " << client->CurrentValues().disconnectedText;
    EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 2}));
    ASSERT_EQ(prompts.certificates.size(),
              1u);  // a self-signed certificate is never taken silently
    EXPECT_FALSE(prompts.certificates[0].fingerprint.empty());
    EXPECT_TRUE(queue->RunUntil([&] { return CentreShowsTheServedColour(); }, 10s));

    Disconnect();
    ASSERT_TRUE(WaitForState(kStateDisconnected));
    EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 2, 0}));
    EXPECT_EQ(client->CurrentValues().disconnectedText,
              "Disconnected, reason (1, 0): Local disconnection.");
}

TEST_F(ShadowSessionTest, AKilledServerEndsTheSessionWithANetworkReason) {
    Open();
    session->ConnectSession();
    ASSERT_TRUE(WaitForState(kStateConnected));
    server.Kill();
    ASSERT_TRUE(queue->RunUntil([&] { return States().size() == 3; }, 20s));
    EXPECT_EQ(session->State(), kStateDisconnected);
    const std::string text = client->CurrentValues().disconnectedText;
    EXPECT_EQ(text.rfind("Disconnected, reason (2308, 0): ", 0), 0u) << text;
}

TEST_F(UnreachableServerTest, RefusedPortsAndUnknownNamesGiveTheirReasons) {
    record.RDPPort = FreePort();  // nothing listens there
    Open();
    session->ConnectSession();
    ASSERT_TRUE(queue->RunUntil([&] { return States().size() == 2; }, 20s));
    EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 0}));
    EXPECT_EQ(client->CurrentValues().disconnectedText.rfind("Disconnected, reason (516, 0): ", 0),
              0u)
        << client->CurrentValues().disconnectedText;

    frame.posted.clear();
    record.Server = "nonexistent.invalid";
    Open();
    session->ConnectSession();
    ASSERT_TRUE(queue->RunUntil([&] { return States().size() == 2; }, 20s));
    EXPECT_EQ(client->CurrentValues().disconnectedText,
              "Disconnected, reason (260, 0): The server's name could not be found.");
}

TEST_F(ShadowSessionTest, ARejectedCertificateDoesNotConnect) {
    prompts.certificateAnswer = CertificateAnswer::Reject;
    Open();
    session->ConnectSession();
    ASSERT_TRUE(queue->RunUntil([&] { return States().size() == 2; }, 20s));
    EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 0}));
    EXPECT_EQ(prompts.certificates.size(), 1u);
}

TEST_F(ShadowSessionTest, ACertificateTrustedAlwaysIsNotAskedAgain) {
    prompts.certificateAnswer = CertificateAnswer::AcceptAlways;
    for (int i = 0; i < 2; ++i) {
        frame.posted.clear();
        Open();
        session->ConnectSession();
        ASSERT_TRUE(WaitForState(kStateConnected)) << "connect " << i;
        Disconnect();
        ASSERT_TRUE(WaitForState(kStateDisconnected));
    }
    EXPECT_EQ(prompts.certificates.size(), 1u);
}

TEST_F(ShadowSessionTest, ClosingTheTabWhileConnectingEndsCleanly) {
    for (int i = 0; i < 3; ++i) {
        Open();
        session->ConnectSession();
        queue->RunUntil([] { return false; }, std::chrono::milliseconds(50 * i));
        session.reset();
        client.reset();
    }
    // The workers end by themselves; the events they still send find no tab.
    const std::size_t reported = frame.posted.size();
    queue->RunUntil([] { return false; }, 2s);
    EXPECT_EQ(frame.posted.size(), reported);
    // And a new tab connects as usual afterwards.
    Open();
    session->ConnectSession();
    EXPECT_TRUE(WaitForState(kStateConnected));
}

TEST_F(ShadowSessionTest, AddInsLoadByPathAndOneThatFailsIsReportedAndSkipped) {
    const std::string mark = UseTestHome() + "/addin-loaded";
    ::unlink(mark.c_str());
    keys.CreateKey(Hive::CurrentUser,
                   "Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\Missing")
        ->WriteString("Name", dir.file("no-such-addin.so"));
    keys.CreateKey(Hive::CurrentUser,
                   "Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\Test")
        ->WriteString("Name", VANDRELLE_TEST_ADDIN);
    // A copy that anyone may replace is never opened.
    MakeFolders(dir.file("open"));
    ::chmod(dir.file("open").c_str(), 0777);
    std::string copy;
    ASSERT_TRUE(ReadWholeFile(VANDRELLE_TEST_ADDIN, &copy, nullptr));
    WriteFile(dir.file("open/addin.so"), copy);
    keys.CreateKey(Hive::CurrentUser,
                   "Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\Open")
        ->WriteString("Name", dir.file("open/addin.so"));
    Open();
    session->ConnectSession();
    ASSERT_TRUE(WaitForState(kStateConnected));
    EXPECT_TRUE(FileExists(mark));
    ASSERT_EQ(prompts.problems.size(), 2u);
    EXPECT_NE(prompts.problems[0].find("no-such-addin.so"), std::string::npos);
    EXPECT_NE(prompts.problems[1].find("addin.so was not loaded: " + dir.file("open") +
                                       " can be written by other users"),
              std::string::npos)
        << prompts.problems[1];
    Disconnect();
    EXPECT_TRUE(WaitForState(kStateDisconnected));
}

TEST_F(ShadowSessionTest, LocalResourcesDoNotStandInTheWayOfConnecting) {
    record.RedirectDrives = 1;
    record.DriveCollection = "C: $:";
    record.RedirectPorts = 1;
    record.RedirectPrinters = 1;
    record.RedirectSmartCards = 1;
    Open();
    session->ConnectSession();
    ASSERT_TRUE(WaitForState(kStateConnected)) << client->CurrentValues().disconnectedText;
    EXPECT_TRUE(client->CurrentValues().dynamicDrives);
    const auto drives = client->CurrentValues().driveCollection;
    Disconnect();
    EXPECT_TRUE(WaitForState(kStateDisconnected));

    if (const auto volumes = MountedVolumes(); volumes.empty() || volumes[0].path != "/") {
        GTEST_SKIP() << "connected, but the root file system is on no device here (a container?), "
                        "so there is no system drive to offer as C:";
    }
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives[0].name, "System (C:)");
    EXPECT_TRUE(drives[0].redirected);
    for (std::size_t i = 1; i < drives.size(); ++i) EXPECT_FALSE(drives[i].redirected);
}

}  // namespace
}  // namespace vandrelle::test
