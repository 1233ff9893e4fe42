// SPDX-License-Identifier: GPL-3.0-or-later
// Full screen of the session widget, with and without a container that
// handles it, and its keys while it has no session; no server is needed (a
// refused port ends a session at once).
#include "FreeRdpClient.h"
#include "RdpView.h"
#include "SessionViewKit.h"

#include <QApplication>
#include <QTest>
#include <QToolButton>

#include <vector>

using namespace vandrelle;

namespace {

// A client and its widget at a place of its own inside a window.
struct Fixture {
    Fixture() : client(test::QtPost(), prompts), view(client, &host) {
        client.SetEventSink(&recorder);
        host.resize(640, 480);
        view.setGeometry(place);
        host.show();
    }
    void Click(const char* button) {
        auto* b = view.findChild<QToolButton*>(button);
        QVERIFY(b != nullptr);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void VerifyBackInPlace() {
        QVERIFY(!view.CoversScreen());
        QVERIFY(!view.isWindow());
        QCOMPARE(view.parentWidget(), &host);
        QCOMPARE(view.geometry(), place);
        QVERIFY(!view.IsFullScreenBarVisible());
        QCOMPARE(client.get_FullScreen(), VariantBool::False);
    }

    const QRect place{10, 20, 300, 200};
    test::FixedPrompts prompts{CertificateAnswer::Reject};
    test::RecordingSink recorder;
    QWidget host;
    FreeRdpClient client;
    RdpView view;
};

}  // namespace

class RdpViewFullScreenTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QVERIFY(FreeRdpClient::WaitForConnectionsToEnd(std::chrono::seconds(10))); }

    // Full screen belongs to a session that shows its picture: asked for
    // before the connect it waits, and a connect that fails never covers the
    // screen. (A session that does connect: the end-to-end tests.)
    void fullScreenWaitsForTheSession() {
        Fixture f;
        f.client.put_Server("127.0.0.1");
        f.client.put_RDPPort(1);  // refused
        f.client.put_FullScreen(VariantBool::True);
        QVERIFY(!f.view.CoversScreen());
        QCOMPARE(f.client.get_FullScreen(), VariantBool::True);
        f.client.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(
            !f.recorder.events.empty() && f.recorder.events.back().startsWith("disconnected"),
            20000);
        f.VerifyBackInPlace();
        QCOMPARE(f.recorder.events.count(QStringLiteral("go full screen")), 0);
    }

    void aContainerThatHandlesFullScreenGetsTheBarsRequests() {
        Fixture f;
        f.client.put_ContainerHandledFullScreen(1);
        f.client.put_FullScreen(VariantBool::True);
        QVERIFY(!f.view.CoversScreen());  // the container covers the screen
        f.view.SetFullScreenBarVisible(true);
        f.Click("leaveFullScreenButton");
        f.Click("minimizeButton");
        QTest::keyClick(&f.view, Qt::Key_Return, Qt::ControlModifier | Qt::AltModifier);
        QTRY_COMPARE(f.recorder.events,
                     QStringList({QStringLiteral("leave full screen"), QStringLiteral("minimize"),
                                  QStringLiteral("leave full screen")}));
        QVERIFY(!f.view.isWindow());
        QCOMPARE(f.client.get_FullScreen(), VariantBool::True);  // the container decides
    }

    // Without a session the widget is a page like any other: Tab and
    // Shift+Tab move the focus, other keys go on to the window.
    void withoutASessionKeysAreTheWindows() {
        Fixture f;
        QWidget after(&f.host);
        after.setFocusPolicy(Qt::StrongFocus);
        after.show();
        f.host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.host));
        f.view.setFocus();
        QTest::keyClick(&f.view, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), &after);
        QTest::keyClick(&after, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), &f.view);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_W, Qt::ControlModifier, 25, 0, 0);
        QApplication::sendEvent(&f.view, &key);
        QVERIFY(!key.isAccepted());
    }
};

QTEST_MAIN(RdpViewFullScreenTest)
#include "RdpViewFullScreenTest.moc"
