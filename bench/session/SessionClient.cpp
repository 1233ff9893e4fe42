// SPDX-License-Identifier: GPL-3.0-or-later
// The program's main window with sessions for a fixed time, for measuring:
// COUNT tabs of one server at HOST:PORT, opened as the server menu's
// "Connect" opens them, shown on the display Qt is given. COUNT 0 is the
// window with its tree and no session: what the program costs before any.
// Usage: vandrelle-session-client HOST PORT SECONDS [COUNT]
// Exit status 0 when every session connected and stayed so until the end.
#include "CMainFrame.h"
#include "CSimpleTabView.h"
#include "CVandrelleView.h"
#include "ConfigStore.h"
#include "FreeRdpClient.h"
#include "RegFileKeyStore.h"
#include "ResourceIds.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

using namespace vandrelle;

std::string ServerFile(const char* host, int port) {
    return std::string("<?xml version=\"1.0\"?><Vandrelle><Servers><Server><Name>bench</Name>") +
           "<Server>" + host + "</Server><InheritGeneral>0</InheritGeneral><RDPPort>" +
           std::to_string(port) +
           "</RDPPort><DesktopWidth>1024</DesktopWidth><DesktopHeight>768</DesktopHeight>"
           "<ColorDepth>32</ColorDepth><AudioRedirectionMode>2</AudioRedirectionMode>"
           "</Server></Servers><Settings><QuitWithoutConfirm>1</QuitWithoutConfirm></Settings>"
           "</Vandrelle>";
}

// A measuring run trusts the loopback server it was given: the certificate
// question is answered "Connect once" as soon as it shows.
void AnswerCertificates() {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            if (auto* once = modal->findChild<QAbstractButton*>(QStringLiteral("connectOnce"))) {
                once->click();
            }
        }
    });
    timer->start(20);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: vandrelle-session-client HOST PORT SECONDS [COUNT]\n");
        return 2;
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    const int seconds = std::atoi(argv[3]);
    const int count = argc == 5 ? std::max(0, std::atoi(argv[4])) : 1;

    QTemporaryDir folder;
    const std::string file =
        QDir(folder.path()).filePath(QStringLiteral("Vandrelle.xml")).toStdString();
    std::ofstream(file) << ServerFile(argv[1], std::atoi(argv[2]));
    auto keys = MakeDefaultKeyStore();
    CConfigStore config(*keys);
    if (!config.Init() || !config.Load(file)) {
        std::fprintf(stderr, "cannot load the bench's configuration\n");
        return 2;
    }
    CMainFrame frame(config, *keys, EngineHosts());
    frame.resize(1100, 900);
    frame.show();
    AnswerCertificates();

    PathBuffer path{};
    std::copy_n(u"bench", 5, path.begin());
    for (int i = 0; i < count; ++i) {
        frame.Send(WM_APP_OPEN_SESSION, ID_SERVER_CONNECT, reinterpret_cast<std::intptr_t>(&path));
    }

    // Every session must connect and stay so: one that drops out spoils the figures.
    std::vector<bool> connected(static_cast<std::size_t>(count), false);
    bool lost = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (int i = 0; i < count; ++i) {
            const CVandrelleView* session = frame.SessionAt(i + 1);
            const bool now = session && session->State() == kStateConnected;
            if (connected[static_cast<std::size_t>(i)] && !now) lost = true;
            connected[static_cast<std::size_t>(i)] = connected[static_cast<std::size_t>(i)] || now;
        }
    });
    watch.start(100);
    QTimer::singleShot(seconds * 1000, &frame, [&] {
        watch.stop();
        frame.EndNow();
    });
    app.exec();
    const bool allStayed =
        !lost && std::all_of(connected.begin(), connected.end(), [](bool c) { return c; });
    if (!allStayed) std::fprintf(stderr, "a session did not stay connected for the whole run\n");
    FreeRdpClient::WaitForConnectionsToEnd(std::chrono::seconds(5));
    return allStayed ? 0 : 1;
}
