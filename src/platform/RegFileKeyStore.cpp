// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegFileKeyStore.h"

#include "FileUtil.h"
#include "RegFileFormat.h"
#include "SystemInfo.h"

#include <sys/stat.h>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vandrelle {
namespace {

using namespace regfile;

constexpr std::string_view kMachineFile = "/etc/vandrelle/registry.reg";

// ---------------------------------------------------------------------------
// Queries and edits on a document

struct NamedValue {
    std::string name;
    RegValue value;
};

// What a key holds, as read at one moment. Its value names are indexed, so
// that taking a snapshot and reading from it cost time in proportion to the
// file, however many values and subkeys the key has.
struct KeySnapshot {
    bool exists = false;
    std::vector<std::string> subKeys;
    std::vector<NamedValue> values;
    std::unordered_map<std::string, std::size_t> valueAt;  // folded name -> index in values

    // A key may have several sections; as on import, a later value overrides
    // an earlier one of the same name.
    void CollectValues(const RegSection& section) {
        for (const auto& entry : section.entries) {
            if (!entry.value) continue;
            const auto [at, added] = valueAt.try_emplace(FoldCase(entry.name), values.size());
            if (added) {
                values.push_back({entry.name, *entry.value});
            } else {
                values[at->second].value = *entry.value;
            }
        }
    }

