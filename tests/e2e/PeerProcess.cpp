// SPDX-License-Identifier: GPL-3.0-or-later
#include "PeerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
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

namespace vandrelle::test {
namespace {

int RandomIn(int low, int high) {
    static std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<int>(low, high - 1)(generator);
}

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

}  // namespace

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
                           const std::vector<std::string>& env, const std::string& log,
                           const std::function<bool()>& inChild) {
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
        // A test that crashes must not leave its servers behind.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        for (std::string& e : vars) ::putenv(e.data());
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        if (inChild && !inChild()) ::_exit(126);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(started[1]);
    char none = 0;
    while (m_pid > 0 && ::read(started[0], &none, 1) < 0 && errno == EINTR) {
    }
    ::close(started[0]);
    if (out >= 0) ::close(out);
}

ChildProcess::~ChildProcess() {
    Kill();
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
    if (m_pid <= 0) return false;
    if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) m_pid = -1;
    return m_pid > 0;
}

int ChildProcess::ExitCode(int ms) {
    if (!WaitFor([this] { return !Running(); }, ms)) return -1;
    return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : 128 + WTERMSIG(m_status);
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
    for (const std::string& f : more) {
        if (std::filesystem::exists(f, ec)) files.push_back(f);
    }
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

bool ListensOn(pid_t pid, int port) {
    return Sockets("ltp", port).find("pid=" + std::to_string(pid) + ",") != std::string::npos;
}

int FreePort() {
    for (int i = 0; i < 500; ++i) {
        const int port = RandomIn(20000, 32000);
        if (Sockets("ta", port).empty()) return port;  // in no state, listening or closing
    }
    throw std::runtime_error("no free loopback port found");
}

int FreeDisplay() {
    const int start = RandomIn(200, 900);
    for (int number = start; number < start + 800; ++number) {
        const int display = 200 + (number - 200) % 800;
        if (DisplayFree(display)) return display;
    }
    throw std::runtime_error("no free X display found");
}

bool DisplayFree(int display) {
    std::error_code ec;
    return !std::filesystem::exists(DisplayLock(display), ec) &&
           !std::filesystem::exists(DisplaySocket(display), ec);
}

bool DisplayHeldBy(int display, pid_t pid) {
    std::error_code ec;
    return DisplayLockHolder(display) == pid && std::filesystem::exists(DisplaySocket(display), ec);
}

void RemoveDisplayLeftovers(int display) {
    if (display <= 0 || ProcessAlive(DisplayLockHolder(display))) return;
    std::error_code ec;
    std::filesystem::remove(DisplayLock(display), ec);
    std::filesystem::remove(DisplaySocket(display), ec);
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace vandrelle::test
