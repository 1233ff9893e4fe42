// SPDX-License-Identifier: GPL-3.0-or-later
// The properties sheet on the offscreen platform, driven as a user would:
// typing, clicking, choosing list entries with the keyboard, pressing OK.
#include "CPropertySheet2.h"

#include "PageKit.h"
#include "QtTestKit.h"
#include "ResourceIds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <functional>

using namespace vandrelle;
using namespace vandrelle::test;

namespace {

template <class Control>
Control* Find(QWidget* page, int id) {
    auto* control = page->findChild<Control*>(QStringLiteral("IDC_%1").arg(id));
    if (!control) qFatal("no control %d", id);
    return control;
}

QLineEdit* Edit(QWidget* page, int id) {
    return Find<QLineEdit>(page, id);
}
QCheckBox* Box(QWidget* page, int id) {
    return Find<QCheckBox>(page, id);
}
QComboBox* List(QWidget* page, int id) {
    return Find<QComboBox>(page, id);
}

// Chooses an entry as a user does with the arrow keys on a closed list.
void Choose(QComboBox* list, int index) {
    list->setFocus();
    if (list->currentIndex() < 0) QTest::keyClick(list, Qt::Key_Home);
    while (list->currentIndex() < index) QTest::keyClick(list, Qt::Key_Down);
    while (list->currentIndex() > index) QTest::keyClick(list, Qt::Key_Up);
}

// Types into an edit after selecting what it holds, as a user replacing it.
void Retype(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty()) {
        QTest::keyClick(edit, Qt::Key_Delete);
    } else {
        QTest::keyClicks(edit, text);
    }
}

SheetOptions ServerSheet(QStringList siblings = {}) {
    SheetOptions options;
    options.title = QStringLiteral("Add Server");
    options.serverPages = true;
    options.siblingNames = std::move(siblings);
    return options;
}

SheetOptions GroupSheet(bool root = false) {
    SheetOptions options;
    options.title = root ? QStringLiteral("Properties of Servers") : QStringLiteral("Add Group");
    options.groupMode = true;
    options.rootMode = root;
    return options;
}

Properties ServerRecord() {
    Properties p;
    p.Name = "web";
    p.Server = "web.example";
    return p;
}

// Runs `act` on the next modal dialog once it is shown.
void InNextModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        timer->stop();
        timer->deleteLater();
        act(modal);
    });
    timer->start(10);
}

