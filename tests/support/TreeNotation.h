// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <sstream>
#include <string>
#include <string_view>

namespace vandrelle::test {

// Configuration files in a short notation: `Web[Server=h1] Office{Lab}` is a
// server Web with host h1 and a group Office holding a server Lab; a group's
// fields go in brackets before its braces, `{a}` is a group without a name;
// `$[CloseTabOnLogOff=1]` is Settings. Names and values hold no blank,
// bracket, brace or comma, nor anything XML would have to escape.
inline std::string TreeNodes(std::string_view& text, std::string& settings) {
    std::string out;
    while (!text.empty() && text.front() != '}') {
        const std::size_t end = std::min(text.find_first_of(" [{}"), text.size());
        const std::string name(text.substr(0, end));
        text.remove_prefix(end);
        std::string fields = name == "$" ? "" : "<Name>" + name + "</Name>";
        if (text.starts_with('[')) {
            std::istringstream list(std::string(text.substr(1, text.find(']') - 1)));
            for (std::string key, value;
                 std::getline(list, key, '=') && std::getline(list, value, ',');)
                fields += "<" + key + ">" + value + "</" + key + ">";
            text.remove_prefix(text.find(']') + 1);
        }
        if (name == "$") {
            settings = "<Settings>" + fields + "</Settings>";
        } else if (text.starts_with('{')) {
            text.remove_prefix(1);
            out += "<Group><Properties>" + fields + "</Properties>" + TreeNodes(text, settings) +
                   "</Group>";
            text.remove_prefix(1);
        } else {
            out += "<Server>" + fields + "</Server>";
        }
        if (text.starts_with(' ')) text.remove_prefix(1);
    }
    return out;
}

// A whole file of `tree`, with `more` at the end of Servers.
inline std::string TreeFile(std::string_view tree, const std::string& more = "") {
    std::string settings;
    const std::string nodes = TreeNodes(tree, settings);
    return "<Vandrelle><Servers>" + nodes + more + "</Servers>" + settings + "</Vandrelle>";
}

}  // namespace vandrelle::test
