// SPDX-License-Identifier: GPL-3.0-or-later
// The main window with the real engine against a shadow server of the test's own.
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
std::string ShadowFile(int port) {
    return "<?xml version=\"1.0\"?><Vandrelle><Servers><Server><Name>Shadow</Name>"
           "<Server>127.0.0.1</Server><InheritGeneral>0</InheritGeneral><RDPPort>" +
           std::to_string(port) +
           "</RDPPort><ColorDepth>32</ColorDepth><DesktopWidth>800</DesktopWidth>"
           "<DesktopHeight>600</DesktopHeight><AudioRedirectionMode>2</AudioRedirectionMode>"
           "</Server></Servers><Settings/></Vandrelle>";
}

bool ShowsServedColour(QWidget* picture) {
    const QImage image = picture->grab().toImage();
    if (image.isNull()) return false;
    const QRgb c = image.pixel(image.width() / 2, image.height() / 2);
    auto close = [](int a, int b) { return std::abs(a - b) <= 16; };
    return close(qRed(c), ShadowServer::kRed) && close(qGreen(c), ShadowServer::kGreen) &&
           close(qBlue(c), ShadowServer::kBlue);
}

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

    // A server opened from the tree with the keyboard, reconnected in and out
    // of full screen, a quick connection beside it, full screen through the
    // main window until the server goes, and quitting through the question.
    void serversThroughTheMainWindow() {
        ShadowServer server;
        QVERIFY2(server.ok(), server.error().c_str());
        ConfigOnDisk disk(ShadowFile(server.port()));
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
        // Opening it again finds the open tab.
        tabs->SetActivePage(0);
        QTest::keyClick(tree, Qt::Key_Return);
        QCOMPARE(tabs->GetPageCount(), 2);
        QCOMPARE(tabs->GetActivePage(), 1);

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

        // A typed server connects at once in a tab of its own and is filed.
        ShadowServer other;
        QVERIFY2(other.ok(), other.error().c_str());
        const QString typed = QStringLiteral("127.0.0.1:%1").arg(other.port());
        auto* timer = new QTimer(&frame);
        QObject::connect(timer, &QTimer::timeout, [timer, typed] {
            auto* dialog = qobject_cast<CDlgQuickConnect*>(QApplication::activeModalWidget());
            if (!dialog) return;
            timer->stop();
            dialog->ServerEdit()->setText(typed);
            dialog->accept();
        });
        timer->start(10);
        takeCertificate();
        frame.OnSysCommand(IDM_QUICK_CONNECT);
        QCOMPARE(tabs->GetPageCaption(2), QStringLiteral("127.0.0.1"));
        QTRY_COMPARE_WITH_TIMEOUT(image(2), 2, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(ShowsServedColour(frame.SessionAt(2)->Host().Widget()), 10000);
        QVERIFY(disk.config.FindNode(NodePath({"Quick Connections", "127.0.0.1"})));

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

        SeenBox box;  // asked, as the quick connection is still connected
        AnswerNextMessageBox(QMessageBox::Yes, &box);
        QVERIFY(frame.close());
        QCOMPARE(box.title, QStringLiteral("Quit Vandrelle"));
        QCOMPARE(tabs->GetPageCount(), 0);
    }
};

QTEST_MAIN(ProgramTest)
#include "ProgramTest.moc"
