// SPDX-License-Identifier: GPL-3.0-or-later
// Healing a session whose network link died: which ends are a lost link, how
// long to wait before each fresh connect, when to give up, and what the user
// is told meanwhile. Pure logic: the session drives it with the disconnect
// reasons it receives and the time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vandrelle {

// Whether a session that ended with this disconnect reason (the client
// contract's reason and extended reason) lost its link: the socket closed
// under it, the server could not be reached or its name not resolved (a
// network still down). Every other end was chosen by the server or the user
// (logoff, disconnection by an administrator or another connection,
// licensing, credentials refused, our own Disconnect) and is never healed.
bool IsLostLink(std::int32_t reason, std::int32_t extended);

// The wait before the n-th fresh connect (n from 1): 1, 2, 4, 8, 16, then 30
// seconds.
std::chrono::seconds BackOff(int n);

// The status bar's text while the link is being healed.
std::string ReconnectingText(int attempt);

// The reason shown when healing gives up after `limit`.
std::string AbandonedText(std::chrono::milliseconds limit);

// One session's healing. Attempt 1 is the engine's own resume (the link in
// doubt); each fresh connect after it is the next attempt.
class LinkHealer {
public:
    static constexpr std::chrono::minutes kDefaultLimit{5};
    using Clock = std::chrono::steady_clock;

    enum class Step {
        End,     // no healing under way, or not a lost link: the session ends as it does
        Retry,   // connect again after `delay`
        GiveUp,  // a lost link that did not come back within the limit
    };
    struct Decision {
        Step step = Step::End;
        std::chrono::milliseconds delay{0};
    };

    // How long after the link was lost healing gives up (shorter for tests).
    void SetLimit(std::chrono::milliseconds limit) { m_limit = limit; }
    std::chrono::milliseconds Limit() const { return m_limit; }

    // The engine saw the link die and tries to resume the session.
    void LinkInDoubt(Clock::time_point now);
    // The session ended with this reason. Only a healing under way goes on:
    // a session that ends without the engine having seen its link die (the
    // server closed it, or its process died) ends as it does.
    Decision Ended(std::int32_t reason, std::int32_t extended, Clock::time_point now);
    // The link is back, or the user cancelled: no healing under way.
    void Stop() { m_active = false; }

    bool Active() const { return m_active; }
    int Attempt() const { return m_attempt; }

private:
    std::chrono::milliseconds m_limit = kDefaultLimit;
    bool m_active = false;
    int m_attempt = 0;
    int m_freshConnects = 0;
    Clock::time_point m_lost{};
};

}  // namespace vandrelle
