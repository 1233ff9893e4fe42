// SPDX-License-Identifier: GPL-3.0-or-later
// The peers themselves: they find ports and displays of their own, run beside
// other instances, and leave nothing behind.
#include "Peers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace vandrelle::test {
namespace {

int DisplayNumber(const std::string& display) {
    return std::stoi(display.substr(1));
}

pid_t DisplayServer(int display) {
    std::ifstream lock("/tmp/.X" + std::to_string(display) + "-lock");
    pid_t pid = 0;
    lock >> pid;
    return pid;
}

// What the machine's xrdp services keep under /run/xrdp, by name.
std::string RunFolderListing() {
    std::string names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator("/run/xrdp", ec)) {
        names += entry.path().string() + "\n";
    }
    return std::filesystem::exists("/run/xrdp", ec) ? "/run/xrdp\n" + names : "";
}

TEST(PeersTest, ListensOnTellsTheListeningProcessFromOthers) {
    const int port = FreePort();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_FALSE(ListensOn(::getpid(), port));  // bound, not yet listening
    ASSERT_EQ(::listen(fd, 1), 0);
    EXPECT_TRUE(ListensOn(::getpid(), port));
    // However slowly the child comes to its program, it is started with none
    // of this process's descriptors: a socket shared until then is not its own.
    ChildProcess other({"sleep", "10"}, {}, {}, [] { return ::usleep(300000) == 0; });
    EXPECT_FALSE(ListensOn(other.pid(), port));
    EXPECT_NE(FreePort(), port);
    ::close(fd);
    EXPECT_FALSE(ListensOn(::getpid(), port));
}

TEST(PeersTest, AChildsOutputGoesToItsLogAndItsEndIsSeen) {
    WorkFolder work("peers");
    ChildProcess child({"sh", "-c", "echo to the log; echo errors too >&2"}, {},
                       work.file("child.log"));
    ASSERT_TRUE(WaitFor([&] { return !child.Running(); }, 5000));
    const std::string logs = work.Logs();
    EXPECT_NE(logs.find(work.file("child.log")), std::string::npos) << logs;
    EXPECT_NE(logs.find("to the log\nerrors too\n"), std::string::npos) << logs;
}

TEST(PeersTest, AKilledDisplayLeavesNoLockOrSocket) {
    int display = 0;
    {
        ShadowServer server;
        ASSERT_TRUE(server.ok()) << server.error();
        display = DisplayNumber(server.display());
        ASSERT_FALSE(DisplayFree(display));
        // Killed outright, the X server cannot remove its lock and socket.
        const pid_t xvfb = DisplayServer(display);
        ASSERT_GT(xvfb, 0);
        ::kill(xvfb, SIGKILL);
        ASSERT_TRUE(WaitFor([&] { return !ProcessAlive(xvfb); }, 5000));
        EXPECT_FALSE(DisplayFree(display));
    }
    EXPECT_TRUE(DisplayFree(display));
}

TEST(PeersTest, ShadowServersSideBySideHaveTheirOwnDisplaysAndPorts) {
    ShadowServer first, second;
    ASSERT_TRUE(first.ok()) << first.error();
    ASSERT_TRUE(second.ok()) << second.error();
    EXPECT_NE(first.display(), second.display());
    EXPECT_NE(first.port(), second.port());
    EXPECT_NE(first.Logs().find("shadow-server.log"), std::string::npos) << first.Logs();
}

// Another xrdp running on the machine (the system's services, or another
// test's) is no obstacle, and no trace of either is left.
TEST(PeersTest, XrdpServersSideBySideLeaveTheMachineAsTheyFoundIt) {
    if (const std::string why = XrdpServer::Unavailable(); !why.empty()) {
        GTEST_SKIP() << "xrdp cannot run here: " << why;
    }
    const std::string before = RunFolderListing();
    {
        XrdpServer first, second;
        ASSERT_TRUE(first.ok()) << first.error();
        ASSERT_TRUE(second.ok()) << second.error();
        EXPECT_NE(first.port(), second.port());
    }
    EXPECT_EQ(RunFolderListing(), before);
}

}  // namespace
}  // namespace vandrelle::test
