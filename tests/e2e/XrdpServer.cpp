// SPDX-License-Identifier: GPL-3.0-or-later
#include "Peers.h"

#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vandrelle::test {
namespace {

// Paths built into xrdp: the services' PID files and the sessions' sockets,
// and the sesman.ini where xrdp (and a session's channel server) read sesman's
// port and settings, whatever configuration sesman itself was given.
constexpr const char* kRunFolder = "/run/xrdp";
constexpr const char* kSocketFolder = "/run/xrdp/sockdir";
constexpr const char* kSystemSesmanIni = "/etc/xrdp/sesman.ini";

struct IniValue {
    std::string section;
    std::string key;
    std::string value;
};

// The configuration with each value set in its section: the key's line is
// replaced, or one is added below the section's header when there is none.
std::string WithValues(const std::string& text, const std::vector<IniValue>& values) {
    std::string out = "\n" + text;
    for (const IniValue& v : values) {
        const auto header = out.find("\n[" + v.section + "]");
        if (header == std::string::npos) continue;
        const auto body = out.find('\n', header + 1);
        const auto end = std::min(out.find("\n[", body), out.size());
        const auto line = out.find("\n" + v.key + "=", body);
        const std::string set = "\n" + v.key + "=" + v.value;
        if (line < end) {
            out.replace(line, out.find('\n', line + 1) - line, set);
        } else {
            out.insert(body, set);
        }
    }
    return out.substr(1);
}

// The test user, with a session that paints the desktop and runs a clock.
bool PrepareUser(const std::string& user, const std::string& password) {
    const std::string setup =
        "id " + user + " >/dev/null 2>&1 || useradd -m " + user + " && echo '" + user + ":" +
        password + "' | chpasswd && home=$(getent passwd " + user +
        " | cut -d: -f6) && printf '#!/bin/sh\\nxsetroot -solid \"#208040\"\\nexec xclock -update "
        "1\\n' > \"$home/.xsession\" && chmod 755 \"$home/.xsession\" && "
        "echo 'SSH_AUTH_SOCK=/dev/null; export SSH_AUTH_SOCK' > \"$home/.xsessionrc\" && "
        "chown " +
        user + " \"$home/.xsession\" \"$home/.xsessionrc\"";
    return std::system(setup.c_str()) == 0;
}

std::string UserHome(const char* user) {
    const passwd* entry = ::getpwnam(user);
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

// Runs in the child that becomes sesman: a mount namespace of its own, whose
// mounts the machine does not see, with an empty run folder over the
// services' and the test's sesman.ini at the path xrdp reads.
bool EnterOwnMounts(const char* sesmanIni) {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("tmpfs", kRunFolder, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") == 0 &&
           ::mkdir(kSocketFolder, 0) == 0 &&
           ::chmod(kSocketFolder, 03777) == 0 &&  // sessions of every user put sockets there
           ::mount(sesmanIni, kSystemSesmanIni, nullptr, MS_BIND, nullptr) == 0;
}

// Runs in the child that becomes xrdp: into sesman's mount namespace, keeping
// the root folder sesman has (entering a namespace resets it to the
// namespace's own, which differs when the tests run in a chroot).
bool JoinMounts(int mounts, int root) {
    return ::setns(mounts, CLONE_NEWNS) == 0 && ::fchdir(root) == 0 && ::chroot(".") == 0 &&
           ::chdir("/") == 0;
}

std::string MountNamespace(pid_t pid) {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/ns/mnt", ec).string();
}

// The processes in that mount namespace: started by the test's sesman, and the test's alone.
std::vector<pid_t> ProcessesIn(const std::string& mounts) {
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = std::atoi(name.c_str());
        if (MountNamespace(pid) == mounts) pids.push_back(pid);
    }
    return pids;
}

// Ends what is left of the test's sessions once sesman is gone.
void EndProcessesIn(const std::string& mounts) {
    for (const int signal : {SIGTERM, SIGKILL}) {
        for (const pid_t pid : ProcessesIn(mounts)) ::kill(pid, signal);
        if (WaitFor([&] { return ProcessesIn(mounts).empty(); }, 1000)) return;
    }
}

// Every number that follows `marker` in the text.
std::vector<int> NumbersAfter(const std::string& text, const std::string& marker) {
    std::vector<int> numbers;
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        numbers.push_back(std::atoi(text.c_str() + at + marker.size()));
    }
    return numbers;
}

}  // namespace

std::string XrdpServer::Unavailable() {
    if (::geteuid() != 0) return "making the test user and a mount namespace needs root";
    for (const char* tool : {"/usr/sbin/xrdp", "/usr/sbin/xrdp-sesman", "/usr/bin/xclock"}) {
        if (::access(tool, X_OK) != 0) return std::string(tool) + " is not installed";
    }
    const pid_t probe = ::fork();
    if (probe == 0) ::_exit(::unshare(CLONE_NEWNS) == 0 ? 0 : 1);
    int status = 1;
    ::waitpid(probe, &status, 0);
    if (probe < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "no mount namespace can be made here";
    }
    return {};
}

XrdpServer::XrdpServer() {
    if (const std::string why = Unavailable(); !why.empty()) {
        m_error = why;
        return;
    }
    if (!PrepareUser(kUser, kPassword)) {
        m_error = "could not prepare the test user";
        return;
    }
    // The run folder is only a place to mount on; it is taken away again when it was not there.
    std::error_code ec;
    if (!std::filesystem::exists(kRunFolder, ec)) {
        m_madeRunFolder = std::filesystem::create_directory(kRunFolder, ec);
    }
    // A port or display taken between the check and the start is tried again elsewhere.
    for (int attempt = 0; attempt < 5 && !m_ok; ++attempt) m_ok = Start();
}

