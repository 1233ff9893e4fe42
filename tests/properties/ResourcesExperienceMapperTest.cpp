// SPDX-License-Identifier: GPL-3.0-or-later
// The Local Resources and Experience pages' rules without a window.
#include "ExperienceMapper.h"
#include "ResourcesMapper.h"

#include <gtest/gtest.h>

namespace vandrelle {
namespace {

TEST(ResourcesMapperTest, FieldsTravelBetweenRecordAndControls) {
    Properties p;
    p.AudioRedirectionMode = 2;
    p.KeyboardHookMode = 0;
    p.RedirectPrinters = 1;
    p.RedirectClipboard = 0;
    p.RedirectPorts = 1;
    p.RedirectSmartCards = 1;
    p.RedirectDrives = 1;
    p.DriveCollection = "D:; $:";
    ResourcesState s = ResourcesMapper::Load(p);
    EXPECT_EQ(s.sound, 2);
    EXPECT_EQ(s.keyboard, 0);
    EXPECT_TRUE(s.printers);
    EXPECT_FALSE(s.clipboard);
    EXPECT_TRUE(s.ports);
    EXPECT_TRUE(s.smartCards);
    EXPECT_TRUE(s.drives);
    EXPECT_EQ(s.driveList, "D:; $:");

    s.sound = 1;
    s.keyboard = 2;
    s.printers = false;
    s.clipboard = true;
    s.drives = false;
    s.driveList = " e: ";
    ResourcesMapper::Store(s, p);
    EXPECT_EQ(p.AudioRedirectionMode, 1);
    EXPECT_EQ(p.KeyboardHookMode, 2);
    EXPECT_EQ(p.RedirectPrinters, 0);
    EXPECT_EQ(p.RedirectClipboard, 1);
    EXPECT_EQ(p.RedirectPorts, 1);
    EXPECT_EQ(p.RedirectDrives, 0);
    EXPECT_EQ(p.DriveCollection, " e: ") << "the drive list is free text";

    const Properties defaults;
    Properties stored = defaults;
    ResourcesMapper::Store(ResourcesMapper::Load(defaults), stored);
    EXPECT_TRUE(PropertiesEqual(stored, defaults));
}

// Values a hand-edited file may hold: a box shows what the session does (any
// non-zero value redirects), and a mode outside the list is neither shown
// as another entry nor overwritten.
TEST(ResourcesMapperTest, OddStoredValuesAreShownAsTheSessionUsesThemAndKept) {
    Properties p;
    p.RedirectPrinters = 2;
    p.RedirectDrives = -1;
    p.AudioRedirectionMode = 3;
    p.KeyboardHookMode = -1;
    ResourcesState s = ResourcesMapper::Load(p);
    EXPECT_TRUE(s.printers);
    EXPECT_TRUE(s.drives);
    EXPECT_EQ(s.sound, std::nullopt);
    EXPECT_EQ(s.keyboard, std::nullopt);
    ResourcesMapper::Store(s, p);
    EXPECT_EQ(p.RedirectPrinters, 1);
    EXPECT_EQ(p.RedirectDrives, 1);
    EXPECT_EQ(p.AudioRedirectionMode, 3);
    EXPECT_EQ(p.KeyboardHookMode, -1);
}

constexpr ExperienceBoxes kAll{true, true, true, true, true, true, true};
constexpr ExperienceBoxes kNone{};
constexpr ExperienceBoxes kBroadband{false, false, true, true, true, true, true};

Properties Flags(int flags, int bitmap = 1) {
    Properties p;
    p.PerformanceFlags = flags;
    p.BitmapPersistence = bitmap;
    return p;
}

TEST(ExperienceMapperTest, EachBoxHasItsFlag) {
    struct Case {
        bool ExperienceBoxes::*box;
        int flagWhenUnchecked;  // the flag the box sets when unchecked, as a change from 0x180
    };
    const Case cases[] = {
        {&ExperienceBoxes::background, 0x181},    {&ExperienceBoxes::dragging, 0x182},
        {&ExperienceBoxes::animation, 0x184},     {&ExperienceBoxes::themes, 0x188},
        {&ExperienceBoxes::fontSmoothing, 0x100}, {&ExperienceBoxes::composition, 0x080},
        {&ExperienceBoxes::bitmapCaching, 0x180},
    };
    for (const Case& c : cases) {
        ExperienceBoxes boxes = kAll;
        boxes.*c.box = false;
        EXPECT_EQ(ExperienceMapper::FlagsFor(boxes), c.flagWhenUnchecked);
        Properties p = Flags(c.flagWhenUnchecked, c.box == &ExperienceBoxes::bitmapCaching ? 0 : 1);
        EXPECT_EQ(ExperienceMapper::BoxesFor(p), boxes) << "and back again";
    }
}

// The default record is LAN and stores unchanged; flags are rebuilt from the
// boxes alone, other bits ignored and cleared.
TEST(ExperienceMapperTest, FlagsAreRebuiltFromTheBoxesAlone) {
    const Properties defaults;
    ExperienceMapper mapper;
    EXPECT_EQ(mapper.Load(defaults), kAll);
    EXPECT_EQ(ExperienceMapper::SpeedFor(kAll), Speed::Lan);
    Properties p = Flags(0x180 | 0x40 | 0x20 | 0x10000);
    const ExperienceBoxes boxes = mapper.Load(p);
    EXPECT_EQ(boxes, kAll);
    ExperienceMapper::Store(boxes, p);
    EXPECT_EQ(p.PerformanceFlags, 0x180);
    EXPECT_EQ(p.BitmapPersistence, 1);

    ExperienceMapper::Store(kNone, p);
    EXPECT_EQ(p.PerformanceFlags, 0xF);
    EXPECT_EQ(p.BitmapPersistence, 0);
}

TEST(ExperienceMapperTest, TheSpeedFollowsTheBoxes) {
    EXPECT_EQ(ExperienceMapper::SpeedFor(kAll), Speed::Lan);
    EXPECT_EQ(ExperienceMapper::SpeedFor(kBroadband), Speed::Broadband);
    EXPECT_EQ(ExperienceMapper::SpeedFor(kNone), Speed::Custom);
    ExperienceBoxes noCache = kAll;
    noCache.bitmapCaching = false;
    EXPECT_EQ(ExperienceMapper::SpeedFor(noCache), Speed::Custom);
    ExperienceBoxes broadbandNoCache = kBroadband;
    broadbandNoCache.bitmapCaching = false;
    EXPECT_EQ(ExperienceMapper::SpeedFor(broadbandNoCache), Speed::Custom);
    ExperienceBoxes onlyBackground = kAll;
    onlyBackground.background = false;
    EXPECT_EQ(ExperienceMapper::SpeedFor(onlyBackground), Speed::Custom);
    EXPECT_EQ(ExperienceMapper::SpeedFor(ExperienceMapper::BoxesFor(Flags(0x101))),
              Speed::Broadband);
}

TEST(ExperienceMapperTest, PresetsShowTheirBoxesAndCustomBringsBackTheUsersChoice) {
    ExperienceMapper mapper;
    const ExperienceBoxes stored = mapper.Load(Flags(0x8 | 0x100, 0));
    EXPECT_EQ(ExperienceMapper::SpeedFor(stored), Speed::Custom);
    EXPECT_EQ(mapper.SpeedChosen(Speed::Broadband), kBroadband);
    EXPECT_EQ(mapper.SpeedChosen(Speed::Lan), kAll);
    EXPECT_EQ(mapper.SpeedChosen(Speed::Custom), stored) << "the stored settings before any click";

    // A click remembers what the boxes show, preset or not.
    ExperienceBoxes shown = mapper.SpeedChosen(Speed::Broadband);
    shown.themes = false;
    EXPECT_EQ(mapper.BoxClicked(shown), Speed::Custom);
    mapper.SpeedChosen(Speed::Lan);
    EXPECT_EQ(mapper.SpeedChosen(Speed::Custom), shown);
}

}  // namespace
}  // namespace vandrelle
