// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KeyStore.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vandrelle {

// The registry of Linux: each hive is a text file in the format of Windows'
// registry editor (.reg), so that an export from Windows can be dropped in
// and the settings can be edited by hand.
//
// The user file holds the current-user hive (sections under HKEY_CURRENT_USER
// or HKCU); the machine file holds the local-machine hive (HKEY_LOCAL_MACHINE
// or HKLM) and is never written. Every other line of a file is kept verbatim
// when the file is rewritten, and so is every value that is not written. A
// file that cannot be read, or that is not a registry file, is never written:
// the store reports it (LastError) and leaves it as it is. Keys read from the
// file as it is when they are opened (the document parsed last is reused
// while the file is unchanged); every write re-reads the file and
// replaces it atomically, so edits made meanwhile by another process or by hand
// are kept (there is no locking: two writers at the same instant can still lose
// one write). A write that would make the file larger than the reader accepts
// (kMaxReadBytes) is refused and leaves the file as it was.
class RegFileKeyStore : public KeyStore {
public:
    RegFileKeyStore(std::string userFile, std::string machineFile);

    std::unique_ptr<RegKey> OpenKey(Hive hive, std::string_view path) override;
    std::unique_ptr<RegKey> OpenKeyForWriting(Hive hive, std::string_view path) override;
    std::unique_ptr<RegKey> CreateKey(Hive hive, std::string_view path) override;
    bool WriteKeys(Hive hive, const std::vector<KeyValues>& keys) override;
    std::string LastError() const override { return *m_error; }

private:
    enum class Access { Read, Write, Create };
    std::unique_ptr<RegKey> Open(Hive hive, std::string_view path, Access access);

    std::string m_userFile;
    std::string m_machineFile;
    std::shared_ptr<std::string> m_error;  // shared with the keys it opens, which may outlive it
    class HiveCache;
    std::shared_ptr<HiveCache> m_cache;
};

// The store the program uses: UserConfigFolder()/registry.reg for the current
// user and /etc/vandrelle/registry.reg for the local machine.
std::unique_ptr<KeyStore> MakeDefaultKeyStore();

}  // namespace vandrelle
