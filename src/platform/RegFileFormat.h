// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KeyStore.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The text format of Windows' registry editor: a document model that keeps
// every line it does not understand, its parser and its writer.
namespace vandrelle::regfile {

using KeyPath = std::vector<std::string>;  // components below the hive's root

// A line of a section: a value the parser understood, or anything else kept
// verbatim (comments, deletions, malformed data; several lines when the
// malformed data was continued).
struct RegEntry {
    std::string name;
    std::optional<RegValue> value;
    std::string rawText;
};

struct RegSection {
    std::string headerLine;  // verbatim, "[...]"; empty for the lines before the first section
    bool ownHive = false;  // a key of the file's hive, as opposed to a foreign or deleting section
    KeyPath path;          // when ownHive
    std::vector<RegEntry> entries;
};

struct RegDocument {
    RegSection preamble;  // lines between the header and the first section
    std::vector<RegSection> sections;
};

// Which section roots belong to the hive a file holds.
struct HiveRoot {
    std::string_view name;
    std::string_view abbreviation;
};
HiveRoot RootOf(Hive hive);

// Key paths and value names compare without regard to ASCII case.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool HasControlCharacter(std::string_view text);
KeyPath SplitKeyPath(std::string_view path);
bool PathStartsWith(const KeyPath& path, const KeyPath& prefix);
bool PathEquals(const KeyPath& a, const KeyPath& b);

// Reads a file's bytes (UTF-8, or UTF-16LE with a byte order mark); sections
// of other hives and unknown lines are kept verbatim.
RegDocument ParseRegFile(const std::string& data, Hive hive);

// The file's text: UTF-8 without byte order mark, LF line ends.
std::string FormatRegFile(const RegDocument& document);

}  // namespace vandrelle::regfile
