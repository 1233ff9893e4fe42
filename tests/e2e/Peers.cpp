// SPDX-License-Identifier: GPL-3.0-or-later
#include "Peers.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
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
    m_pid = ::fork();
    if (m_pid == 0) {
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

void ChildProcess::Kill() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

bool ChildProcess::Running() {
    if (m_pid <= 0) return false;
    return ::waitpid(m_pid, nullptr, WNOHANG) == 0;
}

bool PointerPosition(const std::string& display, int* x, int* y) {
    // Xlib through dlopen: the tests need one call of it and no headers.
    void* lib = ::dlopen("libX11.so.6", RTLD_NOW);
    if (!lib) return false;
    using Open = void* (*)(const char*);
    using Close = int (*)(void*);
    using Root = unsigned long (*)(void*);
    using Query = int (*)(void*, unsigned long, unsigned long*, unsigned long*, int*, int*, int*,
                          int*, unsigned*);
    auto open = reinterpret_cast<Open>(::dlsym(lib, "XOpenDisplay"));
    auto close = reinterpret_cast<Close>(::dlsym(lib, "XCloseDisplay"));
    auto root = reinterpret_cast<Root>(::dlsym(lib, "XDefaultRootWindow"));
    auto query = reinterpret_cast<Query>(::dlsym(lib, "XQueryPointer"));
    bool ok = false;
    if (open && close && root && query) {
        if (void* d = open(display.c_str())) {
            unsigned long rootReturn = 0, child = 0;
            int wx = 0, wy = 0;
            unsigned mask = 0;
            ok = query(d, root(d), &rootReturn, &child, x, y, &wx, &wy, &mask) != 0;
            close(d);
        }
    }
    ::dlclose(lib);
    return ok;
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
    const std::string display = ":" + std::to_string(200 + slot);
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
    ChildProcess root({"xsetroot", "-solid", "#3060a0"}, {displayEnv});
    for (int i = 0; i < 50 && root.Running(); ++i) Sleep(20);
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