    const RegValue* Find(std::string_view name) const {
        const auto at = valueAt.find(FoldCase(name));
        return at == valueAt.end() ? nullptr : &values[at->second].value;
    }
};

// Keys exist through their own section or through a deeper one.
KeySnapshot TakeSnapshot(const RegDocument& document, const KeyPath& path) {
    KeySnapshot snapshot;
    std::unordered_set<std::string> seenSubKeys;  // folded
    for (const auto& section : document.sections) {
        if (!section.ownHive || !PathStartsWith(section.path, path)) continue;
        snapshot.exists = true;
        if (section.path.size() == path.size()) {
            snapshot.CollectValues(section);
            continue;
        }
        const std::string& child = section.path[path.size()];
        if (seenSubKeys.insert(FoldCase(child)).second) snapshot.subKeys.push_back(child);
    }
    return snapshot;
}

RegSection* LastSectionOf(RegDocument& document, const KeyPath& path) {
    for (auto it = document.sections.rbegin(); it != document.sections.rend(); ++it) {
        if (it->ownHive && PathEquals(it->path, path)) return &*it;
    }
    return nullptr;
}

RegSection& AddSection(RegDocument& document, Hive hive, const KeyPath& path) {
    RegSection section;
    section.headerLine = "[" + std::string(RootOf(hive).name);
    for (const auto& component : path) section.headerLine += "\\" + component;
    section.headerLine += "]";
    section.ownHive = true;
    section.path = path;
    document.sections.push_back(std::move(section));
    return document.sections.back();
}

// Replaces the value where it stands (its last occurrence, the one that
// counts), else appends it to the key's last section.
void SetValue(RegDocument& document, Hive hive, const KeyPath& path, std::string_view name,
              const RegValue& value) {
    for (auto it = document.sections.rbegin(); it != document.sections.rend(); ++it) {
        if (!it->ownHive || !PathEquals(it->path, path)) continue;
        for (auto entry = it->entries.rbegin(); entry != it->entries.rend(); ++entry) {
            if (entry->value && EqualsNoCase(entry->name, name)) {
                entry->value = value;
                entry->rawText.clear();  // the writer formats the new value
                return;
            }
        }
    }
    RegSection* section = LastSectionOf(document, path);
    if (!section) section = &AddSection(document, hive, path);
    section->entries.push_back({std::string(name), value, {}});
}

// ---------------------------------------------------------------------------
// Files

struct HiveFile {
    std::string path;
    Hive hive;
};

// Missing, as opposed to there but out of reach (which must not read as empty).
bool IsMissing(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

// A missing file is an empty hive. A file that cannot be read, or that is not
// a registry file, is an error, so that it is never overwritten.
bool LoadHive(const HiveFile& file, RegDocument& document, std::string& error) {
    document = {};
    if (IsMissing(file.path)) return true;
    std::string data;
    if (!ReadWholeFile(file.path, &data, &error)) return false;
    auto parsed = ParseRegFile(data, file.hive);
    if (!parsed) {
        error = file.path +
                " is not a registry file: it does not begin with \"Windows Registry Editor "
                "Version 5.00\" or \"REGEDIT4\"; it was left as it is";
        return false;
    }
    document = std::move(*parsed);
    return true;
}

bool SaveHive(const HiveFile& file, const RegDocument& document, std::string& error) {
    MakeFolders(FolderOf(file.path));
    return WriteFileAtomically(file.path, FormatRegFile(document), 0600, &error);
}

// Names with line breaks cannot be stored in the file.
bool IsStorableName(std::string_view name) {
    return !HasControlCharacter(name);
}

// A string's text ends at its first NUL when it is read, so text with a NUL
// would not read back as written.
bool IsStorableValue(const RegValue& value) {
    const bool isText = value.type == ValueType::String || value.type == ValueType::ExpandString;
    return !isText || value.text.find('\0') == std::string::npos;
}

class RegFileKey : public RegKey {
public:
    RegFileKey(HiveFile file, KeyPath path, KeySnapshot snapshot, bool writable,
               std::shared_ptr<std::string> error)
        : m_file(std::move(file)),
          m_path(std::move(path)),
          m_snapshot(std::move(snapshot)),
          m_writable(writable),
          m_error(std::move(error)) {}

    std::optional<std::string> SubKeyName(std::size_t index) const override {
        if (index >= m_snapshot.subKeys.size()) return std::nullopt;
        return m_snapshot.subKeys[index];
    }

    std::optional<std::string> ValueName(std::size_t index) const override {
        if (index >= m_snapshot.values.size()) return std::nullopt;
        return m_snapshot.values[index].name;
    }

    std::optional<RegValue> ReadValue(std::string_view name) const override {
        const RegValue* value = m_snapshot.Find(name);
        if (!value) return std::nullopt;
        return *value;
    }

    // Re-reads the file so that changes made since the key was opened are kept.
    bool WriteValue(std::string_view name, const RegValue& value) override {
        m_error->clear();
        if (!m_writable) return Refuse(name, "the key was opened for reading only");
        if (!IsStorableName(name)) return Refuse(name, "a name cannot hold control characters");
        if (!IsStorableValue(value)) return Refuse(name, "a string cannot hold a NUL character");
        RegDocument document;
        if (!LoadHive(m_file, document, *m_error)) return false;
        SetValue(document, m_file.hive, m_path, name, value);
        if (!SaveHive(m_file, document, *m_error)) return false;
        m_snapshot = TakeSnapshot(document, m_path);
        return true;
    }

private:
    bool Refuse(std::string_view name, std::string_view why) {
        *m_error = "cannot store the value \"" + std::string(name) + "\": " + std::string(why);
        return false;
    }

    HiveFile m_file;
    KeyPath m_path;
    KeySnapshot m_snapshot;
    bool m_writable;
    std::shared_ptr<std::string> m_error;
};

}  // namespace

RegFileKeyStore::RegFileKeyStore(std::string userFile, std::string machineFile)
    : m_userFile(std::move(userFile)),
      m_machineFile(std::move(machineFile)),
      m_error(std::make_shared<std::string>()) {}

std::unique_ptr<RegKey> RegFileKeyStore::OpenKey(Hive hive, std::string_view path) {
    return Open(hive, path, Access::Read);
}

std::unique_ptr<RegKey> RegFileKeyStore::OpenKeyForWriting(Hive hive, std::string_view path) {
    return Open(hive, path, Access::Write);
}

std::unique_ptr<RegKey> RegFileKeyStore::CreateKey(Hive hive, std::string_view path) {
    return Open(hive, path, Access::Create);
}

// A new key gets an empty section at once, so that it exists for OpenKey.
std::unique_ptr<RegKey> RegFileKeyStore::Open(Hive hive, std::string_view path, Access access) {
    m_error->clear();
    const bool machine = hive == Hive::LocalMachine;
    HiveFile file{machine ? m_machineFile : m_userFile, hive};
    if (machine && access != Access::Read) {
        *m_error = "the local machine's keys are read only (" + file.path + ")";
        return nullptr;
    }
    if (access == Access::Create && !IsStorableName(path)) {
        *m_error = "a key name cannot hold control characters";
        return nullptr;
    }
    RegDocument document;
    if (!LoadHive(file, document, *m_error)) return nullptr;
    KeyPath keyPath = SplitKeyPath(path);
    if (access == Access::Create && !LastSectionOf(document, keyPath)) {
        AddSection(document, hive, keyPath);
        if (!SaveHive(file, document, *m_error)) return nullptr;
    }
    KeySnapshot snapshot = TakeSnapshot(document, keyPath);
    if (!snapshot.exists) return nullptr;
    return std::make_unique<RegFileKey>(std::move(file), std::move(keyPath), std::move(snapshot),
                                        access != Access::Read, m_error);
}

std::unique_ptr<KeyStore> MakeDefaultKeyStore() {
    return std::make_unique<RegFileKeyStore>(UserConfigFolder() + "/registry.reg",
                                             std::string(kMachineFile));
}

}  // namespace vandrelle
