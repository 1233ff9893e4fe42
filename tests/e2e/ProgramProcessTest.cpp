// SPDX-License-Identifier: GPL-3.0-or-later
// The program itself, started as a user starts it, on a virtual display of
// its own, driven from the keyboard through the display server (xdotool), and
// looked at through screenshots (ImageMagick's import).
#include "Peers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace vandrelle::test {
namespace {

// A copy of the program with its configuration file beside it, as an
// unpacked program keeps it, and the user's folders apart.
class ProgramProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"xdotool", "import", "Xvfb"}) {
            if (Shell(std::string("command -v ") + tool).empty())
                GTEST_SKIP() << tool << " is missing";
        }
        display = std::make_unique<VirtualDisplay>(work, "1280x800x24");
        ASSERT_TRUE(display->ok()) << work.Logs();
        std::filesystem::create_directories(work.file("bin"));
        std::filesystem::copy_file(VANDRELLE_PROGRAM, work.file("bin/vandrelle"));
    }
    void TearDown() override {
        if (HasFailure()) std::cout << work.Logs() << (server ? server->Logs() : "");
    }

    // The program, with one server, "Shadow", on the port; its main window shows.
    void Start(int port, const std::string& settings = "") {
        std::ofstream(Config()) << ShadowConfig(port, settings);
        program = Run();
        window = AwaitWindow("Vandrelle");
        ASSERT_FALSE(window.empty()) << "the main window did not appear";
    }
    std::unique_ptr<ChildProcess> Run() const {
        std::vector<std::string> env = ScratchHome(work.file("home"));
        env.insert(env.end(),
                   {"DISPLAY=" + display->name(), "QT_QPA_PLATFORM=xcb",
                    std::string("LSAN_OPTIONS=suppressions=") + VANDRELLE_LSAN_SUPPRESSIONS});
        return std::make_unique<ChildProcess>(std::vector<std::string>{work.file("bin/vandrelle")},
                                              env, work.file("program.log"));
    }
    std::string Config() const { return work.file("bin/Vandrelle.xml"); }
    std::string KeyStore() const { return work.file("home/xdg/vandrelle/registry.reg"); }

    // A command on the test's display.
    std::string On(const std::string& command) const {
        return Shell("DISPLAY=" + display->name() + " timeout 30 " + command + " 2>/dev/null");
    }
    // What `probe` prints once it prints at least `lines` lines, asked again for
    // a bounded time: a search can fail when a window goes while it looks.
    std::string Await(const std::string& probe, int lines = 1) const {
        std::string found;
        WaitFor(
            [&] {
                found = On(probe);
                return !found.empty() && std::count(found.begin(), found.end(), '\n') + 1 >= lines;
            },
            30000);
        return found;
    }
    std::string AwaitWindow(const std::string& title) const {
        return Await("xdotool search --onlyvisible --name '^" + title + "$'");
    }
    // Whether the program shows a second window of its own (a menu).
    bool AwaitPopup() const {
        return Await("xdotool search --onlyvisible --class '^vandrelle$'", 2).find('\n') !=
               std::string::npos;
    }

    // With the shadow server's entry found by a part of its host (Ctrl+F),
    // opened with Enter and its certificate accepted, the remote desktop shows
    // in the window; then back to the tree, the find bar closed.
    void StartConnected() {
        server = std::make_unique<ShadowServer>();
        ASSERT_TRUE(server->ok()) << server->error();
        ASSERT_NO_FATAL_FAILURE(Start(server->port()));
        On("xdotool windowfocus --sync " + window + " key ctrl+f");
        On("xdotool type 0.0.1");
        On("xdotool key Return");
        ASSERT_FALSE(AwaitWindow("Server certificate").empty());
        On("xdotool key alt+o");  // "Connect &once"
        ASSERT_EQ(AwaitWindow("Shadow - Vandrelle"), window);
        const std::string shot =
            "import -window " + window + " -gravity center -crop 1x1+0+0 txt:-";
        unsigned r = 0, g = 0, b = 0;
        EXPECT_TRUE(WaitFor(
            [&] {
                const std::string pixel = On(shot);
                return std::sscanf(pixel.c_str() + std::min(pixel.find("srgb("), pixel.size()),
                                   "srgb(%u,%u,%u", &r, &g, &b) == 3 &&
                       Served<ShadowServer>(r, g, b);
            },
            10000))
            << "the remote desktop is not in the tab";
        On("xdotool key ctrl+Tab");
        ASSERT_EQ(AwaitWindow("Vandrelle"), window);
        On("xdotool key Escape");
    }
    // Deletes the server selected in the tree, confirmed: only marked in the
    // store, the file follows at the next save.
    void DeleteSelectedServer() const {
        On("xdotool key Delete");
        ASSERT_FALSE(AwaitWindow("Confirm").empty());
        On("xdotool key alt+y");
        ASSERT_TRUE(WaitFor(
            [&] { return On("xdotool search --onlyvisible --name '^Confirm$'").empty(); }, 10000))
            << "the question stayed";
    }

    WorkFolder work{"program"};
    std::unique_ptr<VirtualDisplay> display;
    std::unique_ptr<ShadowServer> server;
    std::unique_ptr<ChildProcess> program;
    std::string window;
};

// A second start hands over to the first and touches no file. A request to end
// (as at log-out) closes without a question and saves what was only marked
// changed (with a dialog open: the main window's test).
TEST_F(ProgramProcessTest, ASecondStartHandsOverAndARequestToEndSaves) {
    ASSERT_NO_FATAL_FAILURE(Start(FreePort(), "<SingleInstance>1</SingleInstance>"));
    const auto files = [this] {
        struct stat config {};
        ::stat(Config().c_str(), &config);
        return ReadText(Config()) + ReadText(KeyStore()) + std::to_string(config.st_mtim.tv_nsec);
    };
    const std::string before = files();
    EXPECT_EQ(Run()->ExitCode(20000), 0);
    EXPECT_EQ(files(), before);
    EXPECT_EQ(On("xdotool search --onlyvisible --name '^Vandrelle$'"), window);

    On("xdotool windowfocus --sync " + window + " key Down Down");
    ASSERT_NO_FATAL_FAILURE(DeleteSelectedServer());
    ::kill(program->pid(), SIGTERM);
    EXPECT_EQ(program->ExitCode(20000), 0);
    EXPECT_EQ(ReadText(Config()).find("Shadow"), std::string::npos);
}

// The window menu (F10: window managers take Alt+Space) and its "&Close" ask
// before closing the connected session. The display goes away meanwhile: the
// program ends with Qt's code for it, without a crash, its configuration saved.
TEST_F(ProgramProcessTest, AServerOpensFromTheKeyboardAndALostDisplayEndsAsACloseDoes) {
    ASSERT_NO_FATAL_FAILURE(StartConnected());
    ASSERT_NO_FATAL_FAILURE(DeleteSelectedServer());
    On("xdotool key F10");
    ASSERT_TRUE(AwaitPopup()) << "the window menu did not open";
    On("xdotool key c");
    ASSERT_FALSE(AwaitWindow("Quit Vandrelle").empty());
    display.reset();
    EXPECT_EQ(program->ExitCode(20000), 1);
    EXPECT_EQ(ReadText(Config()).find("Shadow"), std::string::npos);
}

}  // namespace
}  // namespace vandrelle::test
