// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Properties.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vandrelle {

class CredentialStore;
class KeyStore;

// The servers the system's RDP client remembers for the current user, as read
// from its keys under "Software\Microsoft\Terminal Server Client".
struct MstscSources {
    // Without the client's "Default" key nothing is imported, whatever the
    // other two lists hold.
    bool hasDefaultKey = false;
    // "MRU0" to "MRU9" in this order; nullopt where the value is missing or
    // cannot be read into the client's 260-unit buffer.
    std::vector<std::optional<std::string>> recent;
    std::vector<std::string> hints;    // value names of "UsernameHint"
    std::vector<std::string> servers;  // subkey names of "Servers"
};

// Reads the three lists with the client's buffer sizes: a recently-used value
// that is no string, lacks its terminator or is longer than 259 UTF-16 units
// is nullopt; an enumeration ends at the first name longer than 259 units (or,
// for the hints, the first value with more than 520 bytes of data).
MstscSources ReadMstscSources(KeyStore& keys);

// The fields that a recently-used entry ("host", "host:port",
// "host:port /admin", "[v6address]:port") sets on a fresh record: Name (the
// whole entry), Server (the host alone), RDPPort with InheritGeneral 0 when
// the entry names a port from 1 to 65535, and ConnectToServerConsole 1 when it
// holds "/admin" or "/console" in any case. A port outside that range is left
// out; an IPv6 address loses its brackets, and one without brackets keeps all
// its colons, so that Server is always a host that a session can connect to.
// Server is empty when the entry names no host.
Properties ParseRecentEntry(std::string_view entry);

// LookupStoredCredentials' contract: false changes nothing; true sets the user
// name, and the password and domain where found.
using CredentialLookup = std::function<bool(const std::string& server, std::string& user,
                                            std::string& password, std::string& domain)>;
// Whether the target group has a direct child labelled exactly so, asked
// anew before each candidate, so that servers added earlier in the run count.
using HasChildLabelled = std::function<bool(const std::string& label)>;
// Adds the record as the target group's last server (and saves it).
using AddImported = std::function<void(const Properties& record)>;

// Imports the recently-used entries, then the user-name hints, then the saved
// servers; a candidate whose label the group already has is left out, so an
// entry named by several sources is imported once. Candidates that name no
// host, or whose texts the configuration file cannot hold, are left out too.
void ImportMstscConnections(const MstscSources& sources, const CredentialLookup& lookup,
                            const HasChildLabelled& hasChild, const AddImported& add);

// The same from the key store, with the stored-credentials lookup.
void ImportMstscConnections(KeyStore& keys, CredentialStore& credentials,
                            const HasChildLabelled& hasChild, const AddImported& add);

}  // namespace vandrelle