struct ShownSheet {
    ShownSheet(const SheetOptions& options, const Properties& record)
        : sheet(options, record, nullptr) {
        sheet.show();
        sheet.activateWindow();
        if (!QTest::qWaitForWindowActive(&sheet)) qWarning("the sheet did not become active");
    }
    QWidget* General() const { return sheet.Page(IDD_GENERAL); }
    QWidget* Visit(int pageId) {
        for (int i = 0; i < sheet.Tabs()->count(); ++i) {
            auto* page = static_cast<CPropertyPage*>(sheet.Tabs()->widget(i));
            if (page->Id() == pageId) sheet.Tabs()->setCurrentIndex(i);
        }
        return sheet.Page(pageId);
    }
    void PressOk() { sheet.findChild<QPushButton*>(QStringLiteral("IDOK"))->click(); }
    // Presses OK expecting a message box, which is answered; `seen` tells
    // what it showed (nothing when none came).
    void PressOkRefused(SeenBox& seen) {
        seen.seen = false;
        AnswerNextMessageBox(QMessageBox::Ok, &seen, 2000);
        PressOk();
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
        Properties record = ServerRecord();
        record.DesktopWidth = 1024;
        record.DesktopHeight = 768;
        record.PerformanceFlags = 0x180 | 0x40;  // a bit the Experience page would clear
        record.AudioRedirectionMode = 2;

        ShownSheet s(ServerSheet(), record);
        QCOMPARE(s.sheet.windowTitle(), QStringLiteral("Add Server"));
        QStringList tabs;
        for (int i = 0; i < s.sheet.Tabs()->count(); ++i) tabs << s.sheet.Tabs()->tabText(i);
        QCOMPARE(tabs.join(u','), QStringLiteral("General,Display,Local Resources,Experience"));
        QVERIFY(s.General());
        QVERIFY(!s.sheet.Page(IDD_DISPLAY));
        QVERIFY(!s.sheet.Page(IDD_EXPERIENCE));

        Retype(Edit(s.General(), IDC_NAME), QStringLiteral("  web 2 "));
        QWidget* display = s.Visit(IDD_DISPLAY);
        QVERIFY(display);
        QCOMPARE(List(display, IDC_DESKTOP_SIZE)->currentText(), QStringLiteral("1024 x 768"));
        Choose(List(display, IDC_DESKTOP_SIZE), 6);
        QCOMPARE(List(display, IDC_DESKTOP_SIZE)->currentText(), QStringLiteral("Full Screen"));
        QVERIFY(!s.sheet.Page(IDD_RESOURCES));

        s.PressOk();
        QCOMPARE(s.sheet.result(), int(QDialog::Accepted));
        const Properties& out = s.sheet.Record();
        QCOMPARE(out.Name, std::string("web 2"));
        QCOMPARE(out.FullScreen, 1);
        QCOMPARE(out.DesktopWidth, 0);
        QCOMPARE(out.PerformanceFlags, 0x1C0);  // the Experience page was never shown
        QCOMPARE(out.AudioRedirectionMode, 2);

        // Through the entry point: OK writes back, with the Experience page
        // shown this time; Cancel leaves the record alone.
        Properties edited = record;
        InNextModal([](QWidget* modal) {
            auto* sheet = static_cast<CPropertySheet2*>(modal);
            sheet->Tabs()->setCurrentIndex(3);
            sheet->findChild<QPushButton*>(QStringLiteral("IDOK"))->click();
        });
        QVERIFY(RunPropertySheet(nullptr, ServerSheet(), edited));
        QCOMPARE(edited.PerformanceFlags, 0x180);
        QCOMPARE(edited.Name, record.Name);

        Properties untouched = record;
        InNextModal([](QWidget* modal) {
            auto* sheet = static_cast<CPropertySheet2*>(modal);
            Retype(Edit(sheet->Page(IDD_GENERAL), IDC_NAME), QStringLiteral("changed"));
            sheet->Tabs()->setCurrentIndex(1);
            Choose(List(sheet->Page(IDD_DISPLAY), IDC_DESKTOP_SIZE), 0);
            sheet->findChild<QPushButton*>(QStringLiteral("IDCANCEL"))->click();
        });
        QVERIFY(!RunPropertySheet(nullptr, ServerSheet(), untouched));
        QVERIFY(PropertiesEqual(untouched, record));

        // Escape cancels too.
        ShownSheet escaped(ServerSheet(), record);
        QTest::keyClick(&escaped.sheet, Qt::Key_Escape);
        QCOMPARE(escaped.sheet.result(), int(QDialog::Rejected));
        QVERIFY(!escaped.sheet.isVisible());
    }

