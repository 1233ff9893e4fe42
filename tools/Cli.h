// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vandrelle {

class CredentialStore;
class KeyStore;

// Where the companion looks for things; the real program passes the running
// executable's folder, the user's configuration folder and the real key store.
struct CliEnvironment {
    std::string programFolder;
    std::string userFolder;
    KeyStore* keys = nullptr;
    // The system's saved credentials for import-mstsc; none when null.
    CredentialStore* credentials = nullptr;
    // Where --set Password=- reads the password (the real program's standard
    // input); nothing can be read there when negative.
    int input = -1;
};

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNoSuchNode = 1;
inline constexpr int kExitConflicts = 1;  // merge: fields changed on both sides
inline constexpr int kExitUsage = 2;
inline constexpr int kExitFile = 3;

// Runs one command line (without the program name). Output goes to `out`,
// each error as one line to `err`. Every command first needs the password key:
// when it cannot be read or stored, the command ends with kExitFile. --help and
// --version need neither the key nor a file.
int RunCli(const std::vector<std::string>& args, const CliEnvironment& env, std::ostream& out,
           std::ostream& err);

}  // namespace vandrelle
