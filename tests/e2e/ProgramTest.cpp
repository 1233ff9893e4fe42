// SPDX-License-Identifier: GPL-3.0-or-later
// The main window with the real engine against a shadow server of the
// test's own: a server opened from the tree with the keyboard, its tab going
// to connected with the remote desktop in it, full screen through the main
// window, and quitting through the question.
#include "CDlgQuickConnect.h"
#include "CMainFrame.h"
#include "CSimpleTabView.h"
#include "CVandrelleView.h"
#include "FreeRdpClient.h"
#include "Peers.h"
#include "QtTestKit.h"
#include "ResourceIds.h"

#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

using namespace vandrelle;
using namespace vandrelle::test;

namespace {

// A configuration with one server, "Shadow", on the server's port.
std::string ShadowFile(int port, int fullScreen) {
    return "<?xml version=\"1.0\"?><Vandrelle><Servers><Server><Name>Shadow</Name>"
           "<Server>127.0.0.1</Server><InheritGeneral>0</InheritGeneral><RDPPort>" +
           std::to_string(port) +
           "</RDPPort><ColorDepth>32</ColorDepth><DesktopWidth>800</DesktopWidth>"
           "<DesktopHeight>600</DesktopHeight><FullScreen>" +
           std::to_string(fullScreen) +
           "</FullScreen><AudioRedirectionMode>2</AudioRedirectionMode></Server></Servers>"
           "<Settings/></Vandrelle>";
}

bool ShowsServedColour(QWidget* picture) {
    const QImage image = picture->grab().toImage();
    if (image.isNull()) return false;
    const QRgb c = image.pixel(image.width() / 2, image.height() / 2);
    auto close = [](int a, int b) { return std::abs(a - b) <= 16; };
    return close(qRed(c), ShadowServer::kRed) && close(qGreen(c), ShadowServer::kGreen) &&
           close(qBlue(c), ShadowServer::kBlue);
}

struct Program {
    Program(int port, int fullScreen) : disk(ShadowFile(port, fullScreen)) {
        frame = std::make_unique<CMainFrame>(disk.config, disk.keys, EngineHosts());
        frame->resize(1000, 700);
        frame->show();
    }
    // Down to the server, then Enter, as a user of the keyboard would; the
    // server's self-signed certificate is taken once.
    bool OpenFromTheTree() {
        QTreeWidget* tree = frame->ServerList()->Tree();
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Down);
        QTest::keyClick(tree, Qt::Key_Down);
        if (!tree->currentItem() || tree->currentItem()->text(0) != QStringLiteral("Shadow")) {
            return false;
        }
        certificateTaken = false;
        PressInNextModal(QStringLiteral("connectOnce"), &certificateTaken);
        QTest::keyClick(tree, Qt::Key_Return);
        return frame->View()->GetPageCount() == 2;
    }
    CVandrelleView* Session() const { return frame->SessionAt(1); }
    int Image() const { return frame->View()->GetPageImage(1); }

    ConfigOnDisk disk;
    std::unique_ptr<CMainFrame> frame;
    bool certificateTaken = false;
};

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_home;

