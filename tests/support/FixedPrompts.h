// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SessionPrompts.h"

namespace vandrelle::test {

// Prompts that give one answer to every certificate question and none to a
// log-on question, for clients that run without a person.
class FixedPrompts : public SessionPrompts {
public:
    explicit FixedPrompts(CertificateAnswer answer) : m_answer(answer) {}
    CertificateAnswer AskCertificate(const CertificateQuestion&) override { return m_answer; }
    std::optional<LogonCredentials> AskCredentials(const std::string&,
                                                   const LogonCredentials&) override {
        return std::nullopt;
    }

private:
    CertificateAnswer m_answer;
};

}  // namespace vandrelle::test
