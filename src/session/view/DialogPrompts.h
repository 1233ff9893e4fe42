// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SessionPrompts.h"

#include <QPointer>
#include <QWidget>

namespace vandrelle {

// Asks the user, in modal dialogs owned by the session's widget: whether to
// trust a server certificate (shown with its fingerprint; once, always or
// not at all) and for log-on credentials when the server needs them.
class DialogPrompts : public SessionPrompts {
public:
    explicit DialogPrompts(QWidget* owner) : m_owner(owner) {}

    CertificateAnswer AskCertificate(const CertificateQuestion& question) override;
    std::optional<LogonCredentials> AskCredentials(const std::string& server,
                                                   const LogonCredentials& known) override;
    void ReportProblem(const std::string& text) override;

    // The text the certificate question shows.
    static QString CertificateText(const CertificateQuestion& question);

private:
    QPointer<QWidget> m_owner;
};

}  // namespace vandrelle
