// SPDX-License-Identifier: GPL-3.0-or-later
// The program itself, started as a user starts it, on a virtual display of
// its own, driven from the keyboard through the display server (xdotool), and
// looked at through screenshots (ImageMagick's import).
#include "Peers.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

namespace vandrelle::test {
namespace {

using namespace std::chrono_literals;

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, pipe)) out += buf;
        ::pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

bool HasTool(const char* tool) {
    return Shell(std::string("command -v ") + tool) != "";
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The program's folder: a copy of the program with its configuration file
// beside it, as an unpacked program keeps it; the user's folders apart.
class ProgramFolder {
public:
    explicit ProgramFolder(const std::string& settings, int port) {
        std::filesystem::create_directories(dir.file("bin"));
        std::filesystem::create_directories(dir.file("home/xdg"));
        std::filesystem::create_directories(dir.file("runtime"));
        ::chmod(dir.file("runtime").c_str(), 0700);
        std::filesystem::copy_file(VANDRELLE_PROGRAM, Program());
        std::ofstream(Config()) << "<?xml version=\"1.0\"?><Vandrelle><Servers><Server>"
                                   "<Name>Shadow</Name><Server>127.0.0.1</Server>"
                                   "<InheritGeneral>0</InheritGeneral><RDPPort>"
                                << port
                                << "</RDPPort><ColorDepth>32</ColorDepth>"
                                   "<AudioRedirectionMode>2</AudioRedirectionMode>"
                                   "</Server></Servers><Settings>"
                                << settings << "</Settings></Vandrelle>\n";
    }
    std::string Program() const { return dir.file("bin/vandrelle"); }
    std::string Config() const { return dir.file("bin/Vandrelle.xml"); }
    std::string KeyStore() const { return dir.file("home/xdg/vandrelle/registry.reg"); }
    std::vector<std::string> Environment(const std::string& display) const {
        return {"DISPLAY=" + display,
                "HOME=" + dir.file("home"),
                "XDG_CONFIG_HOME=" + dir.file("home/xdg"),
                "XDG_RUNTIME_DIR=" + dir.file("runtime"),
                "QT_QPA_PLATFORM=xcb",
                std::string("LSAN_OPTIONS=suppressions=") + VANDRELLE_LSAN_SUPPRESSIONS};
    }

    TempDir dir;
};

// A started program whose exit the test waits for.
class Started {
public:
    Started(const std::string& program, const std::vector<std::string>& environment) {
        m_pid = ::fork();
        if (m_pid == 0) {
            for (const std::string& e : environment) ::putenv(const_cast<char*>(e.c_str()));
            ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Started() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    // The exit code, or -1 when it did not end within `timeout`.
    int WaitForExit(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(50ms);
        }
        return -1;
    }
    void Signal(int signal) { ::kill(m_pid, signal); }

private:
    pid_t m_pid = -1;
};

// The centre of a window's picture, as ImageMagick reads it.
bool CentreNear(const std::string& shot, unsigned red, unsigned green, unsigned blue) {
    unsigned r = 0, g = 0, b = 0;
    const auto srgb = shot.find("srgb(");
    if (srgb == std::string::npos ||
        std::sscanf(shot.c_str() + srgb, "srgb(%u,%u,%u", &r, &g, &b) != 3) {
        return false;
    }
    auto close = [](unsigned x, unsigned y) { return (x > y ? x - y : y - x) <= 16; };
    return close(r, red) && close(g, green) && close(b, blue);
}

class ProgramProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"xdotool", "import", "Xvfb"}) {
            if (!HasTool(tool)) GTEST_SKIP() << tool << " is not installed";
        }
        display = std::make_unique<VirtualDisplay>(work, "1280x800x24");
        ASSERT_TRUE(display->ok()) << work.Logs();
    }

    // The X display commands of the test run on.
    std::string On(const std::string& command) const {
        return Shell("DISPLAY=" + display->name() + " timeout 30 " + command + " 2>/dev/null");
    }
    // The visible windows a search finds, asked again until there are some
    // (bounded): a search can fail when a window goes while it looks.
    std::string WaitFor(const std::string& search) const {
        std::string found;
        for (int i = 0; i < 300 && found.empty(); ++i) {
            found = On("xdotool search --onlyvisible " + search);
            if (found.empty()) std::this_thread::sleep_for(100ms);
        }
        return found;
    }
    std::string WaitForWindow(const std::string& title) const {
        return WaitFor("--name '^" + title + "$'");
    }
    // Waits until the program shows a second window of its own (a menu).
    bool WaitForPopup() const {
        for (int i = 0; i < 100; ++i) {
            const std::string windows = On("xdotool search --onlyvisible --class '^vandrelle$'");
            if (std::count(windows.begin(), windows.end(), '\n') >= 1) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    // Opens the shadow server's entry from the keyboard and accepts its
    // certificate; the remote desktop shows in the window.
    void OpenShadowSession(const std::string& window) const {
        On("xdotool windowfocus --sync " + window + " key Down Down Return");
        ASSERT_FALSE(WaitForWindow("Server certificate").empty());
        On("xdotool key alt+o");  // "Connect &once"
        ASSERT_EQ(WaitForWindow("Shadow - Vandrelle"), window);
        const std::string size = On("xdotool getwindowgeometry --shell " + window);
        int width = 0, height = 0;
        ASSERT_EQ(std::sscanf(size.c_str() + size.find("WIDTH="), "WIDTH=%d", &width), 1);
        ASSERT_EQ(std::sscanf(size.c_str() + size.find("HEIGHT="), "HEIGHT=%d", &height), 1);
        const std::string crop =
            "-crop 1x1+" + std::to_string(width / 2) + "+" + std::to_string(height / 2);
        bool shown = false;
        for (int i = 0; i < 100 && !shown; ++i) {
            shown = CentreNear(On("import -window " + window + " " + crop + " txt:-"),
                               ShadowServer::kRed, ShadowServer::kGreen, ShadowServer::kBlue);
            if (!shown) std::this_thread::sleep_for(100ms);
        }
        EXPECT_TRUE(shown) << "the remote desktop is not in the tab";
    }
    // Deletes the server selected in the tree, confirmed: only marked in the
    // store, the file follows at the next save.
    void DeleteSelectedServer() const {
        On("xdotool key Delete");
        ASSERT_FALSE(WaitForWindow("Confirm").empty());
        On("xdotool key alt+y");
        const std::string question = "xdotool search --onlyvisible --name '^Confirm$'";
        for (int i = 0; i < 100 && !On(question).empty(); ++i) std::this_thread::sleep_for(100ms);
        ASSERT_EQ(On(question), "") << "the question stayed";
    }

    WorkFolder work{"program"};
    std::unique_ptr<VirtualDisplay> display;
};

TEST_F(ProgramProcessTest, AServerOpensFromTheKeyboardAndTheProgramQuitsThroughTheQuestion) {
    ShadowServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    ProgramFolder folder("", server.port());
    Started program(folder.Program(), folder.Environment(display->name()));
    const std::string window = WaitForWindow("Vandrelle");
    ASSERT_FALSE(window.empty()) << "the main window did not appear";
    // Shift+F10, the menu key of keyboards without a Menu key, comes as a key on X.
    On("xdotool windowfocus --sync " + window + " key shift+F10");
    ASSERT_TRUE(WaitForPopup()) << "the tree's menu did not open";
    On("xdotool key Escape");
    ASSERT_NO_FATAL_FAILURE(OpenShadowSession(window));

    // Back to the tree, the window menu (F10: window managers take Alt+Space),
    // "&Close", and Yes to the question.
    On("xdotool key ctrl+Tab");
    On("xdotool key F10");
    ASSERT_TRUE(WaitForPopup()) << "the window menu did not open";
    On("xdotool key c");
    ASSERT_FALSE(WaitForWindow("Quit Vandrelle").empty());
    On("xdotool key Return");
    EXPECT_EQ(program.WaitForExit(20s), 0);
    EXPECT_NE(Slurp(folder.KeyStore()).find("\"WindowPos\"=hex:"), std::string::npos);
}

TEST_F(ProgramProcessTest, ASecondStartHandsOverToTheFirstAndTouchesNoFile) {
    ProgramFolder folder("<SingleInstance>1</SingleInstance>", FreePort());
    Started first(folder.Program(), folder.Environment(display->name()));
    ASSERT_FALSE(WaitForWindow("Vandrelle").empty());
    const std::string config = Slurp(folder.Config()), keys = Slurp(folder.KeyStore());
    struct stat before {};
    ASSERT_EQ(::stat(folder.Config().c_str(), &before), 0);

    Started second(folder.Program(), folder.Environment(display->name()));
    EXPECT_EQ(second.WaitForExit(20s), 0);
    struct stat after {};
    ASSERT_EQ(::stat(folder.Config().c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(Slurp(folder.Config()), config);
    EXPECT_EQ(Slurp(folder.KeyStore()), keys);
    EXPECT_EQ(Shell("DISPLAY=" + display->name() +
                    " xdotool search --onlyvisible --name '^Vandrelle$' | wc -l"),
              "1");

    // A request to end (as at log-out) closes without a question, also while
    // a dialog is open (cancelled), and saves what was only marked changed.
    On("xdotool windowfocus --sync " + WaitForWindow("Vandrelle") + " key Down Down");
    ASSERT_NO_FATAL_FAILURE(DeleteSelectedServer());
    On("xdotool windowfocus --sync " + WaitForWindow("Vandrelle") + " key Home Menu");
    ASSERT_TRUE(WaitForPopup()) << "the tree's menu did not open";
    On("xdotool key p");  // "&Properties"
    ASSERT_FALSE(WaitForWindow("Properties of Servers").empty());
    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitForExit(20s), 0);
    EXPECT_EQ(Slurp(folder.Config()).find("Shadow"), std::string::npos);
}

// The display goes away under a connected session: the program ends with
// Qt's code for it, without a crash, its configuration saved.
TEST_F(ProgramProcessTest, LosingTheDisplayEndsAsACloseDoes) {
    ShadowServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    ProgramFolder folder("", server.port());
    Started program(folder.Program(), folder.Environment(display->name()));
    const std::string window = WaitForWindow("Vandrelle");
    ASSERT_FALSE(window.empty()) << "the main window did not appear";
    ASSERT_NO_FATAL_FAILURE(OpenShadowSession(window));
    On("xdotool key ctrl+Tab");
    ASSERT_EQ(WaitForWindow("Vandrelle"), window);  // back to the tree
    ASSERT_NO_FATAL_FAILURE(DeleteSelectedServer());
    display.reset();
    EXPECT_EQ(program.WaitForExit(20s), 1);
    EXPECT_EQ(Slurp(folder.Config()).find("Shadow"), std::string::npos);
}

}  // namespace
}  // namespace vandrelle::test
