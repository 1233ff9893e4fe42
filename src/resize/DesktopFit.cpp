// SPDX-License-Identifier: GPL-3.0-or-later
#include "DesktopFit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace vandrelle {
namespace {

std::int32_t Bounded(std::int64_t side) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(side, kMinDesktopSide, kMaxDesktopSide));
}

}  // namespace

DesktopMode DesktopMode::FromRecord(std::int64_t desktopWidth, std::int64_t desktopHeight,
                                    int fullScreen) {
    const auto side = [](std::int64_t v) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
    };
    DesktopMode mode{Kind::Fit, side(desktopWidth), side(desktopHeight)};
    if (fullScreen != 0) {
        mode.kind = Kind::FullScreen;
    } else if (desktopWidth > 0 || desktopHeight > 0) {
        mode.kind = Kind::Fixed;
    } else if (desktopWidth != 0 || desktopHeight != 0) {
        mode.kind = Kind::FitWithMargin;
    }
    return mode;
}

PixelSize RequestedDesktop(const DesktopMode& mode, PixelSize area) {
    if (mode.kind == DesktopMode::Kind::Fixed) return {mode.width, mode.height};
    std::int64_t width = area.width, height = area.height;
    if (mode.kind == DesktopMode::Kind::FitWithMargin) {
        // As at the connect: a margin that leaves nothing is not applied.
        const std::int64_t w = width + 2 * std::int64_t{mode.width};
        const std::int64_t h = height + 2 * std::int64_t{mode.height};
        if (w > 0 && h > 0) {
            width = w;
            height = h;
        }
    }
    // An odd width is made even downwards, unless that leaves the bounds.
    const std::int32_t even = Bounded(width) & ~1;
    return {std::max(even, kMinDesktopSide), Bounded(height)};
}

ScaleFactors ScaleFactorsFor(double devicePixelRatio) {
    const double percent = std::isfinite(devicePixelRatio) ? devicePixelRatio * 100 : 100;
    const auto desktop = static_cast<std::int32_t>(std::clamp(std::lround(percent), 100L, 500L));
    constexpr std::array<std::int32_t, 3> kDevice{100, 140, 180};
    std::int32_t device = kDevice[0];
    for (const std::int32_t d : kDevice) {
        if (std::abs(d - desktop) <= std::abs(device - desktop)) device = d;  // ties: the larger
    }
    return {desktop, device};
}

PicturePlacement::PicturePlacement(PixelSize desktop, PixelSize area)
    : m_desktop(desktop), m_shown(desktop) {
    if (desktop.width <= 0 || desktop.height <= 0 || area.width <= 0 || area.height <= 0) {
        m_shown = {};
        return;
    }
    if (desktop.width > area.width || desktop.height > area.height) {
        const double scale = std::min(static_cast<double>(area.width) / desktop.width,
                                      static_cast<double>(area.height) / desktop.height);
        m_shown = {std::max(1, static_cast<std::int32_t>(std::lround(desktop.width * scale))),
                   std::max(1, static_cast<std::int32_t>(std::lround(desktop.height * scale)))};
    }
    m_origin = {(area.width - m_shown.width) / 2, (area.height - m_shown.height) / 2};
}

PixelPoint PicturePlacement::ToDesktop(PixelPoint area) const {
    if (m_shown.width <= 0 || m_shown.height <= 0) return {};
    // The desktop pixel under the middle of the area pixel.
    const auto axis = [](std::int32_t at, std::int32_t shown, std::int32_t full) {
        const std::int64_t inside = std::clamp(at, 0, shown - 1);
        return static_cast<std::int32_t>((2 * inside + 1) * full / (2 * std::int64_t{shown}));
    };
    return {axis(area.x - m_origin.x, m_shown.width, m_desktop.width),
            axis(area.y - m_origin.y, m_shown.height, m_desktop.height)};
}

std::optional<PixelSize> ResizePacer::Changed(PixelSize wanted, Clock::time_point now) {
    if (!m_waiting && m_sent == wanted) return std::nullopt;
    if (m_lastSent && now - *m_lastSent < m_interval) {
        m_waiting = wanted;
        return std::nullopt;
    }
    m_waiting.reset();
    m_sent = wanted;
    m_lastSent = now;
    return wanted;
}

std::optional<ResizePacer::Clock::time_point> ResizePacer::Due() const {
    if (!m_waiting || !m_lastSent) return std::nullopt;
    return *m_lastSent + m_interval;
}

std::optional<PixelSize> ResizePacer::Settle(Clock::time_point now) {
    const auto due = Due();
    if (!due || now < *due) return std::nullopt;
    const PixelSize wanted = *m_waiting;
    m_waiting.reset();
    if (m_sent == wanted) return std::nullopt;  // the drag came back to the size sent
    m_sent = wanted;
    m_lastSent = now;
    return wanted;
}

void ResizePacer::Connected(PixelSize desktop) {
    m_sent = desktop;
    m_lastSent.reset();
    m_waiting.reset();
}

}  // namespace vandrelle
