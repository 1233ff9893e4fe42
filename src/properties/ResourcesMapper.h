// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Properties.h"

#include <optional>
#include <span>
#include <string>

namespace vandrelle {

// What the Local Resources page's controls show.
struct ResourcesState {
    // The selected entries; none when the stored value is not in the list.
    std::optional<int> sound;
    std::optional<int> keyboard;
    bool printers = false;
    bool clipboard = false;
    bool ports = false;
    bool smartCards = false;
    bool drives = false;
    std::string driveList;  // free text: "D:; E:", "$:" for drives plugged in later
};

// The Local Resources page's rules: the sound and keyboard lists (the stored
// value is the entry's position) and the redirected devices.
class ResourcesMapper {
public:
    static std::span<const char* const> SoundEntries();
    static std::span<const char* const> KeyboardEntries();

    static ResourcesState Load(const Properties& record);
    // A list without a selection leaves its stored value as it was.
    static void Store(const ResourcesState& state, Properties& record);
};

}  // namespace vandrelle
