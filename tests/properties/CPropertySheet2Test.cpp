// SPDX-License-Identifier: GPL-3.0-or-later
// The properties sheet on the offscreen platform, driven as a user would:
// typing, clicking, choosing list entries with the keyboard, pressing OK.
// The pages' rules are the mappers' (PageMapperTest); here each page is
// wired to them once.
#include "CPropertySheet2.h"

#include "PageKit.h"
#include "QtTestKit.h"
#include "RecordText.h"
#include "ResourceIds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

using namespace vandrelle;
using namespace vandrelle::test;

namespace {

template <class Control>
Control* Find(QWidget* page, int id) {
    auto* control = page->findChild<Control*>(QStringLiteral("IDC_%1").arg(id));
    if (!control) qFatal("no control %d", id);
    return control;
}
constexpr auto Edit = Find<QLineEdit>;
constexpr auto Box = Find<QCheckBox>;
constexpr auto List = Find<QComboBox>;

// Types into an edit after selecting what it holds, as a user replacing it.
void Retype(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

SheetOptions Sheet(bool group = false, bool root = false) {
    return {QStringLiteral("Add Server"), !group, group, root, {QStringLiteral("Office")}, {}};
}

const Properties kServer = RecordFrom("Name=web Server=web.example");

struct ShownSheet {
    ShownSheet(const SheetOptions& options, const Properties& record)
        : sheet(options, record, nullptr) {
        sheet.show();
        sheet.activateWindow();
        if (!QTest::qWaitForWindowActive(&sheet)) qWarning("the sheet did not become active");
    }
    QWidget* General() const { return sheet.Page(IDD_GENERAL); }
    QWidget* Visit(int tab) {
        sheet.Tabs()->setCurrentIndex(tab);
        return sheet.Tabs()->currentWidget();
    }
    const Properties& PressOk() {
        sheet.findChild<QPushButton*>(QStringLiteral("IDOK"))->click();
        return sheet.Record();
    }
    CPropertySheet2 sheet;
};

}  // namespace

class CPropertySheet2Test : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Pages load when first shown and only those are stored; the copy
    // reaches the caller's record on OK only.
    void okStoresOnlyThePagesShownAndCancelDiscards() {
        Properties record = kServer;
        record.PerformanceFlags = 0x180 | 0x40;  // a bit the Experience page would clear
        record.DesktopWidth = -20;
        record.DesktopHeight = -30;
        ShownSheet s(Sheet(), record);
        Retype(Edit(s.General(), IDC_NAME), QStringLiteral("  web 2 "));

        // The size edits show for a margin, and only for it and a size of one's own.
        QWidget* display = s.Visit(1);
        QLineEdit* width = Edit(display, IDC_WIDTH);
        QCOMPARE(width->text() + u'x' + Edit(display, IDC_HEIGHT)->text(), QStringLiteral("20x30"));
        QComboBox* size = List(display, IDC_DESKTOP_SIZE);
        size->setFocus();
        QTest::keyClick(size,
                        Qt::Key_Home);  // the first entry, with the arrow keys on a closed list
        QVERIFY(!width->isVisible() && !Find<QLabel>(display, IDC_WIDTH_LABEL)->isVisible());
        QTest::keyClick(size, Qt::Key_Down);
        Retype(width, QStringLiteral("-5x"));  // digits only

        Retype(Edit(s.Visit(2), IDC_DRIVE_LIST), QStringLiteral("D:; $:"));
        const Properties& out = s.PressOk();
        QCOMPARE(out.Name, std::string("web 2"));
        QCOMPARE(QString::asprintf("%dx%d %s", out.DesktopWidth, out.DesktopHeight,
                                   out.DriveCollection.c_str()),
                 QStringLiteral("-5x-30 D:; $:"));
        QCOMPARE(out.PerformanceFlags, 0x1C0);  // the Experience page was never shown

        for (bool ok : {true, false}) {
            Properties edited = record;
            edited.Name = " web ";  // trimmed by an OK
            bool pressed = false;
            PressInNextModal(ok ? QStringLiteral("IDOK") : QStringLiteral("IDCANCEL"), &pressed);
            QCOMPARE(RunPropertySheet(nullptr, Sheet(), edited), ok);
            QCOMPARE(edited.Name, std::string(ok ? "web" : " web "));
        }
    }

