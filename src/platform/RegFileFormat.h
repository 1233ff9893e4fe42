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
// verbatim (comments, deletions, malformed data; several lines when the data
// was continued).
struct RegEntry {
    std::string name;
    std::optional<RegValue> value;
    // The entry's lines as read, joined by LF, written back as they are, so that
    // a rewrite changes no line but those of the values it sets. Empty for a
    // value set since, which the writer formats.
    std::string rawText;
};

struct RegSection {
    std::string headerLine;  // verbatim, "[...]"; empty for the lines before the first section
    bool ownHive = false;  // a key of the file's hive, as opposed to a foreign or deleting section
    KeyPath path;          // when ownHive
    std::vector<RegEntry> entries;
};

struct RegDocument {
    std::vector<std::string> lead;  // comment lines above the header, kept there
    // "Windows Registry Editor Version 5.00": strings in hex form are UTF-16LE;
    // "REGEDIT4": they are 8-bit. A rewrite keeps the file's header.
    bool wide = true;
    RegSection preamble;  // lines between the header and the first section
    std::vector<RegSection> sections;
};

// Which section roots belong to the hive a file holds.
struct HiveRoot {
    std::string_view name;
    std::string_view abbreviation;
};
HiveRoot RootOf(Hive hive);

// Key paths and value names compare without regard to ASCII case; FoldCase
// gives the form in which equal names are equal strings.
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string FoldCase(std::string_view text);
bool HasControlCharacter(std::string_view text);
KeyPath SplitKeyPath(std::string_view path);
bool PathStartsWith(const KeyPath& path, const KeyPath& prefix);
bool PathEquals(const KeyPath& a, const KeyPath& b);

// What an entry of a section stands for: a value the parser understood, a
// line that deletes a value on import ("name"=-), a comment, or anything else.
enum class EntryKind { Value, Deletion, Comment, Other };
EntryKind KindOf(const RegEntry& entry);

// Whether the section deletes its key on import ("[-HKEY_...]").
bool DeletesKey(const RegSection& section);

// Reads a file's bytes (UTF-8, or UTF-16LE with a byte order mark); sections
// of other hives and unknown lines are kept verbatim. Before the header only
// blank lines and ";" comments may stand; bytes of anything else are not a
// registry file (nullopt), and bytes with nothing but those lines are an empty
// document. The text of a string value ends at its first NUL, whatever its form.
std::optional<RegDocument> ParseRegFile(const std::string& data, Hive hive);

// The file's text: UTF-8 without byte order mark, LF line ends. Parsing it
// gives back the document's values and lines.
std::string FormatRegFile(const RegDocument& document);

}  // namespace vandrelle::regfile
