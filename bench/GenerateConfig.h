// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PasswordCodec.h"

#include <string>

namespace vandrelle {

// The shape of a generated configuration. Groups form three levels (top,
// middle, bottom); every server sits in a bottom group, so servers are at
// depth four. Servers alternate between inheriting their log-on settings and
// carrying their own; groups alternate in the same way.
struct GeneratedShape {
    int servers = 10000;
    int groups = 1000;  // at least 3: one group per level
};

// The fixed key under which generated passwords are encoded; a key store that
// holds it decodes them.
PasswordKey GeneratedConfigKey();

// The text of a configuration file of that shape, in the layout Save writes.
// Sibling names are unique ("Group 3", "srv-00042"); server N has the password
// "pw-N" when it does not inherit. Throws std::invalid_argument for a shape
// with fewer than 3 groups or a negative server count.
std::string GenerateConfigXml(const GeneratedShape& shape, const PasswordKey& key);

}  // namespace vandrelle
