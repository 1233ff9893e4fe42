// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegFileMerge.h"

#include "RegFileFormat.h"

#include <optional>
#include <unordered_map>

namespace vandrelle {
namespace {

using namespace regfile;

constexpr std::string_view kPasswordKeyValue = "key";
constexpr std::string_view kClientKey = "Software\\Microsoft\\Terminal Server Client";
constexpr std::string_view kAddInsBelowClient = "Default\\AddIns";

// Which values of a key the program reads.
using ValueFilter = bool (*)(std::string_view name);

bool AnyValue(std::string_view) {
    return true;
}
bool NoValue(std::string_view) {
    return false;
}
bool IsRecentName(std::string_view name) {  // "MRU0" to "MRU9"
    return name.size() == 4 && EqualsNoCase(name.substr(0, 3), "MRU") && name[3] >= '0' &&
           name[3] <= '9';
}
bool IsHintName(std::string_view name) {
    return EqualsNoCase(name, "UsernameHint");
}

// The keys below HKEY_CURRENT_USER that the program reads, and which of their
// values; nullopt for any other key. The client's keys are read by the import
// of its servers and by the stored-credentials lookup.
std::optional<ValueFilter> ReadByProgram(const KeyPath& path) {
    if (PathEquals(path, SplitKeyPath(kProgramKey))) return AnyValue;
    const KeyPath client = SplitKeyPath(kClientKey);
    if (!PathStartsWith(path, client) || path.size() == client.size() ||
        path.size() > client.size() + 2) {
        return std::nullopt;
    }
    const std::string& below = path[client.size()];
    if (path.size() == client.size() + 2) {
        return EqualsNoCase(below, "Servers") ? std::optional(IsHintName) : std::nullopt;
    }
    if (EqualsNoCase(below, "Default")) return IsRecentName;
    if (EqualsNoCase(below, "UsernameHint")) return AnyValue;
    if (EqualsNoCase(below, "Servers")) return NoValue;
    return std::nullopt;
}

bool IsAddInKey(const KeyPath& path) {
    KeyPath addIns = SplitKeyPath(kClientKey);
    for (auto& component : SplitKeyPath(kAddInsBelowClient)) addIns.push_back(component);
    return PathStartsWith(path, addIns);
}

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
        if (IsAddInKey(section.path)) {
            return Skip(header +
                        ": add-ins are never imported (their libraries would be loaded into "
                        "every session)");
        }
        const auto reads = ReadByProgram(section.path);
        if (!reads) return Skip(header + ": the program reads nothing there");
        RegMerge::Key& key = KeyAt(path);
        const bool programKey = PathEquals(section.path, SplitKeyPath(kProgramKey));
        for (const RegEntry& entry : section.entries) {
            switch (KindOf(entry)) {
                case EntryKind::Value:
                    PlanValue(header, entry, programKey, *reads, key);
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
                   ValueFilter reads, RegMerge::Key& key) {
        const std::string where = "\"" + entry.name + "\" in " + header;
        if (programKey && EqualsNoCase(entry.name, kPasswordKeyValue)) {
            return Skip(where +
                        ": refused, the program's password key is never replaced (every "
                        "password stored under the key in use would become undecipherable)");
        }
        if (!reads(entry.name)) return Skip(where + ": the program does not read it");
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

}  // namespace vandrelle
