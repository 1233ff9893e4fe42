// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigStore.h"
#include "FakeRdpClient.h"
#include "FileUtil.h"
#include "FreeRdpClient.h"
#include "Peers.h"
#include "RegFileKeyStore.h"
#include "Session.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace vandrelle::test {
namespace {

using namespace std::chrono_literals;

// The user-interface thread of the test: tasks posted from the engine's
// threads run here when the test pumps. Shared, because a worker may still
// post after the test is done with it.
class TaskQueue : public std::enable_shared_from_this<TaskQueue> {
public:
    UiPost Poster() {
        return [self = shared_from_this()](std::function<void()> task) {
            std::lock_guard lock(self->m_mutex);
            self->m_tasks.push_back(std::move(task));
            self->m_ready.notify_all();
        };
    }

    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            std::unique_lock lock(m_mutex);
            if (!m_ready.wait_until(lock, deadline, [&] { return !m_tasks.empty(); })) {
                return done();
            }
            auto task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
        }
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_tasks;
};

class AutoPrompts : public SessionPrompts {
public:
    CertificateAnswer certificateAnswer = CertificateAnswer::AcceptOnce;
    std::vector<CertificateQuestion> certificates;
    std::optional<LogonCredentials> credentials;
    int credentialAsks = 0;

    CertificateAnswer AskCertificate(const CertificateQuestion& q) override {
        certificates.push_back(q);
        return certificateAnswer;
    }
    std::optional<LogonCredentials> AskCredentials(const std::string&,
                                                   const LogonCredentials&) override {
        ++credentialAsks;
        return credentials;
    }
};

class ShadowSessionTest : public ::testing::Test {
protected:
    ShadowSessionTest() : keys(dir.file("registry.reg"), dir.file("machine.reg")), config(keys) {
        // The engine keeps known certificates under the user's folders.
        ::setenv("HOME", dir.path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", dir.file("xdg").c_str(), 1);
        MakeFolders(dir.file("xdg"));
        config.Init();
        config.SetConfigPath(dir.file("Vandrelle.xml"));
        record.Server = "127.0.0.1";
        record.ColorDepth = 32;
        record.DesktopWidth = 800;
        record.DesktopHeight = 600;
        record.InheritGeneral = 0;
    }

    // A new tab: the old session goes before its client, as its window would.
    void Open() {
        session.reset();
        client = std::make_unique<FreeRdpClient>(queue->Poster(), prompts);
        session = std::make_unique<Session>(client.get(), view, frame, config, keys, record,
                                            NodePath({"s"}));
    }

    bool WaitForState(std::int32_t state, std::chrono::milliseconds timeout = 20s) {
        return queue->RunUntil([&] { return session->State() == state && !Pending(); }, timeout);
    }

    // A disconnection is reported once the frame has been told.
    bool Pending() const { return frame.posted.empty(); }

    std::vector<std::uintptr_t> States() const {
        std::vector<std::uintptr_t> states;
        for (const auto& m : frame.posted) {
            if (m.message == WM_APP_SESSION_STATE) states.push_back(m.wParam);
        }
        return states;
    }

    bool CentreShowsTheServedColour() {
        bool near = false;
        client->WithFrame([&](const FreeRdpClient::FrameView& f) {
            const std::uint8_t* p = f.pixels + (f.height / 2) * f.stride + (f.width / 2) * 4;
            auto close = [](int a, int b) { return std::abs(a - b) <= 16; };
            near = close(p[2], ShadowServer::kRed) && close(p[1], ShadowServer::kGreen) &&
                   close(p[0], ShadowServer::kBlue);
        });
        return near;
    }

    void Disconnect() {
        bool handled = false;
        session->HandleMessage(WM_APP_DISCONNECT, 0, 0, handled);
    }

    TempDir dir;
    RegFileKeyStore keys;
    CConfigStore config;
    Properties record;
    std::shared_ptr<TaskQueue> queue = std::make_shared<TaskQueue>();
    AutoPrompts prompts;
    FakeSessionView view;
    FakeFrame frame;
    std::unique_ptr<FreeRdpClient> client;
    std::unique_ptr<Session> session;
};

TEST_F(ShadowSessionTest, ConnectsShowsTheDesktopAndDisconnectsLocally) {
    ShadowServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    record.RDPPort = server.port();
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
    ShadowServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    record.RDPPort = server.port();
    Open();
    session->ConnectSession();
    ASSERT_TRUE(WaitForState(kStateConnected));
    server.Kill();
    ASSERT_TRUE(queue->RunUntil([&] { return States().size() == 3; }, 20s));
    EXPECT_EQ(session->State(), kStateDisconnected);
    const std::string text = client->CurrentValues().disconnectedText;
    EXPECT_EQ(text.rfind("Disconnected, reason (2308, 0): ", 0), 0u) << text;
}

TEST_F(ShadowSessionTest, RefusedPortsAndUnknownNamesGiveTheirReasons) {
    record.RDPPort = UnusedPort();
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
    ShadowServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    record.RDPPort = server.port();
    prompts.certificateAnswer = CertificateAnswer::Reject;
    Open();
    session->ConnectSession();
    ASSERT_TRUE(queue->RunUntil([&] { return States().size() == 2; }, 20s));
    EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 0}));
    EXPECT_EQ(prompts.certificates.size(), 1u);
}

TEST_F(ShadowSessionTest, ClosingTheTabWhileConnectingEndsCleanly) {
    ShadowServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    record.RDPPort = server.port();
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

}  // namespace
}  // namespace vandrelle::test
