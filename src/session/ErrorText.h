// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "RdpClient.h"

#include <string>
#include <string_view>

namespace vandrelle {

// The text of a client failure: the engine's own text without a trailing line
// break when it has one; otherwise "IDispatch error #%d" for the codes
// 0x80040201 to 0x8004FFFF and "Unknown error 0x%0lX" for the rest.
std::string ErrorText(HResult code, std::string_view engineText = {});
inline std::string ErrorText(const RdpError& error) {
    return ErrorText(error.code(), error.message());
}

// The text cut to at most `units` UTF-16 code units, never inside a character.
std::string CutToUtf16Units(std::string_view text, std::size_t units);

}  // namespace vandrelle
