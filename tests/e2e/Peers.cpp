// SPDX-License-Identifier: GPL-3.0-or-later
#include "Peers.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vandrelle::test {
namespace {

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        // A test that crashes must not leave its servers behind.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
        // Quiet peers: their output is not part of the test's.
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
}

ChildProcess::~ChildProcess() {
    Kill();
}

// Asks first, so that an X server removes its lock and socket; forces after a second.
void ChildProcess::Kill() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        Sleep(10);
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

bool PointerPosition(const std::string& display, int* x, int* y) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return false;
    Window root = 0, child = 0;
    int wx = 0, wy = 0;
    unsigned mask = 0;
    const bool ok = XQueryPointer(d, DefaultRootWindow(d), &root, &child, x, y, &wx, &wy, &mask);
    XCloseDisplay(d);
    return ok;
}

std::string XrdpServer::Unavailable() {
    if (::geteuid() != 0) return "making the test user needs root";
    for (const char* tool : {"/usr/sbin/xrdp", "/usr/sbin/xrdp-sesman", "/usr/bin/xclock"}) {
        if (::access(tool, X_OK) != 0) return std::string(tool) + " is not installed";
    }
    return {};
}

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// The copy of a configuration file with some of its lines replaced.
void Rewrite(const std::string& from, const std::string& to,
             const std::vector<std::pair<std::string, std::string>>& lines) {
    std::istringstream in(ReadText(from));
    std::string out, line;
    while (std::getline(in, line)) {
        for (const auto& [old, replacement] : lines) {
            if (line == old) line = replacement;
        }
        out += line + "\n";
    }
    WriteText(to, out);
}

}  // namespace

XrdpServer::XrdpServer() {
    if (const std::string why = Unavailable(); !why.empty()) {
        m_error = why;
        return;
    }
    const std::string user = kUser, password = kPassword;
    const std::string setup =
        "id " + user + " >/dev/null 2>&1 || useradd -m " + user + " && echo '" + user + ":" +
        password + "' | chpasswd && home=$(getent passwd " + user +
        " | cut -d: -f6) && printf '#!/bin/sh\\nxsetroot -solid \"#208040\"\\nexec xclock -update "
        "1\\n' "
        "> \"$home/.xsession\" && chmod 755 \"$home/.xsession\" && "
        "echo 'SSH_AUTH_SOCK=/dev/null; export SSH_AUTH_SOCK' > \"$home/.xsessionrc\" && "
        "chown " +
        user +
        " \"$home/.xsession\" \"$home/.xsessionrc\" && "
        "sh /usr/share/xrdp/socksetup";
    if (std::system(setup.c_str()) != 0) {
        m_error = "could not prepare the test user";
        return;
    }
    m_work =
        (std::filesystem::temp_directory_path() / ("vandrelle-xrdp-" + std::to_string(::getpid())))
            .string();
    std::filesystem::create_directories(m_work);
    m_port = 44000 + static_cast<int>(::getpid() % 500);
    Rewrite("/etc/xrdp/xrdp.ini", m_work + "/xrdp.ini",
            {{"port=3389", "port=tcp://127.0.0.1:" + std::to_string(m_port)},
             {"fork=true", "fork=false"},
             {"#hidelogwindow=true", "hidelogwindow=true"},
             {"#require_credentials=true", "require_credentials=true"},
             {"LogFile=xrdp.log", "LogFile=" + m_work + "/xrdp.log"},
             {"EnableSyslog=true", "EnableSyslog=false"}});
    Rewrite("/etc/xrdp/sesman.ini", m_work + "/sesman.ini",
            {{"LogFile=xrdp-sesman.log", "LogFile=" + m_work + "/sesman.log"},
             {"EnableSyslog=true", "EnableSyslog=false"}});
    m_sesman = new ChildProcess({"xrdp-sesman", "--nodaemon", "-c", m_work + "/sesman.ini"});
    m_xrdp = new ChildProcess({"xrdp", "--nodaemon", "-c", m_work + "/xrdp.ini"});
    for (int i = 0; i < 100 && !PortListening(m_port); ++i) Sleep(50);
    m_ok = PortListening(m_port);
    if (!m_ok) m_error = "xrdp did not listen on port " + std::to_string(m_port);
}

