// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ConfigStore.h"
#include "EngineTestKit.h"
#include "FakeRdpClient.h"
#include "FileUtil.h"
#include "FreeRdpClient.h"
#include "Peers.h"
#include "RegFileKeyStore.h"
#include "Session.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>

namespace vandrelle::test {

using namespace std::chrono_literals;

class AutoPrompts : public SessionPrompts {
public:
    CertificateAnswer certificateAnswer = CertificateAnswer::AcceptOnce;
    std::vector<CertificateQuestion> certificates;
    std::optional<LogonCredentials> credentials;
    int credentialAsks = 0;
    std::vector<std::string> problems;

    CertificateAnswer AskCertificate(const CertificateQuestion& q) override {
        certificates.push_back(q);
        return certificateAnswer;
    }
    std::optional<LogonCredentials> AskCredentials(const std::string&,
                                                   const LogonCredentials&) override {
        ++credentialAsks;
        return credentials;
    }
    void ReportProblem(const std::string& text) override { problems.push_back(text); }
};

class SessionHarness : public ::testing::Test {
protected:
    SessionHarness() : keys(dir.file("registry.reg"), dir.file("machine.reg")), config(keys) {
        UseTestHome();
        config.Init();
        config.SetConfigPath(dir.file("Vandrelle.xml"));
        record.Server = "127.0.0.1";
        record.ColorDepth = 32;
        record.DesktopWidth = 800;
        record.DesktopHeight = 600;
        record.InheritGeneral = 0;
    }

    // Every connection a test made ends once its client is gone, as a program
    // that exits waits for them.
    ~SessionHarness() override {
        session.reset();
        client.reset();
        EXPECT_TRUE(FreeRdpClient::WaitForConnectionsToEnd(std::chrono::seconds(10)))
            << "a connection's worker thread did not end";
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
        client->WithFrame([&](const FrameView& f) {
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

// Sessions against a FreeRDP shadow server of the test's own.
class ShadowSessionTest : public SessionHarness {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok()) << server.error();
        record.RDPPort = server.port();
    }

    void TearDown() override {
        if (HasFailure()) std::cout << "The shadow server's logs:\n" << server.Logs();
    }

    ShadowServer server;
};

}  // namespace vandrelle::test
