// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace vandrelle::test {

// A child process started for a test and stopped by its PID.
class ChildProcess {
public:
    // Its output and errors are appended to `log` (dropped when empty). `inChild`
    // runs in the child just before the program starts and may only make system
    // calls, as the test may have other threads; when it returns false the child
    // ends with status 126. Returns once the child runs the program (or has
    // ended), so that it holds none of the caller's descriptors any more.
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                 const std::string& log = {}, const std::function<bool()>& inChild = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Asks it to end, then forces it after a second, and waits for it.
    void Kill();
    // False once it has ended (it is then waited for).
    bool Running();
    // Its exit code (128 + the signal that killed it), or -1 when it did not end within `ms`.
    int ExitCode(int ms);
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_status = -1;
};

// A folder of the peer's own under the temporary folder, removed with it. Its
// "*.log" files are what a failing test prints.
class WorkFolder {
public:
    explicit WorkFolder(const std::string& kind);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    // Every log file of the folder, then each of `more` that exists, under its path.
    std::string Logs(const std::vector<std::string>& more = {}) const;

private:
    std::string m_path;
};

// The whole file, empty when it cannot be read.
std::string ReadText(const std::string& path);

// What the shell command prints, without its last line end.
std::string Shell(const std::string& command);

// Whether the process is there and not merely waiting to be reaped.
bool ProcessAlive(pid_t pid);

// Whether that process itself listens on the TCP port (and not another that
// took the port first), as `ss` (iproute2) sees it.
bool ListensOn(pid_t pid, int port);

// A TCP port without sockets now (connections to it are refused), picked at
// random below the range the system hands out to outgoing connections, so
// that neither a client's own end nor a concurrent run is likely to take it
// before a peer binds it. A peer that still finds it taken starts again on another.
int FreePort();

// A free X display number (200 and up, from a random start): none that a
// server holds or left behind.
int FreeDisplay();

// Whether neither the display's lock file nor its socket exists.
bool DisplayFree(int display);

// Whether that process holds the display: its lock file names it and the socket exists.
bool DisplayHeldBy(int display, pid_t pid);

// Removes the lock file and socket of a display whose server has ended without
// removing them (killed), and nothing when a live process still holds it.
void RemoveDisplayLeftovers(int display);

// Waits (bounded by `ms`) until `done` holds, checking every 20 ms.
bool WaitFor(const std::function<bool()>& done, int ms);

}  // namespace vandrelle::test
