// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace vandrelle {

// Reads one line holding a password from `fd`, so that the password stays out
// of the command line and the shell's history. On a terminal it writes
// `prompt` to `asked` first and turns the echo off while the line is typed
// (the line end still shows); a signal that ends the program meanwhile turns
// the echo back on first. Nothing after the line is read. The line comes
// without its end (LF or CR LF); an empty input gives an empty text. Throws
// std::runtime_error when the input cannot be read or the line is too long.
std::string ReadPasswordLine(int fd, std::ostream& asked, std::string_view prompt);

}  // namespace vandrelle
