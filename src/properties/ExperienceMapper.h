// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Properties.h"

#include <span>

namespace vandrelle {

// The Experience page's seven check boxes, true when checked.
struct ExperienceBoxes {
    bool background = false;
    bool fontSmoothing = false;
    bool composition = false;
    bool dragging = false;
    bool animation = false;
    bool themes = false;
    bool bitmapCaching = false;

    bool operator==(const ExperienceBoxes&) const = default;
};

// The entries of the speed list, in the list's order.
enum class Speed { Broadband, Lan, Custom };

struct SpeedEntry {
    Speed speed;
    const char* text;
};

// The Experience page's rules: the performance flags behind the boxes, the
// speed that the boxes show, the presets, and the user's own choice that
// "Custom" brings back.
class ExperienceMapper {
public:
    static std::span<const SpeedEntry> SpeedEntries();

    // The boxes for a record: performance flags (bits other than the six
    // switches ignored) and bitmap caching.
    static ExperienceBoxes BoxesFor(const Properties& record);
    // The performance flags of the boxes alone.
    static int FlagsFor(const ExperienceBoxes& boxes);
    // LAN when every box is checked, Broadband when only background and font
    // smoothing are off, Custom otherwise.
    static Speed SpeedFor(const ExperienceBoxes& boxes);

    // The boxes to show first; they are also the remembered choice.
    ExperienceBoxes Load(const Properties& record);
    // The user clicked a box: what the boxes show becomes the remembered
    // choice. Returns the speed to show.
    Speed BoxClicked(const ExperienceBoxes& shown);
    // The user chose a speed: the boxes to show. Broadband and LAN are
    // presets and leave the remembered choice alone; Custom shows it.
    ExperienceBoxes SpeedChosen(Speed speed) const;
    // Rebuilds the performance flags from the boxes (every other bit
    // cleared) and writes bitmap caching.
    static void Store(const ExperienceBoxes& shown, Properties& record);

private:
    ExperienceBoxes m_remembered;
};

}  // namespace vandrelle
