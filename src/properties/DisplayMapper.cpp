// SPDX-License-Identifier: GPL-3.0-or-later
#include "DisplayMapper.h"

#include "NumberText.h"

#include <array>
#include <limits>

namespace vandrelle {
namespace {

constexpr std::array<DesktopSizeEntry, 8> kSizes{{
    {DesktopSize::FitWindow, "Fit Window", 0, 0},
    {DesktopSize::FitWindowWithMargin, "Fit Window with margin", 0, 0},
    {DesktopSize::Size800x600, "800 x 600", 800, 600},
    {DesktopSize::Size1024x768, "1024 x 768", 1024, 768},
    {DesktopSize::Size1152x864, "1152 x 864", 1152, 864},
    {DesktopSize::Size1280x1024, "1280 x 1024", 1280, 1024},
    {DesktopSize::FullScreen, "Full Screen", 0, 0},
    {DesktopSize::Custom, "Custom", 0, 0},
}};

constexpr std::array<ColorDepthEntry, 5> kDepths{{
    {8, "8"},
    {15, "15"},
    {16, "16"},
    {24, "24"},
    {32, "32"},
}};

// The negation, kept within 32 bits: the smallest number has no positive twin.
int Negate(int value) {
    return value == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max() : -value;
}

DesktopSize SizeOf(int width, int height) {
    if (width == 0 && height == 0) return DesktopSize::FitWindow;
    if (width < 0 && height < 0) return DesktopSize::FitWindowWithMargin;
    for (const DesktopSizeEntry& e : kSizes) {
        if (e.width != 0 && e.width == width && e.height == height) return e.size;
    }
    return DesktopSize::Custom;
}

}  // namespace

std::span<const DesktopSizeEntry> DisplayMapper::SizeEntries() {
    return kSizes;
}

std::span<const ColorDepthEntry> DisplayMapper::DepthEntries() {
    return kDepths;
}

DisplayState DisplayMapper::Load(const Properties& record) {
    DisplayState state;
    const int w = record.DesktopWidth, h = record.DesktopHeight;
    state.size = record.FullScreen != 0 ? DesktopSize::FullScreen : SizeOf(w, h);
    // A full-screen record shows no size, whatever it stores.
    if (state.size == DesktopSize::FitWindowWithMargin) {
        state.width = FormatNumber(Negate(w));
        state.height = FormatNumber(Negate(h));
    } else if (state.size == DesktopSize::Custom) {
        state.width = FormatNumber(w);
        state.height = FormatNumber(h);
    }
    for (const ColorDepthEntry& e : kDepths) {
        if (e.depth == record.ColorDepth) state.colorDepth = e.depth;
    }
    state.console = record.ConnectToServerConsole != 0;
    return state;
}

bool DisplayMapper::ShowsSizeEdits(DesktopSize size) {
    return size == DesktopSize::FitWindowWithMargin || size == DesktopSize::Custom;
}

void DisplayMapper::ChooseSize(DisplayState& state, DesktopSize size) {
    state.size = size;
    if (size == DesktopSize::FitWindowWithMargin && state.width.empty() && state.height.empty()) {
        state.width = kDefaultMargin;
        state.height = kDefaultMargin;
    }
}

void DisplayMapper::Store(const DisplayState& state, Properties& record) {
    record.ConnectToServerConsole = state.console ? 1 : 0;
    record.FullScreen = 0;
    const int w = ParseNumber(state.width), h = ParseNumber(state.height);
    switch (state.size) {
        case DesktopSize::FitWindowWithMargin:
            record.DesktopWidth = Negate(w);
            record.DesktopHeight = Negate(h);
            break;
        case DesktopSize::Custom:
            record.DesktopWidth = w;
            record.DesktopHeight = h;
            break;
        default:
            for (const DesktopSizeEntry& e : kSizes) {
                if (e.size != state.size) continue;
                record.DesktopWidth = e.width;
                record.DesktopHeight = e.height;
            }
            record.FullScreen = state.size == DesktopSize::FullScreen ? 1 : 0;
            break;
    }
    if (state.colorDepth) record.ColorDepth = *state.colorDepth;
}

}  // namespace vandrelle
