// SPDX-License-Identifier: GPL-3.0-or-later
#include "CPropertySheet2.h"

#include "CDlgDisplay.h"
#include "CDlgExperience.h"
#include "CDlgGeneral.h"
#include "CDlgResources.h"
#include "ResourceIds.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

namespace vandrelle {

bool RunPropertySheet(QWidget* owner, const SheetOptions& options, Properties& record) {
    CPropertySheet2 sheet(options, record, owner);
    if (sheet.exec() != QDialog::Accepted) return false;
    record = sheet.Record();
    return true;
}

CPropertySheet2::CPropertySheet2(const SheetOptions& options, const Properties& record,
                                 QWidget* owner)
    : QDialog(owner), m_record(record) {
    setObjectName(QStringLiteral("CPropertySheet2"));
    setWindowTitle(options.title);

    // Made before the pages, so that the tabs come before the fields in the
    // order of Tab, as they do on the screen.
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("pages"));

    GeneralMode mode;
    mode.group = options.groupMode;
    mode.root = options.rootMode;
    for (const QString& name : options.siblingNames) mode.siblingNames.push_back(ToUtf8(name));
    m_pages.push_back(new CDlgGeneral(mode, this));
    if (options.serverPages) {
        m_pages.push_back(new CDlgDisplay(this));
        m_pages.push_back(new CDlgResources(options.drives, this));
        m_pages.push_back(new CDlgExperience(this));
    }

    for (CPropertyPage* page : m_pages) m_tabs->addTab(page, page->Title());
    // A group's sheet, with its one page, is as wide as a server's.
    m_tabs->setMinimumWidth(fontMetrics().averageCharWidth() * 72);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = m_buttons->button(QDialogButtonBox::Ok);
    QPushButton* cancel = m_buttons->button(QDialogButtonBox::Cancel);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setProperty("controlId", IDOK);
    cancel->setObjectName(QStringLiteral("IDCANCEL"));
    cancel->setProperty("controlId", IDCANCEL);
    ok->setDefault(true);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &CPropertySheet2::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &CPropertySheet2::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(m_buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The size of the pages before any is loaded, every control shown: loading
    // may hide some (the size boxes of "Fit Window"), and the sheet keeps its
    // size whichever page shows.
    m_tabs->setMinimumSize(m_tabs->sizeHint());
    ShowPage(0);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CPropertySheet2::ShowPage);

    // The tab widget turns pages on Ctrl+Tab only when its page lets the key
    // through; a list with the focus keeps it. As shortcuts they always work.
    const auto turn = [this](int step) {
        const int count = m_tabs->count();
        m_tabs->setCurrentIndex((m_tabs->currentIndex() + step + count) % count);
    };
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this), &QShortcut::activated, this,
            [turn] { turn(1); });
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)}) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, [turn] { turn(-1); });
    }
}

CPropertySheet2::~CPropertySheet2() = default;

CPropertyPage* CPropertySheet2::Page(int id) const {
    for (CPropertyPage* page : m_pages) {
        if (page->Id() == id && page->Loaded()) return page;
    }
    return nullptr;
}

void CPropertySheet2::ShowPage(int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < m_pages.size()) {
        m_pages[static_cast<std::size_t>(index)]->LoadOnce(m_record);
    }
}

// Pages check in order and the first refusal keeps the sheet open; only when
// all pass are they stored, so a refused OK leaves the copy as it was.
void CPropertySheet2::accept() {
    for (CPropertyPage* page : m_pages) {
        if (!page->Loaded()) continue;
        if (const std::optional<CPropertyPage::Problem> problem = page->Check()) {
            Refuse(page, problem->control, problem->message);
            return;
        }
    }
    for (CPropertyPage* page : m_pages) {
        if (page->Loaded()) page->Store(m_record);
    }
    QDialog::accept();
}

void CPropertySheet2::Refuse(CPropertyPage* page, QWidget* control, const QString& message) {
    m_tabs->setCurrentWidget(page);
    if (message.isEmpty()) {
        QApplication::beep();
    } else {
        QMessageBox box(QMessageBox::Critical, tr("Error"), message, QMessageBox::Ok, page);
        box.exec();
    }
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
}

}  // namespace vandrelle
