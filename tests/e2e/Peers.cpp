// SPDX-License-Identifier: GPL-3.0-or-later
#include "Peers.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace vandrelle::test {
namespace {

// What `ss` lists of the TCP sockets on that local port, with their processes.
std::string Sockets(const std::string& options, int port) {
    return Shell("ss -Hn" + options + " 'sport = :" + std::to_string(port) + "'");
}

std::string DisplayLock(int display) {
    return "/tmp/.X" + std::to_string(display) + "-lock";
}
std::string DisplaySocket(int display) {
    return "/tmp/.X11-unix/X" + std::to_string(display);
}
// The PID an X server wrote into the display's lock file, 0 when there is none.
pid_t DisplayLockHolder(int display) {
    return static_cast<pid_t>(std::atoi(ReadText(DisplayLock(display)).c_str()));
}

// A number at random in [low, high) for which `free` holds.
int FreeNumber(int low, int high, const std::function<bool(int)>& free) {
    static std::mt19937 generator{std::random_device{}()};
    for (int i = 0; i < 1000; ++i) {
        const int n = std::uniform_int_distribution<int>(low, high - 1)(generator);
        if (free(n)) return n;
    }
    throw std::runtime_error("no free port or display found");
}

}  // namespace

std::vector<std::string> ScratchHome(const std::string& home) {
    std::filesystem::create_directories(home + "/xdg");
    std::filesystem::create_directories(home + "/runtime");
    ::chmod((home + "/runtime").c_str(), 0700);
    return {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/xdg",
            "XDG_RUNTIME_DIR=" + home + "/runtime"};
}

