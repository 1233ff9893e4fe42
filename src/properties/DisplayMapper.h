// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Properties.h"

#include <optional>
#include <span>
#include <string>

namespace vandrelle {

// The entries of the desktop size list, in the list's order.
enum class DesktopSize {
    FitWindow,
    FitWindowWithMargin,
    Size800x600,
    Size1024x768,
    Size1152x864,
    Size1280x1024,
    FullScreen,
    Custom,
};

struct DesktopSizeEntry {
    DesktopSize size;
    const char* text;
    int width;  // the fixed size the entry stores (0 × 0 for the others)
    int height;
};

struct ColorDepthEntry {
    int depth;
    const char* text;
};

// What the Display page's controls show.
struct DisplayState {
    DesktopSize size = DesktopSize::FitWindow;
    std::string width;   // the width edit's text
    std::string height;  // the height edit's text
    // The selected colour depth; none when the stored depth is not in the list.
    std::optional<int> colorDepth;
    bool console = false;
};

// The Display page's rules: desktop size (fit, margin, fixed, full screen,
// custom), colour depth and console.
class DisplayMapper {
public:
    static std::span<const DesktopSizeEntry> SizeEntries();
    static std::span<const ColorDepthEntry> DepthEntries();

    // The margin "Fit Window with margin" proposes when both edits are empty.
    static constexpr const char* kDefaultMargin = "10";

    static DisplayState Load(const Properties& record);

    // Whether the width and height edits (and their labels) are shown.
    static bool ShowsSizeEdits(DesktopSize size);

    // The user chose another size entry.
    static void ChooseSize(DisplayState& state, DesktopSize size);

    // Full screen wins over any size; a margin is stored as negative numbers.
    // A depth is written only when one is selected.
    static void Store(const DisplayState& state, Properties& record);
};

}  // namespace vandrelle
