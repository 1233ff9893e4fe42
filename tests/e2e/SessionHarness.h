// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ConfigStore.h"
#include "FakeRdpClient.h"
#include "FileUtil.h"
#include "FreeRdpClient.h"
#include "Peers.h"
#include "RegFileKeyStore.h"
#include "Session.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <iostream>
#include <mutex>

namespace vandrelle::test {

using namespace std::chrono_literals;

// The user-interface thread of the test: tasks posted from the engine's
// threads run here when the test pumps. Shared, because a worker may still
// post after the test is done with it.
class TaskQueue : public std::enable_shared_from_this<TaskQueue> {
public:
    UiPost Poster() {
        // Weak: a connection holds its poster, and the queue holds the
        // connection's tasks; a strong hold would keep both alive forever.
        return [weak = weak_from_this()](std::function<void()> task) {
            const auto self = weak.lock();
            if (!self) return;  // the test is over; nobody will run it
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

// The engine keeps known certificates under the user's folders: the tests get
// folders of their own. Set once, before any engine thread exists: changing
// the environment while other threads read it is undefined (and crashed).
inline const std::string& UseTestHome() {
    // Never destroyed: the clean-up at exit still needs it.
    static const std::string& home = *new std::string([] {
        std::string path = (std::filesystem::temp_directory_path() /
                            ("vandrelle-e2e-home-" + std::to_string(::getpid())))
                               .string();
        MakeFolders(path + "/xdg");
        MakeFolders(path + "/runtime");
        ::chmod((path + "/runtime").c_str(), 0700);
        ::setenv("HOME", path.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (path + "/xdg").c_str(), 1);
        // Sound and toolkit libraries keep their sockets there, not in folders of /tmp of their
        // own.
        ::setenv("XDG_RUNTIME_DIR", (path + "/runtime").c_str(), 1);
        ::setenv("VANDRELLE_TEST_ADDIN_MARK", (path + "/addin-loaded").c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(UseTestHome(), ec);
        });
        return path;
    }());
    return home;
}

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
