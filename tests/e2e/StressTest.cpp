// SPDX-License-Identifier: GPL-3.0-or-later
// Many connections and early closes in one process (label stress; `make
// stress` repeats it to bring out rare races).
#include "SessionHarness.h"

namespace vandrelle::test {
namespace {

using namespace std::chrono_literals;

TEST_F(ShadowSessionTest, TwentyCyclesAndTwentyEarlyClosesLeaveNothingBehind) {
    Open();
    for (int i = 0; i < 20; ++i) {
        frame.posted.clear();
        session->ConnectSession();
        ASSERT_TRUE(WaitForState(kStateConnected)) << "cycle " << i;
        Disconnect();
        ASSERT_TRUE(WaitForState(kStateDisconnected)) << "cycle " << i;
        EXPECT_EQ(States(), (std::vector<std::uintptr_t>{1, 2, 0}));
    }
    for (int i = 0; i < 20; ++i) {
        Open();
        session->ConnectSession();
        queue->RunUntil([] { return false; }, std::chrono::milliseconds(10 * (i % 5)));
        session.reset();
        client.reset();
    }
    // Leaks and use after free show under the sanitizer build.
    queue->RunUntil([] { return false; }, 3s);
    Open();
    session->ConnectSession();
    EXPECT_TRUE(WaitForState(kStateConnected));
}

}  // namespace
}  // namespace vandrelle::test
