// SPDX-License-Identifier: GPL-3.0-or-later
#include "Peers.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace vandrelle::test {
namespace {

// Built into xrdp: the services' run folder, and the sesman.ini where xrdp
// (and a session's channel server) read sesman's port, whatever sesman was given.
constexpr const char* kRunFolder = "/run/xrdp";
constexpr const char* kSystemSesmanIni = "/etc/xrdp/sesman.ini";

struct IniValue {
    std::string section, key, value;
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

std::string MountNamespace(pid_t pid) {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/ns/mnt", ec).string();
}

// Ends what is left of the test's sessions (the processes in its namespace) once sesman is gone.
void EndProcessesIn(const std::string& mounts) {
    const auto in = [&mounts] {
        std::vector<pid_t> pids;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
            const pid_t pid = std::atoi(entry.path().filename().c_str());
            if (pid > 0 && MountNamespace(pid) == mounts) pids.push_back(pid);
        }
        return pids;
    };
    for (const int signal : {SIGTERM, SIGKILL}) {
        for (const pid_t pid : in()) ::kill(pid, signal);
        if (WaitFor([&] { return in().empty(); }, 1000)) return;
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
    if (std::system("unshare -m true 2>/dev/null") != 0)
        return "no mount namespace can be made here";
    return {};
}

XrdpServer::XrdpServer() {
    m_error = Unavailable();
    if (!m_error.empty()) return;
    if (!PrepareUser(kUser, kPassword)) {
        m_error = "could not prepare the test user";
        return;
    }
    // The run folder is only a place to mount on; it goes again when it was not there.
    std::error_code ec;
    if (!std::filesystem::exists(kRunFolder, ec)) {
        m_madeRunFolder = std::filesystem::create_directory(kRunFolder, ec);
    }
    for (int attempt = 0; attempt < 5 && !Start(); ++attempt) Stop();
}

bool XrdpServer::Start() {
    const int sesmanPort = FreePort();
    do m_port = FreePort();
    while (m_port == sesmanPort);
    const std::string sesmanIni = m_work.file("sesman.ini"), xrdpIni = m_work.file("xrdp.ini");
    std::ofstream(sesmanIni) << WithValues(
        ReadText(kSystemSesmanIni),
        {{"Globals", "ListenAddress", "127.0.0.1"},
         {"Globals", "ListenPort", std::to_string(sesmanPort)},
         {"Sessions", "X11DisplayOffset", std::to_string(FreeDisplay())},
         {"Logging", "LogFile", m_work.file("sesman.log")},
         {"Logging", "EnableSyslog", "false"},
         {"ChansrvLogging", "EnableSyslog", "false"}});
    std::ofstream(xrdpIni) << WithValues(
        ReadText("/etc/xrdp/xrdp.ini"),
        {{"Globals", "port", "tcp://127.0.0.1:" + std::to_string(m_port)},
         {"Globals", "fork", "false"},
         {"Globals", "hidelogwindow", "true"},
         {"Globals", "require_credentials", "true"},
         {"Logging", "LogFile", m_work.file("xrdp.log")},
         {"Logging", "EnableSyslog", "false"}});

    // sesman in a mount namespace of its own, with an empty run folder over the
    // services' (its socket folder open to every user's sessions) and the test's sesman.ini.
    m_sesman =
        StartReady({"unshare", "-m", "--propagation", "private", "sh", "-c",
                    std::string("mount -t tmpfs -o mode=0755,nosuid,nodev tmpfs ") + kRunFolder +
                        " && mkdir -m 3777 " + kRunFolder + "/sockdir && mount --bind \"$0\" " +
                        kSystemSesmanIni + " && exec xrdp-sesman --nodaemon -c \"$0\"",
                    sesmanIni},
                   {}, m_work.file("sesman-output.log"),
                   [sesmanPort](pid_t pid) { return ListensOn(pid, sesmanPort); });
    if (!m_sesman) {
        m_error = "xrdp-sesman did not listen on port " + std::to_string(sesmanPort);
        return false;
    }
    const std::string sesman = std::to_string(m_sesman->pid());
    m_mounts = ::open(("/proc/" + sesman + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC);
    m_namespace = MountNamespace(m_sesman->pid());
    // xrdp joins it, keeping sesman's root folder (the namespace's own differs
    // when the tests run in a chroot).
    m_xrdp = StartReady(
        {"nsenter", "-t", sesman, "-m", "-r", "--wd=/", "xrdp", "--nodaemon", "-c", xrdpIni}, {},
        m_work.file("xrdp-output.log"), [this](pid_t pid) { return ListensOn(pid, m_port); });
    if (!m_xrdp) m_error = "xrdp did not listen on port " + std::to_string(m_port);
    return m_xrdp != nullptr;
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
    std::error_code ec;
    for (const int display :
         NumbersAfter(ReadText(m_work.file("sesman.log")), "Starting X server on display ")) {
        RemoveDisplayLeftovers(display);
        const std::string log = UserHome(kUser) + "/.xorgxrdp." + std::to_string(display) + ".log";
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
    return !pids.empty() && ProcessAlive(pids.back()) ? pids.back() : 0;
}

bool XrdpServer::LogOffSession() {
    const pid_t pid = WindowManagerPid();
    if (pid <= 0) return false;
    ::kill(pid, SIGTERM);
    WaitFor([pid] { return !ProcessAlive(pid); }, 5000);
    return true;
}

std::string XrdpServer::Logs() const {
    const std::string home = UserHome(kUser), display = std::to_string(SessionDisplayNumber());
    return m_work.Logs({home + "/.xorgxrdp." + display + ".log", home + "/.xsession-errors"});
}

}  // namespace vandrelle::test
