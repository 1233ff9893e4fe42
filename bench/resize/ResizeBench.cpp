// SPDX-License-Identifier: GPL-3.0-or-later
// How soon a resized window gets its remote desktop at the new size: the
// session widget on the engine, then the reference client xfreerdp3 with
// /dynamic-resolution, against one xrdp server on loopback, with the same
// drags. Each round drags the window through ten sizes in about 300 ms and
// times from the end of the drag until the session's X screen on the server
// has the final size (polled with xdpyinfo, alike for both clients); for the
// widget also until its picture has it. Prints the medians of ten rounds.
// Usage: bash bench/resize/run.sh BUILD_DIR (on a virtual display of its own)
#include "DesktopFit.h"
#include "FixedPrompts.h"
#include "FreeRdpClient.h"
#include "Peers.h"
#include "RdpView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace vandrelle;
using namespace vandrelle::test;

namespace {

constexpr int kRounds = 10;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Starts polling the server's session screen; the process prints the time
// (ms since the epoch) when it first has the size, or ends after 10 s.
std::unique_ptr<QProcess> WatchScreen(const XrdpServer& server, QSize size) {
    const std::string script =
        "export DISPLAY=" + server.SessionDisplay() + " XAUTHORITY=$(getent passwd " +
        XrdpServer::kUser +
        " | cut -d: -f6)/.Xauthority; end=$(( $(date +%s) + 10 )); "
        "while [ $(date +%s) -lt $end ]; do xdpyinfo 2>/dev/null | grep -q 'dimensions: *" +
        std::to_string(size.width()) + "x" + std::to_string(size.height()) +
        " ' && { date +%s%3N; exit 0; }; sleep 0.02; done; exit 1";
    auto watch = std::make_unique<QProcess>();
    watch->start(QStringLiteral("sh"), {QStringLiteral("-c"), QString::fromStdString(script)});
    watch->waitForStarted();
    return watch;
}

std::int64_t Arrived(QProcess& watch) {
    while (watch.state() != QProcess::NotRunning) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        watch.waitForFinished(5);
    }
    bool ok = false;
    const std::int64_t at = watch.readAllStandardOutput().trimmed().toLongLong(&ok);
    return ok ? at : -1;
}

// The sizes of one drag, ending at `to`.
std::vector<QSize> Drag(QSize from, QSize to) {
    std::vector<QSize> steps;
    for (int i = 1; i <= 10; ++i) {
        steps.push_back(QSize(from.width() + (to.width() - from.width()) * i / 10,
                              from.height() + (to.height() - from.height()) * i / 10));
    }
    return steps;
}

QSize Target(int round) {
    return round % 2 == 0 ? QSize(1000, 700) : QSize(800, 600);
}

double Median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void Print(const char* who, const char* what, const std::vector<double>& ms) {
    std::printf("%-28s %-34s median %6.0f ms (%zu of %d rounds)\n", who, what, Median(ms),
                ms.size(), kRounds);
}

bool BenchWidget(const XrdpServer& server) {
    test::FixedPrompts prompts{CertificateAnswer::AcceptOnce};
    FreeRdpClient client(
        [](std::function<void()> task) {
            QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
        },
        prompts);
    client.put_Server("127.0.0.1");
    client.put_RDPPort(server.port());
    client.put_UserName(XrdpServer::kUser);
    client.put_ClearTextPassword(XrdpServer::kPassword);
    client.put_DesktopWidth(800);
    client.put_DesktopHeight(600);
    client.put_AudioRedirectionMode(2);
    RdpView view(client);
    std::int64_t pictureAt = 0;
    QSize wanted;
    view.FollowArea(DesktopMode::FromRecord(0, 0, 0), [&](QSize size, bool asked) {
        if (!asked && size == wanted) pictureAt = NowMs();
    });
    view.resize(800, 600);
    view.show();
    client.Connect();
    QElapsedTimer wait;
    wait.start();
    while (!client.CanResizeDesktop() && wait.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!client.CanResizeDesktop()) {
        std::fprintf(stderr, "the widget's session did not offer resizing\n%s\n",
                     server.Logs().c_str());
        return false;
    }
    std::vector<double> screen, picture;
    QSize from(800, 600);
    for (int round = 0; round < kRounds; ++round) {
        wanted = Target(round);
        pictureAt = 0;
        auto watch = WatchScreen(server, wanted);
        for (const QSize step : Drag(from, wanted)) {
            view.resize(step);
            QElapsedTimer pause;
            pause.start();
            while (pause.elapsed() < 30) QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        const std::int64_t end = NowMs();
        const std::int64_t at = Arrived(*watch);
        if (at > 0) screen.push_back(double(at - end));
        while (pictureAt == 0 && NowMs() - end < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        if (pictureAt > 0) picture.push_back(double(pictureAt - end));
        from = wanted;
    }
    if (!client.IsConnected()) {
        std::fprintf(stderr, "the widget's session ended during the drags\n%s\n",
                     server.Logs().c_str());
        return false;
    }
    Print("Vandrelle (session widget)", "server screen at the final size", screen);
    Print("Vandrelle (session widget)", "picture at the final size", picture);
    client.Disconnect();
    return true;
}

bool BenchReference(const XrdpServer& server) {
    TempDir work;
    ChildProcess client(
        {"xfreerdp3", "/v:127.0.0.1:" + std::to_string(server.port()),
         "/u:" + std::string(XrdpServer::kUser), "/p:" + std::string(XrdpServer::kPassword),
         "/cert:ignore", "/dynamic-resolution", "/size:800x600", "/audio-mode:2", "-clipboard"},
        {}, work.file("xfreerdp.log"));
    const std::string window = Shell("timeout 30 xdotool search --sync --onlyvisible --pid " +
                                     std::to_string(client.pid()) + " 2>/dev/null | head -1");
    if (window.empty()) {
        std::fprintf(stderr, "xfreerdp3 showed no window\n%s\n", Logs(work).c_str());
        return false;
    }
    // Connected once the server's session screen has the client's first size.
    auto first = WatchScreen(server, QSize(800, 600));
    Arrived(*first);
    QThread::sleep(2);
    std::vector<double> screen;
    QSize from(800, 600);
    for (int round = 0; round < kRounds; ++round) {
        const QSize wanted = Target(round);
        auto watch = WatchScreen(server, wanted);
        for (const QSize step : Drag(from, wanted)) {
            Shell("xdotool windowsize " + window + " " + std::to_string(step.width()) + " " +
                  std::to_string(step.height()));
            QThread::msleep(30);
        }
        const std::int64_t end = NowMs();
        const std::int64_t at = Arrived(*watch);
        if (at > 0) screen.push_back(double(at - end));
        from = wanted;
    }
    Print("xfreerdp3 /dynamic-resolution", "server screen at the final size", screen);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // The widget is sized by the benchmark itself, not by a window system in
    // between; xfreerdp3 gets its sizes through the display's window system.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (const std::string why = XrdpServer::Unavailable(); !why.empty()) {
        std::fprintf(stderr, "xrdp cannot run here: %s\n", why.c_str());
        return 1;
    }
    XrdpServer server;
    if (!server.ok()) {
        std::fprintf(stderr, "xrdp did not start: %s\n", server.error().c_str());
        return 1;
    }
    const bool widget = BenchWidget(server);
    FreeRdpClient::WaitForConnectionsToEnd(std::chrono::seconds(10));
    QThread::sleep(2);
    const bool reference = BenchReference(server);
    return widget && reference ? 0 : 1;
}
