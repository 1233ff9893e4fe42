// SPDX-License-Identifier: GPL-3.0-or-later
// The session widget and the main window with the real engine, against a
// shadow server (and xrdp) of the test's own.
#include "CMainFrame.h"
#include "CSimpleTabView.h"
#include "CVandrelleView.h"
#include "DesktopFit.h"
#include "EngineLoader.h"
#include "FreeRdpClient.h"
#include "Peers.h"
#include "QtTestKit.h"
#include "RdpView.h"
#include "ResourceIds.h"
#include "SessionViewKit.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>

using namespace vandrelle;
using namespace vandrelle::test;

namespace {

// Runs a shell command on the xrdp session's display as its user would see it;
// empty while there is no session.
QString OnSessionDisplay(const XrdpServer& server, const QString& command) {
    const std::string display = server.SessionDisplay();
    if (display.empty()) return {};
    return QString::fromStdString(Shell(
        QStringLiteral("DISPLAY=%1 XAUTHORITY=$(getent passwd %2 | cut -d: -f6)/.Xauthority "
                       "timeout 5 sh -c '%3' 2>/dev/null")
            .arg(QString::fromStdString(display), QString::fromLatin1(XrdpServer::kUser), command)
            .toStdString()));
}

// Prints the peer's logs when the test fails (also when a check ends it early).
template <typename Peer>
auto LogsOnFailure(const Peer& peer) {
    return qScopeGuard([&peer] {
        if (QTest::currentTestFailed()) std::fprintf(stderr, "%s\n", peer.Logs().c_str());
    });
}

template <typename Server = ShadowServer>
bool Near(QRgb c) {
    return Served<Server>(qRed(c), qGreen(c), qBlue(c));
}
bool ShowsServedColour(QWidget* picture) {
    const QImage image = picture->grab().toImage();
    return !image.isNull() && Near(image.pixel(image.width() / 2, image.height() / 2));
}

// Every row of the picture shows the served colour at both edges: the frame
// is painted whole, whatever pieces it is painted in. The served desktop is
// 4:3: scaled into the image it covers at least three quarters of its rows.
bool PaintedWhole(const QImage& image) {
    int rows = 0;
    for (int y = 0; y < image.height(); ++y) {
        if (!Near(image.pixel(image.width() / 2, y))) continue;
        if (!Near(image.pixel(1, y)) || !Near(image.pixel(image.width() - 2, y))) return false;
        ++rows;
    }
    return rows * 4 >= image.height() * 3;
}

// Opens the server on the tree's second row from the keyboard.
void OpenFromTheKeyboard(CMainFrame& frame) {
    QTreeWidget* tree = frame.ServerList()->Tree();
    tree->setFocus();
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Return})
        QTest::keyClick(tree, key);
}

}  // namespace

class WidgetTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every connection ends once its client is gone, as a program that exits waits for them.
    void cleanup() {
        QVERIFY(FreeRdpClient::WaitForConnectionsToEnd(std::chrono::seconds(10)));
        QVERIFY(WaitForEngineConnections(std::chrono::seconds(10)));
    }

    // One shadow server, first for the widget alone (the program's sessions
    // always leave full screen to their container): the picture is painted
    // whole; the pointer, the wheel and keys reach the server; connected
    // again in a smaller widget, the picture is scaled down (where its points
    // land: DesktopFitTest). Then the main window, on the
    // engine module as the program finds it, loaded when the first session
    // opens: a server opened from the tree with the keyboard, reconnected in
    // full screen until the server goes (full screen from the tab:
    // CMainFrameTest; left with the bar's button: the xrdp session).
    void theDesktopInTheWidgetAloneAndInTheMainWindow() {
        ShadowServer server;
        QVERIFY2(server.ok(), server.error().c_str());
        const auto logs = LogsOnFailure(server);
        runWidgetAlone(server);
        if (QTest::currentTestFailed()) return;
        ConfigOnDisk disk(
            ServerConfig("Shadow", server.port(),
                         "<DesktopWidth>800</DesktopWidth><DesktopHeight>600</DesktopHeight>"));
        CMainFrame frame(disk.config, disk.keys, ModuleEngineHosts(EngineModulePath()));
        frame.resize(1000, 700);
        frame.show();
        QVERIFY(!EngineModuleLoaded());
        CSimpleTabView* tabs = frame.View();
        // Each connection asks about the self-signed certificate; it is taken once.
        bool taken = false;
        PressInNextModal(QStringLiteral("connectOnce"), &taken);
        OpenFromTheKeyboard(frame);
        QVERIFY(EngineModuleLoaded());
        QTRY_COMPARE_WITH_TIMEOUT(tabs->GetPageImage(1), 2, 20000);
        QCOMPARE(frame.windowTitle(), QStringLiteral("Shadow - Vandrelle"));
        QCOMPARE(frame.StatusText(), QStringLiteral("[Shadow] Server: 127.0.0.1; Username: "));
        CVandrelleView* session = frame.SessionAt(1);
        QTRY_VERIFY_WITH_TIMEOUT(ShowsServedColour(session->Host().Widget()), 10000);

        // "Reconnect in Full Screen mode" covers the screen.
        Q_EMIT tabs->ContextMenuRequested(1, QPoint(5, 5));
        PressInNextModal(QStringLiteral("connectOnce"), &taken);
        frame.OnSessionCommand(ID_SESSION_RECONNECT_FULL_SCREEN);
        QTRY_VERIFY_WITH_TIMEOUT(session->IsContainerFullScreen(), 30000);
        QCOMPARE(session->parentWidget(), &frame);
        QTRY_VERIFY(frame.isFullScreen());

        // The session comes back into its tab when its server goes.
        server.Kill();
        QTRY_COMPARE_WITH_TIMEOUT(tabs->GetPageImage(1), 0, 20000);
        QTRY_VERIFY(!session->IsContainerFullScreen() && session->parentWidget() == tabs &&
                    !frame.isFullScreen());
    }

    // One xrdp session opened from the main window: clipboard text both ways,
    // then a desktop that fits the window follows it (the server takes
    // sizes) in the screen's device pixels: the window resized, and the
    // session in full screen and out with the bar's button, without
    // reconnecting; the status bar shows each size. (The pacing of the
    // requests while the window is dragged: DesktopFitTest.)
    void anXrdpSessionSharesTheClipboardAndFollowsTheWindow() {
        if (const std::string why = XrdpServer::Unavailable(); !why.empty()) QSKIP(why.c_str());
        if (::access("/usr/bin/xclip", X_OK) != 0) QSKIP("xclip is not installed");
        XrdpServer server;
        QVERIFY2(server.ok(), server.error().c_str());
        const auto logs = LogsOnFailure(server);
        ConfigOnDisk disk;
        const std::string password = EncodePassword(XrdpServer::kPassword, disk.config.Key());
        std::ofstream(disk.path, std::ios::binary)
            << ServerConfig("Xrdp", server.port(),
                            "<UserName>" + std::string(XrdpServer::kUser) +
                                "</UserName><Password>" + password + "</Password>");
        disk.config.Load(disk.path);
        QGuiApplication::clipboard()->setText(QStringLiteral("from Vandrelle\nline two"));
        CMainFrame frame(disk.config, disk.keys, EngineHosts());
        frame.resize(800, 600);
        frame.show();
        CSimpleTabView* tabs = frame.View();
        bool taken = false;
        PressInNextModal(QStringLiteral("connectOnce"), &taken);
        OpenFromTheKeyboard(frame);
        QTRY_COMPARE_WITH_TIMEOUT(tabs->GetPageImage(1), 2, 30000);
        // A reconnect would pass through another image (and ask about the certificate again).
        int lowest = 2;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout,
                         [&] { lowest = std::min(lowest, tabs->GetPageImage(1)); });
        watch.start(10);
        CVandrelleView* session = frame.SessionAt(1);
        auto& client = dynamic_cast<FreeRdpClient&>(session->Host().Client());
        QWidget* picture = session->Host().Widget();
        // Local to remote: a program in the session pastes what we copied
        // (with CR LF line ends, which xrdp hands on unchanged).
        QTRY_COMPARE_WITH_TIMEOUT(
            OnSessionDisplay(server, QStringLiteral("xclip -o -selection clipboard"))
                .remove(QLatin1Char('\r')),
            QStringLiteral("from Vandrelle\nline two"), 15000);
        // Remote to local: a program in the session copies, and our clipboard follows.
        OnSessionDisplay(server, QStringLiteral("printf %s \"from the server\" | xclip -i "
                                                "-selection clipboard -l 1 >/dev/null &"));
        QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text(),
                                  QStringLiteral("from the server"), 15000);

        QTRY_VERIFY_WITH_TIMEOUT(client.CanResizeDesktop(), 10000);
        // The remote desktop's size, then the one the status bar shows.
        auto* shown = frame.findChild<QLabel*>(QStringLiteral("desktopSize"));
        const auto sizes = [&client, shown] {
            QSize r;
            client.WithFrame([&](const FrameView& f) { r = QSize(f.width, f.height); });
            return QStringLiteral("%1 \u00d7 %2; ").arg(r.width()).arg(r.height()) + shown->text();
        };
        // The picture's area in device pixels, as the server is asked for it.
        const auto area = [picture] {
            const qreal ratio = picture->devicePixelRatioF();
            return QSize(int(picture->width() * ratio) & ~1, int(picture->height() * ratio));
        };
        const auto follows = [&] {  // what `sizes` shows while the desktop follows the area
            return QStringLiteral("%1 \u00d7 %2; %1 \u00d7 %2")
                .arg(area().width())
                .arg(area().height());
        };

        frame.resize(913, 650);
        QTRY_COMPARE_WITH_TIMEOUT(sizes(), follows(), 2000);
        const auto corner = [picture] {
            const QImage image = picture->grab().toImage();
            return image.pixel(image.width() - 2, image.height() - 2);
        };
        QTRY_VERIFY_WITH_TIMEOUT(Near<XrdpServer>(corner()), 2000);

        Q_EMIT tabs->TabDoubleClicked(1);
        QTRY_VERIFY(session->IsContainerFullScreen());
        QTRY_COMPARE(picture->size(), picture->screen()->size());
        QTRY_COMPARE_WITH_TIMEOUT(sizes(), follows(), 2000);
        session->findChild<QToolButton*>(QStringLiteral("leaveFullScreenButton"))->click();
        QTRY_VERIFY(!session->IsContainerFullScreen());
        QTRY_COMPARE_WITH_TIMEOUT(sizes(), follows(), 2000);
        QCOMPARE(lowest, 2);
    }

