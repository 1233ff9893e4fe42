// SPDX-License-Identifier: GPL-3.0-or-later
// Vandrelle sessions for a fixed time, for measuring: the RDP engine and the
// session widget, connected to HOST:PORT, shown on the display Qt is given;
// COUNT sessions side by side in one process, as tabs are. COUNT 0 shows an
// empty window of a session's size and connects nothing: what the process
// costs before any session.
// Usage: vandrelle-session-client HOST PORT SECONDS [COUNT]
// Exit status 0 when every session connected and stayed so until the end.
#include "FreeRdpClient.h"
#include "RdpView.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// A measuring run trusts the loopback server it was given.
class BenchPrompts : public vandrelle::SessionPrompts {
public:
    vandrelle::CertificateAnswer AskCertificate(const vandrelle::CertificateQuestion&) override {
        return vandrelle::CertificateAnswer::AcceptOnce;
    }
    std::optional<vandrelle::LogonCredentials> AskCredentials(
        const std::string&, const vandrelle::LogonCredentials&) override {
        return std::nullopt;
    }
};

// Counts the sessions still connected; the program ends with the last one.
class SessionEnd : public vandrelle::RdpClientEvents {
public:
    explicit SessionEnd(int* open) : m_open(open) {}
    bool connected = false;
    bool lost = false;  // ended otherwise than by the run's own disconnect
    void OnConnecting() override {}
    void OnConnected() override { connected = true; }
    void OnDisconnected(std::int32_t reason) override {
        if (reason != 1) {
            std::fprintf(stderr, "disconnected, reason %d\n", reason);
            lost = true;
        }
        if (--*m_open == 0) QApplication::quit();
    }
    void OnRequestGoFullScreen() override {}
    void OnRequestLeaveFullScreen() override {}
    void OnRequestContainerMinimize() override {}

private:
    int* m_open;
};

struct BenchSession {
    BenchSession(BenchPrompts& prompts, int* open, const char* host, int port)
        : end(open),
          client(
              [](std::function<void()> task) {
                  QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
              },
              prompts),
          view(client) {
        client.SetEventSink(&end);
        client.put_Server(host);
        client.put_RDPPort(port);
        client.put_DesktopWidth(1024);
        client.put_DesktopHeight(768);
        client.put_ColorDepth(32);
        client.put_AudioRedirectionMode(2);  // as the reference client's /audio-mode:2
        view.resize(1024, 768);
        view.show();
        client.Connect();
    }
    SessionEnd end;
    vandrelle::FreeRdpClient client;
    vandrelle::RdpView view;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: vandrelle-session-client HOST PORT SECONDS [COUNT]\n");
        return 2;
    }
    QApplication app(argc, argv);
    BenchPrompts prompts;
    int open = argc == 5 ? std::max(0, std::atoi(argv[4])) : 1;
    if (open == 0) {
        QWidget empty;
        empty.resize(1024, 768);
        empty.show();
        QTimer::singleShot(std::atoi(argv[3]) * 1000, &app, &QApplication::quit);
        return app.exec();
    }
    std::vector<std::unique_ptr<BenchSession>> sessions;
    for (int i = open; i > 0; --i) {
        sessions.push_back(
            std::make_unique<BenchSession>(prompts, &open, argv[1], std::atoi(argv[2])));
    }
    QTimer::singleShot(std::atoi(argv[3]) * 1000, [&] {
        for (auto& s : sessions) s->client.Disconnect();
    });
    app.exec();
    // The figures count only when every session stayed connected for the whole run.
    const bool allStayed = std::all_of(sessions.begin(), sessions.end(), [](const auto& s) {
        return s->end.connected && !s->end.lost;
    });
    sessions.clear();
    vandrelle::FreeRdpClient::WaitForConnectionsToEnd(std::chrono::seconds(5));
    return allStayed ? 0 : 1;
}
