// SPDX-License-Identifier: GPL-3.0-or-later
// A process killed while it saves must leave the configuration file whole: the
// old version or the new one, byte for byte, and never no file at all.
#include "ConfigStore.h"
#include "FileUtil.h"
#include "RegFileKeyStore.h"
#include "TempDir.h"
#include "XmlDocument.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <utility>

namespace vandrelle {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kGroups = 25;
constexpr int kServersPerGroup = 100;
constexpr int kKills = 25;
constexpr int kMaxDelayMicroseconds = 40000;
constexpr std::uint32_t kDefaultSeed = 20240611;
constexpr auto kChildTimeout = std::chrono::seconds(30);

constexpr const char* kFirst = "first version";
constexpr const char* kSecond = "second version";

// Child exit codes, so that a failure in the child can be told apart.
enum ChildExit { kChildLoadFailed = 10, kChildNoServer, kChildSaveFailed, kChildThrew, kChildPipe };

std::string ServerName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "srv-%05d", index);
    return name;
}

// Groups of servers, half of them with their own log-on settings.
std::string ConfigText(const PasswordKey& key) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Vandrelle><Servers>\n";
    for (int g = 0; g < kGroups; ++g) {
        xml += "<Group><Properties><Name>Group " + std::to_string(g + 1) +
               "</Name><Description/><InheritGeneral>" + std::to_string(g % 2) +
               "</InheritGeneral>";
        if (g % 2 == 0) {
            xml += "<UserName>admin</UserName><Domain>CORP</Domain><Password>" +
                   EncodePassword("group-" + std::to_string(g), key) +
                   "</Password><RDPPort>3389</RDPPort>";
        }
        xml += "<GroupCollapsed>0</GroupCollapsed></Properties>\n";
        for (int i = 0; i < kServersPerGroup; ++i) {
            const int s = g * kServersPerGroup + i;
            xml += "<Server><Name>" + ServerName(s) + "</Name><Description>rack " +
                   std::to_string(s) + "</Description><Server>" + ServerName(s) +
                   ".example.test</Server><InheritGeneral>" + std::to_string(s % 2) +
                   "</InheritGeneral>";
            if (s % 2 == 0) {
                xml += "<UserName>user-" + std::to_string(s) + "</UserName><Domain>CORP</Domain>" +
                       "<Password>" + EncodePassword("pw-" + std::to_string(s), key) +
                       "</Password><RDPPort>3389</RDPPort>";
            }
            xml +=
                "<ConnectToServerConsole>0</ConnectToServerConsole><DesktopHeight>0</"
                "DesktopHeight><DesktopWidth>0</DesktopWidth><ColorDepth>16</ColorDepth>"
                "<FullScreen>0</FullScreen><RedirectPrinters>0</RedirectPrinters>"
                "<RedirectClipboard>1</RedirectClipboard><RedirectPorts>0</RedirectPorts>"
                "<RedirectSmartCards>0</RedirectSmartCards><RedirectDrives>0</RedirectDrives>"
                "<DriveCollection/><AudioRedirectionMode>0</AudioRedirectionMode>"
                "<KeyboardHookMode>1</KeyboardHookMode><PerformanceFlags>384</PerformanceFlags>"
                "<BitmapPersistence>1</BitmapPersistence></Server>\n";
        }
        xml += "</Group>\n";
    }
    xml += "</Servers><Settings/></Vandrelle>\n";
    return xml;
}

// The server whose description the saves toggle; it has its own password, so
// every save also re-encodes that.
constexpr int kTargetServer = (kGroups / 2) * kServersPerGroup + 10;
NodePath TargetPath() {
    return NodePath({"Group " + std::to_string(kGroups / 2 + 1), ServerName(kTargetServer)});
}

struct Files {
    std::string config;
    std::string userHive;
    std::string machineHive;
};

bool WriteByte(int fd, char c) {
    for (;;) {
        if (::write(fd, &c, 1) == 1) return true;
        if (errno != EINTR) return false;
    }
}

// Runs in the forked child: loads the file, then saves forever, toggling the
// description. Reports 'r' once loaded and 's' after every completed save.
[[noreturn]] void SaveForever(const Files& files, int reportFd) {
    try {
        RegFileKeyStore keys(files.userHive, files.machineHive);
        CConfigStore store(keys);
        store.Init();
        if (!store.Load(files.config)) ::_exit(kChildLoadFailed);
        store.SetConfigPath(files.config);
        const pugi::xml_node node = store.FindNode(TargetPath());
        if (!node) ::_exit(kChildNoServer);
        Properties record;
        store.ReadProperties(node, record);
        if (!WriteByte(reportFd, 'r')) ::_exit(kChildPipe);
        for (;;) {
            record.Description = record.Description == kFirst ? kSecond : kFirst;
            if (!store.WriteServerProperties(node, record)) ::_exit(kChildSaveFailed);
            if (!WriteByte(reportFd, 's')) ::_exit(kChildPipe);
        }
    } catch (...) {
        ::_exit(kChildThrew);
    }
}

