// SPDX-License-Identifier: GPL-3.0-or-later
// The find bar in the main window, from the keyboard: Ctrl+F, typing, moving
// between matches, Enter, the Menu key and Escape; the tree given back and
// the file untouched.
#include "CFindBar.h"
#include "CMainFrame.h"
#include "CServerList.h"
#include "CSimpleTabView.h"
#include "CVandrelleView.h"
#include "QtTestKit.h"
#include "ResourceIds.h"

#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTreeWidget>

using namespace vandrelle;
using namespace vandrelle::test;

namespace {

const std::string kFile =
    "<?xml version=\"1.0\"?><Vandrelle><Servers>"
    "<Group><Properties><Name>Europe</Name><GroupCollapsed>1</GroupCollapsed></Properties>"
    "<Group><Properties><Name>Zürich</Name></Properties>"
    "<Server><Name>web12</Name><Server>10.1.0.12</Server></Server>"
    "<Server><Name>db1</Name><Server>db1.zh.test</Server></Server></Group></Group>"
    "<Server><Name>Lab</Name><Server>lab.test</Server></Server>"
    "</Servers></Vandrelle>";

void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

}  // namespace

class CFindBarTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ConfigOnDisk> m_disk;
    FakeHosts m_hosts;
    std::unique_ptr<CMainFrame> m_frame;
    QTreeWidget* m_tree = nullptr;
    CFindBar* m_bar = nullptr;

    QTreeWidgetItem* Item(const QString& label) const {
        const auto found = m_tree->findItems(label, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.front();
    }
    QString Current() const {
        return m_tree->currentItem() ? m_tree->currentItem()->text(0) : QString();
    }

private Q_SLOTS:
    void init() {
        m_disk = std::make_unique<ConfigOnDisk>(kFile);
        m_frame = std::make_unique<CMainFrame>(m_disk->config, m_disk->keys, m_hosts.Factory());
        m_frame->show();
        QApplication::setActiveWindow(m_frame.get());
        m_tree = m_frame->ServerList()->Tree();
        m_bar = m_frame->ServerList()->findChild<CFindBar*>();
        m_tree->setFocus();
        QTRY_VERIFY(m_tree->hasFocus());
    }
    void cleanup() {
        m_frame.reset();
        m_disk.reset();
    }

    void findsFromTheKeyboardAndGivesTheTreeBack() {
        m_tree->setCurrentItem(Item(QStringLiteral("Lab")));
        const std::string before = m_disk->Text();
        Key(Qt::Key_F, Qt::ControlModifier);
        QVERIFY(m_bar->isVisible());
        QCOMPARE(QApplication::focusWidget(), m_bar->Field());
        QCOMPARE(m_bar->Field()->accessibleName(), QStringLiteral("Find server"));

        // Typed and left without choosing: the tree is as it was.
        QTest::keyClicks(m_bar->Field(), QStringLiteral("lab"));
        QCOMPARE(Current(), QStringLiteral("Lab"));
        Key(Qt::Key_Escape);
        QVERIFY(!m_bar->isVisible());
        QCOMPARE(Current(), QStringLiteral("Lab"));

        // Inside the collapsed group, by the group's name with the accent left out.
        Key(Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(m_bar->Field(), QStringLiteral("zur"));
        QVERIFY(Item(QStringLiteral("Lab"))->isHidden());
        QVERIFY(!Item(QStringLiteral("web12"))->isHidden());
        QVERIFY(Item(QStringLiteral("Europe"))->isExpanded());
        QCOMPARE(Current(), QStringLiteral("db1"));
        QCOMPARE(m_frame->StatusText(), QStringLiteral("2 of 3 servers"));
        QCOMPARE(m_bar->Field()->accessibleDescription(), QStringLiteral("2 of 3 servers"));
        Key(Qt::Key_Down);
        QCOMPARE(Current(), QStringLiteral("web12"));
        Key(Qt::Key_Up);
        Key(Qt::Key_Up);  // the group matches itself
        QCOMPARE(Current(), QStringLiteral("Zürich"));
        Key(Qt::Key_Tab);
        QCOMPARE(Current(), QStringLiteral("db1"));
        QCOMPARE(QApplication::focusWidget(), m_bar->Field());

        // The Menu key opens the chosen item's menu.
        Key(Qt::Key_Menu);
        QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
        QApplication::activePopupWidget()->close();

        Key(Qt::Key_Escape);
        QVERIFY(!Item(QStringLiteral("Lab"))->isHidden());
        QCOMPARE(Current(), QStringLiteral("db1"));  // chosen, and shown
        QVERIFY(Item(QStringLiteral("Europe"))->isExpanded());
        QCOMPARE(m_frame->StatusText(), QStringLiteral("Ready"));
        QCOMPARE(m_disk->Text(), before);  // the collapse state stays as stored
        QVERIFY(!m_disk->config.IsDirty());
    }

    void enterOpensTheMatchFoundByItsHost() {
        m_frame->OnSysCommand(IDM_FIND_SERVER);
        QCOMPARE(m_frame->Action(IDM_FIND_SERVER)->shortcut(),
                 QKeySequence(QStringLiteral("Ctrl+F")));
        QTest::keyClicks(m_bar->Field(), QStringLiteral("10.1.0"));
        Key(Qt::Key_Return);
        QCOMPARE(m_frame->View()->GetPageCount(), 2);
        CVandrelleView* session = m_frame->SessionAt(1);
        QCOMPARE(QString::fromStdString(session->Record().Name), QStringLiteral("web12"));

        // In a connected session Ctrl+F is the remote desktop's.
        m_bar->Close();
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
        m_hosts.made.back()->client.FireConnecting();
        m_hosts.made.back()->client.FireConnected();
        QCOMPARE(QApplication::focusWidget(), m_hosts.made.back()->widget);
        Key(Qt::Key_F, Qt::ControlModifier);
        QVERIFY(!m_bar->IsOpen());
        QCOMPARE(m_frame->View()->GetActivePage(), 1);
    }
};

QTEST_MAIN(CFindBarTest)
#include "CFindBarTest.moc"
