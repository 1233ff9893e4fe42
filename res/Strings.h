// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace vandrelle {

// The string table: menu prompts by command identifier (the part after a
// line break is the command's short name, never shown as a prompt), the
// caption and the idle text of the status bar. Empty for an id without a string.
std::string_view ResourceString(int id);

// The status-bar prompt of a menu command: its string up to the first line
// break. A command of the window manager (0xF000 and up) takes the string
// 0xEF00 + (command - 0xF000) / 16.
std::string_view MenuPrompt(int command);

}  // namespace vandrelle
