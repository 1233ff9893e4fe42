// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "NodePath.h"

#include <string_view>
#include <vector>

namespace vandrelle {

// The path of a tree item from the labels of its ancestors below the root and
// its own, from the top down (the root's own label is never part of a path).
// Each label takes the room the buffer has left, at most 1023 units minus
// those already used, its NUL included; a longer label is cut there. The
// buffer is zeroed first, so it is zero after the final NUL.
void BuildItemPath(const std::vector<std::u16string_view>& labels, PathBuffer& path);

}  // namespace vandrelle
