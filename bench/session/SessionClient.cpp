// SPDX-License-Identifier: GPL-3.0-or-later
// One Vandrelle session for a fixed time, for measuring: the RDP engine and
// the session widget, connected to HOST:PORT, shown on the offscreen platform.
// Usage: vandrelle-session-client HOST PORT SECONDS
#include "FreeRdpClient.h"
#include "RdpView.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

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

class QuitOnDisconnect : public vandrelle::RdpClientEvents {
public:
    bool connected = false;
    void OnConnecting() override {}
    void OnConnected() override { connected = true; }
    void OnDisconnected(std::int32_t reason) override {
        if (reason != 1) std::fprintf(stderr, "disconnected, reason %d\n", reason);
        QApplication::quit();
    }
    void OnRequestGoFullScreen() override {}
    void OnRequestLeaveFullScreen() override {}
    void OnRequestContainerMinimize() override {}
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: vandrelle-session-client HOST PORT SECONDS\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BenchPrompts prompts;
    QuitOnDisconnect sink;
    vandrelle::FreeRdpClient client(
        [](std::function<void()> task) {
            QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
        },
        prompts);
    client.SetEventSink(&sink);
    client.put_Server(argv[1]);
    client.put_RDPPort(std::atoi(argv[2]));
    client.put_DesktopWidth(1024);
    client.put_DesktopHeight(768);
    client.put_ColorDepth(32);
    client.put_AudioRedirectionMode(2);  // as the reference client's /audio-mode:2
    vandrelle::RdpView view(client);
    view.resize(1024, 768);
    view.show();
    client.Connect();
    QTimer::singleShot(std::atoi(argv[3]) * 1000, [&] { client.Disconnect(); });
    app.exec();
    return sink.connected ? 0 : 1;
}