pid_t XrdpServer::WindowManagerPid() const {
    const std::string log = ReadText(m_work + "/sesman.log");
    const std::string marker = "window manager (pid ";
    const auto at = log.rfind(marker);
    if (at == std::string::npos) return 0;
    const pid_t pid = std::atoi(log.c_str() + at + marker.size());
    return pid > 0 && ::kill(pid, 0) == 0 ? pid : 0;
}

bool XrdpServer::LogOffSession() {
    const pid_t pid = WindowManagerPid();
    if (pid <= 0) return false;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i) Sleep(50);
    return true;
}

XrdpServer::~XrdpServer() {
    // The session first, so that sesman ends its X server; then the daemons.
    if (m_ok) LogOffSession();
    for (int i = 0; i < 40 && m_ok && std::filesystem::exists("/tmp/.X11-unix/X10"); ++i) Sleep(50);
    delete m_xrdp;
    delete m_sesman;
    if (!m_work.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_work, ec);
    }
}

bool KeyboardIndicators(const std::string& display, unsigned* state) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return false;
    const bool ok = XkbGetIndicatorState(d, XkbUseCoreKbd, state) == Success;
    XCloseDisplay(d);
    return ok;
}

bool KeyHeld(const std::string& display, unsigned keycode) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return false;
    char keys[32] = {};
    XQueryKeymap(d, keys);
    XCloseDisplay(d);
    return (keys[keycode / 8] >> (keycode % 8)) & 1;
}

ButtonWatch::ButtonWatch(const std::string& display) : m_display(XOpenDisplay(display.c_str())) {
    if (!m_display) return;
    // The only window of a bare X server is its root, where the pointer's
    // buttons land when nothing else asks for them.
    XSelectInput(m_display, DefaultRootWindow(m_display), ButtonPressMask);
    XSync(m_display, False);
}

ButtonWatch::~ButtonWatch() {
    if (m_display) XCloseDisplay(m_display);
}

int ButtonWatch::Presses(unsigned button) {
    if (!m_display) return -1;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == ButtonPress) m_presses.push_back(event.xbutton.button);
    }
    int count = 0;
    for (unsigned b : m_presses) count += b == button;
    return count;
}

bool PortListening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

int UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);  // closed without listening: connections are refused
    return ntohs(addr.sin_port);
}

ShadowServer::ShadowServer(std::vector<std::string> extraArgs) {
    const int slot = static_cast<int>(::getpid() % 400);
    // A display that no X server holds, nor one that died without cleaning up.
    int number = 200 + slot;
    while (number < 1000 &&
           (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock") ||
            std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)))) {
        ++number;
    }
    const std::string display = ":" + std::to_string(number);
    m_display = display;
    m_port = 43000 + slot;
    m_home = (std::filesystem::temp_directory_path() /
              ("vandrelle-shadow-" + std::to_string(::getpid())))
                 .string();
    std::filesystem::create_directories(m_home);
    m_xvfb = new ChildProcess(
        {"Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
    const std::string socket = "/tmp/.X11-unix/X" + display.substr(1);
    for (int i = 0; i < 100 && !std::filesystem::exists(socket); ++i) Sleep(50);
    if (!std::filesystem::exists(socket)) {
        m_error = "Xvfb did not start on " + display;
        return;
    }
    const std::string displayEnv = "DISPLAY=" + display;
    // The socket can appear before the server takes clients: retry until the
    // colour is set (bounded).
    const std::string paint = displayEnv + " xsetroot -solid '#3060a0' 2>/dev/null";
    bool painted = false;
    for (int i = 0; i < 50 && !painted; ++i) {
        painted = std::system(paint.c_str()) == 0;
        if (!painted) Sleep(100);
    }
    if (!painted) {
        m_error = "could not set the colour of display " + display;
        return;
    }
    std::vector<std::string> argv = {"freerdp-shadow-cli3", "/bind-address:127.0.0.1",
                                     "/port:" + std::to_string(m_port)};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    m_server = new ChildProcess(argv, {displayEnv, "HOME=" + m_home});
    for (int i = 0; i < 100 && !PortListening(m_port); ++i) Sleep(50);
    m_ok = PortListening(m_port);
    if (!m_ok) m_error = "the shadow server did not listen on port " + std::to_string(m_port);
}

void ShadowServer::Kill() {
    if (m_server) m_server->Kill();
}

ShadowServer::~ShadowServer() {
    delete m_server;
    delete m_xvfb;
    std::error_code ec;
    std::filesystem::remove_all(m_home, ec);
}

}  // namespace vandrelle::test
