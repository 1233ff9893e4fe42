// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string_view>

namespace vandrelle {

// A typed or imported address split into its host and the text after the
// port's colon. "[addr]" and "[addr]:port" give the address without its
// brackets; a text with several colons and no brackets is an IPv6 address
// without a port; otherwise the one colon splits. `port` is nullopt when the
// text names no port (an empty port text after a colon is still a port text).
struct HostPort {
    std::string_view host;
    std::optional<std::string_view> port;
};
HostPort SplitHostPort(std::string_view text);

}  // namespace vandrelle
