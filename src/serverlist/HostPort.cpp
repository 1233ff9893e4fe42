// SPDX-License-Identifier: GPL-3.0-or-later
#include "HostPort.h"

#include <algorithm>

namespace vandrelle {

HostPort SplitHostPort(std::string_view text) {
    const auto close = text.find(']');
    if (text.starts_with('[') && close != std::string_view::npos) {
        const std::string_view rest = text.substr(close + 1);
        if (rest.empty()) return {text.substr(1, close - 1), std::nullopt};
        if (rest.front() == ':') return {text.substr(1, close - 1), rest.substr(1)};
        return {text, std::nullopt};  // "[...]x": no address this program can read
    }
    if (close == std::string_view::npos && std::count(text.begin(), text.end(), ':') == 1) {
        const auto colon = text.find(':');
        return {text.substr(0, colon), text.substr(colon + 1)};
    }
    return {text, std::nullopt};
}

}  // namespace vandrelle
