// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vandrelle {

// A node's address: the names from the top of the tree down. The empty path
// is the top ("Servers") itself. Names are compared exactly.
class NodePath {
public:
    NodePath() = default;
    explicit NodePath(std::vector<std::string> names) : m_names(std::move(names)) {}

    // The buffer form in which paths travel between windows: each name ended
    // by a NUL, the whole ended by an empty name. An empty name therefore ends
    // the path; what follows it is ignored.
    static NodePath FromBuffer(std::string_view buffer);
    std::string ToBuffer() const;

    const std::vector<std::string>& Names() const { return m_names; }
    bool IsTop() const { return m_names.empty(); }
    NodePath Child(std::string name) const;

    // "A/B/C" for messages; "Servers" for the top.
    std::string ToString() const;

    friend bool operator==(const NodePath&, const NodePath&) = default;

private:
    std::vector<std::string> m_names;
};

}  // namespace vandrelle
