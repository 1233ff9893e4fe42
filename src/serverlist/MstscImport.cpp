// SPDX-License-Identifier: GPL-3.0-or-later
#include "MstscImport.h"

#include "HostPort.h"
#include "KeyStore.h"
#include "RegistryText.h"
#include "StoredCredentials.h"
#include "XmlDocument.h"

#include <algorithm>
#include <cstddef>

namespace vandrelle {
namespace {

constexpr std::string_view kClientKey = "Software\\Microsoft\\Terminal Server Client";
constexpr int kRecentCount = 10;           // "MRU0" to "MRU9"
constexpr std::size_t kMaxName = 259;      // a 260-unit buffer with its terminator
constexpr std::size_t kMaxHintData = 520;  // the hint data buffer, in bytes
constexpr int kMaxPort = 65535;

std::string ClientKey(std::string_view below) {
    return std::string(kClientKey) + "\\" + std::string(below);
}

// The size the value's data has in the registry: strings as UTF-16 with their
// terminator, unless the file gave their stored bytes.
std::size_t DataSize(const RegValue& value) {
    switch (value.type) {
        case ValueType::String:
        case ValueType::ExpandString:
            return value.bytes.empty() ? (Utf16Length(value.text) + 1) * 2 : value.bytes.size();
        case ValueType::Dword:
            return 4;
        case ValueType::Binary:
        case ValueType::Other:
            break;
    }
    return value.bytes.size();
}

std::vector<std::string> HintNames(const RegKey& key) {
    std::vector<std::string> names;
    while (auto name = key.ValueName(names.size())) {
        if (Utf16Length(*name) > kMaxName) break;
        const auto value = key.ReadValue(*name);
        if (!value || DataSize(*value) > kMaxHintData) break;
        names.push_back(std::move(*name));
    }
    return names;
}

std::vector<std::string> SubKeyNames(const RegKey& key) {
    std::vector<std::string> names;
    while (auto name = key.SubKeyName(names.size())) {
        if (Utf16Length(*name) > kMaxName) break;
        names.push_back(std::move(*name));
    }
    return names;
}

// The leading decimal digits as a port; nullopt when there are none or they
// are no port number.
std::optional<int> PortOf(std::string_view text) {
    int port = 0;
    for (std::size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        port = port * 10 + (text[i] - '0');
        if (port > kMaxPort) return std::nullopt;
    }
    if (port < 1) return std::nullopt;
    return port;
}

void SetPort(Properties& record, std::string_view text) {
    if (const auto port = PortOf(text)) {
        record.RDPPort = *port;
        record.InheritGeneral = 0;
    }
}

bool ContainsNoCase(std::string_view text, std::string_view lowerNeedle) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return lower.find(lowerNeedle) != std::string::npos;
}

// The host part of an entry: up to its first blank, then up to its first '/',
// read as a typed address is.
std::string_view TakeHost(std::string_view entry, Properties& record) {
    std::string_view host = entry.substr(0, entry.find_first_of(" \t"));
    const HostPort split = SplitHostPort(host.substr(0, host.find('/')));
    if (split.port) SetPort(record, *split.port);
    return split.host;
}

// Whether the configuration file can hold the texts the record writes.
bool IsStorable(const Properties& record) {
    return IsStorableText(record.Name) && IsStorableText(record.Server) &&
           IsStorableText(record.UserName) && IsStorableText(record.Domain);
}

// Fills the log-on fields from the client's hint and saved password, and adds
// the record when it names a host the file can hold.
void Complete(Properties record, const CredentialLookup& lookup, const AddImported& add) {
    if (record.Server.empty()) return;
    if (lookup(record.Server, record.UserName, record.Password, record.Domain)) {
        record.InheritGeneral = 0;
    }
    if (IsStorable(record)) add(record);
}

}  // namespace

MstscSources ReadMstscSources(KeyStore& keys) {
    MstscSources sources;
    const auto recent = keys.OpenKey(Hive::CurrentUser, ClientKey("Default"));
    if (!recent) return sources;
    sources.hasDefaultKey = true;
    for (int n = 0; n < kRecentCount; ++n) {
        sources.recent.push_back(ReadBoundedString(*recent, "MRU" + std::to_string(n)));
    }
    if (const auto hints = keys.OpenKey(Hive::CurrentUser, ClientKey("UsernameHint"))) {
        sources.hints = HintNames(*hints);
    }
    if (const auto servers = keys.OpenKey(Hive::CurrentUser, ClientKey("Servers"))) {
        sources.servers = SubKeyNames(*servers);
    }
    return sources;
}

Properties ParseRecentEntry(std::string_view entry) {
    Properties record;
    record.Name = entry;
    record.Server = TakeHost(entry, record);
    if (ContainsNoCase(entry, "/admin") || ContainsNoCase(entry, "/console")) {
        record.ConnectToServerConsole = 1;
    }
    return record;
}

void ImportMstscConnections(const MstscSources& sources, const CredentialLookup& lookup,
                            const HasChildLabelled& hasChild, const AddImported& add) {
    if (!sources.hasDefaultKey) return;
    for (const auto& entry : sources.recent) {
        if (!entry || entry->empty() || hasChild(*entry)) continue;
        Complete(ParseRecentEntry(*entry), lookup, add);
    }
    for (const auto* names : {&sources.hints, &sources.servers}) {
        for (const std::string& name : *names) {
            if (name.empty() || hasChild(name)) continue;
            // A name is an address as an entry's host is ("[::1]:3390").
            Properties record;
            record.Name = name;
            record.Server = TakeHost(name, record);
            record.InheritGeneral = 0;
            Complete(std::move(record), lookup, add);
        }
    }
}

void ImportMstscConnections(KeyStore& keys, CredentialStore& credentials,
                            const HasChildLabelled& hasChild, const AddImported& add) {
    const CredentialLookup lookup = [&](const std::string& server, std::string& user,
                                        std::string& password, std::string& domain) {
        return LookupStoredCredentials(keys, credentials, server, user, password, domain);
    };
    ImportMstscConnections(ReadMstscSources(keys), lookup, hasChild, add);
}

}  // namespace vandrelle
