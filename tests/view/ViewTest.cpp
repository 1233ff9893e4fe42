// SPDX-License-Identifier: GPL-3.0-or-later
// The session widget's full screen, with and without a container that
// handles it, and its keys while it has no session (no server is needed: a
// refused port ends a session at once); the session's questions as dialogs;
// the screen's scale as the window moves between screens.
#include "DialogPrompts.h"
#include "FreeRdpClient.h"
#include "QtTestKit.h"
#include "RdpView.h"
#include "SessionViewKit.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include <vector>

using namespace vandrelle;
using namespace Qt::StringLiterals;

namespace {

// A client and its widget at a place of its own inside a window.
struct Fixture {
    Fixture() : client(test::QtPost(), prompts), view(client, &host) {
        client.SetEventSink(&recorder);
        host.resize(640, 480);
        view.setGeometry(10, 20, 300, 200);
        host.show();
    }

    test::FixedPrompts prompts{CertificateAnswer::Reject};
    test::RecordingSink recorder;
    QWidget host;
    FreeRdpClient client;
    RdpView view;
};

}  // namespace

class ViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QVERIFY(FreeRdpClient::WaitForConnectionsToEnd(std::chrono::seconds(10))); }

    // The server is told the scale of the screen the window is on, also
    // after a move to a screen of another scale. Full screen belongs to a
    // session that shows its picture: asked for before the connect it waits,
    // and a connect that fails never covers the screen (a session that does
    // connect: the end-to-end tests). Without a session the widget is a page
    // like any other: Tab moves the focus, other keys go on to the window.
    // The bar's buttons and Ctrl+Alt+Return are requests to a container that
    // handles full screen (its Leave button: the end-to-end tests).
    // The certificate question names the server and the fingerprint, and
    // says when it changed; closing it, like Escape, never trusts the server
    // (Connect Once: the end-to-end tests). Credentials come from the
    // fields, or none when the dialog is cancelled.
    void theWidgetWithoutASessionAndItsQuestions() {
        const QList<QScreen*> screens = QGuiApplication::screens();
        QCOMPARE(screens.size(), 2);
        Fixture f;
        QCOMPARE(f.client.CurrentValues().desktopScale, 100);
        f.host.windowHandle()->setScreen(screens[1]);
        QTRY_COMPARE(f.client.CurrentValues().desktopScale, 200);

        f.client.put_Server("127.0.0.1");
        f.client.put_RDPPort(1);  // refused
        f.client.put_FullScreen(VariantBool::True);
        QVERIFY(!f.view.CoversScreen());
        const QString failed = u"Disconnected, reason (516, 0): refused"_s;
        f.client.put_DisconnectedText(failed.toStdString());  // as the session puts it
        f.client.Connect();
        auto* message = f.view.findChild<QLabel*>(u"disconnectedText"_s);
        QVERIFY(message && !message->isVisible());  // not while connecting
        QTRY_VERIFY_WITH_TIMEOUT(
            !f.recorder.events.empty() && f.recorder.events.back().startsWith("disconnected"),
            20000);
        // The text shows as soon as the connection ends, as a label that a
        // screen reader reads, without waiting for a repaint.
        QVERIFY(message->isVisible());
        QCOMPARE(message->text(), failed);
        QCOMPARE(f.view.accessibleDescription(), failed);
        QVERIFY(!f.view.CoversScreen() && !f.view.isWindow() && !f.view.IsFullScreenBarVisible());

        f.recorder.events.clear();
        QWidget after(&f.host);
        after.setFocusPolicy(Qt::StrongFocus);
        after.show();
        f.host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.host));
        f.view.setFocus();
        QTest::keyClick(&f.view, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), &after);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_W, Qt::ControlModifier, 25, 0, 0);
        QApplication::sendEvent(&f.view, &key);
        QVERIFY(!key.isAccepted());

        f.client.put_ContainerHandledFullScreen(1);
        f.client.put_FullScreen(VariantBool::True);
        QVERIFY(!f.view.CoversScreen());  // the container covers the screen
        f.view.SetFullScreenBarVisible(true);
        auto* minimize = f.view.findChild<QToolButton*>(u"minimizeButton"_s);
        QTest::mouseClick(minimize, Qt::LeftButton);
        f.view.setFocus();
        QTest::keyClick(&f.view, Qt::Key_Return, Qt::ControlModifier | Qt::AltModifier);
        QTRY_COMPARE(f.recorder.events, QStringList({u"minimize"_s, u"leave full screen"_s}));
        QCOMPARE(f.client.get_FullScreen(), VariantBool::True);  // the container decides

        // The session's questions as dialogs.
        DialogPrompts prompts(&f.host);
        CertificateQuestion q{"srv.example", 3389, "srv", "CN=srv", "CN=srv", "aa:bb:cc", false};
        const QString text = DialogPrompts::CertificateText(q);
        QVERIFY(text.contains(u"srv.example:3389"_s) && text.contains(u"aa:bb:cc"_s));
        QVERIFY(!text.contains(u"changed"_s));
        q.changed = true;
        QVERIFY(DialogPrompts::CertificateText(q).contains(u"changed"_s));
        test::WhenModalOpens([](QWidget* box) {
            auto* button = box->findChild<QPushButton*>(u"connectAlways"_s);
            QVERIFY(button);
            button->click();
        });
        QCOMPARE(prompts.AskCertificate(q), CertificateAnswer::AcceptAlways);
        test::WhenModalOpens([](QWidget* box) { qobject_cast<QMessageBox*>(box)->reject(); });
        QCOMPARE(prompts.AskCertificate(q), CertificateAnswer::Reject);

        test::WhenModalOpens([](QWidget* dialog) {
            auto* password = dialog->findChild<QLineEdit*>(u"password"_s);
            QCOMPARE(password->echoMode(), QLineEdit::Password);
            password->setText(u"pw"_s);
            qobject_cast<QDialog*>(dialog)->accept();
        });
        const auto answer = prompts.AskCredentials("srv", {"jdoe", "CORP", ""});
        QVERIFY(answer.has_value());
        QCOMPARE(
            QString::fromStdString(answer->user + "|" + answer->domain + "|" + answer->password),
            u"jdoe|CORP|pw"_s);
        test::WhenModalOpens([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
        QVERIFY(!prompts.AskCredentials("srv", {}).has_value());
    }
};

QTEST_MAIN(ViewTest)
#include "ViewTest.moc"
