// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PeerProcess.h"

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

struct _XDisplay;  // Xlib's Display

namespace vandrelle::test {

// A headless X display (Xvfb) of the test's own, on a display number found
// free (tried again on another when taken meanwhile); what it leaves in /tmp
// goes with it.
class VirtualDisplay {
public:
    VirtualDisplay(WorkFolder& work, const std::string& size);
    ~VirtualDisplay();
    bool ok() const { return m_xvfb != nullptr; }
    const std::string& name() const { return m_name; }  // ":N"

private:
    bool Start(WorkFolder& work, const std::string& size);

    int m_number = 0;
    std::string m_name;
    std::unique_ptr<ChildProcess> m_xvfb;
};

// A headless X display with a known background colour, and the FreeRDP
// shadow server serving it on a loopback port, each on a display and port
// found free (tried again on another when taken meanwhile). Every wait is
// bounded; what the display leaves in /tmp goes with it.
class ShadowServer {
public:
    // `extraArgs` are added to the server's command line (for example a user
    // database and /sec:nla); without them the server needs no log-on.
    explicit ShadowServer(std::vector<std::string> extraArgs = {"-auth"});
    ~ShadowServer();
    bool ok() const { return m_ok; }
    int port() const { return m_port; }
    const std::string& display() const { return m_display->name(); }
    // Why it did not start, with its processes' output.
    std::string error() const { return m_error + "\n" + Logs(); }
    // The output of the display's and the server's processes.
    std::string Logs() const { return m_work.Logs(); }
    void Kill();

    static constexpr unsigned kRed = 0x30, kGreen = 0x60, kBlue = 0xa0;  // the display's colour

private:
    bool StartServer(const std::vector<std::string>& extraArgs);

    WorkFolder m_work{"shadow"};
    bool m_ok = false;
    int m_port = 0;
    std::string m_error;
    std::unique_ptr<VirtualDisplay> m_display;
    std::unique_ptr<ChildProcess> m_server;
};

// xrdp with a local test user whose session paints the desktop green and
// runs a clock: real log-on sessions and server-side logoffs. Needs root (to
// make the user and a mount namespace) and the xrdp packages. Its sesman and
// xrdp run in a mount namespace of their own, so the system's xrdp services,
// running or not, are neither seen nor touched: their PID files and socket
// folder under /run/xrdp are hidden by a folder of the test's, and
// /etc/xrdp/sesman.ini, where xrdp always looks for sesman's port, is the
// test's copy there. Ports and the session's display are found free.
class XrdpServer {
public:
    static constexpr const char* kUser = "rdptest";
    static constexpr const char* kPassword = "Rdp-Test-123";
    static constexpr unsigned kRed = 0x20, kGreen = 0x80, kBlue = 0x40;

    XrdpServer();
    ~XrdpServer();
    bool ok() const { return m_ok; }
    // Why it did not start, with its logs.
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
    int SessionDisplayNumber() const;

    WorkFolder m_work{"xrdp"};
    bool m_ok = false;
    int m_port = 0;
    bool m_madeRunFolder = false;
    int m_mounts = -1;        // the namespace of sesman, xrdp and the sessions
    std::string m_namespace;  // its name, as /proc/PID/ns/mnt shows it
    std::string m_error;
    std::unique_ptr<ChildProcess> m_sesman;
    std::unique_ptr<ChildProcess> m_xrdp;
};

// What a display's input devices show, as its X server reports them.
struct InputState {
    int x = -1, y = -1;       // the pointer
    unsigned indicators = 0;  // bit 0 Caps Lock, 1 Num Lock, 2 Scroll Lock
    char keys[32] = {};       // a bit for each X key code held down
    bool Held(unsigned keycode) const { return (keys[keycode / 8] >> (keycode % 8)) & 1; }
};
// False when the display cannot be asked.
bool ReadInput(const std::string& display, InputState* state);

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

}  // namespace vandrelle::test