void UseScratchHome(const std::string& home) {
    for (const std::string& var : ScratchHome(home)) {
        const auto eq = var.find('=');
        ::setenv(var.substr(0, eq).c_str(), var.c_str() + eq + 1, 1);
    }
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, pipe)) out += buf;
        ::pclose(pipe);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env, const std::string& log) {
    // Everything the child needs is made before the fork: it may not allocate.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> vars = env;
    const int out = ::open(log.empty() ? "/dev/null" : log.c_str(),
                           O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    // The write end closes on exec: until the read below sees its end, the
    // child still holds the parent's descriptors (a listening socket, say).
    int started[2] = {-1, -1};
    if (::pipe2(started, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test that crashes leaves no peers behind
        if (::getppid() != parent) ::_exit(127);
        for (std::string& e : vars) ::putenv(e.data());
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(started[1]);
    char none = 0;
    while (m_pid > 0 && ::read(started[0], &none, 1) < 0 && errno == EINTR) {
    }
    ::close(started[0]);
    ::close(out);
}

// Asks first, so that an X server removes its lock and socket.
void ChildProcess::Kill() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    if (!WaitFor([this] { return !Running(); }, 1000)) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
}

bool ChildProcess::Running() {
    if (m_pid > 0 && ::waitpid(m_pid, &m_status, WNOHANG) == m_pid) m_pid = -1;
    return m_pid > 0;
}

int ChildProcess::ExitCode(int ms) {
    if (!WaitFor([this] { return !Running(); }, ms)) return -1;
    return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : 128 + WTERMSIG(m_status);
}

std::unique_ptr<ChildProcess> StartReady(const std::vector<std::string>& argv,
                                         const std::vector<std::string>& env,
                                         const std::string& log,
                                         const std::function<bool(pid_t)>& ready) {
    auto child = std::make_unique<ChildProcess>(argv, env, log);
    const auto up = [&] { return child->Running() && ready(child->pid()); };
    if (WaitFor([&] { return up() || !child->Running(); }, 5000) && up()) return child;
    return nullptr;
}

bool ListensOn(pid_t pid, int port) {
    return Sockets("ltp", port).find("pid=" + std::to_string(pid) + ",") != std::string::npos;
}

WorkFolder::WorkFolder(const std::string& kind) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("vandrelle-" + kind + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

WorkFolder::~WorkFolder() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string WorkFolder::Logs(const std::vector<std::string>& more) const {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_path, ec)) {
        if (entry.path().extension() == ".log") files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    std::copy_if(more.begin(), more.end(), std::back_inserter(files),
                 [&](const std::string& f) { return std::filesystem::exists(f, ec); });
    std::string text;
    for (const std::string& f : files) text += "---- " + f + " ----\n" + ReadText(f) + "\n";
    return text;
}

bool ProcessAlive(pid_t pid) {
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno != EPERM)) return false;
    // The state follows the name, which is in parentheses and may hold spaces.
    const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
    const auto end = stat.rfind(')');
    return end == std::string::npos || stat.compare(end, 3, ") Z") != 0;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

int FreePort() {
    return FreeNumber(20000, 32000, [](int port) { return Sockets("ta", port).empty(); });
}

int FreeDisplay() {
    return FreeNumber(200, 1000, DisplayFree);
}

bool DisplayFree(int display) {
    std::error_code ec;
    return !std::filesystem::exists(DisplayLock(display), ec) &&
           !std::filesystem::exists(DisplaySocket(display), ec);
}

void RemoveDisplayLeftovers(int display) {
    if (display <= 0 || ProcessAlive(DisplayLockHolder(display))) return;
    std::error_code ec;
    std::filesystem::remove(DisplayLock(display), ec);
    std::filesystem::remove(DisplaySocket(display), ec);
}

std::string ShadowConfig(int port, const std::string& settings) {
    return "<?xml version=\"1.0\"?><Vandrelle><Servers><Server><Name>Shadow</Name>"
           "<Server>127.0.0.1</Server><InheritGeneral>0</InheritGeneral><RDPPort>" +
           std::to_string(port) +
           "</RDPPort><ColorDepth>32</ColorDepth><DesktopWidth>800</DesktopWidth>"
           "<DesktopHeight>600</DesktopHeight><AudioRedirectionMode>2</AudioRedirectionMode>"
           "</Server></Servers><Settings>" +
           settings + "</Settings></Vandrelle>\n";
}

VirtualDisplay::VirtualDisplay(WorkFolder& work, const std::string& size) {
    for (int attempt = 0; attempt < 5 && !m_xvfb; ++attempt) {
        m_number = FreeDisplay();
        m_name = ":" + std::to_string(m_number);
        // Held: its lock file names it and the socket exists.
        m_xvfb =
            StartReady({"Xvfb", m_name, "-screen", "0", size, "-nolisten", "tcp", "-noreset"}, {},
                       work.file("xvfb-" + std::to_string(m_number) + ".log"), [this](pid_t pid) {
                           std::error_code ec;
                           return DisplayLockHolder(m_number) == pid &&
                                  std::filesystem::exists(DisplaySocket(m_number), ec);
                       });
    }
}

VirtualDisplay::~VirtualDisplay() {
    m_xvfb.reset();
    RemoveDisplayLeftovers(m_number);
}

ShadowServer::ShadowServer(std::vector<std::string> extraArgs) {
    m_display = std::make_unique<VirtualDisplay>(m_work, "1024x768x24");
    // The socket can appear before the server takes clients: tried until the colour is set.
    const std::string paint = "DISPLAY=" + display() + " xsetroot -solid '#3060a0' 2>/dev/null";
    if (!m_display->ok() || !WaitFor([&] { return std::system(paint.c_str()) == 0; }, 5000)) {
        m_error = "no display of the served colour";
        return;
    }
    for (int attempt = 0; attempt < 5 && !m_server; ++attempt) {
        m_port = FreePort();
        std::vector<std::string> argv = {"freerdp-shadow-cli3", "/bind-address:127.0.0.1",
                                         "/port:" + std::to_string(m_port)};
        argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
        m_server = StartReady(argv, {"DISPLAY=" + display(), "HOME=" + m_work.path()},
                              m_work.file("shadow-server.log"),
                              [this](pid_t pid) { return ListensOn(pid, m_port); });
    }
    if (!m_server) m_error = "the shadow server did not listen";
}

InputWatch::InputWatch(const std::string& display) : m_display(XOpenDisplay(display.c_str())) {
    if (!m_display) return;
    XSelectInput(m_display, DefaultRootWindow(m_display), ButtonPressMask);
    XSync(m_display, False);
}

InputWatch::~InputWatch() {
    if (m_display) XCloseDisplay(m_display);
}

bool InputWatch::Read(InputState* state) {
    if (!m_display) return false;
    Window root = 0, child = 0;
    int wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryKeymap(m_display, state->keys);
    return XQueryPointer(m_display, DefaultRootWindow(m_display), &root, &child, &state->x,
                         &state->y, &wx, &wy, &mask) &&
           XkbGetIndicatorState(m_display, XkbUseCoreKbd, &state->indicators) == Success;
}

int InputWatch::Presses(unsigned button) {
    if (!m_display) return -1;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == ButtonPress) m_presses.push_back(event.xbutton.button);
    }
    return static_cast<int>(std::count(m_presses.begin(), m_presses.end(), button));
}

}  // namespace vandrelle::test
