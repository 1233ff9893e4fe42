// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileUtil.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>

namespace vandrelle::test {
namespace {

// Runs `check` in a child process and tells whether it held. Root ignores
// folder permissions, so `unprivileged` makes the child the user "nobody".
bool HoldsInChild(const std::function<bool()>& check, bool unprivileged = false) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(2);
        }
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool Write(const std::string& path, const std::string& data, std::string* error = nullptr,
           const char* suffix = "~") {
    return WriteFileAtomically(path, data, 0600, error, suffix);
}

// An existing file keeps its mode, and root saving another user's file
// leaves it that user's; a new one is private.
TEST(WriteFileAtomicallyTest, ExistingFileKeepsItsModeOwnerAndGroup) {
    TempDir dir;
    for (const mode_t mode : {0640u, 0644u, 0666u}) {
        WriteFile(dir.file("a"), "old");
        ASSERT_EQ(::chmod(dir.file("a").c_str(), mode), 0);
        ASSERT_TRUE(Write(dir.file("a"), "new"));
        EXPECT_EQ(ReadFile(dir.file("a")), "new");
        EXPECT_EQ(Permissions(dir.file("a")), mode);
    }
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user takes root";
    ASSERT_EQ(::chown(dir.file("a").c_str(), 65534, 65534), 0);
    ASSERT_TRUE(Write(dir.file("a"), "by root"));
    const struct stat st = StatOf(dir.file("a"));
    EXPECT_EQ(st.st_uid + st.st_gid, 2 * 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
}

// A leftover temporary file passes nothing on: not its contents or mode, and
// not a link planted under its name to have the file written elsewhere.
TEST(WriteFileAtomicallyTest, ALeftoverTemporaryFileIsRemovedNeverFollowed) {
    TempDir dir;
    WriteFile(dir.file("a.tmp"), "leftover from a crash, longer than the new data");
    ASSERT_EQ(::chmod(dir.file("a.tmp").c_str(), 0666), 0);
    ASSERT_TRUE(Write(dir.file("a"), "new", nullptr, ".tmp"));
    EXPECT_EQ(ReadFile(dir.file("a")), "new");
    EXPECT_EQ(Permissions(dir.file("a")), 0600u);
    EXPECT_FALSE(FileExists(dir.file("a.tmp")));
    WriteFile(dir.file("victim"), "not yours");
    ASSERT_EQ(::symlink(dir.file("victim").c_str(), dir.file("b~").c_str()), 0);
    ASSERT_TRUE(Write(dir.file("b"), "secret"));
    EXPECT_EQ(ReadFile(dir.file("victim")), "not yours");
    EXPECT_EQ(ReadFile(dir.file("b")), "secret");
    EXPECT_EQ(Permissions(dir.file("b")), 0600u);
    EXPECT_EQ(StatOf(dir.file("b~"), false).st_mode, 0u);
}

// The file is reached through a chain of relative links in other folders; the
// folder of the first link is not writable, so the temporary file must go
// beside the file the chain ends at.
TEST(WriteFileAtomicallyTest, ALinkIsWrittenThroughToTheFileItNames) {
    TempDir dir;
    ASSERT_TRUE(MakeFolders(dir.file("links/sub")));
    ASSERT_TRUE(MakeFolders(dir.file("real")));
    WriteFile(dir.file("real/a"), "old");
    ASSERT_EQ(::symlink("sub/mid", dir.file("links/a").c_str()), 0);
    ASSERT_EQ(::symlink("../../real/a", dir.file("links/sub/mid").c_str()), 0);
    for (const auto& [name, mode] : {std::pair{"", 0755},
                                     {"links", 0555},
                                     {"links/sub", 0555},
                                     {"real", 0777},
                                     {"real/a", 0666}}) {
        ASSERT_EQ(::chmod(dir.file(name).c_str(), mode), 0) << name;
    }
    const std::string link = dir.file("links/a");
    EXPECT_TRUE(HoldsInChild([&link] { return Write(link, "new"); }, true));
    ::chmod(dir.file("links").c_str(), 0700);
    ::chmod(dir.file("links/sub").c_str(), 0700);
    EXPECT_EQ(ReadFile(dir.file("real/a")), "new");
    EXPECT_TRUE(S_ISLNK(StatOf(link, false).st_mode));
    EXPECT_FALSE(FileExists(dir.file("real/a~")));
}

// A write that fails half-way (here the file size limit; in life a full
// disk), cannot start in a read-only folder or under a file, or would replace
// something other than a regular file, is reported, leaves what stood there
// and no temporary file.
TEST(WriteFileAtomicallyTest, AFailedWriteIsReportedAndLeavesNoTrace) {
    TempDir dir;
    WriteFile(dir.file("a"), "old");
    const std::string path = dir.file("a");
    EXPECT_TRUE(HoldsInChild([&path] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        return !Write(path, std::string(65536, 'x'), &error) && HasText(error, "cannot write");
    }));
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_FALSE(FileExists(path + "~"));

    const std::string locked = dir.file("locked");
    ASSERT_TRUE(MakeFolders(locked));
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    EXPECT_TRUE(HoldsInChild(
        [&locked] {
            std::string error;
            return !Write(locked + "/a", "data", &error) && HasText(error, locked) &&
                   !FileExists(locked + "/a");
        },
        true));
    ::chmod(locked.c_str(), 0700);

    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(dir.file("fifo").c_str(), dir.file("to-fifo").c_str()), 0);
    for (const auto& [name, reason] : {std::pair{"fifo", "not a regular file"},
                                       {"to-fifo", "not a regular file"},
                                       {"a/b", "a/b"}}) {
        std::string error;
        EXPECT_FALSE(Write(dir.file(name), "data", &error)) << name;
        EXPECT_TRUE(HasText(error, reason));
    }
    EXPECT_TRUE(S_ISFIFO(StatOf(dir.file("fifo"), false).st_mode));
    EXPECT_FALSE(FileExists(dir.file("fifo~")));
    EXPECT_EQ(ReadFile(path), "old");
}

