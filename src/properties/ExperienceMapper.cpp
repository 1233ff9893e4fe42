// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExperienceMapper.h"

#include <array>

namespace vandrelle {
namespace {

constexpr std::array<SpeedEntry, 3> kSpeeds{{
    {Speed::Broadband, "Broadband (128 Kbps - 1.5 Mbps)"},
    {Speed::Lan, "LAN (10 Mbps or higher)"},
    {Speed::Custom, "Custom (Defined in Options / Experience)"},
}};

// The remote desktop's performance flags: four switch a feature off, two on.
constexpr int kNoBackground = 0x1;
constexpr int kNoDragging = 0x2;
constexpr int kNoAnimation = 0x4;
constexpr int kNoThemes = 0x8;
constexpr int kFontSmoothing = 0x80;
constexpr int kComposition = 0x100;

constexpr ExperienceBoxes kLan{true, true, true, true, true, true, true};
constexpr ExperienceBoxes kBroadband{false, false, true, true, true, true, true};

}  // namespace

std::span<const SpeedEntry> ExperienceMapper::SpeedEntries() {
    return kSpeeds;
}

ExperienceBoxes ExperienceMapper::BoxesFor(const Properties& record) {
    const int flags = record.PerformanceFlags;
    ExperienceBoxes boxes;
    boxes.background = (flags & kNoBackground) == 0;
    boxes.fontSmoothing = (flags & kFontSmoothing) != 0;
    boxes.composition = (flags & kComposition) != 0;
    boxes.dragging = (flags & kNoDragging) == 0;
    boxes.animation = (flags & kNoAnimation) == 0;
    boxes.themes = (flags & kNoThemes) == 0;
    boxes.bitmapCaching = record.BitmapPersistence != 0;
    return boxes;
}

int ExperienceMapper::FlagsFor(const ExperienceBoxes& boxes) {
    int flags = 0;
    if (!boxes.background) flags |= kNoBackground;
    if (!boxes.dragging) flags |= kNoDragging;
    if (!boxes.animation) flags |= kNoAnimation;
    if (!boxes.themes) flags |= kNoThemes;
    if (boxes.fontSmoothing) flags |= kFontSmoothing;
    if (boxes.composition) flags |= kComposition;
    return flags;
}

Speed ExperienceMapper::SpeedFor(const ExperienceBoxes& boxes) {
    if (boxes == kLan) return Speed::Lan;
    if (boxes == kBroadband) return Speed::Broadband;
    return Speed::Custom;
}

ExperienceBoxes ExperienceMapper::Load(const Properties& record) {
    m_remembered = BoxesFor(record);
    return m_remembered;
}

Speed ExperienceMapper::BoxClicked(const ExperienceBoxes& shown) {
    m_remembered = shown;
    return SpeedFor(shown);
}

ExperienceBoxes ExperienceMapper::SpeedChosen(Speed speed) const {
    switch (speed) {
        case Speed::Broadband:
            return kBroadband;
        case Speed::Lan:
            return kLan;
        case Speed::Custom:
            break;
    }
    return m_remembered;
}

void ExperienceMapper::Store(const ExperienceBoxes& shown, Properties& record) {
    record.PerformanceFlags = FlagsFor(shown);
    record.BitmapPersistence = shown.bitmapCaching ? 1 : 0;
}

}  // namespace vandrelle
