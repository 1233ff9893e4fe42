// SPDX-License-Identifier: GPL-3.0-or-later
// Sessions of the engine against the real servers, with the test as the
// user-interface thread and folders of its own for the engine's files.
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

// Tasks posted from the engine's threads run when the test pumps. Shared: a
// worker may still post after the test is done with it.
class TaskQueue : public std::enable_shared_from_this<TaskQueue> {
public:
    UiPost Poster() {
        // Weak: the queue holds the connection's tasks, which hold its poster.
        return [weak = weak_from_this()](std::function<void()> task) {
            const auto self = weak.lock();
            if (!self) return;
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
    void Pump(std::chrono::milliseconds time) {
        RunUntil([] { return false; }, time);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_tasks;
};

// The engine keeps known certificates under the user's folders. Set once,
// before any engine thread exists: changing the environment while other
// threads read it is undefined (and crashed).
inline const std::string& UseTestHome() {
    static const std::string& home = *new std::string([] {  // the clean-up at exit needs it
        const std::string path = (std::filesystem::temp_directory_path() /
                                  ("vandrelle-e2e-home-" + std::to_string(::getpid())))
                                     .string();
        MakeFolders(path + "/xdg");
        MakeFolders(path + "/runtime");
        ::chmod((path + "/runtime").c_str(), 0700);
        ::setenv("HOME", path.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (path + "/xdg").c_str(), 1);
        // Sound and toolkit libraries keep their sockets there, not in /tmp.
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

    // Every connection ends once its client is gone, as a program that exits waits for them.
    ~SessionHarness() override {
        session.reset();
        client.reset();
        EXPECT_TRUE(FreeRdpClient::WaitForConnectionsToEnd(10s))
            << "a connection's worker thread did not end";
    }

    void TearDown() override {
        if (HasFailure() && shadow) std::cout << "The shadow server's logs:\n" << shadow->Logs();
        if (HasFailure() && xrdp) std::cout << "xrdp's logs:\n" << xrdp->Logs();
    }

    // A new tab, told to connect: the old session goes before its client, as its window would.
    void Connect() {
        session.reset();
        frame.posted.clear();
        client = std::make_unique<FreeRdpClient>(queue->Poster(), prompts);
        session = std::make_unique<Session>(client.get(), view, frame, config, keys, record,
                                            NodePath({"s"}));
        session->ConnectSession();
    }

    // A disconnection counts once the frame has been told.
    bool WaitForState(std::int32_t state, std::chrono::milliseconds timeout = 20s) {
        return queue->RunUntil([&] { return session->State() == state && !frame.posted.empty(); },
                               timeout);
    }
    bool WaitForStates(std::size_t count, std::chrono::milliseconds timeout = 20s) {
        return queue->RunUntil([&] { return States().size() == count; }, timeout);
    }

    std::vector<std::uintptr_t> States() const {
        std::vector<std::uintptr_t> states;
        for (const auto& m : frame.posted) {
            if (m.message == WM_APP_SESSION_STATE) states.push_back(m.wParam);
        }
        return states;
    }
    std::string Text() const { return client->CurrentValues().disconnectedText; }

    // The frame's pixel at (x, y), negative from the right and bottom, is that colour.
    template <typename Server>
    bool Shows(int x, int y) {
        bool near = false;
        client->WithFrame([&](const FrameView& f) {
            const int px = x < 0 ? f.width + x : x, py = y < 0 ? f.height + y : y;
            const std::uint8_t* p = f.pixels + py * f.stride + px * 4;
            auto close = [](int a, int b) { return std::abs(a - b) <= 16; };
            near = close(p[2], Server::kRed) && close(p[1], Server::kGreen) &&
                   close(p[0], Server::kBlue);
        });
        return near;
    }

    void Disconnect() {
        bool handled = false;
        session->HandleMessage(WM_APP_DISCONNECT, 0, 0, handled);
    }

    std::unique_ptr<ShadowServer> shadow;  // the server of the test, whose logs a failure shows
    std::unique_ptr<XrdpServer> xrdp;
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

}  // namespace vandrelle::test
