// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "MergeConflict.h"

#include <pugixml.hpp>

#include <vector>

namespace vandrelle {

// Three-way merge of configuration documents: what `theirs` changed since
// `base` is brought into `ours`, which keeps its own changes.
// - A node is known by its path of names (a group by its Properties/Name, a
//   server by its Name), so a rename or a move is a delete and an add.
//   The servers element's own Properties and the Settings element are nodes too.
// - Fields (a node's setting elements, compared as stored text, passwords
//   included) merge one by one; a field both sides changed differently keeps
//   ours and is reported.
// - A node added on either side is kept; a node deleted on one side is
//   deleted unless the other side changed it or something below it, then it
//   is kept as that side has it.
// - Within a level the order is ours, with theirs' new nodes after their
//   preceding sibling in theirs; when ours kept the base's order of a level
//   and theirs changed it, theirs' order is taken.
// Anything else in ours (comments, unknown elements, the declaration) stays.
std::vector<MergeConflict> MergeTrees(const pugi::xml_document& base, pugi::xml_document& ours,
                                      const pugi::xml_document& theirs);

}  // namespace vandrelle
