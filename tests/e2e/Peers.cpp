// SPDX-License-Identifier: GPL-3.0-or-later
#include "Peers.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <cstdlib>

namespace vandrelle::test {

bool ReadInput(const std::string& display, InputState* state) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return false;
    Window root = 0, child = 0;
    int wx = 0, wy = 0;
    unsigned mask = 0;
    const bool ok = XQueryPointer(d, DefaultRootWindow(d), &root, &child, &state->x, &state->y, &wx,
                                  &wy, &mask) &&
                    XkbGetIndicatorState(d, XkbUseCoreKbd, &state->indicators) == Success;
    XQueryKeymap(d, state->keys);
    XCloseDisplay(d);
    return ok;
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

VirtualDisplay::VirtualDisplay(WorkFolder& work, const std::string& size) {
    // A display taken between the check and the start is tried again elsewhere.
    for (int attempt = 0; attempt < 5 && !m_xvfb; ++attempt) Start(work, size);
}

bool VirtualDisplay::Start(WorkFolder& work, const std::string& size) {
    m_number = FreeDisplay();
    m_name = ":" + std::to_string(m_number);
    m_xvfb = std::make_unique<ChildProcess>(
        std::vector<std::string>{"Xvfb", m_name, "-screen", "0", size, "-nolisten", "tcp",
                                 "-noreset"},
        std::vector<std::string>{}, work.file("xvfb-" + std::to_string(m_number) + ".log"));
    const pid_t pid = m_xvfb->pid();
    // An X server that finds its display taken ends.
    const auto held = [&] { return m_xvfb->Running() && DisplayHeldBy(m_number, pid); };
    if (WaitFor([&] { return held() || !m_xvfb->Running(); }, 5000) && held()) return true;
    m_xvfb.reset();
    return false;
}

VirtualDisplay::~VirtualDisplay() {
    m_xvfb.reset();
    RemoveDisplayLeftovers(m_number);
}

ShadowServer::ShadowServer(std::vector<std::string> extraArgs) {
    m_display = std::make_unique<VirtualDisplay>(m_work, "1024x768x24");
    if (!m_display->ok()) {
        m_error = "Xvfb did not start";
        return;
    }
    // The socket can appear before the server takes clients: retry until the
    // colour is set (bounded).
    const std::string paint = "DISPLAY=" + display() + " xsetroot -solid '#3060a0' 2>/dev/null";
    if (!WaitFor([&] { return std::system(paint.c_str()) == 0; }, 5000)) {
        m_error = "could not set the colour of display " + display();
        return;
    }
    for (int attempt = 0; attempt < 5 && !m_ok; ++attempt) m_ok = StartServer(extraArgs);
}

bool ShadowServer::StartServer(const std::vector<std::string>& extraArgs) {
    m_port = FreePort();
    std::vector<std::string> argv = {"freerdp-shadow-cli3", "/bind-address:127.0.0.1",
                                     "/port:" + std::to_string(m_port)};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    m_server = std::make_unique<ChildProcess>(
        argv, std::vector<std::string>{"DISPLAY=" + display(), "HOME=" + m_work.path()},
        m_work.file("shadow-server.log"));
    const pid_t pid = m_server->pid();
    // A server that cannot bind its port ends.
    const auto listening = [&] { return m_server->Running() && ListensOn(pid, m_port); };
    if (WaitFor([&] { return listening() || !m_server->Running(); }, 5000) && listening()) {
        return true;
    }
    m_server.reset();
    m_error = "the shadow server did not listen on port " + std::to_string(m_port);
    return false;
}

void ShadowServer::Kill() {
    if (m_server) m_server->Kill();
}

ShadowServer::~ShadowServer() {
    m_server.reset();
    m_display.reset();
}
}  // namespace vandrelle::test
