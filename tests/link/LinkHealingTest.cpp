// SPDX-License-Identifier: GPL-3.0-or-later
// Which ends are healed, the waits between fresh connects and the texts (the
// healing itself: the session's test beside this one).
#include "LinkHealing.h"

#include <gtest/gtest.h>

namespace vandrelle::test {
namespace {

using namespace std::chrono_literals;

TEST(LinkHealingTest, OnlyALostLinkIsHealed) {
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
}

TEST(LinkHealingTest, WaitsDoubleToHalfAMinuteAndTheUserIsToldTheAttempt) {
    const std::pair<int, int> waits[] = {{1, 1}, {2, 2}, {3, 4}, {5, 16}, {6, 30}, {40, 30}};
    for (const auto& [n, seconds] : waits) EXPECT_EQ(BackOff(n).count(), seconds) << n;
    EXPECT_EQ(ReconnectingText(2), "Connection lost \u2014 reconnecting (attempt 2)\u2026");
    EXPECT_NE(AbandonedText(5min).find("within 5 minutes."), std::string::npos);
    EXPECT_NE(AbandonedText(8s).find("within 8 seconds."), std::string::npos);
}

}  // namespace
}  // namespace vandrelle::test
