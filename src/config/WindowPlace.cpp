// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowPlace.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace vandrelle {
namespace {

std::int64_t Overlap(std::int64_t low1, std::int64_t high1, std::int64_t low2, std::int64_t high2) {
    return std::max<std::int64_t>(0, std::min(high1, high2) - std::max(low1, low2));
}

}  // namespace

std::optional<WindowPlace> PlaceOnScreens(const WindowRect& stored,
                                          const std::vector<WindowRect>& screens) {
    const std::int64_t width = std::int64_t{stored.right} - stored.left;
    const std::int64_t height = std::int64_t{stored.bottom} - stored.top;
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    if (width <= 0 || height <= 0 || width > kMax || height > kMax || screens.empty()) {
        return std::nullopt;
    }
    const WindowRect* best = nullptr;
    std::int64_t bestArea = 0;
    for (const WindowRect& s : screens) {
        const std::int64_t area = Overlap(stored.left, stored.right, s.left, s.right) *
                                  Overlap(stored.top, stored.bottom, s.top, s.bottom);
        if (area > bestArea) {
            best = &s;
            bestArea = area;
        }
    }
    const WindowRect& screen = best ? *best : screens.front();
    const std::int64_t w = std::min<std::int64_t>(width, std::int64_t{screen.right} - screen.left);
    const std::int64_t h = std::min<std::int64_t>(height, std::int64_t{screen.bottom} - screen.top);
    if (w <= 0 || h <= 0) return std::nullopt;
    std::int64_t left = screen.left;
    std::int64_t top = screen.top;
    if (best) {
        left = std::clamp<std::int64_t>(stored.left, screen.left, screen.right - w);
        top = std::clamp<std::int64_t>(stored.top, screen.top, screen.bottom - h);
    }
    const auto at = [](std::int64_t v) { return static_cast<std::int32_t>(v); };
    return WindowPlace{{at(left), at(top), at(left + w), at(top + h)}, best != nullptr};
}

}  // namespace vandrelle
