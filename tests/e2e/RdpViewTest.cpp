// SPDX-License-Identifier: GPL-3.0-or-later
#include "FreeRdpClient.h"
#include "Peers.h"
#include "RdpView.h"
#include "SessionViewKit.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

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
    const QString full =
        QStringLiteral(
            "DISPLAY=%1 XAUTHORITY=$(getent passwd %2 | cut -d: -f6)/.Xauthority "
            "timeout 5 sh -c '%3' 2>/dev/null")
            .arg(QString::fromStdString(display), QString::fromLatin1(XrdpServer::kUser), command);
    return QString::fromStdString(Shell(full.toStdString()));
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
    client.put_AudioRedirectionMode(2);  // see SessionHarness: no ALSA fallback in tests
}

bool Near(QRgb c) {
    auto close = [](int a, int b) { return std::abs(a - b) <= 16; };
    return close(qRed(c), ShadowServer::kRed) && close(qGreen(c), ShadowServer::kGreen) &&
           close(qBlue(c), ShadowServer::kBlue);
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

class RdpViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every connection ends once its client is gone, as a program that exits waits for them.
    void cleanup() { QVERIFY(FreeRdpClient::WaitForConnectionsToEnd(std::chrono::seconds(10))); }

    // Without a container the widget covers the screen itself once the
    // session shows its picture, not before; the pointer, the wheel and keys
    // reach the server; its bar minimizes the window; the end of the session
    // gives the screen back.
    void showsTheDesktopFullScreenSendsInputAndGivesTheScreenBack() {
        ShadowServer server;
        QVERIFY2(server.ok(), server.error().c_str());
        const auto logs = LogsOnFailure(server);
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
        const auto read = [&] { return ReadInput(server.display(), &in); };
        QTRY_VERIFY_WITH_TIMEOUT(
            read() && std::abs(in.x - remote.x()) <= 1 && std::abs(in.y - remote.y()) <= 1, 5000);
        // A notch away from the user is button 4 there, one towards the user button 5.
        ButtonWatch buttons(server.display());
        QCOMPARE(buttons.Presses(4), 0);
        for (const int delta : {120, -120}) {
            QWheelEvent wheel(at, view.mapToGlobal(at), {}, QPoint(0, delta), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&view, &wheel);
        }
        QTRY_VERIFY_WITH_TIMEOUT(buttons.Presses(4) == 1 && buttons.Presses(5) == 1, 5000);
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
        server.Kill();
        QTRY_VERIFY_WITH_TIMEOUT(
            !sink.events.empty() && sink.events.back().startsWith(QStringLiteral("disconnected")),
            20000);
        QVERIFY(!view.CoversScreen());
        QCOMPARE(view.parentWidget(), &host);
        QCOMPARE(view.geometry(), place);
        QCOMPARE(client.get_FullScreen(), VariantBool::False);
        QVERIFY(sink.events.filter(QStringLiteral("full screen")).isEmpty());  // no container asked
        // Without a picture the widget shows the disconnected text on its background.
        QTRY_VERIFY(!Near(view.grab().toImage().pixel(150, 100)));
    }

    void sharesClipboardTextWithTheSessionBothWays() {
        if (const std::string why = XrdpServer::Unavailable(); !why.empty()) {
            QSKIP(why.c_str());
        }
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

        // Local to remote: a program in the session pastes what we copied.
        // (Text travels with CR LF line ends, which xrdp hands on unchanged.)
        QTRY_COMPARE_WITH_TIMEOUT(
            OnSessionDisplay(server, QStringLiteral("xclip -o -selection clipboard"))
                .remove(QLatin1Char('\r')),
            QStringLiteral("from Vandrelle\nline two"), 15000);

        // Remote to local: a program in the session copies, and our clipboard follows.
        OnSessionDisplay(
            server,
            QStringLiteral(
                "printf %s \"from the server\" | xclip -i -selection clipboard -l 1 >/dev/null &"));
        QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text(),
                                  QStringLiteral("from the server"), 15000);
        client.Disconnect();
        QTRY_VERIFY_WITH_TIMEOUT(sink.events.contains(QStringLiteral("disconnected 1")), 10000);
    }
};

// The user's folders are the test's own from the start: the engine keeps known
// certificates there, and the toolkit and sound libraries their sockets (else in
// folders of /tmp that outlive the test).
int main(int argc, char** argv) {
    QTemporaryDir home;
    const QString runtime = home.path() + QStringLiteral("/runtime");
    QDir().mkpath(home.path() + QStringLiteral("/xdg"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/xdg")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    QApplication app(argc, argv);
    RdpViewTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "RdpViewTest.moc"
