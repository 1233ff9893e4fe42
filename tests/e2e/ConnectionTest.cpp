// SPDX-License-Identifier: GPL-3.0-or-later
// A connection on its own, made and told by an owner of the test's, without
// a client around it.
#include "FreeRdpConnection.h"

#include "EngineTestKit.h"
#include "Peers.h"

#include <gtest/gtest.h>

#include <iostream>
#include <utility>
#include <vector>

namespace vandrelle::test {
namespace {

using namespace std::chrono_literals;

// Records what its connections report; answers certificate questions with
// `certificateAnswer`.
class RecordingOwner : public ConnectionEvents {
public:
    explicit RecordingOwner(UiPost post) : m_post(std::move(post)) {}

    // Tasks run when the test pumps its queue, and are dropped after Leave(),
    // as a client that is gone drops them.
    ToOwner Reach() {
        return [post = m_post, alive = std::weak_ptr<bool>(m_alive),
                this](std::function<void(ConnectionEvents&)> task) {
            post([alive, this, task] {
                if (alive.lock()) {
                    task(*this);
                } else {
                    ++dropped;
                }
            });
        };
    }
    void Leave() { m_alive.reset(); }

    void Shown(const FreeRdpConnection& connection) override { shown.push_back(&connection); }
    void Ended(const FreeRdpConnection& connection, DisconnectReason reason) override {
        ended.push_back({&connection, reason});
    }
    void FrameChanged(FrameArea area) override { painted.push_back(area); }
    void RemoteClipboardText(const std::string&) override {}
    CertificateAnswer AskCertificate(const CertificateQuestion&) override {
        ++certificateQuestions;
        return certificateAnswer;
    }
    std::optional<LogonCredentials> AskCredentials(const std::string&,
                                                   const LogonCredentials&) override {
        ++credentialQuestions;
        return std::nullopt;
    }
    void ReportProblem(const std::string& text) override { problems.push_back(text); }

    CertificateAnswer certificateAnswer = CertificateAnswer::AcceptOnce;
    std::vector<const FreeRdpConnection*> shown;
    std::vector<std::pair<const FreeRdpConnection*, DisconnectReason>> ended;
    std::vector<FrameArea> painted;
    int certificateQuestions = 0;
    int credentialQuestions = 0;
    std::vector<std::string> problems;
    int dropped = 0;

private:
    UiPost m_post;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

class ConnectionTest : public ::testing::Test {
protected:
    ConnectionTest() { UseTestHome(); }
    ~ConnectionTest() override {
        EXPECT_TRUE(FreeRdpConnection::WaitForAllToEnd(10s))
            << "a connection's worker thread did not end";
    }

    std::shared_ptr<FreeRdpConnection> Make(int port) {
        ConnectionValues values;
        values.server = "127.0.0.1";
        values.port = port;
        values.desktopWidth = 800;
        values.desktopHeight = 600;
        return std::make_shared<FreeRdpConnection>(values, owner.Reach());
    }

    std::shared_ptr<TaskQueue> queue = std::make_shared<TaskQueue>();
    RecordingOwner owner{queue->Poster()};
};

class ShadowConnectionTest : public ConnectionTest {
protected:
    void SetUp() override { ASSERT_TRUE(server.ok()) << server.error(); }
    void TearDown() override {
        if (HasFailure()) std::cout << "The shadow server's logs:\n" << server.Logs();
    }

    ShadowServer server;
};

TEST_F(ConnectionTest, ARefusedPortEndsUnshownAlsoWhenItsMakerLetsGoOfIt) {
    auto connection = Make(FreePort());
    const FreeRdpConnection* made = connection.get();
    connection->Start();
    connection.reset();  // the worker keeps it until its end is told
    ASSERT_TRUE(queue->RunUntil([&] { return !owner.ended.empty(); }, 20s));
    EXPECT_EQ(owner.ended[0].first, made);
    EXPECT_EQ(owner.ended[0].second, (DisconnectReason{kReasonSocketConnectFailed, 0}));
    EXPECT_TRUE(owner.shown.empty());
    EXPECT_EQ(owner.certificateQuestions + owner.credentialQuestions, 0);
}

TEST_F(ShadowConnectionTest, TellsItsOwnerOfTheSessionItsPictureAndItsEnd) {
    auto connection = Make(server.port());
    connection->Start();
    ASSERT_TRUE(queue->RunUntil([&] { return !owner.shown.empty() || !owner.ended.empty(); }, 20s));
    ASSERT_EQ(owner.shown, (std::vector<const FreeRdpConnection*>{connection.get()}));
    EXPECT_EQ(owner.certificateQuestions, 1);  // a self-signed certificate is never taken silently
    EXPECT_TRUE(owner.problems.empty());

    ASSERT_TRUE(queue->RunUntil([&] { return !owner.painted.empty(); }, 10s));
    int width = 0, height = 0;
    EXPECT_TRUE(connection->WithFrame([&](const FrameView& f) {
        width = f.width;
        height = f.height;
    }));
    for (const FrameArea& a : owner.painted) {
        EXPECT_TRUE(a.width > 0 && a.height > 0 && a.x >= 0 && a.y >= 0 && a.x + a.width <= width &&
                    a.y + a.height <= height)
            << a.x << "," << a.y << " " << a.width << "x" << a.height << " in " << width << "x"
            << height;
    }

    connection->Abort();
    ASSERT_TRUE(queue->RunUntil([&] { return !owner.ended.empty(); }, 20s));
    EXPECT_EQ(owner.ended[0].first, connection.get());
    EXPECT_EQ(owner.ended[0].second, (DisconnectReason{kReasonLocal, 0}));
    EXPECT_FALSE(connection->WithFrame([](const FrameView&) {}));
}

TEST_F(ShadowConnectionTest, AQuestionWhoseOwnerIsGoneEndsTheConnection) {
    auto connection = Make(server.port());
    connection->Start();
    ASSERT_TRUE(queue->WaitForTask(20s));  // the certificate question
    owner.Leave();
    // The question goes unanswered, and the end that follows untold.
    ASSERT_TRUE(queue->RunUntil([&] { return owner.dropped == 2; }, 20s));
    EXPECT_TRUE(FreeRdpConnection::WaitForAllToEnd(10s));
    EXPECT_EQ(owner.certificateQuestions, 0);
    EXPECT_TRUE(owner.shown.empty());
    EXPECT_TRUE(owner.ended.empty());
}

}  // namespace
}  // namespace vandrelle::test
