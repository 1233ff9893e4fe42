// SPDX-License-Identifier: GPL-3.0-or-later
#include "ResourcesMapper.h"

#include <array>

namespace vandrelle {
namespace {

constexpr std::array<const char*, 3> kSound{"Bring to this computer", "Leave at remote computer",
                                            "Do not play"};
constexpr std::array<const char*, 3> kKeyboard{"On the local computer", "On the remote computer",
                                               "In full screen mode only"};

std::optional<int> EntryFor(int stored, std::size_t count) {
    if (stored < 0 || static_cast<std::size_t>(stored) >= count) return std::nullopt;
    return stored;
}

}  // namespace

std::span<const char* const> ResourcesMapper::SoundEntries() {
    return kSound;
}

std::span<const char* const> ResourcesMapper::KeyboardEntries() {
    return kKeyboard;
}

ResourcesState ResourcesMapper::Load(const Properties& record) {
    ResourcesState state;
    state.sound = EntryFor(record.AudioRedirectionMode, kSound.size());
    state.keyboard = EntryFor(record.KeyboardHookMode, kKeyboard.size());
    state.printers = record.RedirectPrinters != 0;
    state.clipboard = record.RedirectClipboard != 0;
    state.ports = record.RedirectPorts != 0;
    state.smartCards = record.RedirectSmartCards != 0;
    state.drives = record.RedirectDrives != 0;
    state.driveList = record.DriveCollection;
    return state;
}

void ResourcesMapper::Store(const ResourcesState& state, Properties& record) {
    if (state.sound) record.AudioRedirectionMode = *state.sound;
    if (state.keyboard) record.KeyboardHookMode = *state.keyboard;
    record.RedirectPrinters = state.printers ? 1 : 0;
    record.RedirectClipboard = state.clipboard ? 1 : 0;
    record.RedirectPorts = state.ports ? 1 : 0;
    record.RedirectSmartCards = state.smartCards ? 1 : 0;
    record.RedirectDrives = state.drives ? 1 : 0;
    record.DriveCollection = state.driveList;
}

}  // namespace vandrelle
