// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegFileFormat.h"

#include "Utf16.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vandrelle::regfile {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderV4 = "REGEDIT4";

// Hex data lines are wrapped like regedit does: a line holds at most this many
// characters before the ",\" continuation.
constexpr std::size_t kHexLineLimit = 79;
constexpr std::string_view kHexIndent = "  ";

// ---------------------------------------------------------------------------
// Text helpers

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
}

std::string FoldCase(std::string_view text) {
    std::string folded(text);
    std::transform(folded.begin(), folded.end(), folded.begin(), FoldAscii);
    return folded;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Splits at LF. CRs at a line's end belong to the line end (CRLF, or CR CR LF
// once a CRLF file went through a conversion again), never to the line: a line
// kept verbatim is written back with LF alone and must read back the same.
std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    const char folded = FoldAscii(c);
    if (folded >= 'a' && folded <= 'f') return folded - 'a' + 10;
    return -1;
}

std::optional<std::uint32_t> ParseHexNumber(std::string_view digits, std::size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits) return std::nullopt;
    std::uint32_t number = 0;
    for (const char c : digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0) return std::nullopt;
        number = number * 16 + static_cast<std::uint32_t>(digit);
    }
    return number;
}

void AppendHex(std::string& out, std::uint32_t number, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += kDigits[(number >> shift) & 0xF];
}

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// ---------------------------------------------------------------------------
// Unicode: strings are UTF-8 in memory; the registry stores them as UTF-16LE.

// Unpaired surrogates and a trailing odd byte become U+FFFD.
std::string Utf16LeToUtf8(std::span<const std::uint8_t> bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    std::string out = Utf16ToUtf8(units);
    if (bytes.size() % 2 != 0) out += "\xEF\xBF\xBD";
    return out;
}

// UTF-16LE with the terminating NUL the registry stores with strings.
std::vector<std::uint8_t> Utf8ToRegistryUtf16(std::string_view text) {
    std::vector<std::uint8_t> out;
    for (const char16_t unit : Utf8ToUtf16(text)) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

// A string's data as a file of this kind stores it, with its terminating NUL.
std::vector<std::uint8_t> StringData(std::string_view text, bool wide) {
    if (wide) return Utf8ToRegistryUtf16(text);
    std::vector<std::uint8_t> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::string TextBeforeNul(std::string text) {
    text.resize(std::min(text.find('\0'), text.size()));
    return text;
}

// A string value's data ends at its first NUL; REGEDIT4 files hold 8-bit text.
std::string TextFromRegistryBytes(std::span<const std::uint8_t> bytes, bool wide) {
    if (!wide) {
        const auto nul = std::find(bytes.begin(), bytes.end(), 0);
        return std::string(bytes.begin(), nul);
    }
    std::size_t end = 0;
    while (end + 1 < bytes.size() && (bytes[end] != 0 || bytes[end + 1] != 0)) end += 2;
    return Utf16LeToUtf8(end + 1 < bytes.size() ? bytes.first(end) : bytes);
}

// The file's text as UTF-8: regedit exports UTF-16LE with a BOM, hand-written
// files are usually UTF-8, with or without a BOM. Other tools save UTF-16 in
// either byte order, with or without its BOM: a text that begins with an
// ASCII character has a NUL beside it.
std::string DecodeFileText(const std::string& data) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    const bool utf16 = data.size() >= 2 && (bytes[0] == 0) != (bytes[1] == 0);
    const bool bigEndian =
        data.size() >= 2 && ((bytes[0] == 0xFE && bytes[1] == 0xFF) || (utf16 && bytes[0] == 0));
    if (bigEndian) {
        std::string swapped(data.size() - data.size() % 2, '\0');
        const std::size_t from = bytes[0] == 0xFE ? 2 : 0;
        for (std::size_t i = from; i + 1 < data.size(); i += 2) {
            swapped[i] = data[i + 1];
            swapped[i + 1] = data[i];
        }
        return DecodeFileText(swapped.substr(from));
    }
    if (data.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        return Utf16LeToUtf8(std::span(bytes + 2, data.size() - 2));
    }
    if (utf16) return Utf16LeToUtf8(std::span(bytes, data.size()));
    if (data.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return data.substr(3);
    }
    return data;
}

// ---------------------------------------------------------------------------
// Document model: what a .reg file holds, in file order.

HiveRoot RootOf(Hive hive) {
    if (hive == Hive::LocalMachine) return {"HKEY_LOCAL_MACHINE", "HKLM"};
    return {"HKEY_CURRENT_USER", "HKCU"};
}

KeyPath SplitKeyPath(std::string_view path) {
    KeyPath components;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) components.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

bool PathStartsWith(const KeyPath& path, const KeyPath& prefix) {
    return path.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), path.begin(), EqualsNoCase);
}

