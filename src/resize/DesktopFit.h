// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace vandrelle {

// Sizes and points here are in the screen's device pixels unless said.
struct PixelSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

struct PixelPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

// How a server's desktop is sized, from its record's DesktopWidth,
// DesktopHeight and FullScreen: the session area ("Fit Window", 0 x 0), the
// area less a margin (negative values: -w on the left and right, -h at top
// and bottom), a fixed size (positive values), or the screen.
struct DesktopMode {
    enum class Kind { Fit, FitWithMargin, Fixed, FullScreen };
    Kind kind = Kind::Fit;
    std::int32_t width = 0;  // the fixed size, or the margins (as stored: negative)
    std::int32_t height = 0;

    static DesktopMode FromRecord(std::int64_t desktopWidth, std::int64_t desktopHeight,
                                  int fullScreen);
    // Whether the desktop follows the area's size once connected.
    bool FollowsArea() const { return kind != Kind::Fixed; }
};

// The protocol's bounds of a desktop asked for after the connect: each side
// 200 to 8192, the width even.
inline constexpr std::int32_t kMinDesktopSide = 200;
inline constexpr std::int32_t kMaxDesktopSide = 8192;

// The desktop to ask the server for when the area (device pixels) is `area`:
// the area, less the margins, within the bounds. For a fixed mode: its size.
PixelSize RequestedDesktop(const DesktopMode& mode, PixelSize area);

// What the server is told of the screen's scale (Qt's device pixel ratio):
// the desktop scale in percent (100 to 500) and the device scale, the
// nearest of 100, 140 and 180.
struct ScaleFactors {
    std::int32_t desktop = 100;
    std::int32_t device = 100;
    friend bool operator==(const ScaleFactors&, const ScaleFactors&) = default;
};
ScaleFactors ScaleFactorsFor(double devicePixelRatio);

// Where a desktop's picture is drawn in an area: 1:1 and centred when it
// fits, else scaled down to the area keeping its aspect ratio, centred. A
// point of the area maps back to the desktop's pixel under it.
class PicturePlacement {
public:
    PicturePlacement(PixelSize desktop, PixelSize area);

    PixelPoint Origin() const { return m_origin; }  // the picture's top left in the area
    PixelSize Shown() const { return m_shown; }     // its size in the area
    bool Scaled() const { return m_shown != m_desktop; }
    // The desktop pixel under an area point; points beside the picture go
    // to its nearest edge.
    PixelPoint ToDesktop(PixelPoint area) const;

private:
    PixelSize m_desktop;
    PixelSize m_shown;
    PixelPoint m_origin;
};

// Paces the requests of a resize: while the area keeps changing (a drag), at
// most one request per interval; once it settles, one for the final size if
// that was not the last one sent. Times are the caller's clock.
class ResizePacer {
public:
    using Clock = std::chrono::steady_clock;
    explicit ResizePacer(std::chrono::milliseconds interval = std::chrono::milliseconds(200))
        : m_interval(interval) {}

    // The area's desktop changed to `wanted` at `now`: the size to ask for
    // at once, or nothing (it waits for Due).
    std::optional<PixelSize> Changed(PixelSize wanted, Clock::time_point now);
    // When the caller should call Settle, if a size waits.
    std::optional<Clock::time_point> Due() const;
    // Called at or after Due: the waiting size to ask for, if any.
    std::optional<PixelSize> Settle(Clock::time_point now);
    // The connection's desktop as the connect set it: nothing is asked for it.
    void Connected(PixelSize desktop);

private:
    std::chrono::milliseconds m_interval;
    std::optional<Clock::time_point> m_lastSent;
    std::optional<PixelSize> m_sent;
    std::optional<PixelSize> m_waiting;
};

}  // namespace vandrelle
