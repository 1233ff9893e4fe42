// SPDX-License-Identifier: GPL-3.0-or-later
// The pages' rules without a window: what a record shows as, the General
// checks in their order, and what is stored back.
#include "DisplayMapper.h"
#include "ExperienceMapper.h"
#include "GeneralMapper.h"
#include "RecordText.h"
#include "ResourcesMapper.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <tuple>

namespace vandrelle {
namespace {

enum class Mode { Server, Group, Root };

GeneralMapper Mapper(Mode mode = Mode::Server) {
    return GeneralMapper(
        GeneralMode{mode == Mode::Group, mode == Mode::Root, {"Office", "db 1", ""}});
}

using test::RecordFrom;

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
    std::string out;
    for (const GeneralProblem& p :
         Mapper(mode).Validate({name, server, "", "", "", port, "", inherit}))
        out += kinds.at(p.message);
    return out;
}

// Load shows the edits' line breaks and takes any non-zero InheritGeneral as
// inheriting, as every reader does; Store trims names, keeps log-on texts as
// typed and writes the record's line breaks. An untouched record stores
// unchanged, a group's hidden server too.
TEST(GeneralMapperTest, LoadStoreAndAutoFillKeepWhatWasNotEdited) {
    GeneralMapper mapper = Mapper();
    Properties p = RecordFrom("Name=web Server=web.example RDPPort=-5 InheritGeneral=-1");
    p.Description = "one\r\ntwo\rthree\nfour";
    GeneralState s = mapper.Load(p);
    EXPECT_EQ(s.port + "|" + s.description, "-5|one\ntwo\nthree\nfour");
    EXPECT_TRUE(s.inherit);

    s = {"  web 1\t", " web.example ", " u ", " p ", "d", "3390", "a\nb\n", false};
    mapper.Store(s, p);
    EXPECT_EQ(p.Name + "|" + p.Server + "|" + p.UserName + "|" + p.Password + "|" + p.Domain + "|" +
                  p.Description + "|" + std::to_string(p.RDPPort) + "," +
                  std::to_string(p.InheritGeneral),
              "web 1|web.example| u | p |d|a\r\nb\r\n|3390,0");
    s.inherit = true;
    s.port = "";
    mapper.Store(s, p);
    EXPECT_EQ(std::vector({p.RDPPort, p.InheritGeneral}), std::vector({3390, 1}))
        << "a port that is no number is not written";

    p = RecordFrom("Name=web Server=web.example");
    p.Description = "line 1\r\nline 2";
    Properties stored = p;
    mapper.Store(mapper.Load(p), stored);
    EXPECT_TRUE(PropertiesEqual(stored, p));
    GeneralMapper group = Mapper(Mode::Group);
    p.Server = " kept ";
    group.Store(group.Load(p), stored);
    EXPECT_EQ(stored.Server, " kept ");

    // The server of a new record follows the name until it is edited.
    mapper.Load(Properties{});
    EXPECT_EQ(mapper.ServerForName("db1"), "db1");
    mapper.ServerEdited();
    EXPECT_EQ(mapper.ServerForName("db12"), std::nullopt);
    mapper.Load(RecordFrom("Name=web Server=web.example"));
    EXPECT_EQ(mapper.ServerForName("web2"), std::nullopt);
}

// A port is a number from 1 to 65535 after blanks (no number only beeps);
// one colon in a server is a port, more are an IPv6 address; names are
// compared exactly after trimming, an empty one is not also a duplicate.
TEST(GeneralMapperTest, ChecksAndTheirOrder) {
    const char* const cases[][4] = {
        // name, server, port, problems
        {"new", "h", "12abc", "p"},   {"new", "h", "99999999999", "p"},
        {"new", "h", "0", "r"},       {"new", "h", "65536", "r"},
        {"new", "h", "65535", ""},    {"new", "h", " +3390", ""},
        {"new", " host: ", "1", "c"}, {"new", "2001:db8::1:3389", "1", ""},
        {"  Office ", "h", "1", "d"}, {"office", "h", "1", ""},
        {" ", " ", "0", "rns"}};
    for (const auto& [name, server, port, problems] : cases)
        EXPECT_EQ(Check(name, server, port), problems) << name << server << port;
    EXPECT_EQ(Check("new", "h", "0", Mode::Server, true), "") << "an inherited port is not ours";
    EXPECT_EQ(Check("Lab", "host:1", "1", Mode::Group), "") << "a group has no server";
    EXPECT_EQ(Check("Office", "", "70000", Mode::Group), "rd");
    EXPECT_EQ(Check("Office", "", "1", Mode::Root), "") << "the root has no siblings";
}

// The entry a record opens with and what the page stores back: the leading
// number of each edit's text, a margin as negative numbers; other entries
// store their own size, whatever the edits hold.
TEST(DisplayMapperTest, SizesTravelBetweenRecordAndPageAndTheMarginIsProposed) {
    constexpr int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
    // The record's width, height and full screen, the entry and the edits'
    // texts, and whether the row is checked loading and storing.
    const std::tuple<int, int, int, DesktopSize, std::string, std::string, bool, bool> cases[] = {
        {0, 0, 0, DesktopSize::FitWindow, "", "", true, true},
        {-20, -30, 0, DesktopSize::FitWindowWithMargin, "20", "30", true, true},
        {-20, 0, 0, DesktopSize::Custom, "-20", "0", true, true},
        {1024, 768, 0, DesktopSize::Size1024x768, "", "", true, true},
        {kMin, -1, 0, DesktopSize::FitWindowWithMargin, "2147483647", "1", true, false},
        {kMax, -5, 0, DesktopSize::FitWindowWithMargin, "-2147483648", "5x", false, true},
        {-20, -30, 7, DesktopSize::FullScreen, "", "", true, false},  // wins over any size
        {0, 0, 1, DesktopSize::FullScreen, "1", "2", false, true}};
    for (const auto& [w, h, fullScreen, size, width, height, load, store] : cases) {
        Properties p =
            RecordFrom("DesktopWidth=" + std::to_string(w) + " DesktopHeight=" + std::to_string(h) +
                       " FullScreen=" + std::to_string(fullScreen));
        const DisplayState s = DisplayMapper::Load(p);
        if (load) {
            EXPECT_EQ(s.size, size) << w << " x " << h;
            EXPECT_EQ(s.width + "x" + s.height, width + "x" + height);
        }
        if (!store) continue;
        DisplayMapper::Store({size, width, height, {}, false},
                             p = RecordFrom("DesktopWidth=-5 DesktopHeight=-5 FullScreen=1"));
        EXPECT_EQ(std::vector({p.DesktopWidth, p.DesktopHeight, p.FullScreen}),
                  std::vector({w, h, fullScreen}))
            << width << " x " << height;
    }
    // Choosing the margin proposes ten pixels only when both edits are empty.
    for (const auto& [chosen, width, expected] :
         {std::tuple{DesktopSize::FitWindowWithMargin, "", "10x10"},
          std::tuple{DesktopSize::FitWindowWithMargin, "5", "5x"}}) {
        DisplayState s;
        s.width = width;
        DisplayMapper::ChooseSize(s, chosen);
        EXPECT_EQ(s.size, chosen);
        EXPECT_EQ(s.width + "x" + s.height, expected);
    }
}

// A box shows what the session does (any non-zero value redirects); a depth
// or mode outside its list (a hand-edited file) shows no entry and is kept by
// an OK that did not touch it.
TEST(ResourcesMapperTest, FieldsTravelBetweenRecordAndControls) {
    Properties p = RecordFrom(
        "ColorDepth=12 ConnectToServerConsole=3 AudioRedirectionMode=0 KeyboardHookMode=3 "
        "RedirectPrinters=2 RedirectClipboard=0 RedirectSmartCards=-1");
    p.DriveCollection = "D:; $:";
    const DisplayState display = DisplayMapper::Load(p);
    EXPECT_EQ(display.colorDepth, std::nullopt);
    DisplayMapper::Store(display, p);
    EXPECT_EQ(std::vector({p.ColorDepth, p.ConnectToServerConsole}), std::vector({12, 1}));
    ResourcesState s = ResourcesMapper::Load(p);
    EXPECT_EQ(std::vector({s.sound, s.keyboard}), std::vector<std::optional<int>>({0, {}}));
    EXPECT_EQ(std::vector({s.printers, s.clipboard, s.smartCards}),
              std::vector({true, false, true}));
    EXPECT_EQ(s.driveList, "D:; $:");
    ResourcesMapper::Store(s, p);
    EXPECT_EQ(p.KeyboardHookMode, 3);

    s = {1, 2, false, true, false, true, false, " e: "};
    ResourcesMapper::Store(s, p);
    EXPECT_EQ(
        std::vector({p.AudioRedirectionMode, p.KeyboardHookMode, p.RedirectPrinters,
                     p.RedirectClipboard, p.RedirectPorts, p.RedirectSmartCards, p.RedirectDrives}),
        std::vector({1, 2, 0, 1, 0, 1, 0}));
    EXPECT_EQ(p.DriveCollection, " e: ") << "the drive list is free text";
}

constexpr ExperienceBoxes kAll{true, true, true, true, true, true, true};
constexpr ExperienceBoxes kBroadband{false, false, true, true, true, true, true};

Properties Flags(int flags, int bitmap = 1) {
    return RecordFrom("PerformanceFlags=" + std::to_string(flags) +
                      " BitmapPersistence=" + std::to_string(bitmap));
}

// Each box has its flag and other bits are cleared. The speed follows the
// boxes; a preset shows its boxes and Custom, before any click, brings back
// the stored settings.
TEST(ExperienceMapperTest, BoxesFlagsAndSpeeds) {
    const std::pair<bool ExperienceBoxes::*, int> unchecked[] = {
        {&ExperienceBoxes::dragging, 0x182},
        {&ExperienceBoxes::fontSmoothing, 0x100},
        {&ExperienceBoxes::bitmapCaching, 0x180}};  // the flags with only this box unchecked
    for (const auto& [box, flags] : unchecked) {
        ExperienceBoxes boxes = kAll;
        boxes.*box = false;
        EXPECT_EQ(ExperienceMapper::FlagsFor(boxes), flags);
        const Properties p = Flags(flags, box == &ExperienceBoxes::bitmapCaching ? 0 : 1);
        EXPECT_EQ(ExperienceMapper::BoxesFor(p), boxes) << "and back again";
        EXPECT_EQ(ExperienceMapper::SpeedFor(boxes), Speed::Custom);
    }
    ExperienceMapper mapper;
    EXPECT_EQ(mapper.Load(Properties{}), kAll) << "the default record is LAN";
    EXPECT_EQ(ExperienceMapper::SpeedFor(kAll), Speed::Lan);
    EXPECT_EQ(ExperienceMapper::SpeedFor(ExperienceMapper::BoxesFor(Flags(0x101))),
              Speed::Broadband);
    Properties p = Flags(0x180 | 0x40 | 0x20 | 0x10000);
    ExperienceMapper::Store(mapper.Load(p), p);
    EXPECT_EQ(std::vector({p.PerformanceFlags, p.BitmapPersistence}), std::vector({0x180, 1}));
    ExperienceMapper::Store(ExperienceBoxes{}, p);
    EXPECT_EQ(std::vector({p.PerformanceFlags, p.BitmapPersistence}), std::vector({0xF, 0}));

    const ExperienceBoxes stored = mapper.Load(Flags(0x8 | 0x100, 0));
    EXPECT_EQ(mapper.SpeedChosen(Speed::Broadband), kBroadband);
    EXPECT_EQ(mapper.SpeedChosen(Speed::Lan), kAll);
    EXPECT_EQ(mapper.SpeedChosen(Speed::Custom), stored) << "the stored settings before any click";
}

}  // namespace
}  // namespace vandrelle