bool PathEquals(const KeyPath& a, const KeyPath& b) {
    return a.size() == b.size() && PathStartsWith(a, b);
}

RegValue MakeTextValue(ValueType type, std::string text) {
    RegValue value;
    value.type = type;
    value.rawType = static_cast<std::uint32_t>(type);
    value.text = std::move(text);
    return value;
}

RegValue MakeDwordValue(std::uint32_t number) {
    RegValue value;
    value.type = ValueType::Dword;
    value.rawType = static_cast<std::uint32_t>(ValueType::Dword);
    value.number = number;
    return value;
}

RegValue MakeBytesValue(std::uint32_t rawType, std::vector<std::uint8_t> bytes) {
    RegValue value;
    value.type = rawType == 3 ? ValueType::Binary : ValueType::Other;
    value.rawType = rawType;
    value.bytes = std::move(bytes);
    return value;
}

// ---------------------------------------------------------------------------
// Parser: value lines

// A quoted string starting at `pos`, with the \\ and \" escapes; `pos` ends
// past the closing quote.
std::optional<std::string> ParseQuoted(std::string_view line, std::size_t& pos) {
    if (pos >= line.size() || line[pos] != '"') return std::nullopt;
    std::string text;
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '"') {
            ++pos;
            return text;
        }
        if (c == '\\') {
            if (++pos >= line.size() || (line[pos] != '\\' && line[pos] != '"'))
                return std::nullopt;
        }
        text += line[pos];
    }
    return std::nullopt;
}

// Comma-separated bytes; empty data is zero bytes.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view data) {
    std::vector<std::uint8_t> bytes;
    if (Trim(data).empty()) return bytes;
    std::size_t start = 0;
    for (;;) {
        const auto comma = data.find(',', start);
        const auto token =
            Trim(comma == std::string_view::npos ? data.substr(start)
                                                 : data.substr(start, comma - start));
        const auto byte = ParseHexNumber(token, 2);
        if (!byte) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(*byte));
        if (comma == std::string_view::npos) return bytes;
        start = comma + 1;
    }
}

RegValue ValueFromTypedBytes(std::uint32_t rawType, std::vector<std::uint8_t> bytes, bool wide) {
    if (rawType == 1 || rawType == 2) {
        RegValue value =
            MakeTextValue(static_cast<ValueType>(rawType), TextFromRegistryBytes(bytes, wide));
        if (wide) value.bytes = std::move(bytes);  // kept so readers can check the data's shape
        return value;
    }
    if (rawType == 4 && bytes.size() == 4) {
        return MakeDwordValue(static_cast<std::uint32_t>(bytes[0] | (bytes[1] << 8) |
                                                         (bytes[2] << 16) | (bytes[3] << 24)));
    }
    return MakeBytesValue(rawType, std::move(bytes));
}

// `hex(N):` data; N is a hex number.
std::optional<RegValue> ParseTypedHex(std::string_view data, bool wide) {
    const auto close = data.find(')');
    if (close == std::string_view::npos || close + 1 >= data.size() || data[close + 1] != ':') {
        return std::nullopt;
    }
    const auto rawType = ParseHexNumber(Trim(data.substr(4, close - 4)), 8);
    auto bytes = ParseHexBytes(data.substr(close + 2));
    if (!rawType || !bytes) return std::nullopt;
    return ValueFromTypedBytes(*rawType, std::move(*bytes), wide);
}

// The part after "=": a quoted string, dword:, hex: or hex(N):. Anything else
// (including "-", which deletes the value on import) is not understood.
std::optional<RegValue> ParseValueData(std::string_view data, bool wide) {
    if (!data.empty() && data[0] == '"') {
        std::size_t pos = 0;
        auto text = ParseQuoted(data, pos);
        if (!text || !Trim(data.substr(pos)).empty()) return std::nullopt;
        return MakeTextValue(ValueType::String, TextBeforeNul(std::move(*text)));
    }
    if (StartsWithNoCase(data, "dword:")) {
        const auto number = ParseHexNumber(Trim(data.substr(6)), 8);
        if (!number) return std::nullopt;
        return MakeDwordValue(*number);
    }
    if (StartsWithNoCase(data, "hex:")) {
        auto bytes = ParseHexBytes(data.substr(4));
        if (!bytes) return std::nullopt;
        return MakeBytesValue(3, std::move(*bytes));
    }
    if (StartsWithNoCase(data, "hex(")) return ParseTypedHex(data, wide);
    return std::nullopt;
}