    // A refused OK shows the General page with the message and the focus on
    // the control to fix, and changes nothing in the copy.
    void refusedOkKeepsTheSheetOpenOnTheControlToFix() {
        Properties record = ServerRecord();
        record.InheritGeneral = 0;
        ShownSheet s(ServerSheet({QStringLiteral("Office"), QStringLiteral("db")}), record);
        QWidget* general = s.General();
        QLineEdit* name = Edit(general, IDC_NAME);
        QLineEdit* server = Edit(general, IDC_SERVER);
        QLineEdit* port = Edit(general, IDC_PORT);

        Retype(name, QStringLiteral("   "));
        s.Visit(IDD_EXPERIENCE);
        SeenBox seen;
        s.PressOkRefused(seen);
        QVERIFY(seen.seen);
        QCOMPARE(seen.title, QStringLiteral("Error"));
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QCOMPARE(seen.text, QStringLiteral("Must enter a name."));
        QVERIFY(s.sheet.isVisible());
        QCOMPARE(s.sheet.result(), int(QDialog::Rejected));
        QCOMPARE(s.sheet.Tabs()->currentWidget(), general);
        QCOMPARE(s.sheet.focusWidget(), static_cast<QWidget*>(name));

        Retype(name, QStringLiteral(" Office "));
        s.PressOkRefused(seen);
        QCOMPARE(seen.text,
                 QStringLiteral("A group or server named 'Office' already exists here."));
        QCOMPARE(s.sheet.focusWidget(), static_cast<QWidget*>(name));

        Retype(name, QStringLiteral("office"));
        Retype(server, QStringLiteral("10.0.0.1:3390"));
        s.PressOkRefused(seen);
        QCOMPARE(seen.text, QStringLiteral("Format <IP Address:Port> is not supported. Type port "
                                           "in the 'Port' inputbox."));
        QCOMPARE(s.sheet.focusWidget(), static_cast<QWidget*>(server));

        // The port comes first; an empty one only beeps.
        Retype(server, QStringLiteral("fe80::1"));
        Retype(port, QString());
        Retype(name, QString());
        s.PressOkRefused(seen);
        QVERIFY(!seen.seen);
        QVERIFY(s.sheet.isVisible());
        QCOMPARE(s.sheet.focusWidget(), static_cast<QWidget*>(port));

        Retype(port, QStringLiteral("65536"));
        s.PressOkRefused(seen);
        QCOMPARE(seen.text, QStringLiteral("Port must between 1 and 65535, default is 3389."));
        QCOMPARE(s.sheet.focusWidget(), static_cast<QWidget*>(port));
        QCOMPARE(s.sheet.Record().RDPPort, 3389);
        QCOMPARE(s.sheet.Record().Name, std::string("web"));

        Retype(port, QStringLiteral("3390"));
        Retype(name, QStringLiteral("office"));
        s.PressOk();
        QCOMPARE(s.sheet.result(), int(QDialog::Accepted));
        QCOMPARE(s.sheet.Record().Name, std::string("office"));
        QCOMPARE(s.sheet.Record().Server, std::string("fe80::1"));
        QCOMPARE(s.sheet.Record().RDPPort, 3390);
    }

