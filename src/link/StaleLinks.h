// SPDX-License-Identifier: GPL-3.0-or-later
// A TCP connection whose link died stays open at a server that has nothing to
// send: the server learns it is gone only when one of its own retransmissions
// finds the link back and is refused, seconds after the link returned. Some
// servers (xrdp) keep the user's desktop bound to that connection until then,
// so a client that connected again waits for the picture.
//
// StaleLinks remembers connections whose link died, and once a new connection
// to the same server is up (the link is back) sends a connection request from
// each dead connection's own address and port. The server, which still holds
// that connection, answers with an acknowledgement that this machine, having
// no such connection any more, refuses with a reset; the server drops the dead
// connection at once. A server that already dropped it sees an embryonic
// connection that ends unanswered.
#pragma once

#include <sys/socket.h>

#include <mutex>
#include <optional>
#include <vector>

namespace vandrelle {

// Both ends of a TCP connection.
struct LinkAddresses {
    sockaddr_storage local{};
    sockaddr_storage peer{};
    socklen_t length = 0;  // of each address
};

// The addresses of a connected TCP socket, or nothing.
std::optional<LinkAddresses> AddressesOf(int fd);

// Sends a connection request from the dead connection's local address to its
// peer and closes the probe without a word; false when the address could not
// be taken (a connection on this machine uses it again).
bool SendResetProbe(const LinkAddresses& dead);

class StaleLinks {
public:
    // Process-wide: the connection that died and the one that heals it are
    // different objects, often on different threads.
    static StaleLinks& Get();

    void Remember(const LinkAddresses& dead);
    // Probes every remembered connection to the peer `alive` is connected to,
    // and forgets them; returns how many were probed.
    int ResetTowards(const LinkAddresses& alive);

private:
    std::mutex m_mutex;
    std::vector<LinkAddresses> m_dead;
};

}  // namespace vandrelle
