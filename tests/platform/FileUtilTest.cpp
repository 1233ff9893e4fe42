// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileUtil.h"
#include "Process.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

namespace vandrelle::test {
namespace {

// Runs `check` in a child process and tells whether it held.
bool HoldsInChild(const std::function<bool()>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(check() ? 0 : 1);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool Write(const std::string& path, const std::string& data, std::string* error = nullptr) {
    return WriteFileAtomically(path, data, 0600, error, "~");
}

// An existing file keeps its mode, and root saving another user's file
// leaves it that user's. A leftover temporary file passes nothing on: not
// its mode, and not a link planted under its name to have the file written
// elsewhere. A file reached through a chain of relative links in other
// (private) folders is replaced where the chain ends, and the links stay.
// A copy kept beside takes the first free name, never a link's, and the
// original's mode.
//
// A write that fails half-way (here the file size limit; in life a full
// disk), or would replace something other than a regular file, is reported,
// leaves what stood there and no temporary file; no folder replaces a file.
//
// Only regular files up to the limit are read. The reads run in a child, so
// that a read that never ends (of a FIFO without a writer, or of /dev/zero)
// fails the test by the alarm instead of hanging it, and cannot take the
// machine's memory.
TEST(FileUtilTest, WritesKeepModeOwnerAndWhatStoodThereAndOnlyRegularFilesAreRead) {
    TempDir dir;
    WriteFile(dir.file("a"), "old");
    ASSERT_EQ(::chmod(dir.file("a").c_str(), 0644), 0);
    const bool root = ::geteuid() == 0;
    ASSERT_TRUE(!root || ::chown(dir.file("a").c_str(), 65534, 65534) == 0);
    ASSERT_TRUE(Write(dir.file("a"), "new"));
    EXPECT_EQ(ReadFile(dir.file("a")), "new");
    EXPECT_EQ(Permissions(dir.file("a")), 0644u);
    EXPECT_EQ(StatOf(dir.file("a")).st_uid, root ? 65534u : ::geteuid());
    WriteFile(dir.file("victim"), "not yours");
    ASSERT_EQ(::chmod(dir.file("victim").c_str(), 0666), 0);
    ASSERT_EQ(::symlink(dir.file("victim").c_str(), dir.file("b~").c_str()), 0);
    ASSERT_TRUE(Write(dir.file("b"), "secret"));
    EXPECT_EQ(ReadFile(dir.file("victim")), "not yours");
    EXPECT_EQ(ReadFile(dir.file("b")), "secret");
    EXPECT_EQ(Permissions(dir.file("b")), 0600u);
    EXPECT_EQ(StatOf(dir.file("b~"), false).st_mode, 0u);

    ASSERT_TRUE(MakeFolders(dir.file("links/sub")));
    EXPECT_EQ(Permissions(dir.file("links")), 0700u);
    ASSERT_EQ(::symlink("sub/mid", dir.file("links/a").c_str()), 0);
    ASSERT_EQ(::symlink("../../a", dir.file("links/sub/mid").c_str()), 0);
    ASSERT_TRUE(Write(dir.file("links/a"), "through links"));
    EXPECT_EQ(ReadFile(dir.file("a")), "through links");
    EXPECT_TRUE(S_ISLNK(StatOf(dir.file("links/a"), false).st_mode));
    EXPECT_TRUE(S_ISLNK(StatOf(dir.file("links/sub/mid"), false).st_mode));

    WriteFile(dir.file("a.kept"), "an earlier copy");
    ASSERT_EQ(::symlink(dir.file("victim2").c_str(), dir.file("a.kept.1").c_str()), 0);
    std::string copy, copyError;
    ASSERT_TRUE(CopyBeside(dir.file("a"), ".kept", &copy, &copyError)) << copyError;
    EXPECT_EQ(copy, dir.file("a.kept.2"));
    EXPECT_EQ(ReadFile(copy), "through links");
    EXPECT_EQ(Permissions(copy), 0644u);
    EXPECT_EQ(ReadFile(dir.file("a.kept")), "an earlier copy");
    EXPECT_FALSE(FileExists(dir.file("victim2")));

    const std::string path = dir.file("a");
    WriteFile(path, "old");
    EXPECT_TRUE(HoldsInChild([&path] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        return !Write(path, std::string(65536, 'x'), &error) && HasText(error, "cannot write");
    }));
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_FALSE(FileExists(path + "~"));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const auto& [name, reason] : {std::pair{"fifo", "not a regular file"}, {"a/b", "a/b"}}) {
        std::string error;
        EXPECT_FALSE(Write(dir.file(name), "data", &error)) << name;
        EXPECT_TRUE(HasText(error, reason));
    }
    EXPECT_FALSE(MakeFolders(path));

