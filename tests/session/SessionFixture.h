// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ConfigStore.h"
#include "FakeRdpClient.h"
#include "RegFileKeyStore.h"
#include "Session.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <memory>

namespace vandrelle::test {

// A session over the fake client, view and frame, with a real configuration
// store and key store in a temporary folder.
class SessionFixture : public ::testing::Test {
protected:
    SessionFixture() : keys(dir.file("registry.reg"), dir.file("machine.reg")), config(keys) {
        config.Init();
        config.SetConfigPath(dir.file("Vandrelle.xml"));
        record.Server = "rdp.example";
        record.UserName = "jdoe";
        record.Password = "pw";
        record.Domain = "CORP";
    }

    // Replaces the session; the old one goes first, as its window would.
    Session& Open(RdpClient* withClient) {
        session.reset();
        session = std::make_unique<Session>(withClient, view, frame, config, keys, record,
                                            NodePath({"srv"}));
        return *session;
    }
    Session& Open() { return Open(&client); }

    // Connects and walks the client through to the connected state.
    void Connected() {
        Open().ConnectSession();
        client.FireConnecting();
        client.FireConnected();
    }

    std::vector<std::int64_t> PostedStates() const {
        std::vector<std::int64_t> states;
        for (const auto& m : frame.posted) {
            if (m.message == WM_APP_SESSION_STATE) {
                EXPECT_EQ(m.lParam, view.WindowId());
                states.push_back(static_cast<std::int64_t>(m.wParam));
            }
        }
        return states;
    }

    TempDir dir;
    RegFileKeyStore keys;
    CConfigStore config;
    Properties record;
    FakeRdpClient client;
    FakeSessionView view;
    FakeFrame frame;
    std::unique_ptr<Session> session;
};

}  // namespace vandrelle::test