    // Alt and a label's letter moves to its control; Ctrl+Tab turns the
    // page, also from a list that would take the keys for itself. Inheriting
    // disables the logon controls and keeps their texts. A refused OK shows
    // the General page with the message and the focus on the control to
    // fix, and changes nothing in the copy (a problem told by a beep only:
    // PageMapperTest). The Experience
    // page, shown meanwhile, is stored with the rest. A group has the General
    // page alone; the root edits only its logon settings and description.
    void theGeneralPageFromTheKeyboardAndARefusedOk() {
        ShownSheet s(Sheet(), kServer);
        QTest::keyClick(&s.sheet, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(s.sheet.focusWidget(), static_cast<QWidget*>(Edit(s.General(), IDC_SERVER)));
        QComboBox* size = s.Visit(1)->findChild<QComboBox*>();
        size->setFocus();
        QTest::keyClick(size, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(s.sheet.Tabs()->currentIndex(), 2);
        s.Visit(0);
        QCheckBox* inherit = Box(s.General(), IDC_INHERIT);
        QLineEdit* user = Edit(s.General(), IDC_USER_NAME);
        QCOMPARE(Edit(s.General(), IDC_PASSWORD)->echoMode(), QLineEdit::Password);
        QVERIFY(inherit->isChecked() && !user->isEnabled());
        // The group's fields stand to the right of its picture.
        QVERIFY(user->x() > s.sheet.style()->pixelMetric(QStyle::PM_LargeIconSize));
        inherit->setFocus();
        QTest::keyClick(inherit, Qt::Key_Space);
        Retype(user, QStringLiteral("me"));

        QLineEdit* name = Edit(s.General(), IDC_NAME);
        Retype(name, QStringLiteral(" Office "));
        // The speed follows the boxes.
        QWidget* page = s.Visit(3);
        Box(page, IDC_THEMES)->click();
        QCOMPARE(List(page, IDC_SPEED)->currentIndex(), 2);
        Box(page, IDC_BITMAP_CACHING)->click();
        SeenBox seen;
        AnswerNextMessageBox(QMessageBox::Ok, &seen, 2000);
        QCOMPARE(s.PressOk().Name, std::string("web"));  // the copy as it was
        QVERIFY(seen.text.contains(QStringLiteral("already exists")));
        QCOMPARE(s.sheet.Tabs()->currentWidget(), s.General());
        QCOMPARE(s.sheet.focusWidget(), static_cast<QWidget*>(name));

        Retype(Edit(s.General(), IDC_PORT), QStringLiteral("3390"));
        Retype(name, QStringLiteral("office"));
        QCOMPARE(s.PressOk().RDPPort, 3390);
        QCOMPARE(s.sheet.result(), int(QDialog::Accepted));
        const Properties& out = s.sheet.Record();
        QVERIFY2(out.UserName == "me" && out.InheritGeneral == 0, "the log-on not stored");
        QCOMPARE(out.PerformanceFlags, 0x188);

        ShownSheet group(Sheet(true), Properties{});
        QCOMPARE(group.sheet.Tabs()->count(), 1);
        QVERIFY(Find<QLabel>(group.General(), IDC_SERVER_LABEL)->isHidden());

        ShownSheet r(Sheet(true, true), RecordFrom("Name=Office"));
        QVERIFY(!Edit(r.General(), IDC_NAME)->isEnabled() &&
                !Box(r.General(), IDC_INHERIT)->isEnabled());
    }
};

QTEST_MAIN(CPropertySheet2Test)
#include "CPropertySheet2Test.moc"
