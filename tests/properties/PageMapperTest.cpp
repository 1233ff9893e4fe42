// SPDX-License-Identifier: GPL-3.0-or-later
// The pages' rules without a window: what a record shows as, the General
// checks in their order, and what is stored back.
#include "DisplayMapper.h"
#include "ExperienceMapper.h"
#include "GeneralMapper.h"
#include "ResourcesMapper.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>

namespace vandrelle {
namespace {

enum class Mode { Server, Group, Root };

GeneralMapper Mapper(Mode mode = Mode::Server) {
    GeneralMode m;
    m.group = mode == Mode::Group;
    m.root = mode == Mode::Root;
    m.siblingNames = {"Office", "db 1", ""};
    return GeneralMapper(m);
}

Properties Server(const std::string& name, const std::string& host) {
    Properties p;
    p.Name = name;
    p.Server = host;
    return p;
}

// One letter per problem, in order: p a port that is no number (a beep only),
// r a port out of range, n no name, d the name 'Office' taken, s no server,
// c a server with a port.
std::string Check(const char* name, const char* server, const char* port, Mode mode = Mode::Server,
                  bool inherit = false) {
    const std::map<std::string, char> kinds = {
        {"", 'p'},
        {GeneralMapper::kPortRange, 'r'},
        {"Must enter a name.", 'n'},
        {"A group or server named 'Office' already exists here.", 'd'},
        {"Must enter server name (IP Address or hostname).", 's'},
        {GeneralMapper::kServerWithPort, 'c'}};
    GeneralState s;
    s.name = name;
    s.server = server;
    s.port = port;
    s.inherit = inherit;
    std::string out;
    for (const GeneralProblem& p : Mapper(mode).Validate(s)) out += kinds.at(p.message);
    return out;
}

TEST(GeneralMapperTest, LoadShowsTheRecordWithEditLineBreaks) {
    Properties p = Server("web", "web.example");
    p.UserName = "u";
    p.Password = "secret";
    p.Domain = "corp";
    p.RDPPort = -5;
    p.Description = "one\r\ntwo\rthree\nfour";
    const GeneralState s = Mapper().Load(p);
    EXPECT_EQ(s.name + "|" + s.server + "|" + s.userName + "|" + s.password + "|" + s.domain + "|" +
                  s.port + "|" + s.description,
              "web|web.example|u|secret|corp|-5|one\ntwo\nthree\nfour");
    // Every reader takes a non-zero InheritGeneral as inheriting.
    for (int value : {0, 1, 2, -1}) {
        p.InheritGeneral = value;
        EXPECT_EQ(Mapper().Load(p).inherit, value != 0) << value;
    }
}

TEST(GeneralMapperTest, AutoFillLastsUntilTheServerIsEdited) {
    GeneralMapper mapper = Mapper();
    mapper.Load(Server("", ""));
    EXPECT_EQ(mapper.ServerForName("db1"), "db1");
    mapper.ServerEdited();
    EXPECT_EQ(mapper.ServerForName("db12"), std::nullopt);
    mapper.Load(Server("web", "web.example"));
    EXPECT_EQ(mapper.ServerForName("web2"), std::nullopt);
    GeneralMapper group = Mapper(Mode::Group);
    group.Load(Server("", ""));
    EXPECT_EQ(group.ServerForName("Office"), std::nullopt);
}

TEST(GeneralMapperTest, ChecksAndTheirOrder) {
    using Cases = std::pair<const char*, const char*>[];
    // A port is a number from 1 to 65535 after blanks; no number only beeps.
    for (const auto& [port, problems] : Cases{{"", "p"},
                                              {"  ", "p"},
                                              {"12abc", "p"},
                                              {"99999999999", "p"},
                                              {"0", "r"},
                                              {"65536", "r"},
                                              {"-1", "r"},
                                              {"1", ""},
                                              {"65535", ""},
                                              {" 3390", ""},
                                              {"+22", ""}}) {
        EXPECT_EQ(Check("new", "h", port), problems) << port;
    }
    // One colon is a port, more are an IPv6 address.
    for (const auto& [server, problems] : Cases{{"10.0.0.1:3390", "c"},
                                                {"web.example:3389", "c"},
                                                {" host: ", "c"},
                                                {"::1", ""},
                                                {"2001:db8::1:3389", ""},
                                                {" \t ", "s"}}) {
        EXPECT_EQ(Check("new", server, "1"), problems) << server;
    }
    // Names are compared exactly after trimming; an empty one is not also a
    // duplicate of an empty sibling.
    for (const auto& [name, problems] : Cases{{"  Office ", "d"},
                                              {"office", ""},
                                              {"db  1", ""},
                                              {"Office2", ""},
                                              {"", "n"},
                                              {" \t ", "n"}}) {
        EXPECT_EQ(Check(name, "h", "1"), problems) << name;
    }
    EXPECT_EQ(Check(" ", " ", "0"), "rns") << "the page's order";
    EXPECT_EQ(Check("new", "h", "0", Mode::Server, true), "") << "an inherited port is not ours";
    EXPECT_EQ(Check("Lab", "", "1", Mode::Group), "") << "a group has no server";
    EXPECT_EQ(Check("Lab", "host:1", "1", Mode::Group), "");
    EXPECT_EQ(Check("Office", "", "70000", Mode::Group), "rd");
    EXPECT_EQ(Check("Office", "", "1", Mode::Root), "") << "the root has no siblings";
}

TEST(GeneralMapperTest, StoreTrimsNamesAndWritesRecordLineBreaks) {
    GeneralMapper mapper = Mapper();
    Properties p;
    GeneralState s{"  web 1\t", " web.example ", " u ", " p ", "d", "3390", "a\nb\n", false};
    mapper.Store(s, p);
    EXPECT_EQ(p.Name + "|" + p.Server + "|" + p.UserName + "|" + p.Password + "|" + p.Domain + "|" +
                  p.Description,
              "web 1|web.example| u | p |d|a\r\nb\r\n")
        << "logon texts are kept as typed";
    EXPECT_EQ(p.RDPPort, 3390);
    EXPECT_EQ(p.InheritGeneral, 0);
    s.inherit = true;
    s.port = "";
    mapper.Store(s, p);
    EXPECT_EQ(p.InheritGeneral, 1);
    EXPECT_EQ(p.RDPPort, 3390) << "a port that is no number is not written";

    // An untouched record stores unchanged; a group's hidden server too.
    p = Server("web", "web.example");
    p.Description = "line 1\r\nline 2";
    Properties stored = p;
    mapper.Store(mapper.Load(p), stored);
    EXPECT_TRUE(PropertiesEqual(stored, p));
    GeneralMapper group = Mapper(Mode::Group);
    group.Store(group.Load(Server("Lab", " kept ")), stored);
    EXPECT_EQ(stored.Server, " kept ");
}

Properties Sized(int width, int height, int fullScreen = 0) {
    Properties p;
    p.DesktopWidth = width;
    p.DesktopHeight = height;
    p.FullScreen = fullScreen;
    return p;
}

DisplayState Shown(DesktopSize size, std::string width, std::string height) {
    DisplayState s;
    s.size = size;
    s.width = std::move(width);
    s.height = std::move(height);
    return s;
}

// What a record reads back as after one trip through the page.
Properties Stored(const DisplayState& state, Properties p = {}) {
    DisplayMapper::Store(state, p);
    return p;
}

TEST(DisplayMapperTest, TheRecordChoosesTheSizeEntry) {
    constexpr int kMin = std::numeric_limits<int>::min();
    struct Case {
        int w, h, fullScreen;
        DesktopSize size;
        const char *width, *height;
    };
    const Case cases[] = {
        {0, 0, 0, DesktopSize::FitWindow, "", ""},
        {-20, -30, 0, DesktopSize::FitWindowWithMargin, "20", "30"},
        {kMin, -1, 0, DesktopSize::FitWindowWithMargin, "2147483647", "1"},  // no overflow
        {-20, 0, 0, DesktopSize::Custom, "-20", "0"},
        {0, -30, 0, DesktopSize::Custom, "0", "-30"},
        {1024, 768, 0, DesktopSize::Size1024x768, "", ""},
        {1600, 900, 0, DesktopSize::Custom, "1600", "900"},
        {800, 768, 0, DesktopSize::Custom, "800", "768"},
        {1024, 768, 1, DesktopSize::FullScreen, "", ""},  // full screen wins over any size
        {-20, -30, 7, DesktopSize::FullScreen, "", ""}};
    for (const Case& c : cases) {
        const DisplayState s = DisplayMapper::Load(Sized(c.w, c.h, c.fullScreen));
        EXPECT_EQ(s.size, c.size) << c.w << " x " << c.h;
        EXPECT_EQ(s.width + "x" + s.height, std::string(c.width) + "x" + c.height) << c.w;
    }
}

TEST(DisplayMapperTest, EditedSizesStoreTheLeadingNumberOfEachText) {
    struct Case {
        DesktopSize size;
        const char *width, *height;
        int w, h;
    };
    const Case cases[] = {
        {DesktopSize::FitWindowWithMargin, "20", "5", -20, -5},
        {DesktopSize::FitWindowWithMargin, "0", "0", 0, 0},  // opens next time as Fit Window
        {DesktopSize::FitWindowWithMargin, "-2147483648", "5", 2147483647, -5},
        {DesktopSize::Custom, "1600", "900", 1600, 900},
        {DesktopSize::Custom, "", "12px", 0, 12},
        {DesktopSize::Custom, "-20", "0", -20, 0}};
    for (const Case& c : cases) {
        const Properties p = Stored(Shown(c.size, c.width, c.height), Sized(-5, -5, 1));
        EXPECT_EQ(p.DesktopWidth, c.w) << c.width;
        EXPECT_EQ(p.DesktopHeight, c.h) << c.height;
        EXPECT_EQ(p.FullScreen, 0);
    }
    EXPECT_EQ(DisplayMapper::Load(Stored(Shown(DesktopSize::FitWindowWithMargin, "0", "0"))).size,
              DesktopSize::FitWindow);
}

TEST(DisplayMapperTest, FixedSizesFitWindowAndFullScreenStoreTheirOwnSize) {
    for (const DesktopSizeEntry& e : DisplayMapper::SizeEntries()) {
        if (DisplayMapper::ShowsSizeEdits(e.size)) continue;
        // Texts left over from another entry are ignored.
        const Properties p = Stored(Shown(e.size, "1", "2"), Sized(3, 4, 1));
        EXPECT_EQ(p.DesktopWidth, e.width) << e.text;
        EXPECT_EQ(p.DesktopHeight, e.height) << e.text;
        EXPECT_EQ(p.FullScreen, e.size == DesktopSize::FullScreen ? 1 : 0) << e.text;
        EXPECT_EQ(DisplayMapper::Load(p).size, e.size) << e.text;
    }
}

TEST(DisplayMapperTest, ChoosingTheMarginProposesTenPixelsOnlyWhenBothEditsAreEmpty) {
    struct Case {
        DesktopSize chosen;
        const char *width, *height, *expected;
    };
    const Case cases[] = {{DesktopSize::FitWindowWithMargin, "", "", "10x10"},
                          {DesktopSize::FitWindowWithMargin, "1600", "0", "1600x0"},
                          {DesktopSize::FitWindowWithMargin, "5", "", "5x"},
                          {DesktopSize::Custom, "", "", "x"}};
    for (const Case& c : cases) {
        DisplayState s = Shown(DesktopSize::FitWindow, c.width, c.height);
        DisplayMapper::ChooseSize(s, c.chosen);
        EXPECT_EQ(s.size, c.chosen);
        EXPECT_EQ(s.width + "x" + s.height, c.expected);
    }
}

TEST(DisplayMapperTest, ColorDepthAndConsole) {
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
    Properties p;
    p.ConnectToServerConsole = 3;
    DisplayState s = DisplayMapper::Load(p);
    EXPECT_EQ(Stored(s, p).ConnectToServerConsole, 1);
    s.console = false;
    EXPECT_EQ(Stored(s, p).ConnectToServerConsole, 0);
    const Properties defaults;
    EXPECT_TRUE(PropertiesEqual(Stored(DisplayMapper::Load(defaults), defaults), defaults));
}

// A box shows what the session does (any non-zero value redirects); a mode
// outside its list (a hand-edited file) shows no entry and is kept.
TEST(ResourcesMapperTest, FieldsTravelBetweenRecordAndControls) {
    Properties p;
    p.AudioRedirectionMode = 2;
    p.KeyboardHookMode = 0;
    p.RedirectPrinters = 2;
    p.RedirectClipboard = 0;
    p.RedirectPorts = 1;
    p.RedirectSmartCards = -1;
    p.RedirectDrives = 1;
    p.DriveCollection = "D:; $:";
    ResourcesState s = ResourcesMapper::Load(p);
    EXPECT_EQ(s.sound, 2);
    EXPECT_EQ(s.keyboard, 0);
    EXPECT_EQ(std::vector({s.printers, s.clipboard, s.ports, s.smartCards, s.drives}),
              std::vector({true, false, true, true, true}));
    EXPECT_EQ(s.driveList, "D:; $:");

    s = {1, 2, false, true, false, true, false, " e: "};
    ResourcesMapper::Store(s, p);
    EXPECT_EQ(
        std::vector({p.AudioRedirectionMode, p.KeyboardHookMode, p.RedirectPrinters,
                     p.RedirectClipboard, p.RedirectPorts, p.RedirectSmartCards, p.RedirectDrives}),
        std::vector({1, 2, 0, 1, 0, 1, 0}));
    EXPECT_EQ(p.DriveCollection, " e: ") << "the drive list is free text";

    p.AudioRedirectionMode = 3;
    p.KeyboardHookMode = -1;
    s = ResourcesMapper::Load(p);
    EXPECT_EQ(s.sound, std::nullopt);
    EXPECT_EQ(s.keyboard, std::nullopt);
    ResourcesMapper::Store(s, p);
    EXPECT_EQ(p.AudioRedirectionMode, 3);
    EXPECT_EQ(p.KeyboardHookMode, -1);
}

constexpr ExperienceBoxes kAll{true, true, true, true, true, true, true};
constexpr ExperienceBoxes kBroadband{false, false, true, true, true, true, true};

Properties Flags(int flags, int bitmap = 1) {
    Properties p;
    p.PerformanceFlags = flags;
    p.BitmapPersistence = bitmap;
    return p;
}

TEST(ExperienceMapperTest, EachBoxHasItsFlagAndOtherBitsAreCleared) {
    struct Case {
        bool ExperienceBoxes::*box;
        int flagWhenUnchecked;  // the flags with only this box unchecked
    };
    const Case cases[] = {
        {&ExperienceBoxes::background, 0x181},    {&ExperienceBoxes::dragging, 0x182},
        {&ExperienceBoxes::animation, 0x184},     {&ExperienceBoxes::themes, 0x188},
        {&ExperienceBoxes::fontSmoothing, 0x100}, {&ExperienceBoxes::composition, 0x080},
        {&ExperienceBoxes::bitmapCaching, 0x180}};
    for (const Case& c : cases) {
        ExperienceBoxes boxes = kAll;
        boxes.*c.box = false;
        EXPECT_EQ(ExperienceMapper::FlagsFor(boxes), c.flagWhenUnchecked);
        Properties p = Flags(c.flagWhenUnchecked, c.box == &ExperienceBoxes::bitmapCaching ? 0 : 1);
        EXPECT_EQ(ExperienceMapper::BoxesFor(p), boxes) << "and back again";
    }
    ExperienceMapper mapper;
    EXPECT_EQ(mapper.Load(Properties{}), kAll) << "the default record is LAN";
    Properties p = Flags(0x180 | 0x40 | 0x20 | 0x10000);
    ExperienceMapper::Store(mapper.Load(p), p);
    EXPECT_EQ(p.PerformanceFlags, 0x180);
    EXPECT_EQ(p.BitmapPersistence, 1);
    ExperienceMapper::Store(ExperienceBoxes{}, p);
    EXPECT_EQ(p.PerformanceFlags, 0xF);
    EXPECT_EQ(p.BitmapPersistence, 0);
}

TEST(ExperienceMapperTest, TheSpeedFollowsTheBoxes) {
    ExperienceBoxes noCache = kAll, broadbandNoCache = kBroadband, noBackground = kAll;
    noCache.bitmapCaching = broadbandNoCache.bitmapCaching = noBackground.background = false;
    const std::pair<ExperienceBoxes, Speed> cases[] = {
        {kAll, Speed::Lan},
        {kBroadband, Speed::Broadband},
        {ExperienceBoxes{}, Speed::Custom},
        {noCache, Speed::Custom},
        {broadbandNoCache, Speed::Custom},
        {noBackground, Speed::Custom},
        {ExperienceMapper::BoxesFor(Flags(0x101)), Speed::Broadband}};
    for (const auto& [boxes, speed] : cases) EXPECT_EQ(ExperienceMapper::SpeedFor(boxes), speed);
}

TEST(ExperienceMapperTest, PresetsShowTheirBoxesAndCustomBringsBackTheUsersChoice) {
    ExperienceMapper mapper;
    const ExperienceBoxes stored = mapper.Load(Flags(0x8 | 0x100, 0));
    EXPECT_EQ(mapper.SpeedChosen(Speed::Broadband), kBroadband);
    EXPECT_EQ(mapper.SpeedChosen(Speed::Lan), kAll);
    EXPECT_EQ(mapper.SpeedChosen(Speed::Custom), stored) << "the stored settings before any click";
    // A click remembers what the boxes show, preset or not.
    ExperienceBoxes shown = kBroadband;
    shown.themes = false;
    EXPECT_EQ(mapper.BoxClicked(shown), Speed::Custom);
    mapper.SpeedChosen(Speed::Lan);
    EXPECT_EQ(mapper.SpeedChosen(Speed::Custom), shown);
}

}  // namespace
}  // namespace vandrelle
