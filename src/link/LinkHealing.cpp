// SPDX-License-Identifier: GPL-3.0-or-later
#include "LinkHealing.h"

#include <algorithm>

namespace vandrelle {
namespace {

// The client contract's reasons for a lost link.
constexpr std::int32_t kDnsLookupFailed = 0x104;
constexpr std::int32_t kSocketConnectFailed = 0x204;
constexpr std::int32_t kSocketClosed = 0x904;
constexpr std::chrono::seconds kLongestWait{30};

}  // namespace

bool IsLostLink(std::int32_t reason, std::int32_t extended) {
    // A Set Error Info code is the server's word: the end was its choice.
    if (extended != 0) return false;
    return reason == kSocketClosed || reason == kSocketConnectFailed || reason == kDnsLookupFailed;
}

std::chrono::seconds BackOff(int n) {
    const int doublings = std::clamp(n - 1, 0, 5);
    return std::min(std::chrono::seconds(1 << doublings), kLongestWait);
}

std::string ReconnectingText(int attempt) {
    return "Connection lost \u2014 reconnecting (attempt " + std::to_string(attempt) + ")\u2026";
}

std::string AbandonedText(std::chrono::milliseconds limit) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
    const std::string span =
        seconds % 60 == 0 ? std::to_string(seconds / 60) + " minute" + (seconds == 60 ? "" : "s")
                          : std::to_string(seconds) + " seconds";
    return "Reconnect abandoned: the connection to the server was lost and did not come back "
           "within " +
           span + ".";
}

void LinkHealer::LinkInDoubt(Clock::time_point now) {
    if (!m_active) {
        m_active = true;
        m_attempt = 0;
        m_freshConnects = 0;
        m_lost = now;
    }
    ++m_attempt;
}

LinkHealer::Decision LinkHealer::Ended(std::int32_t reason, std::int32_t extended,
                                       Clock::time_point now) {
    if (!m_active || !IsLostLink(reason, extended)) {
        m_active = false;
        return {};
    }
    const auto delay = std::chrono::milliseconds(BackOff(m_freshConnects + 1));
    if (now + delay - m_lost > m_limit) {
        m_active = false;
        return {Step::GiveUp, {}};
    }
    ++m_freshConnects;
    ++m_attempt;
    return {Step::Retry, delay};
}

}  // namespace vandrelle