    for (const auto& [name, size] :
         {std::pair{"limit", kMaxReadBytes}, {"big", kMaxReadBytes + 1}}) {
        WriteFile(dir.file(name), "");
        ASSERT_EQ(::truncate(dir.file(name).c_str(), static_cast<off_t>(size)), 0);
    }
    const auto readsAsExpected = [&] {
        ::alarm(10);
#ifndef __SANITIZE_ADDRESS__
        const rlimit memory{std::size_t{2} << 30, std::size_t{2} << 30};
        ::setrlimit(RLIMIT_AS, &memory);
#endif
        std::string data, error, fifoError, zeroError, bigError;
        return !ReadWholeFile(dir.file("fifo"), &data, &fifoError) &&
               !ReadWholeFile("/dev/zero", &data, &zeroError) &&
               !ReadWholeFile(dir.file("big"), &data, &bigError) &&
               HasText(fifoError + zeroError, "not a regular file") &&
               HasText(bigError, "larger than 64 MiB") &&
               ReadWholeFile(dir.file("limit"), &data, &error) && data.size() == kMaxReadBytes;
    };
    EXPECT_TRUE(HoldsInChild(readsAsExpected));
}

// A digest tells apart versions that differ in one byte anywhere (in the
// 32-byte blocks, the words after them and the last bytes) or only in the
// order of two words.
TEST(FileUtilTest, DigestsTellEveryOneByteChangeAndSwappedWords) {
    std::string text;
    for (int i = 0; i < 75; ++i) text += static_cast<char>('a' + i % 26);
    const ContentDigest digest = DigestOf(text);
    EXPECT_EQ(DigestOf(std::string(text)), digest);
    for (std::size_t at = 0; at < text.size(); ++at) {
        std::string changed = text;
        changed[at] ^= 1;
        EXPECT_NE(DigestOf(changed).hash, digest.hash) << "byte " << at;
    }
    const std::string swapped = text.substr(8, 8) + text.substr(0, 8) + text.substr(16);
    EXPECT_NE(DigestOf(swapped).hash, digest.hash);
}

// Only regular executable files are taken, and an empty element of PATH
// does not stand for the current folder; a program that cannot run is
// reported with the reason.
TEST(FindProgramOnPathTest, TakesOnlyRegularExecutableFiles) {
    TempDir dir;
    MakeFolders(dir.file("a/prog"));  // a folder of that name
    MakeFolders(dir.file("b"));
    WriteFile(dir.file("b/prog"), "#!/bin/sh\n");  // not executable
    MakeFolders(dir.file("c"));
    WriteFile(dir.file("c/prog"), "#!/bin/sh\n");
    ASSERT_EQ(::chmod(dir.file("c/prog").c_str(), 0755), 0);
    ScopedEnv path("PATH", dir.file("a") + ":" + dir.file("b") + ":" + dir.file("c"));
    EXPECT_EQ(FindProgramOnPath("prog"), dir.file("c/prog"));
    EXPECT_EQ(FindProgramOnPath(dir.file("c/prog")), dir.file("c/prog"));
    EXPECT_EQ(FindProgramOnPath(dir.file("b/prog")), std::nullopt);
    std::string error;
    EXPECT_FALSE(StartDetached(dir.file("b/prog"), {}, &error));
    EXPECT_TRUE(HasText(error, std::strerror(EACCES)));

    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.file("c"));
    const std::string none = dir.file("a");
    for (const std::string& value : {std::string(), ":" + none, none + ":", none + "::" + none}) {
        ScopedEnv empty("PATH", value);
        EXPECT_EQ(FindProgramOnPath("prog"), std::nullopt) << "PATH=" << value;
    }
    std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace vandrelle::test
