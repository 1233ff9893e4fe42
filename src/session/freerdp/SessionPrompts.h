// SPDX-License-Identifier: GPL-3.0-or-later
// The questions a connection puts to the user.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vandrelle {

// A server certificate the engine cannot vouch for.
struct CertificateQuestion {
    std::string host;
    std::uint16_t port = 0;
    std::string commonName;
    std::string subject;
    std::string issuer;
    std::string fingerprint;
    bool changed = false;  // the server presents another certificate than before
};

enum class CertificateAnswer { Reject = 0, AcceptAlways = 1, AcceptOnce = 2 };

struct LogonCredentials {
    std::string user;
    std::string domain;
    std::string password;
};

// Questions for the user, asked on the user-interface thread while the
// connection waits.
class SessionPrompts {
public:
    virtual ~SessionPrompts() = default;
    virtual CertificateAnswer AskCertificate(const CertificateQuestion& question) = 0;
    // nullopt: the user cancelled the log-on.
    virtual std::optional<LogonCredentials> AskCredentials(const std::string& server,
                                                           const LogonCredentials& known) = 0;
    // Something the connection could not do but went on without (an add-in
    // that does not load, for example). Tells nobody unless overridden.
    virtual void ReportProblem(const std::string& /*text*/) {}
};

}  // namespace vandrelle
