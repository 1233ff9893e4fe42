// SPDX-License-Identifier: GPL-3.0-or-later
// The tab view: activation as pages come and go, what the tabs show, the
// keyboard and mouse notices, reordering by drag, pages that leave the view
// for a while, and where the focus goes.
#include "CSimpleTabView.h"

#include <QAccessible>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QTabBar>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>
#include <QToolTip>

using namespace vandrelle;

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
            return QStringLiteral(" (%1,%2)").arg(s.x()).arg(s.y());
        };
        const auto logged = [this](const char* what) {
            return [this, what](int i) { log << QStringLiteral("%1 %2").arg(what).arg(i); };
        };
        using V = CSimpleTabView;
        QObject::connect(view, &V::PageActivated, logged("activated"));
        QObject::connect(view, &V::CloseRequested, logged("close"));
        QObject::connect(view, &V::TabDoubleClicked, logged("double"));
        QObject::connect(view, &V::ContextMenuRequested, [=, this](int i, QPoint p) {
            log << QStringLiteral("menu %1").arg(i) + at(p);
        });
        QObject::connect(view, &V::StripContextMenuRequested,
                         [=, this](QPoint p) { log << QStringLiteral("strip menu") + at(p); });
        QObject::connect(view, &V::StripMiddleClicked,
                         [this] { log << QStringLiteral("strip middle"); });
        for (int i = 0; i < pages; ++i) Add();
        window.show();
        log.clear();
    }
    KeyRecorder* Add(const QString& caption = {}) {
        const int n = m_created++;
        auto* page = new KeyRecorder;
        page->setObjectName(QStringLiteral("page%1").arg(n));
        auto* data = new QObject(&window);
        data->setObjectName(QStringLiteral("data%1").arg(n));
        const QString text = caption.isNull() ? QStringLiteral("Page %1").arg(n) : caption;
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
    QString Log() { return std::exchange(log, {}).join(QStringLiteral("; ")); }
    void VerifyOnlyActiveShown() const {
        for (int i = 0; i < view->GetPageCount(); ++i) {
            QCOMPARE(Page(i)->isVisible(), i == view->GetActivePage());
        }
        QCOMPARE(Strip()->currentIndex(), view->GetActivePage());
    }
    QWidget* DragImage() const {
        return window.findChild<QWidget*>(QStringLiteral("tabDragImage"));
    }

    QWidget window;
    CSimpleTabView* view = new CSimpleTabView(&window);
    KeyRecorder* outside = new KeyRecorder;
    QStringList log;

private:
    int m_created = 0;
};

// A tooltip's text as shown: one that looks like markup is read as markup.
QString ShownToolTip(const QString& tip) {
    if (!Qt::mightBeRichText(tip)) return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

}  // namespace

class CSimpleTabViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void removingAPageActivatesItsLeftNeighbour_data() {
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("active");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QString>("order");
        QTest::addColumn<int>("expected");
        QTest::newRow("active in the middle") << 3 << 1 << 1 << "00 22" << 0;
        QTest::newRow("active at the end") << 3 << 2 << 2 << "00 11" << 1;
        QTest::newRow("active first") << 3 << 0 << 0 << "11 22" << 0;
        QTest::newRow("other before the active") << 3 << 2 << 0 << "11 22" << 1;
        QTest::newRow("other after the active") << 3 << 0 << 2 << "00 11" << 0;
        QTest::newRow("the only page") << 1 << 0 << 0 << "" << -1;
    }
    void removingAPageActivatesItsLeftNeighbour() {
        QFETCH(int, pages);
        QFETCH(int, active);
        QFETCH(int, removed);
        QFETCH(QString, order);
        QFETCH(int, expected);
        Fixture f(pages);
        f.view->SetActivePage(active);
        QPointer<QWidget> gone = f.view->GetPageWidget(removed);
        f.view->RemovePage(removed);
        QVERIFY(gone.isNull());
        QCOMPARE(f.Order(), order);
        QCOMPARE(f.Log(), QStringLiteral("activated %1").arg(expected));  // SetActivePage: none
        QCOMPARE(f.Strip()->isVisible(), pages > 1);
        f.VerifyOnlyActiveShown();
    }

    void captionsAreShortenedAndTooltipsWhole_data() {
        const QString smile = QString::fromUtf16(u"\U0001F600");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("shown");
        QTest::newRow("30 whole") << QString(30, u'x') << QString(30, u'x');
        QTest::newRow("31 cut") << QStringLiteral("abcdefghijklmnopqrstuvwxyz01234")
                                << QStringLiteral("abcdefghijklmnopqrstuvwxyz0...");
        QTest::newRow("pair across the cut") << QString(26, u'a') + smile + QStringLiteral("bbbb")
                                             << QString(26, u'a') + QStringLiteral("...");
        QTest::newRow("pair before the cut") << QString(25, u'a') + smile + QStringLiteral("bbbbbb")
                                             << QString(25, u'a') + smile + QStringLiteral("...");
        QTest::newRow("ampersands") << QStringLiteral("R&D && QA") << QStringLiteral("R&D && QA");
        QTest::newRow("like markup")
            << QStringLiteral("<b>Prod</b>") << QStringLiteral("<b>Prod</b>");
    }
    void captionsAreShortenedAndTooltipsWhole() {
        QFETCH(QString, caption);
        QFETCH(QString, shown);
        Fixture f;
        f.Add(caption);
        QCOMPARE(f.Strip()->tabText(0).replace(QStringLiteral("&&"), QStringLiteral("&")), shown);
        // A screen reader cannot rest the pointer on the tab: it reads the
        // whole caption as the name, and the page's description apart.
        f.view->SetPageDescription(0, QStringLiteral("connected"));
        QAccessibleInterface* tabs = QAccessible::queryAccessibleInterface(f.Strip());
        QCOMPARE(tabs->child(0)->text(QAccessible::Name), caption);
        QCOMPARE(tabs->child(0)->text(QAccessible::Description), QStringLiteral("connected"));
        QHelpEvent hover(QEvent::ToolTip, f.TabCenter(0), f.Strip()->mapToGlobal(f.TabCenter(0)));
        QApplication::sendEvent(f.Strip(), &hover);
        QTRY_COMPARE(ShownToolTip(QToolTip::text()), caption);
    }

    void mouseNoticesOnTabsAndBetweenThem_data() {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<bool>("twice");
        QTest::addColumn<int>("tab");           // -1: between tabs
        QTest::addColumn<QString>("expected");  // %1: the point
        QTest::newRow("right on a tab") << Qt::RightButton << false << 1 << "menu 1 %1";
        QTest::newRow("middle on a tab") << Qt::MiddleButton << false << 0 << "close 0";
        QTest::newRow("double on a tab") << Qt::LeftButton << true << 1 << "activated 1; double 1";
        QTest::newRow("right between") << Qt::RightButton << false << -1 << "strip menu %1";
        QTest::newRow("middle between") << Qt::MiddleButton << false << -1 << "strip middle";
        QTest::newRow("double between") << Qt::LeftButton << true << -1 << "";
    }
    void mouseNoticesOnTabsAndBetweenThem() {
        QFETCH(Qt::MouseButton, button);
        QFETCH(bool, twice);
        QFETCH(int, tab);
        QFETCH(QString, expected);
        Fixture f(3);
        const QPoint at = tab >= 0 ? f.TabCenter(tab) : f.EmptyPart();
        QCOMPARE(f.Strip()->tabAt(at), tab);
        QTest::mouseClick(f.Strip(), button, {}, at);
        if (twice) {
            QTest::mouseDClick(f.Strip(), button, {}, at);
            QTest::mouseRelease(f.Strip(), button, {}, at);
        }
        QCOMPARE(f.Log(), expected.arg(QStringLiteral("(%1,%2)").arg(at.x()).arg(at.y())));
    }

    // As the main window does: the receiver of a notice removes the page at once.
    void aPageCanBeRemovedFromItsTabsOwnNotice() {
        Fixture f(4);
        QObject::connect(f.view, &CSimpleTabView::CloseRequested, f.view,
                         &CSimpleTabView::RemovePage);
        QObject::connect(f.view, &CSimpleTabView::TabDoubleClicked, f.view,
                         &CSimpleTabView::RemovePage);
        QTest::mouseClick(f.Strip(), Qt::MiddleButton, {}, f.TabCenter(3));
        QTest::mouseDClick(f.Strip(), Qt::LeftButton, {}, f.TabCenter(0));
        QTest::mouseRelease(f.Strip(), Qt::LeftButton, {}, f.TabCenter(0));
        QCOMPARE(f.Order(), QStringLiteral("11 22"));
        f.VerifyOnlyActiveShown();
    }

    // Ctrl+Tab wraps around from any widget of the window and is swallowed,
    // unless the view holds no page or the key is another window's. On the
    // focused strip the keys stand for the mouse on the active tab: its menu
    // (at the tab's lower-left corner), its double click, and a drag one
    // place to either side (none past the ends).
    void theTabsAreUsedFromTheKeyboard() {
        Fixture f(3);
        QTest::keyClick(f.Page(2), Qt::Key_Tab, Qt::ControlModifier);
        QTest::keyClick(f.Page(0), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(f.outside, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(f.Log(), QStringLiteral("activated 0; activated 2; activated 0"));
        QVERIFY(!f.Page(2)->Got(Qt::Key_Tab) && !f.outside->Got(Qt::Key_Tab));
        f.VerifyOnlyActiveShown();
        QTest::keyClick(f.Strip(), Qt::Key_Right);
        QTest::keyClick(f.Strip(), Qt::Key_F10, Qt::ShiftModifier);
        QTest::keyClick(f.Strip(), Qt::Key_Menu);
        const QRect tab = f.Strip()->tabRect(1);
        const QString corner =
            QStringLiteral("menu 1 (%1,%2)").arg(tab.left()).arg(tab.bottom() + 1);
        QCOMPARE(f.Log(), QStringLiteral("activated 1; ") + corner + QStringLiteral("; ") + corner);
        QTest::keyClick(f.Strip(), Qt::Key_Return);
        const Qt::KeyboardModifiers move = Qt::ControlModifier | Qt::ShiftModifier;
        for (int i = 0; i < 2; ++i) QTest::keyClick(f.Strip(), Qt::Key_PageUp, move);
        QTest::keyClick(f.Strip(), Qt::Key_PageDown, move);
        QCOMPARE(f.Order(), QStringLiteral("00 11 22"));
        QCOMPARE(f.Log(), QStringLiteral("double 1; activated 0; activated 1"));

        Fixture none;
        QTest::keyClick(none.outside, Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(none.outside->Got(Qt::Key_Tab));
        KeyRecorder otherWindow;
        otherWindow.show();
        QTest::keyClick(&otherWindow, Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(otherWindow.Got(Qt::Key_Tab));
    }

    // A drag moves the page (the press selects, the drop activates) unless
    // cancelled by Escape, a release below the strip or a release lost (a
    // move without the button); no drag image before the drag distance or
    // after the end.
    void draggingATabMovesItsPageUnlessCancelled_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("order");
        QTest::addColumn<QString>("log");
        QTest::newRow("first to the right") << 0 << 2 << "drop"
                                            << "11 22 00 33"
                                            << "activated 0; activated 2";
        for (const char* how : {"escape", "below", "lost"})
            QTest::newRow(how) << 3 << 1 << how << "00 11 22 33"
                               << "";
    }
    void draggingATabMovesItsPageUnlessCancelled() {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, how);
        QFETCH(QString, order);
        QFETCH(QString, log);
        Fixture f(4);
        QTest::mousePress(f.Strip(), Qt::LeftButton, {}, f.TabCenter(from));
        QTest::mouseMove(f.Strip(), f.TabCenter(from) + QPoint(1, 0));
        QVERIFY(f.DragImage() == nullptr);
        QTest::mouseMove(f.Strip(), f.TabCenter(to));
        QVERIFY(f.DragImage() != nullptr && f.DragImage()->isVisible());
        QPoint release = f.TabCenter(to);
        if (how == QStringLiteral("escape")) {
            QTest::keyClick(f.Page(3), Qt::Key_Escape);
            QVERIFY(!f.Page(3)->Got(Qt::Key_Escape));
        } else if (how == QStringLiteral("below")) {
            release.setY(f.Strip()->height() + 20);
            QTest::mouseMove(f.Strip(), release);
        } else if (how == QStringLiteral("lost")) {
            QMouseEvent move(QEvent::MouseMove, release, f.Strip()->mapToGlobal(release),
                             Qt::NoButton, Qt::NoButton, {});
            QApplication::sendEvent(f.Strip(), &move);
        }
        QTest::mouseRelease(f.Strip(), Qt::LeftButton, {}, release);
        QCOMPARE(f.Order(), order);
        QCOMPARE(f.Log(), log);
        QVERIFY(f.DragImage() == nullptr);
        f.VerifyOnlyActiveShown();
    }

    // A page made a window of its own (a session covering the screen) is
    // left alone; back in the view it is placed below the strip, shown only
    // while active.
    void aPageAwayIsLeftAloneAndComesBackInPlace() {
        Fixture f(2);
        QWidget* page = f.Page(1);
        const QRect elsewhere(5, 5, 100, 80);
        page->setWindowFlag(Qt::Window);
        page->setGeometry(elsewhere);
        page->show();
        f.view->resize(600, 400);
        QCoreApplication::processEvents();
        QCOMPARE(page->geometry(), elsewhere);
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
    }

    void theFocusGoesToTheActivePage() {
        Fixture f(2);
        f.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        QCOMPARE(QApplication::focusWidget(), f.Page(1));
        // Hiding the focused page must not leave the focus where Qt moved it.
        QTest::keyClick(f.Page(1), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), f.Page(0));
        f.outside->setFocus();
        f.view->setFocus();
        QCOMPARE(QApplication::focusWidget(), f.Page(0));
        f.view->RemovePage(0);
        QCOMPARE(QApplication::focusWidget(), f.Page(0));
        // The strip keeps the focus when it has it.
        f.Add();
        f.Strip()->setFocus();
        f.view->RemovePage(0);
        QVERIFY(f.Strip()->hasFocus());
    }
};

QTEST_MAIN(CSimpleTabViewTest)
#include "CSimpleTabViewTest.moc"
