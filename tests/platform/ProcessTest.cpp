// SPDX-License-Identifier: GPL-3.0-or-later
#include "Process.h"

#include "FileUtil.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

namespace vandrelle::test {
namespace {

void WriteProgram(const std::string& path, mode_t mode) {
    WriteFile(path, "#!/bin/sh\nexit 0\n");
    ::chmod(path.c_str(), mode);
}

// Only regular executable files are taken, and an empty element of PATH
// does not stand for the current folder.
TEST(FindProgramOnPathTest, TakesOnlyRegularExecutableFiles) {
    TempDir dir;
    MakeFolders(dir.file("a/prog"));  // a folder of that name
    MakeFolders(dir.file("b"));
    WriteProgram(dir.file("b/prog"), 0644);  // not executable
    MakeFolders(dir.file("c"));
    WriteProgram(dir.file("c/prog"), 0755);
    ScopedEnv path("PATH", dir.file("a") + ":" + dir.file("b") + ":" + dir.file("c"));
    EXPECT_EQ(FindProgramOnPath("prog"), dir.file("c/prog"));
    EXPECT_EQ(FindProgramOnPath(dir.file("c/prog")), dir.file("c/prog"));
    EXPECT_EQ(FindProgramOnPath(dir.file("a/prog")), std::nullopt);
    EXPECT_EQ(FindProgramOnPath(dir.file("b/prog")), std::nullopt);

    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.file("c"));
    const std::string none = dir.file("a");
    for (const std::string& value : {std::string(), ":" + none, none + ":", none + "::" + none}) {
        ScopedEnv empty("PATH", value);
        EXPECT_EQ(FindProgramOnPath("prog"), std::nullopt) << "PATH=" << value;
    }
    std::filesystem::current_path(previous);
}

struct Inherited {
    std::vector<int> descriptors;
    std::string blocked;  // the hex masks of /proc/<pid>/status
    std::string ignored;
};

Inherited ReadReport(const std::string& text) {
    Inherited report;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string key, value;
        words >> key >> value;
        if (key == "fd") report.descriptors.push_back(std::stoi(value));
        if (key == "SigBlk:") report.blocked = value;
        if (key == "SigIgn:") report.ignored = value;
    }
    return report;
}

// The signals between 31 and SIGRTMIN belong to the C library, which refuses
// to change them and sets them up itself in every program it starts; what a
// launcher inherited for them says nothing of the launch.
std::uint64_t WithoutLibcSignals(const std::string& hexMask) {
    std::uint64_t mask = std::stoull(hexMask, nullptr, 16);
    for (int signal = 32; signal < SIGRTMIN; ++signal) mask &= ~(std::uint64_t{1} << (signal - 1));
    return mask;
}

TEST(StartDetachedTest, TheProgramInheritsOnlyTheStandardDescriptorsAndDefaultSignals) {
    TempDir dir;
    // What a library might leave behind: descriptors without close-on-exec
    // (one of them high), a blocked signal and an ignored one.
    const int low = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(low, 3);
    const int high = ::fcntl(low, F_DUPFD, 200);
    ASSERT_GE(high, 200);
    sigset_t usr2, previousMask;
    ::sigemptyset(&usr2);
    ::sigaddset(&usr2, SIGUSR2);
    ::pthread_sigmask(SIG_BLOCK, &usr2, &previousMask);
    struct sigaction ignore {
    }, previousAction{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGUSR1, &ignore, &previousAction);

    std::string error;
    const bool started = StartDetached(VANDRELLE_INHERITANCE_PROBE, {dir.file("report")}, &error);

    ::sigaction(SIGUSR1, &previousAction, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::close(high);
    ::close(low);
    ASSERT_TRUE(started) << error;
    for (int i = 0; i < 250 && !FileExists(dir.file("report")); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const Inherited report = ReadReport(ReadFile(dir.file("report")));
    // Standard error stays, so the listing is known to have worked.
    EXPECT_NE(std::find(report.descriptors.begin(), report.descriptors.end(), 2),
              report.descriptors.end());
    for (const int fd : report.descriptors) EXPECT_LE(fd, 2) << "descriptor " << fd << " leaked";
    EXPECT_EQ(report.blocked, "0000000000000000");
    EXPECT_EQ(WithoutLibcSignals(report.ignored), 0u) << report.ignored;
}

TEST(StartDetachedTest, AProgramThatCannotRunIsReportedWithTheReason) {
    TempDir dir;
    WriteProgram(dir.file("plain"), 0644);
    std::string error;
    EXPECT_FALSE(StartDetached(dir.file("plain"), {}, &error));
    EXPECT_TRUE(test::HasText(error, std::strerror(EACCES)));
    EXPECT_FALSE(StartDetached(dir.file("missing"), {}, &error));
    EXPECT_TRUE(test::HasText(error, std::strerror(ENOENT)));
}

}  // namespace
}  // namespace vandrelle::test
