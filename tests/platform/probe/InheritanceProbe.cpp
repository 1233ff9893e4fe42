// SPDX-License-Identifier: GPL-3.0-or-later
// Started by the process tests: writes what it inherited to the file named by
// its first argument, one "fd N" line per open descriptor, then the SigBlk and
// SigIgn lines of its status. The report is renamed into place so that the
// test reads it whole.
#include <dirent.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::string report;
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds) return 3;
    const int own = ::dirfd(fds);
    while (const dirent* entry = ::readdir(fds)) {
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own) continue;
        report += std::string("fd ") + entry->d_name + "\n";
    }
    ::closedir(fds);
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("SigBlk:") || line.starts_with("SigIgn:")) report += line + "\n";
    }
    const std::string temp = std::string(argv[1]) + ".tmp";
    std::ofstream(temp) << report;
    return std::rename(temp.c_str(), argv[1]) == 0 ? 0 : 4;
}
