// SPDX-License-Identifier: GPL-3.0-or-later
// The tab view: activation as pages come and go, what the tabs show, the
// keyboard and mouse notices, reordering by drag, pages that leave the view
// for a while, and where the focus goes.
#include "CSimpleTabView.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QPointer>
#include <QTabBar>
#include <QTest>

using namespace vandrelle;
using namespace Qt::StringLiterals;

namespace {

// A page that keeps the keys that reach it.
class KeyRecorder : public QWidget {
public:
    KeyRecorder() { setFocusPolicy(Qt::StrongFocus); }
    bool Got(int key) const { return m_keys.contains(key); }

protected:
    void keyPressEvent(QKeyEvent* event) override { m_keys.append(event->key()); }

private:
    QList<int> m_keys;
};

// A window with the view over most of it and another widget below. Pages are
// named page<n>, their data data<n> and their captions "Page <n>" by order of
// creation. Every notice of the view is logged, points in strip coordinates.
struct Fixture {
    explicit Fixture(int pages = 0) {
        window.resize(640, 480);
        view->setGeometry(0, 0, 640, 440);
        outside->setParent(&window);
        outside->setGeometry(0, 440, 640, 40);
        const auto at = [this](QPoint p) {
            const QPoint s = Strip()->mapFromGlobal(p);
            return u" (%1,%2)"_s.arg(s.x()).arg(s.y());
        };
        const auto logged = [this](const char* what) {
            return [this, what](int i) { log << u"%1 %2"_s.arg(what).arg(i); };
        };
        using V = CSimpleTabView;
        QObject::connect(view, &V::PageActivated, logged("activated"));
        QObject::connect(view, &V::CloseRequested, logged("close"));
        QObject::connect(view, &V::TabDoubleClicked, logged("double"));
        QObject::connect(view, &V::ContextMenuRequested,
                         [=, this](int i, QPoint p) { log << u"menu %1"_s.arg(i) + at(p); });
        QObject::connect(view, &V::StripContextMenuRequested,
                         [=, this](QPoint p) { log << u"strip menu"_s + at(p); });
        QObject::connect(view, &V::StripMiddleClicked, [this] { log << u"strip middle"_s; });
        for (int i = 0; i < pages; ++i) Add();
        window.show();
        log.clear();
    }
    KeyRecorder* Add(const QString& caption = {}) {
        const int n = m_created++;
        auto* page = new KeyRecorder;
        page->setObjectName(u"page%1"_s.arg(n));
        auto* data = new QObject(&window);
        data->setObjectName(u"data%1"_s.arg(n));
        const QString text = caption.isNull() ? u"Page %1"_s.arg(n) : caption;
        [&] { QVERIFY(view->AddPage(page, text, n % 4, data)); }();
        return page;
    }
    QTabBar* Strip() const { return view->Strip(); }
    KeyRecorder* Page(int index) const {
        return static_cast<KeyRecorder*>(view->GetPageWidget(index));
    }
    QPoint TabCenter(int index) const { return Strip()->tabRect(index).center(); }
    // A point of the strip right of the last tab.
    QPoint EmptyPart() const {
        return {(Strip()->tabRect(Strip()->count() - 1).right() + Strip()->width()) / 2, 8};
    }
    // Each page as the digits of its widget's and its data's names: "00 11".
    QString Order() const {
        QStringList names;
        for (int i = 0; i < view->GetPageCount(); ++i) {
            names.append(view->GetPageWidget(i)->objectName().mid(4) +
                         view->GetPageData(i)->objectName().mid(4));
        }
        return names.join(u' ');
    }
    QString Log() { return std::exchange(log, {}).join(u"; "_s); }
    void VerifyOnlyActiveShown() const {
        for (int i = 0; i < view->GetPageCount(); ++i) {
            QCOMPARE(Page(i)->isVisible(), i == view->GetActivePage());
        }
        QCOMPARE(Strip()->currentIndex(), view->GetActivePage());
    }
    QWidget* DragImage() const { return window.findChild<QWidget*>(u"tabDragImage"_s); }

    QWidget window;
    CSimpleTabView* view = new CSimpleTabView(&window);
    KeyRecorder* outside = new KeyRecorder;
    QStringList log;

private:
    int m_created = 0;
};

}  // namespace

class CSimpleTabViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Clicks on a tab and on the strip between tabs; %1 is the point. As
    // the main window does, the receiver of a close or a double click
    // removes the page at once: the active page's left neighbour becomes
    // active.
    void mouseNoticesOnTabsAndBetweenThem() {
        const struct {
            Qt::MouseButton button;
            bool twice;
            int tab;  // -1: between tabs
            int active;
            const char* expected;
        } rows[] = {{Qt::RightButton, false, 1, 2, "menu 1 %1"},
                    {Qt::MiddleButton, false, 0, 2, "close 0; activated 1"},
                    {Qt::LeftButton, true, 1, 2, "activated 1; double 1; activated 0"},
                    {Qt::RightButton, false, -1, 2, "strip menu %1"},
                    {Qt::MiddleButton, false, -1, 2, "strip middle"}};
        for (const auto& row : rows) {
            Fixture f(3);
            f.view->SetActivePage(row.active);  // tells nothing
            for (auto notice : {&CSimpleTabView::CloseRequested, &CSimpleTabView::TabDoubleClicked})
                QObject::connect(f.view, notice, f.view, &CSimpleTabView::RemovePage);
            const QPoint at = row.tab >= 0 ? f.TabCenter(row.tab) : f.EmptyPart();
            QTest::mouseClick(f.Strip(), row.button, {}, at);
            if (row.twice) {
                QTest::mouseDClick(f.Strip(), row.button, {}, at);
                QTest::mouseRelease(f.Strip(), row.button, {}, at);
            }
            QCOMPARE(f.Log(), QString::fromLatin1(row.expected)
                                  .replace(u"%1"_s, u"(%1,%2)"_s.arg(at.x()).arg(at.y())));
            f.VerifyOnlyActiveShown();
        }
    }

    // A caption shows its first 27 characters and "..." when longer than 30,
    // never half a surrogate pair; a screen reader reads it whole (the
    // page's description: the accessibility test).
    // Ctrl+Tab wraps around from any widget of the window and is swallowed,
    // unless the key is another window's. On the
    // focused strip the keys stand for the mouse on the active tab: its menu
    // (Shift+F10, at the tab's lower-left corner), its double click, and a
    // drag one place to either side (none past the ends). A drag by the
    // mouse moves the page (the press selects, the drop activates), with its
    // image only past the drag distance and until the end. The focus follows
    // the active page (hiding the focused page must not leave it where Qt
    // moved it), unless the strip has it. A page that was a window of its
    // own (a session covering the screen) is placed below the strip when
    // back in the view, shown only while active.
    void captionsTheTabsFromTheKeyboardAndAPageAway() {
        const QString smile = QString::fromUtf16(u"\U0001F600"), a25(25, u'a');
        const QString rows[][2] = {{u"abcdefghijklmnopqrstuvwxyz01234"_s,  // 31: cut
                                    u"abcdefghijklmnopqrstuvwxyz0..."_s},
                                   {a25 + u'a' + smile + u"bbbb"_s, a25 + "a..."},
                                   {u"R&D && QA"_s, u"R&D && QA"_s}};
        Fixture f;
        for (const auto& [caption, shown] : rows) f.Add(caption);
        QAccessibleInterface* strip = QAccessible::queryAccessibleInterface(f.Strip());
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(f.Strip()->tabText(i).replace(u"&&"_s, u"&"_s), rows[i][1]);
            QCOMPARE(strip->child(i)->text(QAccessible::Name), rows[i][0]);
        }
        f.log.clear();

        QWidget* page = f.Page(2);
        page->setWindowFlag(Qt::Window);
        page->show();
        f.view->resize(600, 400);
        page->setWindowFlag(Qt::Window, false);
        page->show();
        QTRY_COMPARE(page->geometry(),
                     QRect(0, f.Strip()->height(), 600, 400 - f.Strip()->height()));
        f.view->SetActivePage(0);
        page->setWindowFlag(Qt::Window);
        page->setWindowFlag(Qt::Window, false);
        page->show();
        QTRY_VERIFY(page->isHidden());
        f.VerifyOnlyActiveShown();
        f.view->SetActivePage(2);

        f.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        QTest::keyClick(f.Page(2), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), f.Page(0));
        QTest::keyClick(f.Page(0), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(f.outside, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(f.Log(), u"activated 0; activated 2; activated 0"_s);
        QVERIFY(!f.Page(2)->Got(Qt::Key_Tab) && !f.outside->Got(Qt::Key_Tab));
        QTest::keyClick(f.Strip(), Qt::Key_Right);
        QTest::keyClick(f.Strip(), Qt::Key_F10, Qt::ShiftModifier);
        const QRect tab = f.Strip()->tabRect(1);
        QCOMPARE(f.Log(), u"activated 1; menu 1 (%1,%2)"_s.arg(tab.left()).arg(tab.bottom() + 1));
        QTest::keyClick(f.Strip(), Qt::Key_Return);
        const Qt::KeyboardModifiers move = Qt::ControlModifier | Qt::ShiftModifier;
        for (int i = 0; i < 2; ++i) QTest::keyClick(f.Strip(), Qt::Key_PageUp, move);
        QTest::keyClick(f.Strip(), Qt::Key_PageDown, move);
        QCOMPARE(f.Order(), u"00 11 22"_s);
        QCOMPARE(f.Log(), u"double 1; activated 0; activated 1"_s);
        const QPoint from = f.TabCenter(0), to = f.TabCenter(2);
        QTest::mousePress(f.Strip(), Qt::LeftButton, {}, from);
        QTest::mouseMove(f.Strip(), from + QPoint(1, 0));
        QVERIFY(f.DragImage() == nullptr);
        QTest::mouseMove(f.Strip(), to);
        QVERIFY(f.DragImage() != nullptr && f.DragImage()->isVisible());
        QTest::mouseRelease(f.Strip(), Qt::LeftButton, {}, to);
        QCOMPARE(f.Order(), u"11 22 00"_s);
        QCOMPARE(f.Log(), u"activated 0; activated 2"_s);
        QVERIFY(f.DragImage() == nullptr);
        f.VerifyOnlyActiveShown();
        f.view->RemovePage(2);
        QCOMPARE(f.Order(), u"11 22"_s);
        QCOMPARE(QApplication::focusWidget(), f.Page(1));
        f.Strip()->setFocus();
        f.view->RemovePage(0);
        QVERIFY(f.Strip()->hasFocus());
        QPointer<QWidget> last = f.Page(0);
        f.view->RemovePage(0);  // the only page
        QVERIFY(last.isNull() && !f.Strip()->isVisible());
        QVERIFY(f.Log().endsWith(u"activated -1"_s));

        KeyRecorder otherWindow;
        otherWindow.show();
        QTest::keyClick(&otherWindow, Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(otherWindow.Got(Qt::Key_Tab));
    }
};

QTEST_MAIN(CSimpleTabViewTest)
#include "CSimpleTabViewTest.moc"
