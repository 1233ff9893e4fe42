// SPDX-License-Identifier: GPL-3.0-or-later
#include "SessionHarness.h"

#include <cstdio>

namespace vandrelle::test {
namespace {

using namespace std::chrono_literals;

// The shadow server with credential security and one user.
class ShadowNlaTest : public SessionHarness {
protected:
    static constexpr const char* kUser = "nlauser";
    static constexpr const char* kPassword = "Nla-Pass-1";

    void SetUp() override {
        const std::string sam = dir.file("SAM");
        const std::string command =
            std::string("winpr-hash3 -u ") + kUser + " -p '" + kPassword + "' -f sam > " + sam;
        ASSERT_EQ(std::system(command.c_str()), 0) << "winpr-hash3 failed";
        server = std::make_unique<ShadowServer>(
            std::vector<std::string>{"/sam-file:" + sam, "/sec:nla"});
        ASSERT_TRUE(server->ok()) << server->error();
        record.RDPPort = server->port();
        record.UserName = kUser;
    }

    void TearDown() override {
        if (HasFailure() && server) std::cout << "The shadow server's logs:\n" << server->Logs();
    }

    std::string Text() const { return client->CurrentValues().disconnectedText; }

    std::unique_ptr<ShadowServer> server;
};

TEST_F(ShadowNlaTest, TheStoredPasswordLogsOn) {
    record.Password = kPassword;
    Open();
    session->ConnectSession();
    ASSERT_TRUE(WaitForState(kStateConnected)) << Text();
    EXPECT_EQ(prompts.credentialAsks, 0);
    Disconnect();
    EXPECT_TRUE(WaitForState(kStateDisconnected));
}

TEST_F(ShadowNlaTest, AWrongPasswordEndsWithAnAuthenticationReason) {
    record.Password = "not-the-password";
    Open();
    session->ConnectSession();
    ASSERT_TRUE(queue->RunUntil([&] { return States().size() == 2; }, 20s));
    EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 0}));
    // The engine's own code for a failed authentication, and its text.
    EXPECT_EQ(Text().rfind("Disconnected, reason (131081, 0): ", 0), 0u) << Text();
    EXPECT_NE(Text().find("uthentication"), std::string::npos) << Text();
}

TEST_F(ShadowNlaTest, AnEmptyPasswordAsksTheUser) {
    prompts.credentials = LogonCredentials{kUser, "", kPassword};
    Open();
    session->ConnectSession();
    ASSERT_TRUE(WaitForState(kStateConnected)) << Text();
    EXPECT_EQ(prompts.credentialAsks, 1);

    // Cancelling the question ends the connect attempt.
    Disconnect();
    ASSERT_TRUE(WaitForState(kStateDisconnected));
    frame.posted.clear();
    prompts.credentials.reset();
    Open();
    session->ConnectSession();
    ASSERT_TRUE(queue->RunUntil([&] { return States().size() == 2; }, 20s));
    EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 0}));
    EXPECT_EQ(prompts.credentialAsks, 2);
}

}  // namespace
}  // namespace vandrelle::test