struct ValueLineStart {
    std::string name;
    std::string_view data;  // after the "=", trimmed
};

// `"name"=` or `@=` and what follows.
std::optional<ValueLineStart> SplitValueLine(std::string_view line) {
    line = Trim(line);
    ValueLineStart start;
    std::size_t pos = 0;
    if (!line.empty() && line[0] == '@') {
        pos = 1;
    } else {
        auto name = ParseQuoted(line, pos);
        if (!name) return std::nullopt;
        start.name = std::move(*name);
    }
    const auto equals = line.find_first_not_of(" \t", pos);
    if (equals == std::string_view::npos || line[equals] != '=') return std::nullopt;
    start.data = Trim(line.substr(equals + 1));
    return start;
}

// ---------------------------------------------------------------------------
// Parser: the file

bool IsBlank(std::string_view line) {
    return Trim(line).empty();
}

bool IsSectionLine(std::string_view line) {
    line = Trim(line);
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

bool IsCommentLine(std::string_view line) {
    line = Trim(line);
    return !line.empty() && line.front() == ';';
}

// `"name"=...` or `@=...`; hex data never continues with such a line.
bool StartsValue(std::string_view line) {
    line = Trim(line);
    return !line.empty() && (line.front() == '"' || line.front() == '@');
}

class RegFileParser {
public:
    RegFileParser(std::vector<std::string> lines, Hive hive)
        : m_lines(std::move(lines)), m_root(RootOf(hive)) {}

    std::optional<RegDocument> Parse() {
        RegDocument document;
        if (!ReadHeader(document)) return std::nullopt;
        m_wide = document.wide;
        ReadRawLines(document.preamble, IsSectionLine);
        while (m_next < m_lines.size()) {
            document.sections.push_back(MakeSection(m_lines[m_next++]));
            ReadSectionBody(document.sections.back());
        }
        return document;
    }

private:
    // Blank lines and comments may stand above the header; anything else there
    // means that this is no registry file. Without a header at all, the lines
    // are an empty document.
    bool ReadHeader(RegDocument& document) {
        for (; m_next < m_lines.size(); ++m_next) {
            const std::string& line = m_lines[m_next];
            if (IsBlank(line)) continue;
            if (IsCommentLine(line)) {
                document.lead.push_back(line);
                continue;
            }
            const std::string_view header = Trim(line);
            if (header != kHeader && header != kHeaderV4) return false;
            document.wide = header == kHeader;
            ++m_next;
            return true;
        }
        return true;
    }

    template <typename StopAt>
    void ReadRawLines(RegSection& section, StopAt stopAt) {
        for (; m_next < m_lines.size() && !stopAt(m_lines[m_next]); ++m_next) {
            if (!IsBlank(m_lines[m_next])) section.entries.push_back({{}, {}, m_lines[m_next]});
        }
    }

    RegSection MakeSection(const std::string& line) const {
        RegSection section;
        section.headerLine = line;
        const std::string_view inside = Trim(line).substr(1, Trim(line).size() - 2);
        const std::string_view root = inside.substr(0, inside.find('\\'));
        if (EqualsNoCase(root, m_root.name) || EqualsNoCase(root, m_root.abbreviation)) {
            section.ownHive = true;
            section.path = SplitKeyPath(inside.substr(root.size()));
        }
        return section;
    }

    void ReadSectionBody(RegSection& section) {
        if (!section.ownHive) {
            ReadRawLines(section, IsSectionLine);
            return;
        }
        while (m_next < m_lines.size() && !IsSectionLine(m_lines[m_next])) {
            if (IsBlank(m_lines[m_next])) {
                ++m_next;
            } else {
                section.entries.push_back(ReadEntry());
            }
        }
    }

    RegEntry ReadEntry() {
        const std::size_t first = m_next++;
        auto start = SplitValueLine(m_lines[first]);
        if (!start) return {{}, {}, m_lines[first]};
        std::string data(start->data);
        if (StartsWithNoCase(data, "hex")) JoinContinuations(data);
        auto value = ParseValueData(data, m_wide);
        if (!value) return {{}, {}, JoinedLines(first, m_next)};
        return {std::move(start->name), std::move(value), JoinedLines(first, m_next)};
    }

    // regedit wraps hex data: a line ending in a backslash goes on in the next
    // one. A section or a value line is never part of the data, whatever stands
    // before it, so malformed data cannot take in the value that follows it.
    void JoinContinuations(std::string& data) {
        while (!data.empty() && data.back() == '\\' && m_next < m_lines.size() &&
               !IsSectionLine(m_lines[m_next]) && !StartsValue(m_lines[m_next])) {
            data.pop_back();
            data += Trim(m_lines[m_next++]);
        }
    }

    std::string JoinedLines(std::size_t first, std::size_t end) const {
        std::string text = m_lines[first];
        for (std::size_t i = first + 1; i < end; ++i) text += '\n' + m_lines[i];
        return text;
    }

    std::vector<std::string> m_lines;
    HiveRoot m_root;
    std::size_t m_next = 0;
    bool m_wide = true;  // REGEDIT4 files hold 8-bit strings
};

EntryKind KindOf(const RegEntry& entry) {
    if (entry.value) return EntryKind::Value;
    if (IsCommentLine(entry.rawText)) return EntryKind::Comment;
    const auto start = SplitValueLine(entry.rawText);
    return start && start->data == "-" ? EntryKind::Deletion : EntryKind::Other;
}

bool DeletesKey(const RegSection& section) {
    return Trim(section.headerLine).starts_with("[-");
}

std::optional<RegDocument> ParseRegFile(const std::string& data, Hive hive) {
    return RegFileParser(SplitLines(DecodeFileText(data)), hive).Parse();
}

// ---------------------------------------------------------------------------
// Writer

std::string Quote(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

// Bytes as regedit writes them: "xx,xx,..." wrapped with ",\" and an indent.
std::string FormatHex(std::string line, std::span<const std::uint8_t> bytes) {
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (line.size() - lineStart + 3 > kHexLineLimit) {
            line += "\\\n";
            lineStart = line.size();
            line += kHexIndent;
        }
        AppendHex(line, bytes[i], 2);
        if (i + 1 < bytes.size()) line += ',';
    }
    return line;
}

// "hex(N):" with N in hex without leading zeros, as regedit writes it ("hex(b):").
std::string HexTypePrefix(std::uint32_t rawType) {
    int digits = 1;
    while (digits < 8 && (rawType >> (digits * 4)) != 0) ++digits;
    std::string prefix = "hex(";
    AppendHex(prefix, rawType, digits);
    return prefix + "):";
}

// Control characters cannot stand in a quoted string (regedit would break the
// line), so such strings are written as hex(1) instead.
std::string FormatValueLine(const std::string& name, const RegValue& value, bool wide) {
    const std::string lead = name.empty() ? "@=" : Quote(name) + "=";
    switch (value.type) {
        case ValueType::String:
            if (!HasControlCharacter(value.text)) return lead + Quote(value.text);
            return FormatHex(lead + "hex(1):", StringData(value.text, wide));
        case ValueType::ExpandString:
            return FormatHex(lead + "hex(2):", StringData(value.text, wide));
        case ValueType::Dword: {
            std::string line = lead + "dword:";
            AppendHex(line, value.number, 8);
            return line;
        }
        case ValueType::Binary:
            return FormatHex(lead + "hex:", value.bytes);
        case ValueType::Other:
            break;
    }
    return FormatHex(lead + HexTypePrefix(value.rawType), value.bytes);
}

void AppendEntries(std::string& out, const RegSection& section, bool wide) {
    for (const auto& entry : section.entries) {
        out += entry.rawText.empty() && entry.value
                   ? FormatValueLine(entry.name, *entry.value, wide)
                   : entry.rawText;
        out += '\n';
    }
}

// Always UTF-8 without BOM and with LF line ends, whatever the file was read
// as: a UTF-16 export is rewritten as UTF-8 (both are read back the same way).
std::string FormatRegFile(const RegDocument& document) {
    std::string out;
    for (const auto& line : document.lead) out += line + '\n';
    out += document.wide ? kHeader : kHeaderV4;
    out += "\n\n";
    // Lines before the first section stay right above it, as comments on it usually are.
    AppendEntries(out, document.preamble, document.wide);
    for (const auto& section : document.sections) {
        out += section.headerLine + '\n';
        AppendEntries(out, section, document.wide);
        out += '\n';
    }
    return out;
}

}  // namespace vandrelle::regfile
