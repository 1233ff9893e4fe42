// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegFileKeyStore.h"

#include "FileUtil.h"
#include "RegFileFormat.h"
#include "SystemInfo.h"

#include <sys/stat.h>
#include <time.h>
#include <algorithm>
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

// Components hold no backslash, so joining them keeps paths apart.
std::string FoldedPath(const KeyPath& path) {
    std::string joined;
    for (const auto& component : path) joined += FoldCase(component) + '\\';
    return joined;
}

// Where each key of a document stands: its own sections and its subkeys, for
// every key that exists (through its own section or through a deeper one), so
// that opening a key does not walk the whole document.
class HiveIndex {
public:
    struct Key {
        std::vector<std::size_t> sections;       // in file order
        std::vector<std::string> subKeys;        // in order of first appearance
        std::unordered_set<std::string> folded;  // subKeys, folded
    };

    explicit HiveIndex(const RegDocument& document) {
        for (std::size_t i = 0; i < document.sections.size(); ++i) {
            const RegSection& section = document.sections[i];
            if (!section.ownHive) continue;
            std::string prefix;
            Key* key = &m_keys[prefix];
            for (const std::string& component : section.path) {
                std::string folded = FoldCase(component);
                if (key->folded.insert(folded).second) key->subKeys.push_back(component);
                prefix += folded + '\\';
                key = &m_keys[prefix];  // elements stay in place as the map grows
            }
            key->sections.push_back(i);
        }
    }

    const Key* Find(const KeyPath& path) const {
        const auto at = m_keys.find(FoldedPath(path));
        return at == m_keys.end() ? nullptr : &at->second;
    }

    // For an editor that adds sections: the key's, created empty when missing.
    std::vector<std::size_t>& SectionsOf(const KeyPath& path) {
        return m_keys[FoldedPath(path)].sections;
    }

private:
    std::unordered_map<std::string, Key> m_keys;  // by folded path
};

KeySnapshot TakeSnapshot(const RegDocument& document, const HiveIndex& index, const KeyPath& path) {
    KeySnapshot snapshot;
    const HiveIndex::Key* key = index.Find(path);
    if (!key) return snapshot;
    snapshot.exists = true;
    snapshot.subKeys = key->subKeys;
    for (const std::size_t section : key->sections) {
        snapshot.CollectValues(document.sections[section]);
    }
    return snapshot;
}

// A document as read, with its index.
struct IndexedHive {
    explicit IndexedHive(RegDocument read) : document(std::move(read)), index(document) {}
    RegDocument document;
    HiveIndex index;
};

// Sets values and adds keys in a document. A key's values are indexed the
// first time it is edited, so that a batch of edits costs time in
// proportion to the file and the batch, however many keys and values either holds.
class DocumentEditor {
public:
    DocumentEditor(RegDocument& document, Hive hive)
        : m_document(document), m_hive(hive), m_index(document) {}

    // Gives a key that has no section one, so that it exists.
    void AddKey(const KeyPath& path) {
        if (m_index.SectionsOf(path).empty()) AddSection(path);
    }

    // Replaces the value where it stands (its last occurrence, the one that
    // counts), else appends it to the key's last section.
    void SetValue(const KeyPath& path, std::string_view name, const RegValue& value) {
        const auto [at, added] = ValuesOf(path).try_emplace(FoldCase(name));
        if (!added) {
            RegEntry& entry = m_document.sections[at->second.section].entries[at->second.entry];
            entry.value = value;
            entry.rawText.clear();  // the writer formats the new value
            return;
        }
        AddKey(path);
        const std::size_t section = m_index.SectionsOf(path).back();
        auto& entries = m_document.sections[section].entries;
        at->second = {section, entries.size()};
        entries.push_back({std::string(name), value, {}});
    }

private:
    struct EntryAt {
        std::size_t section = 0;
        std::size_t entry = 0;
    };
    using ValueIndex = std::unordered_map<std::string, EntryAt>;  // folded name -> last one

    ValueIndex& ValuesOf(const KeyPath& path) {
        const auto [at, added] = m_values.try_emplace(FoldedPath(path));
        if (added) {
            for (const std::size_t section : m_index.SectionsOf(path)) {
                const auto& entries = m_document.sections[section].entries;
                for (std::size_t i = 0; i < entries.size(); ++i) {
                    if (entries[i].value) at->second[FoldCase(entries[i].name)] = {section, i};
                }
            }
        }
        return at->second;
    }

    void AddSection(const KeyPath& path) {
        RegSection section;
        section.headerLine = "[" + std::string(RootOf(m_hive).name);
        for (const auto& component : path) section.headerLine += "\\" + component;
        section.headerLine += "]";
        section.ownHive = true;
        section.path = path;
        m_index.SectionsOf(path).push_back(m_document.sections.size());
        m_document.sections.push_back(std::move(section));
    }

    RegDocument& m_document;
    Hive m_hive;
    HiveIndex m_index;                                     // only its sections are kept up to date
    std::unordered_map<std::string, ValueIndex> m_values;  // by folded path, once edited
};

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

// What tells versions of a file apart without reading it.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modified = 0;  // nanoseconds
    std::int64_t changed = 0;
    bool operator==(const FileStamp&) const = default;
};

