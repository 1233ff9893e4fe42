// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vandrelle {

class KeyStore;

// One saved credential of the system's credential store.
struct Credential {
    static constexpr std::uint32_t kGeneric = 1;
    std::uint32_t type = kGeneric;
    std::optional<std::string> userName;  // UTF-8; nullopt when it has none
    std::vector<std::uint8_t> blob;       // the secret as stored: UTF-16LE for passwords
};

// The system's store of saved credentials.
class CredentialStore {
public:
    virtual ~CredentialStore() = default;
    // The credentials whose target matches `filter` ("name", or "prefix*"), in
    // the store's order; nullopt when none matches or the store cannot be read.
    virtual std::optional<std::vector<Credential>> Enumerate(std::string_view filter) = 0;
};

// A store that holds nothing: this platform has no store of the system RDP
// client's saved credentials.
class EmptyCredentialStore : public CredentialStore {
public:
    std::optional<std::vector<Credential>> Enumerate(std::string_view) override {
        return std::nullopt;
    }
};

// Finds the user name the system's RDP client remembers for `server` and, when
// saved, its password. Returns false (changing nothing) when there is no
// user-name hint; otherwise sets `user`, and `domain` and `password` where it
// finds them.
bool LookupStoredCredentials(KeyStore& keys, CredentialStore& credentials, std::string_view server,
                             std::string& user, std::string& password, std::string& domain);

}  // namespace vandrelle
