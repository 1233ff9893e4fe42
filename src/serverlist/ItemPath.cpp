// SPDX-License-Identifier: GPL-3.0-or-later
#include "ItemPath.h"

#include <algorithm>

namespace vandrelle {

bool BuildItemPath(const std::vector<std::u16string_view>& labels, PathBuffer& path) {
    path.fill(0);
    constexpr std::size_t kTextRoom = kPathBufferUnits - 1;  // the last unit ends the path
    std::size_t used = 0;
    for (const std::u16string_view label : labels) {
        if (label.size() >= kTextRoom - used) {
            path.fill(0);
            return false;
        }
        std::copy_n(label.begin(), label.size(), path.begin() + static_cast<std::ptrdiff_t>(used));
        used += label.size() + 1;  // the NUL is already there
    }
    return true;
}

}  // namespace vandrelle