std::uint32_t Seed() {
    const char* text = std::getenv("VANDRELLE_CRASH_SEED");
    return text && *text ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10))
                         : kDefaultSeed;
}

// What the parent heard from one child, and how often it found the file missing.
struct Reports {
    bool ready = false;
    int saves = 0;
    int missing = 0;
};

// Reads the child's reports until `enough` holds or `until` passes (true), or
// the pipe closes (false), checking between reads, often, that the file exists.
bool Follow(int fd, const std::string& config, Reports& reports, Clock::time_point until,
            const std::function<bool()>& enough) {
    for (;;) {
        if (!FileExists(config)) ++reports.missing;
        if (enough() || Clock::now() >= until) return true;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 1);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        for (ssize_t i = 0; i < n; ++i) {
            reports.ready = reports.ready || buffer[i] == 'r';
            reports.saves += buffer[i] == 's';
        }
    }
}

TEST(CrashSafetyTest, KilledSaveLeavesOneWholeVersion) {
    const std::uint32_t seed = Seed();
    std::cout << "crash-safety seed " << seed << " (set VANDRELLE_CRASH_SEED to repeat)"
              << std::endl;
    RecordProperty("seed", std::to_string(seed));

    test::TempDir dir;
    const Files files{dir.file("Vandrelle.xml"), dir.file("registry.reg"), dir.file("machine.reg")};

    // The two versions, made by the same code the child runs: saving the
    // second and then the first leaves the first on disk for the child.
    std::string first, second;
    {
        RegFileKeyStore keys(files.userHive, files.machineHive);
        CConfigStore store(keys);
        store.Init();  // creates the key the children will read
        test::WriteFile(files.config, ConfigText(store.Key()));
        ASSERT_TRUE(store.Load(files.config)) << store.LastLoadError();
        store.SetConfigPath(files.config);
        const pugi::xml_node node = store.FindNode(TargetPath());
        ASSERT_TRUE(node);
        Properties record;
        store.ReadProperties(node, record);
        ASSERT_EQ(record.Password, "pw-" + std::to_string(kTargetServer));
        record.Description = kSecond;
        ASSERT_TRUE(store.WriteServerProperties(node, record)) << store.LastSaveError();
        second = test::ReadFile(files.config);
        record.Description = kFirst;
        ASSERT_TRUE(store.WriteServerProperties(node, record)) << store.LastSaveError();
        first = test::ReadFile(files.config);
    }
    ASSERT_NE(first, second);
    ASSERT_GT(first.size(), 1000000u) << "too small to be caught in the middle of a save";

    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(0, kMaxDelayMicroseconds);
    std::uniform_int_distribution<int> savesFirst(0, 2);
    int totalSaves = 0;
    int sawFirst = 0, sawSecond = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill) + ", seed " + std::to_string(seed));
        // Drawn before the fork, so that the sequence does not depend on timing.
        const int waitSaves = savesFirst(random);
        const auto wait = std::chrono::microseconds(delay(random));

        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        std::cout.flush();
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            SaveForever(files, fds[1]);
        }
        ::close(fds[1]);

        // Kill at a random moment of the save loop: after a random number of
        // completed saves (so that renames happen) and a random delay.
        Reports reports;
        const auto deadline = Clock::now() + kChildTimeout;
        const bool running =
            Follow(fds[0], files.config, reports, deadline, [&] { return reports.ready; }) &&
            reports.ready &&
            Follow(fds[0], files.config, reports, deadline,
                   [&] { return reports.saves >= waitSaves; }) &&
            reports.saves >= waitSaves &&
            Follow(fds[0], files.config, reports, Clock::now() + wait, [] { return false; });
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        Follow(fds[0], files.config, reports, Clock::time_point::max(), [] { return false; });
        ::close(fds[0]);

        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the child ended by itself, exit code "
            << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        ASSERT_TRUE(running) << "the child did not load and save within " << kChildTimeout.count()
                             << " s";
        EXPECT_EQ(reports.missing, 0) << "the configuration file was missing while saving";
        totalSaves += reports.saves;

        std::string bytes, error;
        ASSERT_TRUE(ReadWholeFile(files.config, &bytes, &error)) << error;
        pugi::xml_document doc;
        EXPECT_TRUE(ParseDocument(doc, bytes, &error)) << error;
        const bool isFirst = bytes == first;
        const bool isSecond = bytes == second;
        ASSERT_TRUE(isFirst || isSecond)
            << "the file is neither version (" << bytes.size() << " bytes; the versions have "
            << first.size() << " and " << second.size() << ")";
        sawFirst += isFirst;
        sawSecond += isSecond;
    }
    std::cout << "saves completed " << totalSaves << "; file left as the first version " << sawFirst
              << " times, as the second " << sawSecond << " times" << std::endl;
    EXPECT_GE(totalSaves, kKills) << "too few saves to have tested anything";
}

}  // namespace
}  // namespace vandrelle
