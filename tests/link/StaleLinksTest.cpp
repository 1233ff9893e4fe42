// SPDX-License-Identifier: GPL-3.0-or-later
#include "StaleLinks.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace vandrelle::test {
namespace {

// A loopback listener on a port of the system's choice.
int Listen() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
    ::listen(fd, 4);
    return fd;
}

int ConnectTo(int listener) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 ? fd : -1;
}

bool ResetWithin(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    return ::poll(&p, 1, ms) == 1 && ::recv(fd, &byte, 1, 0) < 0 && errno == ECONNRESET;
}

// The client's end of a connection vanishes without a word, as when its link
// died: the server goes on holding the connection until the client's next
// connection to that server comes up, and no longer.
TEST(StaleLinksTest, ADeadConnectionIsResetWhenTheSameServerIsReachedAgain) {
    const int listener = Listen(), elsewhere = Listen();
    const int client = ConnectTo(listener);
    const int held = ::accept(listener, nullptr, nullptr);
    const auto dead = AddressesOf(client);
    ASSERT_TRUE(dead && held >= 0);
    const int on = 1;
    if (::setsockopt(client, IPPROTO_TCP, TCP_REPAIR, &on, sizeof on) != 0)
        GTEST_SKIP() << "closing a connection silently needs CAP_NET_ADMIN";
    ::close(client);

    StaleLinks links;
    links.Remember(*dead);
    const int other = ConnectTo(elsewhere);
    EXPECT_EQ(links.ResetTowards(*AddressesOf(other)), 0);
    EXPECT_FALSE(ResetWithin(held, 300));

    const int again = ConnectTo(listener);
    EXPECT_EQ(links.ResetTowards(*AddressesOf(again)), 1);
    EXPECT_TRUE(ResetWithin(held, 3000));
    EXPECT_EQ(links.ResetTowards(*AddressesOf(again)), 0);
    for (const int fd : {listener, elsewhere, held, other, again}) ::close(fd);
}

}  // namespace
}  // namespace vandrelle::test
