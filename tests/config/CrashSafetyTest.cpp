// SPDX-License-Identifier: GPL-3.0-or-later
// A process killed while it saves must leave the configuration file whole: the
// old version or the new one, byte for byte, and never no file at all.
#include "ConfigStore.h"
#include "FileUtil.h"
#include "RegFileKeyStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>

namespace vandrelle::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kServers = 3000;
constexpr int kKills = 25;
constexpr const char* kVersions[] = {"first version", "second version"};

// Servers with their own log-on settings, so that every save re-encodes a
// password; large enough to be caught in the middle of a save.
std::string ConfigText(const PasswordKey& key) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Vandrelle><Servers>\n";
    for (int s = 0; s < kServers; ++s) {
        xml += "<Server><Name>srv-" + std::to_string(s) + "</Name><Description>rack " +
               std::to_string(s) +
               "</Description><Server>h.example.test</Server>"
               "<InheritGeneral>0</InheritGeneral><UserName>user</UserName><Password>" +
               EncodePassword("pw-" + std::to_string(s), key) +
               "</Password><RDPPort>3389</RDPPort><ColorDepth>16</ColorDepth>"
               "<DriveCollection/><PerformanceFlags>384</PerformanceFlags></Server>\n";
    }
    return xml + "</Servers><Settings/></Vandrelle>\n";
}

// A store over the folder's files with the server whose description the saves toggle.
struct Saver {
    explicit Saver(const TempDir& dir)
        : keys(dir.file("registry.reg"), dir.file("machine.reg")), store(keys) {
        store.Init();
        path = dir.file("Vandrelle.xml");
    }
    bool Open() {
        store.SetConfigPath(path);
        node = store.Load(path) ? store.FindNode(NodePath({"srv-1234"})) : pugi::xml_node();
        if (node) store.ReadProperties(node, record);
        return bool(node);
    }
    bool Save(int version) {
        record.Description = kVersions[version];
        return store.WriteServerProperties(node, record);
    }
    RegFileKeyStore keys;
    CConfigStore store;
    std::string path;
    pugi::xml_node node;
    Properties record;
};

// Runs in the forked child: loads, then saves forever, writing one byte to
// `fd` once loaded and after every save.
[[noreturn]] void SaveForever(const TempDir& dir, int fd) {
    Saver saver(dir);
    if (!saver.Open()) ::_exit(10);
    for (int i = 0;; ++i) {
        if (::write(fd, "s", 1) != 1 || !saver.Save(i % 2)) ::_exit(11);
    }
}

// Reads the child's reports until `saves` were heard or `until` passes,
// checking often that the file exists; false once the pipe closes.
bool Follow(int fd, const std::string& path, int& heard, int saves, Clock::time_point until,
            int& missing) {
    while (heard < saves && Clock::now() < until) {
        missing += !FileExists(path);
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1) <= 0) continue;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR)) return false;
        heard += static_cast<int>(std::max<ssize_t>(n, 0));
    }
    return true;
}

TEST(CrashSafetyTest, KilledSaveLeavesOneWholeVersion) {
    const char* seedText = std::getenv("VANDRELLE_CRASH_SEED");
    const auto seed = seedText ? std::strtoul(seedText, nullptr, 10) : 20240611ul;
    std::cout << "crash-safety seed " << seed << " (set VANDRELLE_CRASH_SEED to repeat)\n";
    TempDir dir;
    std::string versions[2];
    {
        Saver saver(dir);  // creates the key the children read
        WriteFile(saver.path, ConfigText(saver.store.Key()));
        ASSERT_TRUE(saver.Open());
        ASSERT_EQ(saver.record.Password, "pw-1234");
        for (const int v : {1, 0}) {
            ASSERT_TRUE(saver.Save(v)) << saver.store.LastSaveError();
            versions[v] = ReadFile(saver.path);
        }
    }
    ASSERT_GT(versions[0].size(), 1000000u) << "too small to be caught in the middle of a save";

    std::mt19937 random(static_cast<std::uint32_t>(seed));
    int totalSaves = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill) + ", seed " + std::to_string(seed));
        // Drawn before the fork, so that the sequence does not depend on timing.
        const int saves = 1 + static_cast<int>(random() % 3);  // the first report is the load
        const auto delay = std::chrono::microseconds(random() % 40000);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            SaveForever(dir, fds[1]);
        }
        ::close(fds[1]);
        int heard = 0, missing = 0;
        const bool running = Follow(fds[0], dir.file("Vandrelle.xml"), heard, saves,
                                    Clock::now() + std::chrono::seconds(30), missing) &&
                             heard >= saves &&
                             Follow(fds[0], dir.file("Vandrelle.xml"), heard, INT32_MAX,
                                    Clock::now() + delay, missing);
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        ::close(fds[0]);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the child ended by itself, exit code "
            << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        ASSERT_TRUE(running) << "the child did not load and save within 30 s";
        EXPECT_EQ(missing, 0) << "the configuration file was missing while saving";
        totalSaves += heard - 1;
        const std::string bytes = ReadFile(dir.file("Vandrelle.xml"));
        ASSERT_TRUE(bytes == versions[0] || bytes == versions[1])
            << "the file is neither version (" << bytes.size() << " bytes; the versions have "
            << versions[0].size() << " and " << versions[1].size() << ")";
    }
    EXPECT_GE(totalSaves, kKills) << "too few saves to have tested anything";
}

}  // namespace
}  // namespace vandrelle::test
