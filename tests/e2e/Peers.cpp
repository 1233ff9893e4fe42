// SPDX-License-Identifier: GPL-3.0-or-later
#include "Peers.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>
#include <utility>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace vandrelle::test {
namespace {

std::string ReadText(const std::string& path) {  // empty when it cannot be read
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What `ss` lists of the TCP sockets on that local port, with their processes.
std::string Sockets(const std::string& options, int port) {
    return Shell("ss -Hn" + options + " 'sport = :" + std::to_string(port) + "'");
}

// What an X server holds for a display: its lock file, then its socket.
std::array<std::string, 2> DisplayFiles(int n) {
    return {"/tmp/.X" + std::to_string(n) + "-lock", "/tmp/.X11-unix/X" + std::to_string(n)};
}
// The PID an X server wrote into the display's lock file, 0 when there is none.
pid_t DisplayLockHolder(int display) {
    return static_cast<pid_t>(std::atoi(ReadText(DisplayFiles(display)[0]).c_str()));
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

// Built into xrdp: the services' run folder, and the sesman.ini where xrdp
// (and a session's channel server) read sesman's port, whatever sesman was given.
constexpr const char* kRunFolder = "/run/xrdp";
constexpr const char* kSystemSesmanIni = "/etc/xrdp/sesman.ini";
// What sesman logs before a session's display number.
constexpr const char* kSessionDisplay = "Session in progress on display ";

struct IniValue {
    std::string section, key, value;
};

// The configuration file with each value set in its section on the key's
// line, commented out or not (xrdp's files name every key set here).
std::string WithValues(const std::string& file, const std::vector<IniValue>& values) {
    std::string sed = "sed";
    for (const IniValue& v : values) {
        sed += " -e '/^\\[" + v.section + "\\]/,/^\\[/s|^[#;]*" + v.key + "=.*|" + v.key + "=" +
               v.value + "|'";
    }
    return Shell(sed + " " + file) + "\n";
}

// The test user, with a session that paints the desktop and runs a clock.
bool PrepareUser(const std::string& user, const std::string& password) {
    const std::string setup = "u=" + user + " p='" + password + R"(' &&
        { id $u >/dev/null 2>&1 || useradd -m $u; } && echo "$u:$p" | chpasswd &&
        h=$(getent passwd $u | cut -d: -f6) &&
        printf '#!/bin/sh\nxsetroot -solid "#208040"\nexec xclock -update 1\n' >"$h/.xsession" &&
        echo 'SSH_AUTH_SOCK=/dev/null; export SSH_AUTH_SOCK' >"$h/.xsessionrc" &&
        chmod 755 "$h/.xsession" && chown $u "$h/.xsession" "$h/.xsessionrc")";
    return std::system(setup.c_str()) == 0;
}

std::string UserHome(const char* user) {
    return Shell("getent passwd " + std::string(user) + " | cut -d: -f6");
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

bool ProcessAlive(pid_t pid) {  // a zombie is not
    const std::string state = pid > 0 ? Shell("ps -o stat= -p " + std::to_string(pid)) : "";
    return !state.empty() && state[0] != 'Z';
}

bool DisplayFree(int display) {
    const auto files = DisplayFiles(display);
    std::error_code ec;
    return !std::filesystem::exists(files[0], ec) && !std::filesystem::exists(files[1], ec);
}

void RemoveDisplayLeftovers(int display) {
    if (display <= 0 || ProcessAlive(DisplayLockHolder(display))) return;
    std::error_code ec;
    for (const std::string& file : DisplayFiles(display)) std::filesystem::remove(file, ec);
}

// A TCP port without sockets now, at random below the range of outgoing
// connections' own ends, so that little else takes it before a peer binds it.
int FreePort() {
    return FreeNumber(20000, 32000, [](int port) { return Sockets("ta", port).empty(); });
}

int FreeDisplay() {
    return FreeNumber(200, 1000, DisplayFree);
}

}  // namespace

void UseScratchHome(const std::string& home) {
    std::filesystem::create_directories(home + "/xdg");
    std::filesystem::create_directories(home + "/runtime");
    ::chmod((home + "/runtime").c_str(), 0700);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/xdg").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (home + "/runtime").c_str(), 1);
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

// setpriv: a test that crashes leaves no peers behind; env adds to the environment.
ChildProcess::ChildProcess(const std::vector<std::string>& argv, std::vector<std::string> env,
                           const std::string& log) {
    env.insert(env.begin(), {"setpriv", "--pdeathsig", "KILL", "env"});
    env.insert(env.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (std::string& a : env) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t output;
    ::posix_spawn_file_actions_init(&output);
    ::posix_spawn_file_actions_addopen(&output, 1, log.empty() ? "/dev/null" : log.c_str(),
                                       O_WRONLY | O_CREAT | O_APPEND, 0644);
    ::posix_spawn_file_actions_adddup2(&output, 1, 2);
    // glibc's posix_spawn returns once the child runs setpriv: the caller's
    // close-on-exec descriptors are gone from it by then.
    if (::posix_spawnp(&m_pid, args[0], &output, nullptr, args.data(), environ) != 0) m_pid = -1;
    ::posix_spawn_file_actions_destroy(&output);
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
    if (m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == m_pid) m_pid = -1;
    return m_pid > 0;
}

std::string Logs(const TempDir& folder, const std::vector<std::string>& more) {
    std::string files = "'" + folder.path() + "'/*.log";
    for (const std::string& f : more) files += " '" + f + "'";
    return Shell("tail -v -n +1 -- " + files + " 2>/dev/null");  // each after its name
}

std::vector<int> NumbersAfter(const std::string& text, const std::string& marker) {
    std::vector<int> numbers;
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        numbers.push_back(std::atoi(text.c_str() + at + marker.size()));
    }
    return numbers;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string ServerConfig(const std::string& name, int port, const std::string& fields) {
    return "<?xml version=\"1.0\"?><Vandrelle><Servers><Server><Name>" + name +
           "</Name><Server>127.0.0.1</Server><InheritGeneral>0</InheritGeneral><RDPPort>" +
           std::to_string(port) + "</RDPPort><ColorDepth>32</ColorDepth>" + fields +
           "<AudioRedirectionMode>2</AudioRedirectionMode></Server></Servers><Settings/>"
           "</Vandrelle>\n";
}

ShadowServer::ShadowServer(std::vector<std::string> extraArgs) {
    for (int attempt = 0; attempt < 5 && !m_xvfb; ++attempt) {
        m_displayNumber = FreeDisplay();
        m_display = ":" + std::to_string(m_displayNumber);
        // Held: its lock file names it and the socket exists.
        m_xvfb = StartReady(
            {"Xvfb", m_display, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"}, {},
            m_work.file("xvfb.log"), [this](pid_t pid) {
                std::error_code ec;
                return DisplayLockHolder(m_displayNumber) == pid &&
                       std::filesystem::exists(DisplayFiles(m_displayNumber)[1], ec);
            });
    }
    // The socket can appear before the server takes clients: tried until the colour is set.
    const std::string paint = "DISPLAY=" + m_display + " xsetroot -solid '#3060a0' 2>/dev/null";
    if (!m_xvfb || !WaitFor([&] { return std::system(paint.c_str()) == 0; }, 5000)) {
        m_error = "no display of the served colour";
        return;
    }
    for (int attempt = 0; attempt < 5 && !m_server; ++attempt) {
        m_port = FreePort();
        std::vector<std::string> argv = {"freerdp-shadow-cli3", "/bind-address:127.0.0.1",
                                         "/port:" + std::to_string(m_port)};
        argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
        m_server = StartReady(argv, {"DISPLAY=" + m_display, "HOME=" + m_work.path()},
                              m_work.file("shadow-server.log"),
                              [this](pid_t pid) { return ListensOn(pid, m_port); });
    }
    if (!m_server) m_error = "the shadow server did not listen";
}

ShadowServer::~ShadowServer() {
    m_server.reset();
    m_xvfb.reset();
    RemoveDisplayLeftovers(m_displayNumber);
}

BeatingServer::BeatingServer(const std::string& address) {
    const std::string key = m_work.file("key.pem"), certificate = m_work.file("cert.pem");
    if (std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=beating"
                     " -keyout '" +
                     key + "' -out '" + certificate + "' 2>/dev/null")
                        .c_str()) != 0) {
        m_error = "openssl made no certificate";
        return;
    }
    for (int attempt = 0; attempt < 5 && !m_server; ++attempt) {
        m_port = FreePort();
        m_server = StartReady(
            {VANDRELLE_BEATING_SERVER, address, std::to_string(m_port), certificate, key}, {},
            m_work.file("beating-server.log"),
            [this](pid_t pid) { return ListensOn(pid, m_port); });
    }
    if (!m_server) m_error = "the beating server did not listen";
}

void BeatingServer::Freeze(bool frozen) {
    if (m_server) ::kill(m_server->pid(), frozen ? SIGSTOP : SIGCONT);
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

std::string XrdpServer::Unavailable() {
    if (::geteuid() != 0) return "making the test user and a mount namespace needs root";
    for (const char* tool : {"/usr/sbin/xrdp", "/usr/sbin/xrdp-sesman", "/usr/bin/xclock"}) {
        if (::access(tool, X_OK) != 0) return std::string(tool) + " is not installed";
    }
    if (std::system("unshare -m true 2>/dev/null") != 0)
        return "no mount namespace can be made here";
    return {};
}

XrdpServer::XrdpServer(std::string address) : m_address(std::move(address)) {
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
        kSystemSesmanIni, {{"Globals", "ListenAddress", "127.0.0.1"},
                           {"Globals", "ListenPort", std::to_string(sesmanPort)},
                           {"Sessions", "X11DisplayOffset", std::to_string(FreeDisplay())},
                           {"Logging", "LogFile", m_work.file("sesman.log")},
                           {"Logging", "EnableSyslog", "false"},
                           {"ChansrvLogging", "EnableSyslog", "false"}});
    std::ofstream(xrdpIni) << WithValues(
        "/etc/xrdp/xrdp.ini",
        {{"Globals", "port", "tcp://" + m_address + ":" + std::to_string(m_port)},
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
        const int display = LastLogged(kSessionDisplay);
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

int XrdpServer::LastLogged(const std::string& marker) const {
    const std::vector<int> numbers = NumbersAfter(ReadText(m_work.file("sesman.log")), marker);
    return numbers.empty() ? 0 : numbers.back();
}

std::string XrdpServer::SessionDisplay() const {
    const int display = LastLogged(kSessionDisplay);
    return display > 0 && WindowManagerPid() != 0 ? ":" + std::to_string(display) : std::string();
}

pid_t XrdpServer::WindowManagerPid() const {
    const pid_t pid = LastLogged("window manager (pid ");
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
    const std::string home = UserHome(kUser), display = std::to_string(LastLogged(kSessionDisplay));
    return test::Logs(m_work,
                      {home + "/.xorgxrdp." + display + ".log", home + "/.xsession-errors"});
}

}  // namespace vandrelle::test
