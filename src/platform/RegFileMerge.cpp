// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegFileMerge.h"

#include "RegFileFormat.h"

#include <unordered_map>

namespace vandrelle {
namespace {

using namespace regfile;

constexpr std::string_view kPasswordKeyValue = "key";

std::string JoinPath(const KeyPath& path) {
    std::string joined;
    for (const std::string& component : path) {
        if (!joined.empty()) joined += '\\';
        joined += component;
    }
    return joined;
}

// The first line of an entry as read, for messages.
std::string FirstLine(const RegEntry& entry) {
    return entry.rawText.substr(0, entry.rawText.find('\n'));
}

class MergePlanner {
public:
    RegMerge Plan(const RegDocument& document) {
        for (const RegEntry& entry : document.preamble.entries) {
            if (KindOf(entry) != EntryKind::Comment) {
                Skip(FirstLine(entry) + " before the first key: not understood");
            }
        }
        for (const RegSection& section : document.sections) PlanSection(section);
        return std::move(m_merge);
    }

private:
    void PlanSection(const RegSection& section) {
        const std::string header = section.headerLine;
        if (DeletesKey(section)) return Skip(header + ": an import deletes no keys");
        if (!section.ownHive) {
            return Skip(header + ": only keys of " + std::string(RootOf(Hive::CurrentUser).name) +
                        " are merged");
        }
        const std::string path = JoinPath(section.path);
        if (HasControlCharacter(path)) {
            return Skip(header + ": a key name cannot hold control characters");
        }
        RegMerge::Key& key = KeyAt(path);
        const bool programKey = PathEquals(section.path, SplitKeyPath(kProgramKey));
        for (const RegEntry& entry : section.entries) {
            switch (KindOf(entry)) {
                case EntryKind::Value:
                    PlanValue(header, entry, programKey, key);
                    break;
                case EntryKind::Deletion:
                    Skip(FirstLine(entry) + " in " + header + ": an import deletes no values");
                    break;
                case EntryKind::Comment:
                    break;
                case EntryKind::Other:
                    Skip(FirstLine(entry) + " in " + header + ": not understood");
                    break;
            }
        }
    }

    void PlanValue(const std::string& header, const RegEntry& entry, bool programKey,
                   RegMerge::Key& key) {
        const std::string where = "\"" + entry.name + "\" in " + header;
        if (programKey && EqualsNoCase(entry.name, kPasswordKeyValue)) {
            return Skip(where +
                        ": refused, the program's password key is never replaced (every "
                        "password stored under the key in use would become undecipherable)");
        }
        if (HasControlCharacter(entry.name)) {
            return Skip(where + ": a value name cannot hold control characters");
        }
        key.values.emplace_back(entry.name, *entry.value);
    }

    // A key named by several sections is merged once, at its first place.
    RegMerge::Key& KeyAt(const std::string& path) {
        const auto [at, added] = m_keyAt.try_emplace(FoldCase(path), m_merge.keys.size());
        if (added) m_merge.keys.push_back({path, {}});
        return m_merge.keys[at->second];
    }

    void Skip(std::string message) { m_merge.skipped.push_back(std::move(message)); }

    RegMerge m_merge;
    std::unordered_map<std::string, std::size_t> m_keyAt;  // folded path -> index in keys
};

}  // namespace

std::optional<RegMerge> PlanRegMerge(const std::string& data) {
    const auto document = ParseRegFile(data, Hive::CurrentUser);
    if (!document) return std::nullopt;
    return MergePlanner().Plan(*document);
}

bool MergeKey(const RegMerge::Key& key, KeyStore& keys, std::string* error) {
    const auto open = keys.CreateKey(Hive::CurrentUser, key.path);
    if (!open) {
        *error = keys.LastError().empty() ? "cannot create the key " + key.path : keys.LastError();
        return false;
    }
    for (const auto& [name, value] : key.values) {
        if (!open->WriteValue(name, value)) {
            *error = keys.LastError();
            return false;
        }
    }
    return true;
}

}  // namespace vandrelle
