// SPDX-License-Identifier: GPL-3.0-or-later
#include "SystemInfo.h"

#include "FileUtil.h"

#include <pwd.h>
#include <sys/random.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace vandrelle {

std::string ProgramFolder() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    return FolderOf(std::string(buf, static_cast<std::size_t>(n)));
}

std::string UserConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) return std::string(xdg) + "/vandrelle";
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw ? pw->pw_dir : "/";
    }
    return std::string(home) + "/.config/vandrelle";
}

bool SecureRandomBytes(std::uint8_t* out, std::size_t count) {
    while (count > 0) {
        ssize_t n = ::getrandom(out, count, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace vandrelle
