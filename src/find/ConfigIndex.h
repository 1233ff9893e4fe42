// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "NodePath.h"
#include "ServerIndex.h"

#include <pugixml.hpp>

#include <string>
#include <unordered_map>
#include <vector>

namespace vandrelle {

class CConfigStore;

// A group's or server element's label as the tree shows it; empty for one the
// tree leaves out (an empty name cannot be reached by path) and other nodes.
std::string ElementLabel(pugi::xml_node node);

// Adds server elements of a store to an index: name, host, description and
// the user name each logs on with (its groups' where it inherits its log-on,
// worked out once per group).
class ServerFeeder {
public:
    ServerFeeder(ServerIndex& index, const CConfigStore& store) : m_index(index), m_store(store) {}
    int Add(int group, pugi::xml_node element);

private:
    const std::string& InheritedUser(pugi::xml_node element);

    ServerIndex& m_index;
    const CConfigStore& m_store;
    std::unordered_map<const void*, std::string> m_inheritedUsers;  // by parent element
};

// Orders a level's labels as the tree panel lists them: case-insensitively,
// by the user's locale (LC_ALL, LC_COLLATE, LANG), equal ones as they come.
class LabelOrder {
public:
    LabelOrder();
    ~LabelOrder();
    LabelOrder(const LabelOrder&) = delete;
    LabelOrder& operator=(const LabelOrder&) = delete;
    bool Less(const std::string& a, const std::string& b) const;

private:
    void* m_collator = nullptr;  // a UCollator, or null (then byte order of folded labels)
};

// The whole tree of `store`, indexed in the order the tree panel lists it,
// with each server's path by its number.
struct IndexedConfig {
    ServerIndex index;
    std::vector<NodePath> serverPaths;
};
IndexedConfig IndexConfig(const CConfigStore& store);

}  // namespace vandrelle