private Q_SLOTS:
    void initTestCase() {
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (m_home.path() + QStringLiteral("/xdg")).toUtf8());
        QDir().mkpath(m_home.path() + QStringLiteral("/xdg"));
    }

    void cleanup() { QVERIFY(FreeRdpClient::WaitForConnectionsToEnd(std::chrono::seconds(10))); }

    void aServerOpensFromTheTreeAndTheProgramQuitsThroughTheQuestion() {
        ShadowServer server;
        QVERIFY2(server.ok(), server.error().c_str());
        Program p(server.port(), 0);
        QVERIFY(p.OpenFromTheTree());
        QTRY_VERIFY_WITH_TIMEOUT(p.certificateTaken, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(p.Image(), 2, 20000);
        QCOMPARE(p.frame->windowTitle(), QStringLiteral("Shadow - Vandrelle"));
        QCOMPARE(p.frame->StatusText(), QStringLiteral("[Shadow] Server: 127.0.0.1; Username: "));
        QTRY_VERIFY_WITH_TIMEOUT(ShowsServedColour(p.Session()->Host().Widget()), 10000);

        // Opening it again finds the open tab.
        p.frame->View()->SetActivePage(0);
        QTreeWidget* tree = p.frame->ServerList()->Tree();
        QTest::keyClick(tree, Qt::Key_Return);
        QCOMPARE(p.frame->View()->GetPageCount(), 2);
        QCOMPARE(p.frame->View()->GetActivePage(), 1);

        SeenBox box;
        AnswerNextMessageBox(QMessageBox::Yes, &box);
        QVERIFY(p.frame->close());
        QCOMPARE(box.title, QStringLiteral("Quit Vandrelle"));
        QCOMPARE(p.frame->View()->GetPageCount(), 0);
    }

    // A server stored to start in full screen covers the screen once
    // connected, through the main window, and comes back on leaving and when
    // the session ends.
    void fullScreenComesWithTheConnectionAndGoesWithIt() {
        ShadowServer server;
        QVERIFY2(server.ok(), server.error().c_str());
        Program p(server.port(), 1);
        QVERIFY(p.OpenFromTheTree());
        QTRY_COMPARE_WITH_TIMEOUT(p.Image(), 2, 20000);
        CVandrelleView* session = p.Session();
        QTRY_VERIFY(session->IsContainerFullScreen());
        QCOMPARE(session->parentWidget(), p.frame.get());
        QTRY_VERIFY(p.frame->isFullScreen());

        auto* leave = session->findChild<QToolButton*>(QStringLiteral("leaveFullScreenButton"));
        QVERIFY(leave && leave->isVisible());
        leave->click();
        QTRY_VERIFY(!session->IsContainerFullScreen());
        QCOMPARE(session->parentWidget(), p.frame->View());
        QTRY_VERIFY(!p.frame->isFullScreen());

        // Back to full screen from the tab, then the server goes away: the
        // session comes back into its tab.
        Q_EMIT p.frame->View()->TabDoubleClicked(1);
        QTRY_VERIFY(session->IsContainerFullScreen());
        server.Kill();
        QTRY_COMPARE_WITH_TIMEOUT(p.Image(), 0, 20000);
        QVERIFY(!session->IsContainerFullScreen());
        QCOMPARE(session->parentWidget(), p.frame->View());
        QTRY_VERIFY(!p.frame->isFullScreen());
    }

    // A typed server connects at once in a tab of its own and is filed under
    // "Quick Connections".
    void quickConnectReachesTheServerAndFilesIt() {
        ShadowServer server;
        QVERIFY2(server.ok(), server.error().c_str());
        Program p(server.port(), 0);
        const QString typed = QStringLiteral("127.0.0.1:%1").arg(server.port());
        auto* timer = new QTimer(p.frame.get());
        QObject::connect(timer, &QTimer::timeout, [timer, typed] {
            auto* dialog = qobject_cast<CDlgQuickConnect*>(QApplication::activeModalWidget());
            if (!dialog) return;
            timer->stop();
            dialog->ServerEdit()->setText(typed);
            dialog->accept();
        });
        timer->start(10);
        bool certificate = false;
        PressInNextModal(QStringLiteral("connectOnce"), &certificate);
        p.frame->OnSysCommand(IDM_QUICK_CONNECT);
        QCOMPARE(p.frame->View()->GetPageCaption(1), QStringLiteral("127.0.0.1"));
        QTRY_COMPARE_WITH_TIMEOUT(p.Image(), 2, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(ShowsServedColour(p.Session()->Host().Widget()), 10000);
        QVERIFY(p.disk.config.FindNode(NodePath({"Quick Connections", "127.0.0.1"})));
        p.frame->EndNow();
    }

    // "Reconnect in Full Screen mode" on a windowed server covers the screen
    // for that connection only.
    void reconnectInFullScreenCoversTheScreenOnce() {
        ShadowServer server;
        QVERIFY2(server.ok(), server.error().c_str());
        Program p(server.port(), 0);
        QVERIFY(p.OpenFromTheTree());
        QTRY_COMPARE_WITH_TIMEOUT(p.Image(), 2, 20000);
        CVandrelleView* session = p.Session();
        QVERIFY(!session->IsContainerFullScreen());

        Q_EMIT p.frame->View()->ContextMenuRequested(1, QPoint(5, 5));
        bool again = false;
        PressInNextModal(QStringLiteral("connectOnce"), &again);
        p.frame->OnSessionCommand(ID_SESSION_RECONNECT_FULL_SCREEN);
        QTRY_VERIFY_WITH_TIMEOUT(session->IsContainerFullScreen(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(p.Image(), 2, 20000);

        bool third = false;
        PressInNextModal(QStringLiteral("connectOnce"), &third);
        p.frame->OnSessionCommand(ID_SESSION_RECONNECT);
        QTRY_VERIFY_WITH_TIMEOUT(third, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(p.Image(), 2, 20000);
        QVERIFY(!session->IsContainerFullScreen());
        p.frame->EndNow();
    }
};

QTEST_MAIN(ProgramTest)
#include "ProgramTest.moc"
