// SPDX-License-Identifier: GPL-3.0-or-later
// The client's values in the engine's terms.
#pragma once

#include "EngineTypes.h"

#include <freerdp/freerdp.h>

#include <functional>
#include <string>
#include <vector>

namespace vandrelle {

// Sets the engine's settings for a connection made with these values, the
// local devices chosen for redirection among them.
void ApplySettings(rdpSettings* settings, const ConnectionValues& values);

// Loads each add-in library of a comma-separated list of paths as a channel.
// One that another user could have written (ResolveSafeAddIn), that does not
// load, or whose entry point fails, is reported and left out. Returns the
// libraries loaded, to be closed once the engine is gone.
std::vector<void*> LoadAddIns(rdpContext* context, const std::string& paths,
                              const std::function<void(const std::string&)>& report);

}  // namespace vandrelle
