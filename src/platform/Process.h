// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vandrelle {

// The full path of the first regular executable file of that name in $PATH
// (or the name itself when it contains a slash and is one). Folders are
// passed over, and empty elements of $PATH (which would stand for the current
// folder) are skipped.
std::optional<std::string> FindProgramOnPath(std::string_view name);

// Starts `program` with `arguments` (no shell: each argument reaches the
// program as it is) in a session of its own, without waiting for it and
// without leaving a zombie. The program inherits only the standard
// descriptors 0 to 2, no blocked signals and every signal's default action.
// Returns false with a message when it could not be started (for instance
// when it cannot be executed).
bool StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                   std::string* error);

}  // namespace vandrelle
