// SPDX-License-Identifier: GPL-3.0-or-later
// The session widget and the main window with the real engine, against a
// shadow server (and xrdp) of the test's own.
#include "CMainFrame.h"
#include "CSimpleTabView.h"
#include "CVandrelleView.h"
#include "FreeRdpClient.h"
#include "Peers.h"
#include "QtTestKit.h"
#include "RdpView.h"
#include "ResourceIds.h"
#include "SessionViewKit.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>

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

// A client for the loopback server's port, reporting to `sink`.
void Aim(FreeRdpClient& client, RecordingSink& sink, int port) {
    client.SetEventSink(&sink);
    client.put_Server("127.0.0.1");
    client.put_RDPPort(port);
    client.put_DesktopWidth(800);
    client.put_DesktopHeight(600);
    client.put_ColorDepth(32);
    client.put_AudioRedirectionMode(2);  // no sound in tests
}

bool Near(QRgb c) {
    return Served<ShadowServer>(qRed(c), qGreen(c), qBlue(c));
}
bool ShowsServedColour(QWidget* picture) {
    const QImage image = picture->grab().toImage();
    return !image.isNull() && Near(image.pixel(image.width() / 2, image.height() / 2));
}

// Every row of the picture shows the served colour at both edges: the frame
// is painted whole, whatever pieces it is painted in.
bool PaintedWhole(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        if (!Near(image.pixel(1, y)) || !Near(image.pixel(image.width() - 2, y))) return false;
    }
    return true;
}

}  // namespace

class WidgetTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every connection ends once its client is gone, as a program that exits waits for them.
    void cleanup() { QVERIFY(FreeRdpClient::WaitForConnectionsToEnd(std::chrono::seconds(10))); }

    // One shadow server, first for the widget alone: without a container it
    // covers the screen itself once the session shows its picture, not
    // before; the pointer, the wheel and keys reach the server; its bar
    // minimizes the window; the end of the session gives the screen back.
    // Then the main window: a server opened from the tree with the keyboard,
    // reconnected in and out of full screen, and full screen until the server goes.
    void theDesktopInTheWidgetAloneAndInTheMainWindow() {
        ShadowServer server;
        QVERIFY2(server.ok(), server.error().c_str());
        const auto logs = LogsOnFailure(server);
        runWidgetAlone(server);
        if (QTest::currentTestFailed()) return;
        ConfigOnDisk disk(ShadowConfig(server.port()));
        CMainFrame frame(disk.config, disk.keys, EngineHosts());
        frame.resize(1000, 700);
        frame.show();
        CSimpleTabView* tabs = frame.View();
        const auto image = [tabs](int page) { return tabs->GetPageImage(page); };
        // Each connection asks about the self-signed certificate; it is taken once.
        bool taken = false;
        const auto takeCertificate = [&taken] {
            taken = false;
            PressInNextModal(QStringLiteral("connectOnce"), &taken);
        };

        QTreeWidget* tree = frame.ServerList()->Tree();
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Down);
        QTest::keyClick(tree, Qt::Key_Down);
        QCOMPARE(tree->currentItem()->text(0), QStringLiteral("Shadow"));
        takeCertificate();
        QTest::keyClick(tree, Qt::Key_Return);
        QCOMPARE(tabs->GetPageCount(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(taken, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(image(1), 2, 20000);
        QCOMPARE(frame.windowTitle(), QStringLiteral("Shadow - Vandrelle"));
        QCOMPARE(frame.StatusText(), QStringLiteral("[Shadow] Server: 127.0.0.1; Username: "));
        CVandrelleView* session = frame.SessionAt(1);
        QTRY_VERIFY_WITH_TIMEOUT(ShowsServedColour(session->Host().Widget()), 10000);

        // "Reconnect in Full Screen mode" covers the screen for that connection only.
        Q_EMIT tabs->ContextMenuRequested(1, QPoint(5, 5));
        takeCertificate();
        frame.OnSessionCommand(ID_SESSION_RECONNECT_FULL_SCREEN);
        QTRY_VERIFY_WITH_TIMEOUT(session->IsContainerFullScreen(), 30000);
        QCOMPARE(session->parentWidget(), &frame);
        QTRY_VERIFY(frame.isFullScreen());
        takeCertificate();
        frame.OnSessionCommand(ID_SESSION_RECONNECT);
        QTRY_VERIFY_WITH_TIMEOUT(taken, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(image(1), 2, 20000);
        QVERIFY(!session->IsContainerFullScreen());
        QCOMPARE(session->parentWidget(), tabs);
        QTRY_VERIFY(!frame.isFullScreen());

        // Full screen from the tab and back with the bar's button, again from
        // the tab, and the session comes back into its tab when its server goes.
        Q_EMIT tabs->TabDoubleClicked(1);
        QTRY_VERIFY(session->IsContainerFullScreen());
        auto* leave = session->findChild<QToolButton*>(QStringLiteral("leaveFullScreenButton"));
        QVERIFY(leave && leave->isVisible());
        leave->click();
        QTRY_VERIFY(!session->IsContainerFullScreen());
        QCOMPARE(session->parentWidget(), tabs);
        QTRY_VERIFY(!frame.isFullScreen());
        Q_EMIT tabs->TabDoubleClicked(1);
        QTRY_VERIFY(frame.isFullScreen());
        server.Kill();
        QTRY_COMPARE_WITH_TIMEOUT(image(1), 0, 20000);
        QVERIFY(!session->IsContainerFullScreen());
        QCOMPARE(session->parentWidget(), tabs);
        QTRY_VERIFY(!frame.isFullScreen());
    }

    void sharesClipboardTextWithTheSessionBothWays() {
        if (const std::string why = XrdpServer::Unavailable(); !why.empty()) QSKIP(why.c_str());
        if (::access("/usr/bin/xclip", X_OK) != 0) QSKIP("xclip is not installed");
        XrdpServer server;
        QVERIFY2(server.ok(), server.error().c_str());
        const auto logs = LogsOnFailure(server);
        FixedPrompts prompts(CertificateAnswer::AcceptOnce);
        RecordingSink sink;
        FreeRdpClient client(QtPost(), prompts);
        Aim(client, sink, server.port());
        client.put_UserName(XrdpServer::kUser);
        client.put_ClearTextPassword(XrdpServer::kPassword);
        QGuiApplication::clipboard()->setText(QStringLiteral("from Vandrelle\nline two"));
        RdpView view(client);
        view.show();
        client.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(sink.events.contains(QStringLiteral("connected")), 30000);
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
    }

private:
    void runWidgetAlone(ShadowServer& server) {
        FixedPrompts prompts(CertificateAnswer::AcceptOnce);
        RecordingSink sink;
        FreeRdpClient client(QtPost(), prompts);
        Aim(client, sink, server.port());
        QWidget host;
        host.resize(640, 480);
        RdpView view(client, &host);
        const QRect place(10, 20, 300, 200);
        view.setGeometry(place);
        host.show();
        client.put_FullScreen(VariantBool::True);
        QVERIFY(!view.CoversScreen());
        client.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(sink.events.contains(QStringLiteral("connected")), 20000);
        QTRY_VERIFY(view.CoversScreen());
        QVERIFY(view.isFullScreen() && view.IsFullScreenBarVisible());
        const QPointF at(view.width() / 2.0, view.height() / 2.0);
        QTRY_VERIFY_WITH_TIMEOUT(Near(view.grab().toImage().pixel(at.toPoint())), 10000);
        QTRY_VERIFY(PaintedWhole(view.grab().toImage()));

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
        QCOMPARE(input.Presses(4), 0);
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

        view.findChild<QToolButton*>(QStringLiteral("minimizeButton"))->click();
        QTRY_VERIFY(view.isMinimized());
        client.Disconnect();
        QTRY_VERIFY_WITH_TIMEOUT(sink.events.contains(QStringLiteral("disconnected 1")), 20000);
        QVERIFY(!view.CoversScreen());
        QCOMPARE(view.parentWidget(), &host);
        QCOMPARE(view.geometry(), place);
        QCOMPARE(client.get_FullScreen(), VariantBool::False);
        QVERIFY(sink.events.filter(QStringLiteral("full screen")).isEmpty());  // no container asked
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
