// SPDX-License-Identifier: GPL-3.0-or-later
// A process killed while it saves must leave the configuration file whole: the
// old version or the new one, byte for byte, and never no file at all.
#include "ConfigStore.h"
#include "FileUtil.h"
#include "RegFileKeyStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <random>
#include <string>
#include <thread>

namespace vandrelle::test {
namespace {

constexpr int kServers = 3000;  // large enough to be caught in the middle of a save
constexpr int kKills = 25;
constexpr const char* kVersions[] = {"first version", "second version"};

// Servers with their own log-on settings, so that every save re-encodes a password.
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

TEST(CrashSafetyTest, KilledSaveLeavesOneWholeVersion) {
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
    std::mt19937 random(20240611u);
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            SaveForever(dir, fds[1]);
        }
        ::close(fds[1]);
        char report[2];  // loaded and saved once
        const bool saving = ::read(fds[0], report, 1) == 1 && ::read(fds[0], report + 1, 1) == 1;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        ::close(fds[0]);
        ASSERT_TRUE(saving && WIFSIGNALED(status)) << "the child stopped by itself";
        const std::string bytes = ReadFile(dir.file("Vandrelle.xml"));
        ASSERT_TRUE(bytes == versions[0] || bytes == versions[1])
            << "the file is neither version (" << bytes.size() << " bytes)";
    }
}

}  // namespace
}  // namespace vandrelle::test
