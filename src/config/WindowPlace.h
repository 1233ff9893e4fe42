// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ConfigStore.h"

#include <optional>
#include <vector>

namespace vandrelle {

// Where a stored window rectangle is shown on the screens there are now (each
// screen's available area). A rectangle that overlaps a screen is kept on the
// one it overlaps most, shrunk to fit it and moved inside it; one that
// overlaps none keeps only its size (`onScreen` false), bounded by the first
// screen. A rectangle without area, or stored as no sane placement
// (coordinates whose difference leaves 32 bits), is nullopt: as if none was
// stored. Computed in 64 bits: any four stored numbers are safe.
struct WindowPlace {
    WindowRect rect;
    bool onScreen = false;
};
std::optional<WindowPlace> PlaceOnScreens(const WindowRect& stored,
                                          const std::vector<WindowRect>& screens);

}  // namespace vandrelle
