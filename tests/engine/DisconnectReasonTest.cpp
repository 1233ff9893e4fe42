// SPDX-License-Identifier: GPL-3.0-or-later
#include "DisconnectReason.h"

#include <gtest/gtest.h>

namespace vandrelle::test {
namespace {

std::string Engine(std::uint32_t code) {
    return "engine text " + std::to_string(code);
}
std::string Info(std::uint32_t code) {
    return "info text " + std::to_string(code);
}

TEST(DisconnectReasonTest, OutcomesMapToTheClientsReasons) {
    using R = DisconnectReason;
    EXPECT_EQ(MapDisconnect({.localDisconnect = true, .wasActive = true}), (R{1, 0}));
    EXPECT_EQ(MapDisconnect({.localDisconnect = true, .lastError = kEngineConnectCancelled}),
              (R{1, 0}));
    // The remote user's logoff wins over our own disconnect racing with it.
    EXPECT_EQ(MapDisconnect({.localDisconnect = true, .wasActive = true, .errorInfo = 0xC}),
              (R{2, 0xC}));
    EXPECT_EQ(MapDisconnect({.wasActive = true, .errorInfo = 0xB}), (R{2, 0xB}));
    EXPECT_EQ(MapDisconnect({.errorInfo = 0x100}), (R{0x808, 0x100}));
    EXPECT_EQ(MapDisconnect({.errorInfo = 0x10A}), (R{0x808, 0x10A}));
    EXPECT_EQ(MapDisconnect({.wasActive = true, .errorInfo = 3}), (R{3, 3}));
    EXPECT_EQ(MapDisconnect({.lastError = kEngineDnsNameNotFound}), (R{0x104, 0}));
    EXPECT_EQ(MapDisconnect({.lastError = kEngineConnectTransportFailed}), (R{0x204, 0}));
    EXPECT_EQ(MapDisconnect({.lastError = kEngineConnectFailed}), (R{0x204, 0}));
    EXPECT_EQ(MapDisconnect({.wasActive = true, .lastError = kEngineConnectTransportFailed}),
              (R{0x904, 0}));
    EXPECT_EQ(MapDisconnect({.lastError = 0x20009}), (R{0x20009, 0}));  // authentication
    EXPECT_EQ(MapDisconnect({.wasActive = true}), (R{3, 0}));           // the server just closed
}

TEST(DisconnectReasonTest, EveryProducedReasonHasAText) {
    for (std::int32_t reason : {1, 2, 3, 0x104, 0x204, 0x808, 0x904}) {
        EXPECT_EQ(DescribeDisconnect(reason, 0, Engine, Info).find("Disconnected (code"),
                  std::string::npos)
            << reason;
    }
    EXPECT_EQ(DescribeDisconnect(0x20009, 0, Engine, Info), "engine text 131081");
    EXPECT_EQ(DescribeDisconnect(3, 7, Engine, Info),
              "Remote disconnection by server. info text 7");
    EXPECT_EQ(DescribeDisconnect(0x506, 0, Engine, Info), "Disconnected (code 1286).");
}

}  // namespace
}  // namespace vandrelle::test
