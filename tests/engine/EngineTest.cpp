// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's own rules: how a session's end is named, which local drives
// and ports it offers, what it tells the server of the screen, and which
// picture decoders a session keeps.
#include "DisconnectReason.h"
#include "EngineSettings.h"
#include "LocalDevices.h"
#include "SessionCodecs.h"
#include "TempDir.h"

#include <freerdp/client.h>
#include <freerdp/codec/planar.h>
#include <freerdp/codecs.h>
#include <freerdp/settings.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace vandrelle::test {
namespace {

TEST(DisconnectReasonTest, OutcomesMapToTheClientsReasonsAndTexts) {
    const struct {
        EngineOutcome outcome;
        DisconnectReason reason;
    } cases[] = {
        {{.localDisconnect = true, .wasActive = true}, {1, 0}},
        // The remote user's logoff wins over our own disconnect racing with it.
        {{.localDisconnect = true, .wasActive = true, .errorInfo = 0xC}, {2, 0xC}},
        {{.errorInfo = 0x100}, {0x808, 0x100}},
        {{.wasActive = true, .errorInfo = 3}, {3, 3}},
        {{.lastError = kEngineDnsNameNotFound}, {0x104, 0}},
        {{.lastError = kEngineConnectTransportFailed}, {0x204, 0}},
        {{.wasActive = true, .lastError = kEngineConnectTransportFailed}, {0x904, 0}},
        {{.lastError = 0x20009}, {0x20009, 0}},  // authentication
        {{.wasActive = true}, {3, 0}},           // the server just closed
        // A link that died and was not resumed, whatever the resume left behind.
        {{.wasActive = true, .lastError = 0x20008, .linkDied = true}, {0x904, 0}},
        {{.wasActive = true, .lastError = 0x20015, .linkDied = true}, {0x20015, 0}},
        {{.localDisconnect = true, .wasActive = true, .linkDied = true}, {1, 0}},
    };
    const auto engine = [](std::uint32_t code) { return "engine text " + std::to_string(code); };
    const auto info = [](std::uint32_t code) { return "info text " + std::to_string(code); };
    for (const auto& c : cases) {
        EXPECT_EQ(MapDisconnect(c.outcome), c.reason) << c.reason.reason;
        // Every produced reason has a text of its own.
        EXPECT_EQ(DescribeDisconnect(c.reason.reason, 0, engine, info).find("Disconnected (code"),
                  std::string::npos)
            << c.reason.reason;
    }
    EXPECT_EQ(DescribeDisconnect(0x20009, 0, engine, info), "engine text 131081");
    EXPECT_EQ(DescribeDisconnect(3, 7, engine, info),
              "Remote disconnection by server. info text 7");
    EXPECT_EQ(DescribeDisconnect(0x506, 0, engine, info), "Disconnected (code 1286).");
}

TEST(LocalDevicesTest, MountedVolumesBecomeLetteredDrivesRootFirstAndPortsAreNamed) {
    const auto drives = ParseMountedVolumes(
        "proc /proc proc rw 0 0\n/dev/sdb1 /srv/data ext4 rw 0 0\ntmpfs /tmp tmpfs rw 0 0\n"
        "/dev/sda1 / ext4 rw 0 0\n/dev/sdc1 /media/USB\\040Stick vfat rw 0 0\n"
        "/dev/sda1 / ext4 rw 0 0\n");
    std::string seen;
    for (const auto& d : drives) seen += d.name + "|" + d.path + "|" + ShareName(d) + "\n";
    EXPECT_EQ(seen,
              "System (C:)|/|C_System\nUSB Stick (D:)|/media/USB Stick|D_USB_Stick\n"
              "data (E:)|/srv/data|E_data\n");

    TempDir dev;
    for (const char* name : {"ttyS0", "ttyS2", "lp0"}) WriteFile(dev.file(name), "");
    const auto ports = LocalPorts(dev.path());
    seen.clear();
    for (const auto& p : ports) seen += p.name + "|" + p.path + "|" + p.kind + "\n";
    EXPECT_EQ(seen, "COM1|" + dev.file("ttyS0") + "|serial\nCOM3|" + dev.file("ttyS2") +
                        "|serial\nLPT1|" + dev.file("lp0") + "|parallel\n");
}

// The server learns the screen's scale at the connect. (The settings that let
// a desktop follow the window and see a dead link within seconds are seen at
// work against real servers: the end-to-end tests.)
TEST(EngineSettingsTest, TheScaleGoesToTheEngine) {
    rdpSettings* settings = freerdp_settings_new(0);
    ASSERT_NE(settings, nullptr);
    ConnectionValues values;
    values.desktopScale = 200;
    values.deviceScale = 180;
    ApplySettings(settings, values);
    EXPECT_EQ(freerdp_settings_get_uint32(settings, FreeRDP_DesktopScaleFactor) * 1000 +
                  freerdp_settings_get_uint32(settings, FreeRDP_DeviceScaleFactor),
              200180u);
    freerdp_settings_free(settings);
}

// Without the graphics pipeline a session keeps only the decoders it can be
// sent, whether it made them (at the connect) or the engine did (a resumed
// link); the planar one holds a tile and is fitted to a larger bitmap (its
// colour-loss form decodes through the decoder's own buffers). With the
// pipeline the engine's decoders stay as they are.
TEST(SessionCodecsTest, OnlyTheDecodersASessionIsSentAreKept) {
    const struct {
        bool pipeline, engineMade;
    } cases[] = {{false, false}, {false, true}, {true, true}};
    for (const auto& c : cases) {
        RDP_CLIENT_ENTRY_POINTS entry{};
        entry.Version = RDP_CLIENT_INTERFACE_VERSION;
        entry.Size = sizeof(entry);
        entry.ContextSize = sizeof(rdpClientContext);
        rdpContext* context = freerdp_client_context_new(&entry);
        ASSERT_NE(context, nullptr);
        rdpSettings* settings = context->settings;
        freerdp_settings_set_bool(settings, FreeRDP_SupportGraphicsPipeline, c.pipeline);
        SessionCodecs codecs;
        codecs.Defer(context);
        EXPECT_EQ(freerdp_settings_get_bool(settings, FreeRDP_DeactivateClientDecoding),
                  !c.pipeline);
        if (c.engineMade) {
            freerdp_settings_set_bool(settings, FreeRDP_DeactivateClientDecoding, FALSE);
            context->codecs = freerdp_client_codecs_new(0);
            freerdp_client_codecs_prepare(context->codecs, FREERDP_CODEC_ALL, 1024, 768);
            codecs.Trim(context);
        } else {
            ASSERT_TRUE(codecs.MakeLean(context));
            EXPECT_FALSE(freerdp_settings_get_bool(settings, FreeRDP_DeactivateClientDecoding));
        }
        rdpCodecs* made = context->codecs;
        ASSERT_NE(made, nullptr);
        EXPECT_NE(made->interleaved, nullptr);
        EXPECT_EQ(made->progressive != nullptr, c.pipeline);
        EXPECT_EQ(made->clear != nullptr, c.pipeline);
        // A grey bitmap of 200×100 in the colour-loss form, raw planes of
        // luma and (zero) chroma, comes back whole.
        std::vector<BYTE> data(1 + 3 * 200 * 100, 0), decoded(200 * 100 * 4);
        data[0] = PLANAR_FORMAT_HEADER_NA | 1;
        std::fill_n(data.begin() + 1, 200 * 100, 0x5a);
        ASSERT_TRUE(codecs.Fit(context, 200, 100));
        EXPECT_TRUE(planar_decompress(made->planar, data.data(), UINT32(data.size()), 200, 100,
                                      decoded.data(), PIXEL_FORMAT_BGRX32, 800, 0, 0, 200, 100,
                                      FALSE));
        EXPECT_EQ(std::count(decoded.begin(), decoded.end(), 0x5a), 200 * 100 * 3);
        freerdp_client_context_free(context);
    }
}

}  // namespace
}  // namespace vandrelle::test