private:
    void runWidgetAlone(ShadowServer& server) {
        // Aimed at the loopback server, taking its certificate once.
        FixedPrompts prompts{CertificateAnswer::AcceptOnce};
        RecordingSink sink;
        FreeRdpClient client{QtPost(), prompts};
        client.SetEventSink(&sink);
        client.put_Server("127.0.0.1");
        client.put_RDPPort(server.port());
        client.put_DesktopWidth(800);
        client.put_DesktopHeight(600);
        client.put_ColorDepth(32);
        client.put_AudioRedirectionMode(2);  // no sound in tests
        QWidget host;
        host.resize(640, 480);
        RdpView view(client, &host);
        // 640 x 480 device pixels, smaller than the desktop at any scale.
        const qreal ratio = view.devicePixelRatioF();
        view.setGeometry(0, 0, int(640 / ratio), int(480 / ratio));
        host.show();
        client.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(sink.events.contains(QStringLiteral("connected")), 20000);
        const QPointF at(view.width() / 2.0, view.height() / 2.0);
        QTRY_VERIFY_WITH_TIMEOUT(PaintedWhole(view.grab().toImage()), 10000);

        // The widget's middle is the remote desktop's middle, whatever the scale.
        const QPoint remote = view.ToRemote(at);
        QMouseEvent move(QEvent::MouseMove, at, view.mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&view, &move);
        InputState in;
        InputWatch input(server.display());
        const auto read = [&] { return input.Read(&in); };
        QTRY_VERIFY_WITH_TIMEOUT(
            read() && std::abs(in.x - remote.x()) <= 1 && std::abs(in.y - remote.y()) <= 1, 5000);
        // A notch away from the user is button 4 there, one towards the user button 5.
        for (const int delta : {120, -120}) {
            QWheelEvent wheel(at, view.mapToGlobal(at), {}, QPoint(0, delta), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&view, &wheel);
        }
        QTRY_VERIFY_WITH_TIMEOUT(input.Presses(4) == 1 && input.Presses(5) == 1, 5000);
        // Caps Lock (key code 66) lights its indicator there.
        QVERIFY(read());
        const unsigned before = in.indicators;
        for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent key(type, Qt::Key_CapsLock, Qt::NoModifier, 66, 0, 0);
            QApplication::sendEvent(&view, &key);
        }
        QTRY_VERIFY_WITH_TIMEOUT(read() && (in.indicators & 1) != (before & 1), 5000);
        // A key still held when the session loses the focus is released there.
        QKeyEvent shift(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier, 50, 0, 0);
        QApplication::sendEvent(&view, &shift);
        QTRY_VERIFY_WITH_TIMEOUT(read() && in.Held(50), 5000);
        QFocusEvent focusOut(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(&view, &focusOut);
        QTRY_VERIFY_WITH_TIMEOUT(read() && !in.Held(50), 5000);

        client.Disconnect();
        QTRY_VERIFY_WITH_TIMEOUT(sink.events.contains(QStringLiteral("disconnected 1")), 20000);

        // Connected again in a smaller widget that follows its area: the
        // server keeps its size, and the picture is scaled down whole, centred.
        sink.events.clear();
        view.FollowArea(DesktopMode::FromRecord(0, 0, 0), {});
        // The served desktop is 1024 x 768; the widget half as high, wider.
        view.setGeometry(0, 0, int(640 / ratio), int(384 / ratio));
        client.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(sink.events.contains(QStringLiteral("connected")), 20000);
        // Shown at 512 x 384 device pixels from x = 64: black beside it.
        const auto scaledAndCentred = [&view] {
            const QImage image = view.grab().toImage();
            return image.size() == QSize(640, 384) && Near(image.pixel(70, 10)) &&
                   Near(image.pixel(570, 370)) && image.pixel(60, 200) == qRgb(0, 0, 0) &&
                   image.pixel(580, 200) == qRgb(0, 0, 0);
        };
        QTRY_VERIFY_WITH_TIMEOUT(scaledAndCentred(), 10000);
    }
};

// The user's folders are the test's own from the start: the engine keeps known
// certificates there.
int main(int argc, char** argv) {
    QTemporaryDir home;
    UseScratchHome(home.path().toStdString());
    QApplication app(argc, argv);
    WidgetTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "WidgetTest.moc"
