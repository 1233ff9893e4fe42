// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct _XDisplay;  // Xlib's Display

namespace vandrelle::test {

// A child process started for a test and stopped by its PID.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    void Kill();
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

// A headless X display with a known background colour, and the FreeRDP
// shadow server serving it on a loopback port. Every wait is bounded.
class ShadowServer {
public:
    // `extraArgs` are added to the server's command line (for example a user
    // database and /sec:nla); without them the server needs no log-on.
    explicit ShadowServer(std::vector<std::string> extraArgs = {"-auth"});
    ~ShadowServer();
    bool ok() const { return m_ok; }
    int port() const { return m_port; }
    const std::string& display() const { return m_display; }
    const std::string& error() const { return m_error; }
    void Kill();

    static constexpr unsigned kRed = 0x30, kGreen = 0x60, kBlue = 0xa0;  // the display's colour

private:
    bool m_ok = false;
    int m_port = 0;
    std::string m_display;
    std::string m_error;
    std::string m_home;
    ChildProcess* m_xvfb = nullptr;
    ChildProcess* m_server = nullptr;
};

// xrdp with a local test user whose session paints the desktop green and
// runs a clock: real log-on sessions and server-side logoffs. Needs root (to
// make the user) and the xrdp packages; sesman's own port is fixed, so one
// instance per machine at a time.
class XrdpServer {
public:
    static constexpr const char* kUser = "rdptest";
    static constexpr const char* kPassword = "Rdp-Test-123";
    static constexpr unsigned kRed = 0x20, kGreen = 0x80, kBlue = 0x40;

    XrdpServer();
    ~XrdpServer();
    bool ok() const { return m_ok; }
    const std::string& error() const { return m_error; }
    int port() const { return m_port; }
    // The PID of the running session's window manager, 0 while there is none.
    pid_t WindowManagerPid() const;
    // Ends the user's session from the server's side, as a logoff does.
    bool LogOffSession();

    // Why this machine cannot run it, or empty when it can.
    static std::string Unavailable();

private:
    bool m_ok = false;
    int m_port = 0;
    std::string m_error;
    std::string m_work;
    ChildProcess* m_sesman = nullptr;
    ChildProcess* m_xrdp = nullptr;
};

// Where the display's pointer is, as the X server reports it; false when the
// display cannot be asked.
bool PointerPosition(const std::string& display, int* x, int* y);

// The display's keyboard indicators (bit 0 Caps Lock, 1 Num Lock, 2 Scroll
// Lock); false when the display cannot be asked.
bool KeyboardIndicators(const std::string& display, unsigned* state);

// Whether the key (an X key code) is held down on the display.
bool KeyHeld(const std::string& display, unsigned keycode);

// Counts the pointer button presses that reach a bare X server (one without
// windows of its own) from the moment it is made. Buttons 4 and 5 are the
// wheel turned away from and towards the user.
class ButtonWatch {
public:
    explicit ButtonWatch(const std::string& display);
    ~ButtonWatch();
    ButtonWatch(const ButtonWatch&) = delete;
    ButtonWatch& operator=(const ButtonWatch&) = delete;

    // Presses of that button so far; -1 when the display cannot be watched.
    int Presses(unsigned button);

private:
    _XDisplay* m_display;
    std::vector<unsigned> m_presses;
};

// Whether something listens on the loopback port.
bool PortListening(int port);

// A loopback port nothing listens on.
int UnusedPort();

}  // namespace vandrelle::test
