// SPDX-License-Identifier: GPL-3.0-or-later
#include "StaleLinks.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vandrelle {
namespace {

bool SameAddress(const sockaddr_storage& a, const sockaddr_storage& b, socklen_t length) {
    return std::memcmp(&a, &b, length) == 0;
}

}  // namespace

std::optional<LinkAddresses> AddressesOf(int fd) {
    LinkAddresses link;
    socklen_t local = sizeof link.local;
    socklen_t peer = sizeof link.peer;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&link.local), &local) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&link.peer), &peer) != 0 || local != peer)
        return std::nullopt;
    link.length = local;
    return link;
}

bool SendResetProbe(const LinkAddresses& dead) {
    const int fd = ::socket(dead.local.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // The request leaves within connect(); closing before an answer sends
    // nothing more, and the answer then meets no connection here: a reset.
    const bool sent =
        ::bind(fd, reinterpret_cast<const sockaddr*>(&dead.local), dead.length) == 0 &&
        (::connect(fd, reinterpret_cast<const sockaddr*>(&dead.peer), dead.length) == 0 ||
         errno == EINPROGRESS);
    ::close(fd);
    return sent;
}

StaleLinks& StaleLinks::Get() {
    static StaleLinks links;
    return links;
}

void StaleLinks::Remember(const LinkAddresses& dead) {
    std::lock_guard lock(m_mutex);
    m_dead.push_back(dead);
}

int StaleLinks::ResetTowards(const LinkAddresses& alive) {
    std::vector<LinkAddresses> probed;
    {
        std::lock_guard lock(m_mutex);
        const auto towards = [&alive](const LinkAddresses& dead) {
            return dead.length == alive.length && SameAddress(dead.peer, alive.peer, alive.length);
        };
        const auto first = std::stable_partition(m_dead.begin(), m_dead.end(),
                                                 [&](const auto& d) { return !towards(d); });
        probed.assign(first, m_dead.end());
        m_dead.erase(first, m_dead.end());
    }
    for (const LinkAddresses& dead : probed) SendResetProbe(dead);
    return static_cast<int>(probed.size());
}

}  // namespace vandrelle
