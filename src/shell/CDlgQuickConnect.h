// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;

namespace vandrelle {

// "Quick Connect": a server to open at once, and whether to its console. No
// history: every opening starts empty. Cancel, Escape and the close box cancel.
class CDlgQuickConnect : public QDialog {
    Q_OBJECT
public:
    explicit CDlgQuickConnect(QWidget* owner);

    QString ServerText() const;
    bool Console() const;
    QLineEdit* ServerEdit() const { return m_server; }
    QCheckBox* ConsoleBox() const { return m_console; }

private:
    QLineEdit* m_server;
    QCheckBox* m_console;
};

// "About Vandrelle": the program's name and version, and a link to its
// user guide, which opens in the browser.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(QWidget* owner, const QString& guide);
};

}  // namespace vandrelle