bool XrdpServer::Start() {
    Stop();
    const int sesmanPort = FreePort();
    do m_port = FreePort();
    while (m_port == sesmanPort);
    const std::string sesmanIni = m_work.file("sesman.ini"), xrdpIni = m_work.file("xrdp.ini");
    std::ofstream(sesmanIni) << (WithValues(
        ReadText(kSystemSesmanIni),
        {{"Globals", "ListenAddress", "127.0.0.1"},
         {"Globals", "ListenPort", std::to_string(sesmanPort)},
         {"Sessions", "X11DisplayOffset", std::to_string(FreeDisplay())},
         {"Logging", "LogFile", m_work.file("sesman.log")},
         {"Logging", "EnableSyslog", "false"},
         {"ChansrvLogging", "EnableSyslog", "false"}}));
    std::ofstream(xrdpIni) << (WithValues(
        ReadText("/etc/xrdp/xrdp.ini"),
        {{"Globals", "port", "tcp://127.0.0.1:" + std::to_string(m_port)},
         {"Globals", "fork", "false"},
         {"Globals", "hidelogwindow", "true"},
         {"Globals", "require_credentials", "true"},
         {"Logging", "LogFile", m_work.file("xrdp.log")},
         {"Logging", "EnableSyslog", "false"}}));

    m_sesman = std::make_unique<ChildProcess>(
        std::vector<std::string>{"xrdp-sesman", "--nodaemon", "-c", sesmanIni},
        std::vector<std::string>{}, m_work.file("sesman-output.log"),
        [&sesmanIni] { return EnterOwnMounts(sesmanIni.c_str()); });
    const pid_t sesman = m_sesman->pid();
    const auto sesmanListens = [&] { return m_sesman->Running() && ListensOn(sesman, sesmanPort); };
    if (!WaitFor([&] { return sesmanListens() || !m_sesman->Running(); }, 5000) ||
        !sesmanListens()) {
        m_error = "xrdp-sesman did not listen on port " + std::to_string(sesmanPort);
        return false;
    }
    // Held open while the server lives, so that the namespace, and with it the
    // name by which its processes are found, stays its own.
    m_mounts =
        ::open(("/proc/" + std::to_string(sesman) + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC);
    m_namespace = MountNamespace(sesman);
    const int root =
        ::open(("/proc/" + std::to_string(sesman) + "/root").c_str(), O_RDONLY | O_CLOEXEC);
    const int mounts = m_mounts;
    m_xrdp = std::make_unique<ChildProcess>(
        std::vector<std::string>{"xrdp", "--nodaemon", "-c", xrdpIni}, std::vector<std::string>{},
        m_work.file("xrdp-output.log"), [mounts, root] { return JoinMounts(mounts, root); });
    if (root >= 0) ::close(root);
    const pid_t xrdp = m_xrdp->pid();
    const auto xrdpListens = [&] { return m_xrdp->Running() && ListensOn(xrdp, m_port); };
    if (!WaitFor([&] { return xrdpListens() || !m_xrdp->Running(); }, 5000) || !xrdpListens()) {
        m_error = "xrdp did not listen on port " + std::to_string(m_port);
        return false;
    }
    return true;
}

// The session first, so that sesman ends its X server; then the daemons, then
// whatever the session left.
void XrdpServer::Stop() {
    if (m_xrdp && m_sesman && LogOffSession()) {
        const int display = SessionDisplayNumber();
        WaitFor([&] { return DisplayFree(display); }, 2000);
    }
    m_xrdp.reset();
    m_sesman.reset();
    if (!m_namespace.empty()) EndProcessesIn(m_namespace);
    m_namespace.clear();
    if (m_mounts >= 0) ::close(m_mounts);
    m_mounts = -1;
    const std::string home = UserHome(kUser);
    std::error_code ec;
    for (const int display :
         NumbersAfter(ReadText(m_work.file("sesman.log")), "Starting X server on display ")) {
        RemoveDisplayLeftovers(display);
        const std::string log = home + "/.xorgxrdp." + std::to_string(display) + ".log";
        std::filesystem::remove(log, ec);
        std::filesystem::remove(log + ".old", ec);
    }
}

XrdpServer::~XrdpServer() {
    Stop();
    if (m_madeRunFolder) ::rmdir(kRunFolder);
}

int XrdpServer::SessionDisplayNumber() const {
    const std::vector<int> displays =
        NumbersAfter(ReadText(m_work.file("sesman.log")), "Session in progress on display ");
    return displays.empty() ? 0 : displays.back();
}

std::string XrdpServer::SessionDisplay() const {
    const int display = SessionDisplayNumber();
    return display > 0 && WindowManagerPid() != 0 ? ":" + std::to_string(display) : std::string();
}

pid_t XrdpServer::WindowManagerPid() const {
    const std::vector<int> pids =
        NumbersAfter(ReadText(m_work.file("sesman.log")), "window manager (pid ");
    const pid_t pid = pids.empty() ? 0 : pids.back();
    return ProcessAlive(pid) ? pid : 0;
}

bool XrdpServer::LogOffSession() {
    const pid_t pid = WindowManagerPid();
    if (pid <= 0) return false;
    ::kill(pid, SIGTERM);
    WaitFor([pid] { return !ProcessAlive(pid); }, 5000);
    return true;
}

std::string XrdpServer::Logs() const {
    const int display = SessionDisplayNumber();
    if (display == 0) return m_work.Logs();
    const std::string home = UserHome(kUser);
    return m_work.Logs(
        {home + "/.xorgxrdp." + std::to_string(display) + ".log", home + "/.xsession-errors"});
}

}  // namespace vandrelle::test