std::int64_t Nanoseconds(const timespec& time) {
    return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

// A file changed this recently may be changed again in place within the file
// system's time resolution, keeping its size and time stamps: its document is
// not reused.
constexpr std::int64_t kSettledNanoseconds = 2'000'000'000;

}  // namespace

// The last document read from each hive file, reused while the file keeps its
// stamp: readers open a key at a time (an import looks up thousands), and
// parsing the whole file for each would cost time with the square of its size.
class RegFileKeyStore::HiveCache {
public:
    std::shared_ptr<const IndexedHive> Load(const HiveFile& file, std::string& error) {
        struct stat st {};
        const bool stamped = ::stat(file.path.c_str(), &st) == 0;
        const FileStamp stamp{st.st_dev, st.st_ino, st.st_size, Nanoseconds(st.st_mtim),
                              Nanoseconds(st.st_ctim)};
        Entry& entry = m_entries[file.path];
        if (stamped && entry.reusable && entry.stamp == stamp) return entry.hive;
        RegDocument read;
        if (!LoadHive(file, read, error)) return nullptr;
        auto hive = std::make_shared<const IndexedHive>(std::move(read));
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const bool settled =
            Nanoseconds(now) - std::max(stamp.modified, stamp.changed) > kSettledNanoseconds;
        entry = {stamp, stamped && settled, hive};
        return hive;
    }

private:
    struct Entry {
        FileStamp stamp;
        bool reusable = false;
        std::shared_ptr<const IndexedHive> hive;
    };
    std::unordered_map<std::string, Entry> m_entries;  // by path
};

namespace {

// A file larger than the reader accepts would lock every later run out of the
// store (and with it out of the password key), so such a write is refused.
bool SaveHive(const HiveFile& file, const RegDocument& document, std::string& error) {
    const std::string text = FormatRegFile(document);
    if (text.size() > kMaxReadBytes) {
        error = "cannot write " + file.path + ": it would grow to " +
                std::to_string(text.size() >> 20) + " MiB, more than the " +
                std::to_string(kMaxReadBytes >> 20) +
                " MiB the key store reads back; it was left as it is";
        return false;
    }
    MakeFolders(FolderOf(file.path));
    return WriteFileAtomically(file.path, text, 0600, &error);
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

// Why a value cannot be stored exactly; nullopt when it can.
std::optional<std::string_view> Unstorable(std::string_view name, const RegValue& value) {
    if (!IsStorableName(name)) return "a name cannot hold control characters";
    if (!IsStorableValue(value)) return "a string cannot hold a NUL character";
    return std::nullopt;
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
        if (const auto why = Unstorable(name, value)) return Refuse(name, *why);
        RegDocument document;
        if (!LoadHive(m_file, document, *m_error)) return false;
        DocumentEditor(document, m_file.hive).SetValue(m_path, name, value);
        if (!SaveHive(m_file, document, *m_error)) return false;
        m_snapshot = TakeSnapshot(document, HiveIndex(document), m_path);
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
      m_error(std::make_shared<std::string>()),
      m_cache(std::make_shared<HiveCache>()) {}

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
    const auto read = m_cache->Load(file, *m_error);
    if (!read) return nullptr;
    KeyPath keyPath = SplitKeyPath(path);
    const HiveIndex::Key* found = read->index.Find(keyPath);
    KeySnapshot snapshot;
    if (access == Access::Create && (!found || found->sections.empty())) {
        RegDocument edited = read->document;
        DocumentEditor(edited, hive).AddKey(keyPath);
        if (!SaveHive(file, edited, *m_error)) return nullptr;
        snapshot = TakeSnapshot(edited, HiveIndex(edited), keyPath);
    } else {
        snapshot = TakeSnapshot(read->document, read->index, keyPath);
    }
    if (!snapshot.exists) return nullptr;
    return std::make_unique<RegFileKey>(std::move(file), std::move(keyPath), std::move(snapshot),
                                        access != Access::Read, m_error);
}

// Everything is checked before the file is read, so that a refused batch
// writes nothing.
bool RegFileKeyStore::WriteKeys(Hive hive, const std::vector<KeyValues>& keys) {
    m_error->clear();
    if (hive == Hive::LocalMachine) {
        *m_error = "the local machine's keys are read only (" + m_machineFile + ")";
        return false;
    }
    for (const KeyValues& key : keys) {
        if (!IsStorableName(key.path)) {
            *m_error = "a key name cannot hold control characters: " + key.path;
            return false;
        }
        for (const auto& [name, value] : key.values) {
            if (const auto why = Unstorable(name, value)) {
                *m_error = "cannot store the value \"" + name + "\": " + std::string(*why);
                return false;
            }
        }
    }
    const HiveFile file{m_userFile, hive};
    RegDocument document;
    if (!LoadHive(file, document, *m_error)) return false;
    DocumentEditor editor(document, hive);
    for (const KeyValues& key : keys) {
        const KeyPath path = SplitKeyPath(key.path);
        editor.AddKey(path);
        for (const auto& [name, value] : key.values) editor.SetValue(path, name, value);
    }
    return SaveHive(file, document, *m_error);
}

std::unique_ptr<KeyStore> MakeDefaultKeyStore() {
    return std::make_unique<RegFileKeyStore>(UserConfigFolder() + "/registry.reg",
                                             std::string(kMachineFile));
}

}  // namespace vandrelle
