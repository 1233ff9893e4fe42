// SPDX-License-Identifier: GPL-3.0-or-later
// Which ends are healed, the waits between fresh connects, and when healing
// gives up.
#include "LinkHealing.h"

#include <gtest/gtest.h>

namespace vandrelle::test {
namespace {

using namespace std::chrono_literals;
using Step = LinkHealer::Step;

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

TEST(LinkHealingTest, ResumeThenFreshConnectsWithBackOffUntilTheLimit) {
    LinkHealer healer;
    healer.SetLimit(10s);
    const LinkHealer::Clock::time_point t0{};
    // Without the engine's word that the link died nothing is healed: a
    // first connect that fails, a server that closed or whose process died.
    EXPECT_EQ(healer.Ended(0x204, 0, t0).step, Step::End);
    EXPECT_EQ(healer.Ended(0x904, 0, t0).step, Step::End);
    EXPECT_FALSE(healer.Active());

    healer.LinkInDoubt(t0);  // the engine tries to resume: attempt 1
    EXPECT_EQ(healer.Attempt(), 1);
    const struct {
        std::chrono::milliseconds at;
        std::int32_t reason;
        Step step;
        std::chrono::milliseconds delay;
        int attempt;
    } steps[] = {
        {0ms, 0x904, Step::Retry, 1s, 2},  // the resume failed
        {1s, 0x204, Step::Retry, 2s, 3},   // the network is still down
        {3s, 0x104, Step::Retry, 4s, 4},
        {7s, 0x204, Step::GiveUp, 0s, 4},  // the next wait ends past 10 s
    };
    for (const auto& s : steps) {
        const auto d = healer.Ended(s.reason, 0, t0 + s.at);
        EXPECT_EQ(d.step, s.step) << s.at.count();
        EXPECT_EQ(d.delay, s.delay) << s.at.count();
        EXPECT_EQ(healer.Attempt(), s.attempt) << s.at.count();
    }
    EXPECT_FALSE(healer.Active());

    // A refused password while healing ends it; so does a logoff.
    healer.LinkInDoubt(t0);
    EXPECT_EQ(healer.Ended(0x20009, 0, t0).step, Step::End);
    healer.LinkInDoubt(t0);
    EXPECT_EQ(healer.Ended(2, 0xC, t0).step, Step::End);
    EXPECT_FALSE(healer.Active());
    healer.LinkInDoubt(t0);
    healer.Stop();
    EXPECT_FALSE(healer.Active());
    EXPECT_EQ(LinkHealer().Limit(), 5min);
}

}  // namespace
}  // namespace vandrelle::test
