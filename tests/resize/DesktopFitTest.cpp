// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's size after the connect, the screen's scale, the picture's
// place and the pacing of resize requests.
#include "DesktopFit.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using namespace vandrelle;
using namespace std::chrono_literals;

namespace {

std::string Text(PixelSize s) {
    return std::to_string(s.width) + "x" + std::to_string(s.height);
}

}  // namespace

TEST(DesktopFit, TheDesktopAskedForFollowsTheAreaWithinTheProtocolsBounds) {
    // The record's width, height and full screen, the area, the size asked for
    // and whether it follows the area.
    const std::tuple<std::int64_t, std::int64_t, int, PixelSize, std::string, bool> rows[] = {
        {0, 0, 0, {1280, 720}, "1280x720", true},
        {0, 0, 0, {1281, 721}, "1280x721", true},       // the width even
        {0, 0, 0, {150, 9000}, "200x8192", true},       // the bounds
        {0, 0, 0, {201, 300}, "200x300", true},         // even, but not below 200
        {-20, -10, 0, {1000, 800}, "960x780", true},    // a margin each side
        {-600, -10, 0, {1000, 800}, "1000x800", true},  // a margin that leaves nothing
        {1024, 768, 0, {640, 480}, "1024x768", false},  // fixed
        {1024, 768, 1, {1920, 1080}, "1920x1080", true},
    };
    for (const auto& [width, height, fullScreen, area, asked, follows] : rows) {
        const DesktopMode mode = DesktopMode::FromRecord(width, height, fullScreen);
        EXPECT_EQ(Text(RequestedDesktop(mode, area)), asked) << width << "x" << height;
        EXPECT_EQ(mode.FollowsArea(), follows) << width << "x" << height;
    }
}

TEST(DesktopFit, TheScreensScaleIsToldInPercent) {
    const std::pair<double, ScaleFactors> rows[] = {
        {1.0, {100, 100}}, {1.25, {125, 140}}, {1.2, {120, 140}}, {1.5, {150, 140}},
        {2.0, {200, 180}}, {6.0, {500, 180}},  {0.5, {100, 100}}, {0.0 / 0.0, {100, 100}},
    };
    for (const auto& [ratio, factors] : rows) EXPECT_EQ(ScaleFactorsFor(ratio), factors) << ratio;
}

TEST(DesktopFit, APictureLargerThanTheAreaIsScaledAndPointsMapBackExactly) {
    const PicturePlacement fits({800, 600}, {1000, 700});
    EXPECT_FALSE(fits.Scaled());
    EXPECT_EQ(fits.Origin(), (PixelPoint{100, 50}));
    EXPECT_EQ(fits.ToDesktop({100, 50}), (PixelPoint{0, 0}));
    EXPECT_EQ(fits.ToDesktop({0, 0}), (PixelPoint{0, 0}));  // beside it: the nearest edge

    const PicturePlacement half({1600, 1200}, {1000, 600});  // height decides: 800 x 600
    EXPECT_TRUE(half.Scaled());
    EXPECT_EQ(Text(half.Shown()), "800x600");
    EXPECT_EQ(half.Origin(), (PixelPoint{100, 0}));
    EXPECT_EQ(half.ToDesktop({100, 0}), (PixelPoint{1, 1}));
    EXPECT_EQ(half.ToDesktop({899, 599}), (PixelPoint{1599, 1199}));
    EXPECT_EQ(PicturePlacement({0, 0}, {100, 100}).ToDesktop({5, 5}), (PixelPoint{0, 0}));
}

TEST(DesktopFit, ADragAsksAtMostOncePerIntervalAndAlwaysForItsEnd) {
    ResizePacer pacer;
    const auto t0 = ResizePacer::Clock::time_point{};
    pacer.Connected({800, 600});
    EXPECT_FALSE(pacer.Changed({800, 600}, t0));  // what the connect set
    EXPECT_EQ(Text(*pacer.Changed({900, 600}, t0)), "900x600");
    EXPECT_FALSE(pacer.Changed({950, 600}, t0 + 50ms));
    EXPECT_FALSE(pacer.Changed({1000, 600}, t0 + 150ms));
    EXPECT_EQ(*pacer.Due(), t0 + 200ms);
    EXPECT_FALSE(pacer.Settle(t0 + 199ms));
    EXPECT_EQ(Text(*pacer.Settle(t0 + 200ms)), "1000x600");  // the last one, not 950
    EXPECT_FALSE(pacer.Due());
    EXPECT_EQ(Text(*pacer.Changed({1000, 700}, t0 + 500ms)), "1000x700");
}
