// SPDX-License-Identifier: GPL-3.0-or-later
// Which ends are healed, the waits between fresh connects and the texts (the
// healing itself: SessionTest), and the reset of connections a dead link left.
#include "LinkHealing.h"
#include "StaleLinks.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace vandrelle::test {
namespace {

using namespace std::chrono_literals;

TEST(LinkHealingTest, OnlyALostLinkIsHealedAfterWaitsThatDouble) {
    const struct {
        std::int32_t reason, extended;
        bool lost;
    } cases[] = {
        {0x904, 0, true},      {0x204, 0, true},    {0x104, 0, true},
        {1, 0, false},         {2, 0xC, false},     {2, 0xB, false},    // our Disconnect, logoff
        {3, 5, false},         {3, 1, false},       {3, 0, false},      // another connection, admin
        {0x808, 0x100, false}, {0x20009, 0, false}, {0x904, 3, false},  // licence, credentials
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsLostLink(c.reason, c.extended), c.lost) << c.reason << "/" << c.extended;
    // The waits double up to half a minute, and the user is told the attempt.
    const std::pair<int, int> waits[] = {{1, 1}, {2, 2}, {3, 4}, {5, 16}, {6, 30}, {40, 30}};
    for (const auto& [n, seconds] : waits) EXPECT_EQ(BackOff(n).count(), seconds) << n;
    EXPECT_EQ(ReconnectingText(2), "Connection lost \u2014 reconnecting (attempt 2)\u2026");
    EXPECT_NE(AbandonedText(5min).find("within 5 minutes."), std::string::npos);
}

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
