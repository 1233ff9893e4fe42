// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Properties.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <vector>

class QDialogButtonBox;
class QTabWidget;

namespace vandrelle {

class CPropertyPage;

struct SheetOptions {
    QString title;  // "Add Group", "Add Server", "Properties of %s" (the caller fills it)
    bool serverPages = false;  // General, Display, Local Resources, Experience; else General only
    bool groupMode = false;    // the record is a group's (or the root's)
    bool rootMode = false;     // the record is the root's ("Servers")
    // Labels the other children of the node's parent carry (never the node's own label):
    // the General page refuses a name among them.
    QStringList siblingNames;
    // The engine's drive collection ("System (C:)", "data (D:)"; the letter before the
    // last colon) for the Local Resources page's drive list.
    QStringList drives;
};

// Runs the sheet modally, owned by `owner`, on a copy of `record`; on OK (every created
// page applied, in page order) the copy is written back and true returned; on Cancel
// `record` is untouched and false returned.
bool RunPropertySheet(QWidget* owner, const SheetOptions& options, Properties& record);

// The modal dialog that edits one group's or server's settings: a tab per
// page (General, and for a server Display, Local Resources and Experience),
// OK and Cancel. It edits a copy of the record; OK checks every page shown
// so far, in page order, keeps the sheet open on the first refusal, and
// otherwise stores those pages into the copy, in order.
class CPropertySheet2 : public QDialog {
    Q_OBJECT
public:
    CPropertySheet2(const SheetOptions& options, const Properties& record, QWidget* owner);
    ~CPropertySheet2() override;

    // The edited copy: after OK, with every shown page stored.
    const Properties& Record() const { return m_record; }

    QTabWidget* Tabs() const { return m_tabs; }
    // The page of that identifier (IDD_GENERAL ...) once it has been shown,
    // else nullptr.
    CPropertyPage* Page(int id) const;

    void accept() override;

private:
    void ShowPage(int index);
    void Refuse(CPropertyPage* page, QWidget* control, const QString& message);

    Properties m_record;
    QTabWidget* m_tabs = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    std::vector<CPropertyPage*> m_pages;
};

}  // namespace vandrelle