// The reads run in a child, so that a read that never ends (of a FIFO
// without a writer, or of /dev/zero) fails the test by the alarm instead of
// hanging it, and cannot take the machine's memory.
TEST(ReadWholeFileTest, OnlyRegularFilesUpToTheLimitAreRead) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const auto& [name, size] :
         {std::pair{"limit", kMaxReadBytes}, {"big", kMaxReadBytes + 1}}) {
        WriteFile(dir.file(name), "");
        ASSERT_EQ(::truncate(dir.file(name).c_str(), static_cast<off_t>(size)), 0);
    }
    const std::pair<std::string, std::string> refused[] = {{dir.file("fifo"), "not a regular file"},
                                                           {"/dev/zero", "not a regular file"},
                                                           {dir.path(), "not a regular file"},
                                                           {dir.file("big"), "larger than 64 MiB"}};
    const auto readsAsExpected = [&] {
        ::alarm(10);
#ifndef __SANITIZE_ADDRESS__
        const rlimit memory{std::size_t{2} << 30, std::size_t{2} << 30};
        ::setrlimit(RLIMIT_AS, &memory);
#endif
        bool held = true;
        for (const auto& [path, reason] : refused) {
            std::string data, error;
            if (ReadWholeFile(path, &data, &error) || !HasText(error, reason)) {
                std::fprintf(stderr, "%s: read, or refused with \"%s\"\n", path.c_str(),
                             error.c_str());
                held = false;
            }
        }
        std::string data, error;
        return held && ReadWholeFile(dir.file("limit"), &data, &error) &&
               data.size() == kMaxReadBytes;
    };
    EXPECT_TRUE(HoldsInChild(readsAsExpected));
}

TEST(FileUtilTest, CopyBesideTakesTheFirstFreeNameAndTheOriginalsMode) {
    TempDir dir;
    WriteFile(dir.file("a"), "contents");
    ASSERT_EQ(::chmod(dir.file("a").c_str(), 0640), 0);
    WriteFile(dir.file("a.kept"), "an earlier copy");
    ASSERT_EQ(::symlink(dir.file("victim").c_str(), dir.file("a.kept.1").c_str()), 0);
    std::string copy, error;
    ASSERT_TRUE(CopyBeside(dir.file("a"), ".kept", &copy, &error)) << error;
    EXPECT_EQ(copy, dir.file("a.kept.2"));
    EXPECT_EQ(ReadFile(copy), "contents");
    EXPECT_EQ(Permissions(copy), 0640u);
    EXPECT_EQ(ReadFile(dir.file("a.kept")), "an earlier copy");
    EXPECT_FALSE(FileExists(dir.file("victim")));
    EXPECT_FALSE(CopyBeside(dir.file("missing"), ".kept", &copy, &error));
}

TEST(FileUtilTest, MakeFoldersCreatesPrivateParents) {
    TempDir dir;
    ASSERT_TRUE(MakeFolders(dir.file("x/y/z")));
    EXPECT_EQ(Permissions(dir.file("x")), 0700u);
    EXPECT_EQ(Permissions(dir.file("x/y/z")), 0700u);
    EXPECT_TRUE(MakeFolders(dir.file("x/y")));
    WriteFile(dir.file("f"), "");
    EXPECT_FALSE(MakeFolders(dir.file("f")));
}

}  // namespace
}  // namespace vandrelle::test
