// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Properties.h"

#include <optional>
#include <string>
#include <vector>

namespace vandrelle {

// What the General page's controls show.
struct GeneralState {
    std::string name;
    std::string server;
    std::string userName;
    std::string password;
    std::string domain;
    std::string port;         // the port edit's text
    std::string description;  // line breaks are LF, as an edit control keeps them
    bool inherit = false;
};

// Who the sheet edits: a server, a group or the root "Servers".
struct GeneralMode {
    bool group = false;  // implied by root
    bool root = false;
    // The labels of the other children of the node's parent (never the node's own).
    std::vector<std::string> siblingNames;
};

enum class GeneralControl { Name, Server, Port };

// A refusal of what the page holds: the control that gets the focus and the
// text of the "Error" box. An empty message means a beep only.
struct GeneralProblem {
    GeneralControl control;
    std::string message;
};

// The General page's rules: the mapping between its controls and the record,
// its validation, the inheritance switch and auto-fill.
class GeneralMapper {
public:
    explicit GeneralMapper(GeneralMode mode);

    bool GroupMode() const { return m_mode.group || m_mode.root; }
    bool RootMode() const { return m_mode.root; }

    // The controls' contents for the record; starts auto-fill when the record
    // has no server yet.
    GeneralState Load(const Properties& record);

    bool AutoFill() const { return m_autoFill; }
    // The server text that follows the user's edit of the name, or nothing
    // when auto-fill is over (or there is no server field).
    std::optional<std::string> ServerForName(const std::string& name) const;
    // The user changed the server text: auto-fill ends for the rest of the sheet.
    void ServerEdited() { m_autoFill = false; }

    // Every refusal, in the order the page checks them (port, name, server);
    // the first is the one the page reports. Empty when the page is valid.
    // The port is checked only while it is the node's own (not inherited).
    std::vector<GeneralProblem> Validate(const GeneralState& state) const;

    // Writes the controls' contents into the record: the name (and a
    // server's host) trimmed, line breaks as CR LF. The port is written only
    // when it is a number.
    void Store(const GeneralState& state, Properties& record) const;

    // The page's messages.
    static constexpr const char* kPortRange = kPortRangeMessage;
    static constexpr const char* kNoName = "Must enter a name.";
    static constexpr const char* kNoServer = "Must enter server name (IP Address or hostname).";
    static constexpr const char* kServerWithPort =
        "Format <IP Address:Port> is not supported. Type port in the 'Port' inputbox.";

    // "A group or server named '<name>' already exists here."
    static std::string DuplicateMessage(const std::string& name);

private:
    GeneralMode m_mode;
    bool m_autoFill = false;
};

// The text without white space at either end.
std::string TrimBlanks(const std::string& text);

// The port as the page reads it: optional leading blanks, an optional sign
// and digits only, within 32 bits.
std::optional<int> ReadPortText(const std::string& text);

}  // namespace vandrelle
