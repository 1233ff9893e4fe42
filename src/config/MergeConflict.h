// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace vandrelle {

// A field that two writers of the configuration changed to different values.
struct MergeConflict {
    std::string node;   // the node's names joined by " / "; "Settings" for the switches
    std::string field;  // the setting's element name
};

}  // namespace vandrelle
