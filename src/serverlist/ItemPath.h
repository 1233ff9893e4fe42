// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "NodePath.h"

#include <string_view>
#include <vector>

namespace vandrelle {

// The path of a tree item from the labels of its ancestors below the root and
// its own, from the top down (the root's own label is never part of a path).
// The buffer is zero after the final NUL. False, with the buffer all zero,
// when the labels with their NULs need more than its 1023 units of text: a
// path cut to fit could name another node (a sibling that agrees in the
// part kept), so none is given.
bool BuildItemPath(const std::vector<std::u16string_view>& labels, PathBuffer& path);

}  // namespace vandrelle
