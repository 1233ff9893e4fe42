// SPDX-License-Identifier: GPL-3.0-or-later
#include "Process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vandrelle {

std::optional<std::string> FindProgramOnPath(std::string_view name) {
    if (name.empty()) return std::nullopt;
    const std::string wanted(name);
    if (wanted.find('/') != std::string::npos) {
        if (::access(wanted.c_str(), X_OK) == 0) return wanted;
        return std::nullopt;
    }
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!dirs.empty()) {
        const auto colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
        const std::string candidate =
            (dir.empty() ? std::string(".") : std::string(dir)) + "/" + wanted;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

bool StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                   std::string* error) {
    // Everything the children need is prepared before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        if (error) *error = std::string("cannot start ") + program + ": " + std::strerror(errno);
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        const int saved = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        if (error) *error = std::string("cannot start ") + program + ": " + std::strerror(saved);
        return false;
    }
    if (child == 0) {
        // The middle process: a new session, then the program in a grandchild,
        // so the program is adopted by init and never becomes our zombie.
        ::close(pipeFds[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::execv(argv[0], argv.data());
            const int failure = errno;
            [[maybe_unused]] auto n = ::write(pipeFds[1], &failure, sizeof failure);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(pipeFds[1]);
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
