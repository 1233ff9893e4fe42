// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "NodePath.h"
#include "ServerIndex.h"

#include <pugixml.hpp>

#include <string>
#include <vector>

namespace vandrelle {

class CConfigStore;

// Adds the server `element` of `store` below `group`: its name, host,
// description and the user name it logs on with (its group's where it
// inherits its log-on).
int AddServerElement(ServerIndex& index, int group, const CConfigStore& store,
                     pugi::xml_node element);

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
