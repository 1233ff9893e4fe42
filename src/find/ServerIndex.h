// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "MatchText.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vandrelle {

// What a server is found by, as stored.
struct ServerFields {
    std::string_view name;
    std::string_view host;  // its "Server"
    std::string_view description;
    std::string_view user;  // the user name it logs on with
};

// The outcome of one search.
struct FindResult {
    // False for a query of no words: nothing is filtered.
    bool filtering = false;
    // The matching servers, in the order they were added.
    std::vector<int> servers;
    // The same, best first: a name that equals the query, then one that
    // starts with it, then one with a word that starts with it, then a host
    // that holds it, then the rest; ties in the order added.
    std::vector<int> ranked;
    // Per group: kHidden, kOnTheWay (it holds a match) or kMatches (it
    // matches itself, and shows all it holds).
    static constexpr char kHidden = 0;
    static constexpr char kOnTheWay = 1;
    static constexpr char kMatches = 2;
    std::vector<char> groupShown;
};

// The groups and servers of a tree, folded once, searched as the user types.
// A server matches when every word of the query occurs in its name, host,
// description, user name or the name of a group above it; a group matches
// when every word occurs in its name or those of the groups above it. A
// search costs one pass over the groups and one over the servers, whatever
// the depth of the tree.
class ServerIndex {
public:
    static constexpr int kTop = -1;

    // Add a group or server below `group` (kTop, or what AddGroup returned),
    // a parent always before what it holds, in the order a listing shows
    // them. Each returns the new entry's number (0, 1, ... per kind).
    int AddGroup(int group, std::string_view name);
    int AddServer(int group, const ServerFields& fields);

    int ServerCount() const { return static_cast<int>(m_servers.size()); }
    int GroupCount() const { return static_cast<int>(m_groups.size()); }

    FindResult Find(const FindQuery& query) const;

private:
    using WordMask = std::uint64_t;
    struct Group {
        int parent;
        std::string name;  // folded
    };
    struct Server {
        int group;
        std::size_t nameLength;
        std::size_t hostLength;
        // Name, host, description and user, folded, each ended by '\n' (no
        // query word holds one), so that one search covers them all.
        std::string text;
    };
    static WordMask MatchedWords(std::string_view text, const FindQuery& query, WordMask skip);
    static int Rank(const Server& server, const std::string& whole);

    std::vector<Group> m_groups;
    std::vector<Server> m_servers;
};

}  // namespace vandrelle
