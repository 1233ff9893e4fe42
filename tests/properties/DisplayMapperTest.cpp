// SPDX-License-Identifier: GPL-3.0-or-later
// The Display page's rules without a window: which size entry a record
// opens on, margins, full screen, custom sizes and colour depth.
#include "DisplayMapper.h"

#include <gtest/gtest.h>

#include <limits>

namespace vandrelle {
namespace {

Properties Sized(int width, int height, int fullScreen = 0) {
    Properties p;
    p.DesktopWidth = width;
    p.DesktopHeight = height;
    p.FullScreen = fullScreen;
    return p;
}

// What a record reads back as after one trip through the page.
Properties Stored(const DisplayState& state, Properties p = {}) {
    DisplayMapper::Store(state, p);
    return p;
}

TEST(DisplayMapperTest, TheRecordChoosesTheSizeEntry) {
    struct Case {
        int w, h;
        DesktopSize size;
        const char* width;
        const char* height;
    };
    const Case cases[] = {
        {0, 0, DesktopSize::FitWindow, "", ""},
        {-20, -30, DesktopSize::FitWindowWithMargin, "20", "30"},
        {-20, 0, DesktopSize::Custom, "-20", "0"},
        {0, -30, DesktopSize::Custom, "0", "-30"},
        {1024, 768, DesktopSize::Size1024x768, "", ""},  // each entry's size: below
        {1600, 900, DesktopSize::Custom, "1600", "900"},
        {800, 768, DesktopSize::Custom, "800", "768"},
    };
    for (const Case& c : cases) {
        const DisplayState s = DisplayMapper::Load(Sized(c.w, c.h));
        EXPECT_EQ(s.size, c.size) << c.w << " x " << c.h;
        EXPECT_EQ(s.width, c.width) << c.w << " x " << c.h;
        EXPECT_EQ(s.height, c.height) << c.w << " x " << c.h;
    }
}

// The smallest number has no positive twin: it shows as the largest margin
// instead of overflowing.
TEST(DisplayMapperTest, TheSmallestMarginDoesNotOverflow) {
    constexpr int kMin = std::numeric_limits<int>::min();
    const DisplayState s = DisplayMapper::Load(Sized(kMin, -1));
    EXPECT_EQ(s.size, DesktopSize::FitWindowWithMargin);
    EXPECT_EQ(s.width, "2147483647");
    EXPECT_EQ(s.height, "1");
    DisplayState custom;
    custom.size = DesktopSize::FitWindowWithMargin;
    custom.width = "-2147483648";
    custom.height = "5";
    EXPECT_EQ(Stored(custom).DesktopWidth, std::numeric_limits<int>::max());
}

TEST(DisplayMapperTest, FullScreenWinsOverAnySize) {
    const DisplayState s = DisplayMapper::Load(Sized(1024, 768, 1));
    EXPECT_EQ(s.size, DesktopSize::FullScreen);
    EXPECT_EQ(s.width, "");
    EXPECT_EQ(DisplayMapper::Load(Sized(-20, -30, 7)).size, DesktopSize::FullScreen);
    const Properties p = Stored(s, Sized(1024, 768, 1));
    EXPECT_EQ(p.DesktopWidth, 0);
    EXPECT_EQ(p.DesktopHeight, 0);
    EXPECT_EQ(p.FullScreen, 1);

    DisplayState fixed = s;
    fixed.size = DesktopSize::Size1280x1024;
    const Properties q = Stored(fixed, Sized(0, 0, 1));
    EXPECT_EQ(q.FullScreen, 0);
    EXPECT_EQ(q.DesktopWidth, 1280);
    EXPECT_EQ(q.DesktopHeight, 1024);
}

TEST(DisplayMapperTest, ChoosingTheMarginProposesTenPixelsOnlyWhenBothEditsAreEmpty) {
    DisplayState s = DisplayMapper::Load(Sized(0, 0));
    DisplayMapper::ChooseSize(s, DesktopSize::FitWindowWithMargin);
    EXPECT_EQ(s.width, "10");
    EXPECT_EQ(s.height, "10");
    Properties p = Stored(s);
    EXPECT_EQ(p.DesktopWidth, -10);
    EXPECT_EQ(p.DesktopHeight, -10);

    DisplayState custom = DisplayMapper::Load(Sized(1600, 0));
    DisplayMapper::ChooseSize(custom, DesktopSize::FitWindowWithMargin);
    EXPECT_EQ(custom.width, "1600") << "texts already there are kept";
    EXPECT_EQ(custom.height, "0");

    DisplayState one;
    one.width = "5";
    DisplayMapper::ChooseSize(one, DesktopSize::FitWindowWithMargin);
    EXPECT_EQ(one.height, "") << "only two empty edits are filled";

    DisplayState other = DisplayMapper::Load(Sized(0, 0));
    DisplayMapper::ChooseSize(other, DesktopSize::Custom);
    EXPECT_EQ(other.width, "");
}

TEST(DisplayMapperTest, AZeroMarginOpensNextTimeAsFitWindow) {
    DisplayState s;
    s.size = DesktopSize::FitWindowWithMargin;
    s.width = "0";
    s.height = "0";
    const Properties p = Stored(s, Sized(-5, -5));
    EXPECT_EQ(p.DesktopWidth, 0);
    EXPECT_EQ(p.DesktopHeight, 0);
    EXPECT_EQ(DisplayMapper::Load(p).size, DesktopSize::FitWindow);
}

TEST(DisplayMapperTest, CustomStoresTheLeadingNumberOfEachText) {
    DisplayState s;
    s.size = DesktopSize::Custom;
    s.width = "1600";
    s.height = "900";
    Properties p = Stored(s);
    EXPECT_EQ(p.DesktopWidth, 1600);
    EXPECT_EQ(p.DesktopHeight, 900);
    EXPECT_EQ(DisplayMapper::Load(p).size, DesktopSize::Custom);

    s.width = "";
    s.height = "12px";
    p = Stored(s);
    EXPECT_EQ(p.DesktopWidth, 0);
    EXPECT_EQ(p.DesktopHeight, 12);

    // A custom -20 x 0 comes back as it was.
    const Properties odd = Sized(-20, 0);
    p = Stored(DisplayMapper::Load(odd));
    EXPECT_EQ(p.DesktopWidth, -20);
    EXPECT_EQ(p.DesktopHeight, 0);
}

TEST(DisplayMapperTest, FixedSizesAndFitWindowStoreTheirOwnSize) {
    for (const DesktopSizeEntry& e : DisplayMapper::SizeEntries()) {
        if (DisplayMapper::ShowsSizeEdits(e.size)) continue;
        DisplayState s;
        s.size = e.size;
        s.width = "1";  // left over from another entry: ignored
        s.height = "2";
        const Properties p = Stored(s, Sized(3, 4, 1));
        EXPECT_EQ(p.DesktopWidth, e.width) << e.text;
        EXPECT_EQ(p.DesktopHeight, e.height) << e.text;
        EXPECT_EQ(p.FullScreen, e.size == DesktopSize::FullScreen ? 1 : 0) << e.text;
        EXPECT_EQ(DisplayMapper::Load(p).size, e.size) << e.text;
    }
}

TEST(DisplayMapperTest, ColorDepthSelectsItsEntryAndAnUnknownOneIsKept) {
    for (int depth : {8, 15, 16, 24, 32}) {
        Properties p;
        p.ColorDepth = depth;
        EXPECT_EQ(DisplayMapper::Load(p).colorDepth, depth);
    }
    // An unknown depth (a hand-edited file) selects nothing and survives an
    // OK that did not touch it; choosing an entry replaces it.
    for (int depth : {12, 0, -1, 48}) {
        Properties p = Sized(1024, 768);
        p.ColorDepth = depth;
        DisplayState s = DisplayMapper::Load(p);
        EXPECT_EQ(s.colorDepth, std::nullopt) << depth;
        EXPECT_EQ(Stored(s, p).ColorDepth, depth);
        s.colorDepth = 24;
        EXPECT_EQ(Stored(s, p).ColorDepth, 24);
    }
}

TEST(DisplayMapperTest, ConsoleIsStoredAsOneOrZeroAndTheDefaultRecordUnchanged) {
    Properties p;
    p.ConnectToServerConsole = 3;
    DisplayState s = DisplayMapper::Load(p);
    EXPECT_TRUE(s.console);
    EXPECT_EQ(Stored(s, p).ConnectToServerConsole, 1);
    s.console = false;
    EXPECT_EQ(Stored(s, p).ConnectToServerConsole, 0);
    const Properties defaults;
    EXPECT_TRUE(PropertiesEqual(Stored(DisplayMapper::Load(defaults), defaults), defaults));
}

}  // namespace
}  // namespace vandrelle
