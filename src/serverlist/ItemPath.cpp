// SPDX-License-Identifier: GPL-3.0-or-later
#include "ItemPath.h"

#include <algorithm>

namespace vandrelle {

void BuildItemPath(const std::vector<std::u16string_view>& labels, PathBuffer& path) {
    path.fill(0);
    constexpr std::size_t kTextRoom = kPathBufferUnits - 1;  // the last unit ends the path
    std::size_t used = 0;
    for (const std::u16string_view label : labels) {
        if (used >= kTextRoom) break;
        const std::size_t length = std::min(label.size(), kTextRoom - used - 1);
        std::copy_n(label.begin(), length, path.begin() + static_cast<std::ptrdiff_t>(used));
        used += length + 1;  // the NUL is already there
    }
}

}  // namespace vandrelle
