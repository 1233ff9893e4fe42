// SPDX-License-Identifier: GPL-3.0-or-later
#include "DialogPrompts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace vandrelle {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QString DialogPrompts::CertificateText(const CertificateQuestion& q) {
    const QString intro =
        q.changed ? QObject::tr(
                        "The certificate of %1:%2 has changed since the last connection. "
                        "This can mean that someone is intercepting the connection.")
                  : QObject::tr("The identity of %1:%2 cannot be verified.");
    return intro.arg(Q(q.host)).arg(q.port) + QStringLiteral("\n\n") +
           QObject::tr("Common name: %1\nSubject: %2\nIssuer: %3\nFingerprint: %4")
               .arg(Q(q.commonName), Q(q.subject), Q(q.issuer), Q(q.fingerprint)) +
           QStringLiteral("\n\n") + QObject::tr("Do you want to connect to this server?");
}

CertificateAnswer DialogPrompts::AskCertificate(const CertificateQuestion& question) {
    QMessageBox box(QMessageBox::Warning, QObject::tr("Server certificate"),
                    CertificateText(question), QMessageBox::NoButton, m_owner);
    box.setObjectName(QStringLiteral("certificatePrompt"));
    QPushButton* once = box.addButton(QObject::tr("Connect &once"), QMessageBox::AcceptRole);
    QPushButton* always = box.addButton(QObject::tr("&Always connect"), QMessageBox::YesRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    once->setObjectName(QStringLiteral("connectOnce"));
    always->setObjectName(QStringLiteral("connectAlways"));
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == once) return CertificateAnswer::AcceptOnce;
    if (box.clickedButton() == always) return CertificateAnswer::AcceptAlways;
    return CertificateAnswer::Reject;
}

std::optional<LogonCredentials> DialogPrompts::AskCredentials(const std::string& server,
                                                              const LogonCredentials& known) {
    QDialog dialog(m_owner);
    dialog.setObjectName(QStringLiteral("logonPrompt"));
    dialog.setWindowTitle(QObject::tr("Log on to %1").arg(Q(server)));
    auto* form = new QFormLayout(&dialog);
    auto* user = new QLineEdit(Q(known.user), &dialog);
    auto* domain = new QLineEdit(Q(known.domain), &dialog);
    auto* password = new QLineEdit(&dialog);
    user->setObjectName(QStringLiteral("user"));
    domain->setObjectName(QStringLiteral("domain"));
    password->setObjectName(QStringLiteral("password"));
    password->setEchoMode(QLineEdit::Password);
    form->addRow(QObject::tr("&User name:"), user);
    form->addRow(QObject::tr("&Domain:"), domain);
    form->addRow(QObject::tr("&Password:"), password);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    (known.user.empty() ? user : password)->setFocus();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return LogonCredentials{user->text().toStdString(), domain->text().toStdString(),
                            password->text().toStdString()};
}

void DialogPrompts::ReportProblem(const std::string& text) {
    // Not modal: the session goes on while the user reads it.
    auto* box = new QMessageBox(QMessageBox::Warning, QObject::tr("Remote desktop"), Q(text),
                                QMessageBox::Ok, m_owner);
    box->setObjectName(QStringLiteral("sessionProblem"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

}  // namespace vandrelle
