// SPDX-License-Identifier: GPL-3.0-or-later
#include "CDlgQuickConnect.h"

#include "Icons.h"
#include "ResourceIds.h"
#include "Version.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace vandrelle {

CDlgQuickConnect::CDlgQuickConnect(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("IDD_QUICK_CONNECT"));
    setWindowTitle(tr("Quick Connect"));
    auto* label = new QLabel(tr("Connect to &server"), this);
    m_server = new QLineEdit(this);
    m_server->setObjectName(QStringLiteral("IDC_SERVER"));
    m_server->setProperty("controlId", 1004);
    m_server->setMinimumWidth(m_server->fontMetrics().averageCharWidth() * 28);
    label->setBuddy(m_server);
    m_console = new QCheckBox(tr("Connect to c&onsole"), this);
    m_console->setObjectName(QStringLiteral("IDC_CONSOLE"));
    m_console->setProperty("controlId", 1017);
    auto* connect = new QPushButton(tr("&Connect"), this);
    connect->setObjectName(QStringLiteral("IDOK"));
    connect->setDefault(true);
    QObject::connect(connect, &QPushButton::clicked, this, &QDialog::accept);
    // Escape and the close box cancel as well.
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("IDCANCEL"));
    QObject::connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QGridLayout(this);
    layout->addWidget(label, 0, 0);
    layout->addWidget(m_server, 0, 1);
    layout->addWidget(connect, 0, 2);
    layout->addWidget(m_console, 1, 1);
    layout->addWidget(cancel, 1, 2);
    layout->setColumnStretch(1, 1);
    setLayout(layout);
    m_server->setFocus();
}

QString CDlgQuickConnect::ServerText() const {
    return m_server->text();
}

bool CDlgQuickConnect::Console() const {
    return m_console->isChecked();
}

CAboutDlg::CAboutDlg(QWidget* owner, const QString& guide) : QDialog(owner) {
    setObjectName(QStringLiteral("IDD_ABOUTBOX"));
    setWindowTitle(tr("About Vandrelle"));
    auto* icon = new QLabel(this);
    icon->setPixmap(ResourceIcon(IDR_MAINFRAME).pixmap(48, 48));
    icon->setAccessibleName(tr("Vandrelle icon"));
    auto* name = new QLabel(
        tr("Vandrelle") + QStringLiteral("\n") + tr("Version %1").arg(QLatin1String(kShortVersion)),
        this);
    name->setObjectName(QStringLiteral("nameAndVersion"));
    const QString url = QUrl::fromLocalFile(guide).toString();
    auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped()), this);
    link->setObjectName(QStringLiteral("IDC_LINK"));
    link->setProperty("controlId", 1016);
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    link->setFocusPolicy(Qt::StrongFocus);
    link->setAccessibleName(tr("User guide"));
    link->setWordWrap(true);
    QObject::connect(link, &QLabel::linkActivated, this,
                     [](const QString& target) { QDesktopServices::openUrl(QUrl(target)); });
    auto* line =
        new QLabel(tr("Remote Desktop connections, kept as a tree, opened in tabs."), this);
    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(name, 0, 1);
    layout->addWidget(link, 1, 1);
    layout->addWidget(line, 2, 0, 1, 2);
    layout->addWidget(ok, 3, 1, Qt::AlignRight);
    layout->setColumnStretch(1, 1);
    setLayout(layout);
    ok->setFocus();
}

}  // namespace vandrelle
