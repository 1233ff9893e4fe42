// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowPlace.h"

#include <gtest/gtest.h>

#include <climits>

using namespace vandrelle;

namespace {

const std::vector<WindowRect> kScreens{{0, 0, 1920, 1080}, {1920, 0, 3200, 1024}};

struct Row {
    const char* what;
    WindowRect stored;
    std::optional<WindowRect> shown;
    bool onScreen = true;
};

TEST(WindowPlace, AStoredPlaceIsKeptOnTheScreensOrLeftOut) {
    const Row rows[] = {
        {"mostly on the second", {1800, 0, 2800, 500}, WindowRect{1920, 0, 2920, 500}},
        {"too large", {0, 0, 32767, 32767}, WindowRect{0, 0, 1920, 1080}},
        {"past the right edge", {1500, 900, 2100, 1300}, WindowRect{1320, 680, 1920, 1080}},
        {"off every screen", {-5000, -5000, -4200, -4400}, WindowRect{0, 0, 800, 600}, false},
        {"no area", {10, 10, 10, 400}, std::nullopt},
        {"left at the lowest int", {INT_MIN, 0, 800, 600}, std::nullopt},
        {"right at the highest int",
         {INT_MAX - 10, 0, INT_MAX, 600},
         WindowRect{0, 0, 10, 600},
         false},
    };
    for (const Row& row : rows) {
        const auto place = PlaceOnScreens(row.stored, kScreens);
        ASSERT_EQ(place.has_value(), row.shown.has_value()) << row.what;
        if (!place) continue;
        EXPECT_EQ(place->rect, *row.shown) << row.what;
        EXPECT_EQ(place->onScreen, row.onScreen) << row.what;
    }
    EXPECT_FALSE(PlaceOnScreens({0, 0, 10, 10}, {}));
}

}  // namespace
