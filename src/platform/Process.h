// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vandrelle {

// The full path of the first executable file of that name in $PATH
// (or the name itself when it contains a slash and is executable).
std::optional<std::string> FindProgramOnPath(std::string_view name);

// Starts `program` with `arguments` (no shell: each argument reaches the
// program as it is) in a session of its own, without waiting for it and
// without leaving a zombie. Returns false with a message when it could not be
// started (for instance when it cannot be executed).
bool StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                   std::string* error);

}  // namespace vandrelle
