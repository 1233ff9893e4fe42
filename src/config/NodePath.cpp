// SPDX-License-Identifier: GPL-3.0-or-later
#include "NodePath.h"

#include "Utf16.h"

#include <algorithm>

namespace vandrelle {

NodePath NodePath::FromBuffer(std::string_view buffer) {
    std::vector<std::string> names;
    std::size_t pos = 0;
    while (pos < buffer.size()) {
        std::size_t end = buffer.find('\0', pos);
        if (end == std::string_view::npos) end = buffer.size();
        if (end == pos) break;
        names.emplace_back(buffer.substr(pos, end - pos));
        pos = end + 1;
    }
    return NodePath(std::move(names));
}

std::string NodePath::ToBuffer() const {
    std::string out;
    for (const std::string& n : m_names) {
        out += n;
        out += '\0';
    }
    out += '\0';
    return out;
}

NodePath NodePath::Child(std::string name) const {
    NodePath p = *this;
    p.m_names.push_back(std::move(name));
    return p;
}

std::string NodePath::ToString() const {
    if (m_names.empty()) return "Servers";
    std::string out;
    for (const std::string& n : m_names) {
        if (!out.empty()) out += '/';
        out += n;
    }
    return out;
}

// NULs pass through the conversion, so the UTF-8 form splits the same way.
NodePath NodePathFromBuffer(const PathBuffer& buffer) {
    return NodePath::FromBuffer(Utf16ToUtf8(std::u16string_view(buffer.data(), buffer.size())));
}

bool SameIdentity(const PathBuffer& a, const PathBuffer& b) {
    return a == b;
}

}  // namespace vandrelle
