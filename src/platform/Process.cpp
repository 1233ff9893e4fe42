// SPDX-License-Identifier: GPL-3.0-or-later
#include "Process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace vandrelle {
namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Where the started program's side of the error-reporting pipe is kept while
// every other inherited descriptor is closed.
constexpr int kReportFd = 3;

// One past the highest descriptor the fallback close loop reaches: the
// process's limit, read before fork because getrlimit is not on the list of
// calls allowed after it.
int DescriptorLimit() {
    constexpr rlim_t kCap = 1 << 20;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kCap;
    return static_cast<int>(std::min(limit.rlim_cur, kCap));
}

// Closes every descriptor from `first` up. close_range needs Linux 5.9; an
// older kernel gets the loop.
void CloseFrom(int first, int limit) {
    if (::close_range(static_cast<unsigned>(first), ~0U, 0) == 0) return;
    for (int fd = first; fd < limit; ++fd) ::close(fd);
}

// Every disposition back to the default (an ignored signal would stay ignored
// across exec), then nothing blocked. Signals stay blocked until the
// dispositions are reset, so none of the caller's handlers runs here.
void ResetSignals() {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    ::sigemptyset(&byDefault.sa_mask);
    for (int s = 1; s < NSIG; ++s) ::sigaction(s, &byDefault, nullptr);  // some refuse: harmless
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The process between us and the program. It keeps nothing of ours but the
// standard descriptors and the report pipe, starts a new session and forks
// the program, so the program is adopted by init and never becomes our
// zombie. Only async-signal-safe calls from here on.
[[noreturn]] void RunMiddleProcess(char* const* argv, int pipeRead, int pipeWrite, int limit) {
    ::close(pipeRead);
    if (pipeWrite != kReportFd) {
        if (::dup3(pipeWrite, kReportFd, O_CLOEXEC) < 0) ::_exit(1);
        ::close(pipeWrite);
    }
    CloseFrom(kReportFd + 1, limit);
    ::setsid();
    const pid_t program = ::fork();
    if (program == 0) {
        ResetSignals();
        ::execv(argv[0], argv);
        const int failure = errno;
        [[maybe_unused]] auto n = ::write(kReportFd, &failure, sizeof failure);
        ::_exit(127);
    }
    ::_exit(program < 0 ? 1 : 0);
}

}  // namespace

std::optional<std::string> FindProgramOnPath(std::string_view name) {
    if (name.empty()) return std::nullopt;
    const std::string wanted(name);
    if (wanted.find('/') != std::string::npos) {
        if (IsExecutableFile(wanted)) return wanted;
        return std::nullopt;
    }
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!dirs.empty()) {
        const auto colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
        // An empty element would mean the current folder: never searched.
        if (dir.empty()) continue;
        const std::string candidate = std::string(dir) + "/" + wanted;
        if (IsExecutableFile(candidate)) return candidate;
    }
    return std::nullopt;
}

bool StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                   std::string* error) {
    // Everything the children need is prepared before fork.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int limit = DescriptorLimit();

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        if (error) *error = std::string("cannot start ") + program + ": " + std::strerror(errno);
        return false;
    }
    sigset_t all, previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t child = ::fork();
    if (child == 0) RunMiddleProcess(argv.data(), pipeFds[0], pipeFds[1], limit);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(pipeFds[1]);
    if (child < 0) {
        ::close(pipeFds[0]);
        if (error)
            *error = std::string("cannot start ") + program + ": " + std::strerror(forkError);
        return false;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int failure = 0;
    ssize_t n;
    while ((n = ::read(pipeFds[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    ::close(pipeFds[0]);
    if (n == static_cast<ssize_t>(sizeof failure)) {
        if (error) *error = std::string("cannot start ") + program + ": " + std::strerror(failure);
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        if (error) *error = std::string("cannot start ") + program;
        return false;
    }
    return true;
}

}  // namespace vandrelle