    void typingANameFillsTheServerUntilTheServerIsEdited() {
        ShownSheet added(ServerSheet(), Properties{});
        QLineEdit* name = Edit(added.General(), IDC_NAME);
        QLineEdit* server = Edit(added.General(), IDC_SERVER);
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("db1"));
        QCOMPARE(server->text(), QStringLiteral("db1"));
        server->setFocus();
        QTest::keyClicks(server, QStringLiteral(".lan"));
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("2"));
        QCOMPARE(name->text(), QStringLiteral("db12"));
        QCOMPARE(server->text(), QStringLiteral("db1.lan"));

        ShownSheet group(GroupSheet(), Properties{});
        QVERIFY(Edit(group.General(), IDC_SERVER)->isHidden());
        QVERIFY(Find<QLabel>(group.General(), IDC_SERVER_LABEL)->isHidden());
        QCOMPARE(group.sheet.Tabs()->count(), 1);
        name = Edit(group.General(), IDC_NAME);
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("Lab"));
        QCOMPARE(Edit(group.General(), IDC_SERVER)->text(), QString());
        group.PressOk();
        QCOMPARE(group.sheet.result(), int(QDialog::Accepted));
        QCOMPARE(group.sheet.Record().Name, std::string("Lab"));
        QCOMPARE(group.sheet.Record().Server, std::string());
    }

    void inheritingDisablesTheLogonControlsAndKeepsTheirTexts() {
        Properties record = ServerRecord();
        record.InheritGeneral = 1;
        record.UserName = "ancestor";
        record.RDPPort = 3390;
        ShownSheet s(ServerSheet(), record);
        QWidget* general = s.General();
        QCheckBox* inherit = Box(general, IDC_INHERIT);
        const QList<QLineEdit*> logon{Edit(general, IDC_USER_NAME), Edit(general, IDC_PASSWORD),
                                      Edit(general, IDC_DOMAIN), Edit(general, IDC_PORT)};
        QVERIFY(inherit->isChecked());
        for (QLineEdit* e : logon) QVERIFY(!e->isEnabled());
        QCOMPARE(logon[0]->text(), QStringLiteral("ancestor"));
        QCOMPARE(logon[1]->echoMode(), QLineEdit::Password);

        inherit->click();
        QVERIFY(!inherit->isChecked());
        for (QLineEdit* e : logon) QVERIFY(e->isEnabled());
        QCOMPARE(logon[0]->text(), QStringLiteral("ancestor"));
        QCOMPARE(logon[3]->text(), QStringLiteral("3390"));
        Retype(logon[0], QStringLiteral("me"));

        inherit->setFocus();
        QTest::keyClick(inherit, Qt::Key_Space);
        QVERIFY(inherit->isChecked());
        for (QLineEdit* e : logon) QVERIFY(!e->isEnabled());
        QCOMPARE(logon[0]->text(), QStringLiteral("me"));

        inherit->click();
        s.PressOk();
        QCOMPARE(s.sheet.Record().InheritGeneral, 0);
        QCOMPARE(s.sheet.Record().UserName, std::string("me"));
    }

    void theRootsSheetEditsOnlyItsLogonSettings() {
        Properties record;
        record.Name = "Servers";
        record.InheritGeneral = 0;
        record.UserName = "admin";
        SheetOptions options = GroupSheet(true);
        options.siblingNames = {QStringLiteral("Servers")};  // ignored: the root has none
        ShownSheet s(options, record);
        QWidget* general = s.General();
        QCOMPARE(s.sheet.Tabs()->count(), 1);
        QCOMPARE(Edit(general, IDC_NAME)->text(), QStringLiteral("Servers"));
        QVERIFY(!Edit(general, IDC_NAME)->isEnabled());
        QVERIFY(!Box(general, IDC_INHERIT)->isEnabled());
        QVERIFY(!Box(general, IDC_INHERIT)->isChecked());
        QVERIFY(Edit(general, IDC_SERVER)->isHidden());
        for (int id : {IDC_USER_NAME, IDC_PASSWORD, IDC_DOMAIN, IDC_PORT}) {
            QVERIFY(Edit(general, id)->isEnabled());
        }
        Find<QPlainTextEdit>(general, IDC_DESCRIPTION)->setPlainText(QStringLiteral("a\nb"));
        s.PressOk();
        QCOMPARE(s.sheet.result(), int(QDialog::Accepted));
        QCOMPARE(s.sheet.Record().Name, std::string("Servers"));
        QCOMPARE(s.sheet.Record().UserName, std::string("admin"));
        QCOMPARE(s.sheet.Record().Description, std::string("a\r\nb"));
    }

    void displayPageShowsTheEditsForMarginAndCustomSizes() {
        Properties record = ServerRecord();
        record.DesktopWidth = -20;
        record.DesktopHeight = -30;
        record.ColorDepth = 12;  // not in the list
        ShownSheet s(ServerSheet(), record);
        QWidget* display = s.Visit(IDD_DISPLAY);
        QComboBox* size = List(display, IDC_DESKTOP_SIZE);
        QLineEdit* width = Edit(display, IDC_WIDTH);
        QLineEdit* height = Edit(display, IDC_HEIGHT);
        QCOMPARE(size->currentText(), QStringLiteral("Fit Window with margin"));
        QCOMPARE(width->text(), QStringLiteral("20"));
        QCOMPARE(height->text(), QStringLiteral("30"));
        QVERIFY(width->isVisible());
        QVERIFY(Find<QLabel>(display, IDC_HEIGHT_LABEL)->isVisible());
        QCOMPARE(List(display, IDC_COLOR_DEPTH)->currentIndex(), -1);

        Choose(size, 0);
        QVERIFY(!width->isVisible());
        QVERIFY(!Find<QLabel>(display, IDC_WIDTH_LABEL)->isVisible());
        Retype(width, QString());
        Retype(height, QString());
        Choose(size, 1);
        QVERIFY(width->isVisible());
        QCOMPARE(width->text(), QStringLiteral("10"));
        QCOMPARE(height->text(), QStringLiteral("10"));

        Retype(width, QStringLiteral("-5x"));  // digits only
        QCOMPARE(width->text(), QStringLiteral("5"));
        Box(display, IDC_CONSOLE)->click();
        s.PressOk();
        QCOMPARE(s.sheet.Record().DesktopWidth, -5);
        QCOMPARE(s.sheet.Record().DesktopHeight, -10);
        QCOMPARE(s.sheet.Record().FullScreen, 0);
        QCOMPARE(s.sheet.Record().ColorDepth, 12);
        QCOMPARE(s.sheet.Record().ConnectToServerConsole, 1);

        record.DesktopWidth = 1600;
        record.DesktopHeight = 900;
        record.ColorDepth = 32;
        ShownSheet custom(ServerSheet(), record);
        display = custom.Visit(IDD_DISPLAY);
        QCOMPARE(List(display, IDC_DESKTOP_SIZE)->currentText(), QStringLiteral("Custom"));
        QCOMPARE(Edit(display, IDC_WIDTH)->text(), QStringLiteral("1600"));
        QCOMPARE(List(display, IDC_COLOR_DEPTH)->currentText(), QStringLiteral("32"));
        Choose(List(display, IDC_COLOR_DEPTH), 3);
        custom.PressOk();
        QCOMPARE(custom.sheet.Record().ColorDepth, 24);
        QCOMPARE(custom.sheet.Record().DesktopWidth, 1600);
    }

    void resourcesPageStoresItsListsBoxesAndDrives() {
        Properties record = ServerRecord();
        record.KeyboardHookMode = 7;  // not in the list: kept
        SheetOptions options = ServerSheet();
        options.drives = {QStringLiteral("System (C:)"), QStringLiteral("data (D:)")};
        ShownSheet s(options, record);
        QWidget* page = s.Visit(IDD_RESOURCES);
        QCOMPARE(List(page, IDC_SOUND)->currentText(), QStringLiteral("Bring to this computer"));
        QCOMPARE(List(page, IDC_KEYBOARD)->currentIndex(), -1);
        QVERIFY(Box(page, IDC_CLIPBOARD)->isChecked());
        QVERIFY(!Box(page, IDC_DRIVES)->isChecked());
        QVERIFY(Edit(page, IDC_DRIVE_LIST)->isEnabled());
        auto* known = page->findChild<QLabel*>(QStringLiteral("knownDrives"));
        QVERIFY(known);
        QVERIFY(known->text().contains(QStringLiteral("System (C:), data (D:)")));

        Choose(List(page, IDC_SOUND), 2);
        Box(page, IDC_DRIVES)->click();
        Box(page, IDC_CLIPBOARD)->click();
        Box(page, IDC_SMART_CARDS)->click();
        Retype(Edit(page, IDC_DRIVE_LIST), QStringLiteral("D:; $:"));
        s.PressOk();
        const Properties& out = s.sheet.Record();
        QCOMPARE(out.AudioRedirectionMode, 2);
        QCOMPARE(out.KeyboardHookMode, 7);
        QCOMPARE(out.RedirectDrives, 1);
        QCOMPARE(out.RedirectClipboard, 0);
        QCOMPARE(out.RedirectSmartCards, 1);
        QCOMPARE(out.RedirectPrinters, 0);
        QCOMPARE(out.DriveCollection, std::string("D:; $:"));

        ShownSheet noDrives(ServerSheet(), record);
        QVERIFY(!noDrives.Visit(IDD_RESOURCES)->findChild<QLabel*>(QStringLiteral("knownDrives")));
    }

    void experienceSpeedFollowsTheBoxesAndPresetsKeepTheUsersChoice() {
        ShownSheet s(ServerSheet(), ServerRecord());
        QWidget* page = s.Visit(IDD_EXPERIENCE);
        QComboBox* speed = List(page, IDC_SPEED);
        QCOMPARE(speed->currentText(), QStringLiteral("LAN (10 Mbps or higher)"));
        QCheckBox* themes = Box(page, IDC_THEMES);
        themes->click();
        QCOMPARE(speed->currentText(), QStringLiteral("Custom (Defined in Options / Experience)"));
        themes->click();
        QCOMPARE(speed->currentText(), QStringLiteral("LAN (10 Mbps or higher)"));
        themes->click();

        Choose(speed, 0);
        QVERIFY(!Box(page, IDC_BACKGROUND)->isChecked());
        QVERIFY(!Box(page, IDC_FONT_SMOOTHING)->isChecked());
        QVERIFY(themes->isChecked());
        QVERIFY(Box(page, IDC_BITMAP_CACHING)->isChecked());
        Choose(speed, 2);
        QVERIFY(!themes->isChecked());
        QVERIFY(Box(page, IDC_BACKGROUND)->isChecked());
        QCOMPARE(speed->currentIndex(), 2);

        Box(page, IDC_BITMAP_CACHING)->click();
        s.PressOk();
        QCOMPARE(s.sheet.Record().PerformanceFlags, 0x188);
        QCOMPARE(s.sheet.Record().BitmapPersistence, 0);
    }

    // Every control can be reached from the keyboard: labels carry a
    // mnemonic (none twice on a page) and a buddy, unlabelled inputs a name;
    // OK is the default.
    void everyControlIsReachableFromTheKeyboard() {
        ShownSheet s(ServerSheet(), ServerRecord());
        QPushButton* ok = s.sheet.findChild<QPushButton*>(QStringLiteral("IDOK"));
        QVERIFY(ok->isDefault());
        for (int id : {IDD_GENERAL, IDD_DISPLAY, IDD_RESOURCES, IDD_EXPERIENCE}) {
            QWidget* page = s.Visit(id);
            QStringList texts;
            for (QLabel* l : page->findChildren<QLabel*>()) texts << l->text();
            for (QAbstractButton* b : s.sheet.findChildren<QAbstractButton*>()) {
                if (b->isVisibleTo(&s.sheet)) texts << b->text();
            }
            for (QGroupBox* g : page->findChildren<QGroupBox*>()) texts << g->title();
            QSet<QKeySequence> mnemonics;
            for (const QString& text : texts) {
                const QKeySequence key = QKeySequence::mnemonic(text);
                QVERIFY2(key.isEmpty() || !mnemonics.contains(key), qPrintable(text));
                mnemonics.insert(key);
            }
            QList<QWidget*> labelled;
            for (QLabel* label : page->findChildren<QLabel*>()) {
                if (label->text().contains(QLatin1Char('&'))) {
                    QVERIFY2(label->buddy(), qPrintable(label->text()));
                }
                if (label->buddy()) labelled << label->buddy();
            }
            const auto reachable = [&](QWidget* input) {
                QVERIFY2(labelled.contains(input) || !input->accessibleName().isEmpty(),
                         qPrintable(input->objectName()));
            };
            for (QLineEdit* e : page->findChildren<QLineEdit*>()) {
                if (qobject_cast<QComboBox*>(e->parentWidget())) continue;
                reachable(e);
            }
            for (QComboBox* c : page->findChildren<QComboBox*>()) reachable(c);
            for (QPlainTextEdit* e : page->findChildren<QPlainTextEdit*>()) reachable(e);
            for (QAbstractButton* b : page->findChildren<QCheckBox*>()) {
                QVERIFY2(b->text().contains(QLatin1Char('&')), qPrintable(b->text()));
            }
        }
        // Alt and a label's letter moves to its control.
        s.Visit(IDD_GENERAL);
        QTest::keyClick(&s.sheet, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(s.sheet.focusWidget(), static_cast<QWidget*>(Edit(s.General(), IDC_SERVER)));
        // Ctrl+Tab and Ctrl+Shift+Tab turn the pages, also from a list that
        // would take the keys for itself.
        QComboBox* size = s.Visit(IDD_DISPLAY)->findChild<QComboBox*>();
        size->setFocus();
        QTest::keyClick(size, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(s.sheet.Tabs()->currentIndex(), 2);
        QTest::keyClick(s.sheet.focusWidget(), Qt::Key_Backtab,
                        Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(s.sheet.Tabs()->currentIndex(), 1);
        // The page tabs come before the page's fields, as on the screen.
        QWidget* tabs = s.sheet.Tabs()->findChild<QTabBar*>();
        tabs->setFocus();
        QTest::keyClick(tabs, Qt::Key_Tab, Qt::ControlModifier);
        QTest::keyClick(s.sheet.focusWidget(), Qt::Key_Tab);
        QVERIFY(s.sheet.Tabs()->widget(2)->isAncestorOf(s.sheet.focusWidget()));
        QTest::keyClick(s.sheet.focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(s.sheet.focusWidget(), tabs);
    }
};

QTEST_MAIN(CPropertySheet2Test)
#include "CPropertySheet2Test.moc"
