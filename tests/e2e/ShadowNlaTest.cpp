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

    std::unique_ptr<ShadowServer> StartServer() {
        const std::string sam = dir.file("SAM");
        const std::string command =
            std::string("winpr-hash3 -u ") + kUser + " -p '" + kPassword + "' -f sam > " + sam;
        if (std::system(command.c_str()) != 0) return nullptr;
        auto server = std::make_unique<ShadowServer>(
            std::vector<std::string>{"/sam-file:" + sam, "/sec:nla"});
        record.RDPPort = server->port();
        record.UserName = kUser;
        return server;
    }

    std::string Text() const { return client->CurrentValues().disconnectedText; }
};

TEST_F(ShadowNlaTest, TheStoredPasswordLogsOn) {
    auto server = StartServer();
    ASSERT_TRUE(server && server->ok()) << (server ? server->error() : "winpr-hash3 failed");
    record.Password = kPassword;
    Open();
    session->ConnectSession();
    ASSERT_TRUE(WaitForState(kStateConnected)) << Text();
    EXPECT_EQ(prompts.credentialAsks, 0);
    Disconnect();
    EXPECT_TRUE(WaitForState(kStateDisconnected));
}

TEST_F(ShadowNlaTest, AWrongPasswordEndsWithAnAuthenticationReason) {
    auto server = StartServer();
    ASSERT_TRUE(server && server->ok()) << (server ? server->error() : "winpr-hash3 failed");
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
    auto server = StartServer();
    ASSERT_TRUE(server && server->ok()) << (server ? server->error() : "winpr-hash3 failed");
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
