// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
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

// The form in which a path travels between the program's windows: UTF-16
// names, each ended by a NUL, the whole ended by an empty name, in a buffer of
// 1024 units that is zero after the final NUL. The whole buffer identifies the
// server of an open session: two servers whose paths agree only in their first
// 1024 bytes are two servers.
inline constexpr std::size_t kPathBufferUnits = 1024;
using PathBuffer = std::array<char16_t, kPathBufferUnits>;

// The path a buffer holds (names up to the first empty one).
NodePath NodePathFromBuffer(const PathBuffer& buffer);

// Whether two buffers name the same server.
bool SameIdentity(const PathBuffer& a, const PathBuffer& b);

}  // namespace vandrelle
