// SPDX-License-Identifier: GPL-3.0-or-later
#include "GeneralMapper.h"

#include "NumberText.h"

#include <algorithm>
#include <utility>

namespace vandrelle {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// CR LF and a lone CR become LF: an edit control knows one kind of line break.
std::string ToEditLines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
        } else {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        }
    }
    return out;
}

std::string ToRecordLines(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

std::string TrimBlanks(const std::string& text) {
    std::size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::optional<int> ReadPortText(const std::string& text) {
    std::size_t start = 0;
    while (start < text.size() && IsBlank(text[start])) ++start;
    int value = 0;
    if (!ParseStrictNumber(std::string_view(text).substr(start), &value)) return std::nullopt;
    return value;
}

GeneralMapper::GeneralMapper(GeneralMode mode) : m_mode(std::move(mode)) {
    // The root has no parent, so no siblings.
    if (m_mode.root) m_mode.siblingNames.clear();
}

GeneralState GeneralMapper::Load(const Properties& record) {
    m_autoFill = record.Server.empty();
    GeneralState state;
    state.name = record.Name;
    state.description = ToEditLines(record.Description);
    state.server = record.Server;
    state.userName = record.UserName;
    state.password = record.Password;
    state.domain = record.Domain;
    state.port = FormatNumber(record.RDPPort);
    // Every reader of the record takes a non-zero value as inheriting, so the
    // box shows it checked too.
    state.inherit = record.InheritGeneral != 0;
    return state;
}

std::optional<std::string> GeneralMapper::ServerForName(const std::string& name) const {
    if (!m_autoFill || GroupMode()) return std::nullopt;
    return name;
}

std::vector<GeneralProblem> GeneralMapper::Validate(const GeneralState& state) const {
    std::vector<GeneralProblem> problems;
    // An inherited port is the ancestor's to fix: its control is disabled
    // here, and refusing it would leave no way to confirm the sheet.
    if (!state.inherit) {
        const std::optional<int> port = ReadPortText(state.port);
        if (!port) {
            problems.push_back({GeneralControl::Port, {}});
        } else if (*port < 1 || *port > 65535) {
            problems.push_back({GeneralControl::Port, kPortRange});
        }
    }

    const std::string name = TrimBlanks(state.name);
    if (name.empty()) {
        problems.push_back({GeneralControl::Name, kNoName});
    } else if (std::find(m_mode.siblingNames.begin(), m_mode.siblingNames.end(), name) !=
               m_mode.siblingNames.end()) {
        // Two siblings of one name would share one path: the second could
        // never be found, edited or opened again.
        problems.push_back({GeneralControl::Name, DuplicateMessage(name)});
    }
    if (GroupMode()) return problems;

    const std::string server = TrimBlanks(state.server);
    if (server.empty()) {
        problems.push_back({GeneralControl::Server, kNoServer});
    } else if (std::count(server.begin(), server.end(), ':') == 1) {
        // Several colons make an IPv6 address, which passes.
        problems.push_back({GeneralControl::Server, kServerWithPort});
    }
    return problems;
}

void GeneralMapper::Store(const GeneralState& state, Properties& record) const {
    record.Name = TrimBlanks(state.name);
    record.Description = ToRecordLines(state.description);
    // A group's server field is hidden: what it holds is kept as it was read.
    record.Server = GroupMode() ? state.server : TrimBlanks(state.server);
    record.UserName = state.userName;
    record.Password = state.password;
    record.Domain = state.domain;
    if (const std::optional<int> port = ReadPortText(state.port)) record.RDPPort = *port;
    record.InheritGeneral = state.inherit ? 1 : 0;
}

std::string GeneralMapper::DuplicateMessage(const std::string& name) {
    return "A group or server named '" + name + "' already exists here.";
}

}  // namespace vandrelle
