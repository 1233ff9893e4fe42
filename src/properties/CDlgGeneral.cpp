// SPDX-License-Identifier: GPL-3.0-or-later
#include "CDlgGeneral.h"

#include "ResourceIds.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <utility>

namespace vandrelle {

CDlgGeneral::CDlgGeneral(GeneralMode mode, QWidget* parent)
    : CPropertyPage(IDD_GENERAL, tr("General"), parent), m_mapper(std::move(mode)) {
    setObjectName(QStringLiteral("IDD_GENERAL"));
    setProperty("resourceId", IDD_GENERAL);

    m_name = MakeControl<QLineEdit>(IDC_NAME, this);
    m_server = MakeControl<QLineEdit>(IDC_SERVER, this);
    m_serverLabel = MakeLabel(tr("&Server:"), m_server, this);
    Identify(m_serverLabel, IDC_SERVER_LABEL);
    auto* top = new QFormLayout;
    top->addRow(MakeLabel(tr("&Display Name:"), m_name, this), m_name);
    top->addRow(m_serverLabel, m_server);

    auto* logon = new QGroupBox(tr("Logon settings"), this);
    m_inherit = MakeControl<QCheckBox>(IDC_INHERIT, logon);
    m_inherit->setText(tr("&Inherit from parent"));
    m_userName = MakeControl<QLineEdit>(IDC_USER_NAME, logon);
    m_password = MakeControl<QLineEdit>(IDC_PASSWORD, logon);
    m_password->setEchoMode(QLineEdit::Password);
    m_domain = MakeControl<QLineEdit>(IDC_DOMAIN, logon);
    m_port = MakeControl<QLineEdit>(IDC_PORT, logon);
    m_port->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_port));
    m_port->setMaximumWidth(m_port->fontMetrics().horizontalAdvance(QStringLiteral("0")) * 10 + 16);
    auto* form = new QFormLayout;
    form->addRow(m_inherit);
    form->addRow(MakeLabel(tr("&User name:"), m_userName, logon), m_userName);
    form->addRow(MakeLabel(tr("Pass&word:"), m_password, logon), m_password);
    form->addRow(MakeLabel(tr("D&omain:"), m_domain, logon), m_domain);
    form->addRow(MakeLabel(tr("&Port:"), m_port, logon), m_port);
    MakePictureGroup(logon, IDI_LOGON)->addLayout(form);

    m_description = MakeControl<QPlainTextEdit>(IDC_DESCRIPTION, this);
    m_description->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_description->setTabChangesFocus(true);  // Tab leaves the page's last control
    m_description->setFixedHeight(m_description->fontMetrics().lineSpacing() * 4 + 12);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(logon);
    layout->addWidget(MakeLabel(tr("D&escription:"), m_description, this));
    layout->addWidget(m_description);
    layout->addStretch();

    connect(m_inherit, &QCheckBox::toggled, this, &CDlgGeneral::UpdateLogonControls);
    connect(m_name, &QLineEdit::textEdited, this, &CDlgGeneral::NameEdited);
    connect(m_server, &QLineEdit::textEdited, this, [this] { m_mapper.ServerEdited(); });
}

void CDlgGeneral::Load(const Properties& record) {
    const GeneralState state = m_mapper.Load(record);
    m_name->setText(FromUtf8(state.name));
    m_description->setPlainText(FromUtf8(state.description));
    m_server->setText(FromUtf8(state.server));
    m_userName->setText(FromUtf8(state.userName));
    m_password->setText(FromUtf8(state.password));
    m_domain->setText(FromUtf8(state.domain));
    m_port->setText(FromUtf8(state.port));
    m_inherit->setChecked(state.inherit);
    UpdateLogonControls();
    m_serverLabel->setVisible(!m_mapper.GroupMode());
    m_server->setVisible(!m_mapper.GroupMode());
    m_name->setEnabled(!m_mapper.RootMode());
    m_inherit->setEnabled(!m_mapper.RootMode());
    (m_mapper.RootMode() ? static_cast<QWidget*>(m_userName) : m_name)->setFocus();
}

GeneralState CDlgGeneral::Read() const {
    GeneralState state;
    state.name = ToUtf8(m_name->text());
    state.description = ToUtf8(m_description->toPlainText());
    state.server = ToUtf8(m_server->text());
    state.userName = ToUtf8(m_userName->text());
    state.password = ToUtf8(m_password->text());
    state.domain = ToUtf8(m_domain->text());
    state.port = ToUtf8(m_port->text());
    state.inherit = m_inherit->isChecked();
    return state;
}

// The texts stay as they are: unchecking shows the same values again, now editable.
void CDlgGeneral::UpdateLogonControls() {
    const bool enabled = !m_inherit->isChecked();
    for (QWidget* control : {m_userName, m_password, m_domain, m_port}) {
        control->setEnabled(enabled);
    }
}

void CDlgGeneral::NameEdited(const QString& text) {
    if (const std::optional<std::string> server = m_mapper.ServerForName(ToUtf8(text))) {
        m_server->setText(FromUtf8(*server));
    }
}

std::optional<CPropertyPage::Problem> CDlgGeneral::Check() const {
    const std::vector<GeneralProblem> problems = m_mapper.Validate(Read());
    if (problems.empty()) return std::nullopt;
    const GeneralProblem& first = problems.front();
    QWidget* control = first.control == GeneralControl::Name     ? m_name
                       : first.control == GeneralControl::Server ? m_server
                                                                 : m_port;
    return Problem{control, FromUtf8(first.message)};
}

void CDlgGeneral::Store(Properties& record) const {
    m_mapper.Store(Read(), record);
}

}  // namespace vandrelle
