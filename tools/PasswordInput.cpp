// SPDX-License-Identifier: GPL-3.0-or-later
#include "PasswordInput.h"

#include <termios.h>
#include <unistd.h>
#include <csignal>

#include <cerrno>
#include <iterator>
#include <ostream>
#include <stdexcept>
#include <system_error>

namespace vandrelle {
namespace {

// Longer than any password a remote desktop takes; a file without line ends
// is not read to its end.
constexpr std::size_t kMaxPasswordBytes = 4096;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The terminal whose echo is off and its settings before, for the handler.
volatile std::sig_atomic_t g_terminal = -1;
termios g_saved{};

extern "C" void RestoreEchoAndEnd(int signal) {
    ::tcsetattr(g_terminal, TCSANOW, &g_saved);
    // The default action is back (SA_RESETHAND): the signal ends the program.
    std::raise(signal);
}

// The terminal's echo off for the object's life. Signals the program ignores
// or handles itself are left as they are.
class EchoOff {
public:
    explicit EchoOff(int fd) {
        if (::tcgetattr(fd, &g_saved) != 0) return;
        g_terminal = fd;
        struct sigaction restore {};
        restore.sa_handler = RestoreEchoAndEnd;
        restore.sa_flags = SA_RESETHAND;
        sigemptyset(&restore.sa_mask);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            ::sigaction(kEndingSignals[i], nullptr, &m_previous[i]);
            if (m_previous[i].sa_handler == SIG_DFL) {
                ::sigaction(kEndingSignals[i], &restore, nullptr);
            }
        }
        termios quiet = g_saved;
        quiet.c_lflag &= ~tcflag_t{ECHO};
        quiet.c_lflag |= ECHONL;
        // What was typed before the question was shown is dropped.
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    ~EchoOff() {
        if (g_terminal < 0) return;
        ::tcsetattr(g_terminal, TCSANOW, &g_saved);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            ::sigaction(kEndingSignals[i], &m_previous[i], nullptr);
        }
        g_terminal = -1;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    struct sigaction m_previous[std::size(kEndingSignals)]{};
};

[[noreturn]] void Unreadable(const std::string& why) {
    throw std::runtime_error("cannot read the password: " + why);
}

// One byte at a time, so that nothing after the line is taken from the input.
std::string ReadLine(int fd) {
    std::string line;
    char c = 0;
    for (;;) {
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) Unreadable(std::generic_category().message(errno));
        if (got == 0 || c == '\n') break;
        if (line.size() == kMaxPasswordBytes) {
            Unreadable("the line is longer than " + std::to_string(kMaxPasswordBytes) + " bytes");
        }
        line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

std::string ReadPasswordLine(int fd, std::ostream& asked, std::string_view prompt) {
    if (fd < 0) Unreadable("there is no standard input");
    if (!::isatty(fd)) return ReadLine(fd);
    const EchoOff quiet(fd);
    asked << prompt << std::flush;
    return ReadLine(fd);
}

}  // namespace vandrelle
