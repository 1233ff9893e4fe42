// SPDX-License-Identifier: GPL-3.0-or-later
// The servers and displays the end-to-end tests run against, each a process
// of the test's own on a loopback port or display number found free. Every
// wait is bounded; what a peer leaves in /tmp goes with it.
#pragma once

#include "TempDir.h"

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct _XDisplay;  // Xlib's Display

namespace vandrelle::test {

// A child process, asked to end (then forced after a second) when destroyed.
class ChildProcess {
public:
    // Output and errors go to `log` (dropped when empty). Returns once the
    // child runs the program, so that it holds none of the caller's
    // descriptors any more.
    ChildProcess(const std::vector<std::string>& argv, std::vector<std::string> env = {},
                 const std::string& log = {});
    ~ChildProcess() { Kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Kill();
    // False once it has ended (it is then waited for).
    bool Running();
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

// The "*.log" files of a peer's own folder, then each of `more` that exists:
// what a failing test prints.
std::string Logs(const TempDir& folder, const std::vector<std::string>& more = {});

// A user's folders under `home`, made and set as this process's: its
// configuration folder and a private runtime folder, where toolkit and sound
// libraries keep their sockets, not in /tmp.
void UseScratchHome(const std::string& home);
// What the shell command prints, without its last line end.
std::string Shell(const std::string& command);
// Every number that follows `marker` in the text.
std::vector<int> NumbersAfter(const std::string& text, const std::string& marker);
// Waits (bounded by `ms`) until `done` holds, checking every 20 ms.
bool WaitFor(const std::function<bool()>& done, int ms);

// A configuration file with one server of that name on the loopback port,
// in colour and without sound; `fields` are more of its fields, as XML.
std::string ServerConfig(const std::string& name, int port, const std::string& fields);
// Whether the colour is the one the server paints (within a margin).
template <typename Server>
bool Served(unsigned r, unsigned g, unsigned b) {
    const auto near = [](unsigned x, unsigned y) { return (x > y ? x - y : y - x) <= 16; };
    return near(r, Server::kRed) && near(g, Server::kGreen) && near(b, Server::kBlue);
}

// The FreeRDP shadow server serving a virtual display (Xvfb) of a known colour.
class ShadowServer {
public:
    // `extraArgs` go on the server's command line (a user database and
    // /sec:nla, say); without them the server needs no log-on.
    explicit ShadowServer(std::vector<std::string> extraArgs = {"-auth"});
    ~ShadowServer();
    bool ok() const { return m_server != nullptr; }
    int port() const { return m_port; }
    const std::string& display() const { return m_display; }       // ":N"
    std::string error() const { return m_error + "\n" + Logs(); }  // why it did not start
    std::string Logs() const { return test::Logs(m_work); }
    void Kill() { m_server.reset(); }

    static constexpr unsigned kRed = 0x30, kGreen = 0x60, kBlue = 0xa0;  // the display's colour

private:
    TempDir m_work;
    int m_port = 0;
    std::string m_error;
    int m_displayNumber = 0;
    std::string m_display;
    std::unique_ptr<ChildProcess> m_xvfb;
    std::unique_ptr<ChildProcess> m_server;
};

// xrdp with a local test user whose session paints the desktop green and
// runs a clock: real log-ons and server-side logoffs. Needs root (for the
// user and a mount namespace). Its sesman and xrdp run in a mount namespace
// of their own, so the system's xrdp services, running or not, are neither
// seen nor touched: /run/xrdp is a folder of the test's there, and
// /etc/xrdp/sesman.ini, where xrdp always looks for sesman's port, the test's copy.
// vandrelle-beating-server on `address`: takes any log-on, shows nothing,
// beats every second and wants a client to reconnect after three missed beats.
class BeatingServer {
public:
    explicit BeatingServer(const std::string& address);
    bool ok() const { return m_server != nullptr; }
    int port() const { return m_port; }
    std::string error() const { return m_error + "\n" + test::Logs(m_work); }
    // Stops (SIGSTOP) the server with its connections open, or lets it run again.
    void Freeze(bool frozen);

private:
    TempDir m_work;
    int m_port = 0;
    std::string m_error;
    std::unique_ptr<ChildProcess> m_server;
};

class XrdpServer {
public:
    static constexpr const char* kUser = "rdptest";
    static constexpr const char* kPassword = "Rdp-Test-123";
    static constexpr unsigned kRed = 0x20, kGreen = 0x80, kBlue = 0x40;

    // Listening on `address` (one of the calling thread's network namespace).
    explicit XrdpServer(std::string address = "127.0.0.1");
    ~XrdpServer();
    bool ok() const { return m_xrdp != nullptr; }
    std::string error() const { return m_error + "\n" + Logs(); }
    int port() const { return m_port; }
    // The PID of the running session's window manager, 0 while there is none.
    pid_t WindowManagerPid() const;
    // The running session's X display (":321"), empty while there is none.
    std::string SessionDisplay() const;
    // Ends the user's session from the server's side, as a logoff does.
    bool LogOffSession();
    // The logs of xrdp, sesman and the session's X server.
    std::string Logs() const;
    // Why this machine cannot run it, or empty when it can.
    static std::string Unavailable();

private:
    bool Start();
    void Stop();
    // The number after the last `marker` in sesman's log, 0 when there is none.
    int LastLogged(const std::string& marker) const;

    TempDir m_work;
    int m_port = 0;
    bool m_madeRunFolder = false;
    int m_mounts = -1;        // held open: the namespace keeps its name while the server lives
    std::string m_namespace;  // its name, as /proc/PID/ns/mnt shows it
    std::string m_error;
    std::string m_address;
    std::unique_ptr<ChildProcess> m_sesman;
    std::unique_ptr<ChildProcess> m_xrdp;
};

// What a display's input devices show, as its X server reports them.
struct InputState {
    int x = -1, y = -1;       // the pointer
    unsigned indicators = 0;  // bit 0 Caps Lock
    char keys[32] = {};       // a bit for each X key code held down
    bool Held(unsigned keycode) const { return (keys[keycode / 8] >> (keycode % 8)) & 1; }
};
// A display's input devices, read from its X server, and the pointer button
// presses that reach it (a bare X server, whose only window is its root) from
// the moment this is made.
class InputWatch {
public:
    explicit InputWatch(const std::string& display);
    ~InputWatch();
    bool Read(InputState* state);  // false when the display cannot be asked
    int Presses(unsigned button);  // -1 when the display cannot be watched

private:
    _XDisplay* m_display;
    std::vector<unsigned> m_presses;
};

}  // namespace vandrelle::test
