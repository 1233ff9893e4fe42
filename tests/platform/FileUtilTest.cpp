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

namespace vandrelle {
namespace {

using test::Permissions;
using test::ReadFile;
using test::StatOf;
using test::TempDir;
using test::WriteFile;

// Runs `check` in a child process and returns its exit status (0 when `check`
// held). Root ignores folder permissions, so as root the child first becomes
// the unprivileged user "nobody".
int RunUnprivileged(const std::function<bool()>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(WriteFileAtomicallyTest, ExistingFileKeepsItsModeOwnerAndGroup) {
    TempDir dir;
    for (const mode_t mode : {0640u, 0644u, 0666u}) {
        WriteFile(dir.file("a"), "old");
        ASSERT_EQ(::chmod(dir.file("a").c_str(), mode), 0);
        std::string error;
        ASSERT_TRUE(WriteFileAtomically(dir.file("a"), "new", 0600, &error)) << error;
        EXPECT_EQ(ReadFile(dir.file("a")), "new");
        EXPECT_EQ(Permissions(dir.file("a")), mode);
    }
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user takes root";
    // Root saving another user's file must not take it away from that user.
    ASSERT_EQ(::chown(dir.file("a").c_str(), 65534, 65534), 0);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(dir.file("a"), "by root", 0600, &error)) << error;
    const struct stat st = StatOf(dir.file("a"));
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
}

// A leftover temporary file passes nothing on: not its contents or mode, and
// not a link planted under its name to have the file written elsewhere.
TEST(WriteFileAtomicallyTest, ALeftoverTemporaryFileIsRemovedNeverFollowed) {
    TempDir dir;
    WriteFile(dir.file("a.tmp"), "leftover from a crash, longer than the new data");
    ASSERT_EQ(::chmod(dir.file("a.tmp").c_str(), 0666), 0);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(dir.file("a"), "new", 0600, &error, ".tmp")) << error;
    EXPECT_EQ(ReadFile(dir.file("a")), "new");
    EXPECT_EQ(Permissions(dir.file("a")), 0600u);
    EXPECT_FALSE(FileExists(dir.file("a.tmp")));

    WriteFile(dir.file("victim"), "not yours");
    ASSERT_EQ(::symlink(dir.file("victim").c_str(), dir.file("b~").c_str()), 0);
    ASSERT_TRUE(WriteFileAtomically(dir.file("b"), "secret", 0600, &error)) << error;
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
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(dir.file("links").c_str(), 0555), 0);
    ASSERT_EQ(::chmod(dir.file("links/sub").c_str(), 0555), 0);
    ASSERT_EQ(::chmod(dir.file("real").c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.file("real/a").c_str(), 0666), 0);
    const std::string link = dir.file("links/a");
    EXPECT_EQ(RunUnprivileged([&link] { return WriteFileAtomically(link, "new", 0600, nullptr); }),
              0);
    ::chmod(dir.file("links").c_str(), 0700);
    ::chmod(dir.file("links/sub").c_str(), 0700);
    EXPECT_EQ(ReadFile(dir.file("real/a")), "new");
    EXPECT_TRUE(S_ISLNK(StatOf(link, false).st_mode));
    EXPECT_FALSE(FileExists(dir.file("real/a~")));
}

// A write that fails half-way (here the file size limit; in life a full disk)
// must not leave its partial temporary file to keep the disk full.
TEST(WriteFileAtomicallyTest, AFailedWriteLeavesNoTemporaryFile) {
    TempDir dir;
    WriteFile(dir.file("a"), "old");
    const std::string path = dir.file("a");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        const bool written = WriteFileAtomically(path, std::string(65536, 'x'), 0600, &error);
        ::_exit(!written && error.find("cannot write") != std::string::npos ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFile(dir.file("a")), "old");
    EXPECT_FALSE(FileExists(dir.file("a~")));
}

TEST(WriteFileAtomicallyTest, SomethingOtherThanARegularFileIsNotReplaced) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(dir.file("fifo").c_str(), dir.file("to-fifo").c_str()), 0);
    for (const char* name : {"fifo", "to-fifo"}) {
        std::string error;
        EXPECT_FALSE(WriteFileAtomically(dir.file(name), "data", 0600, &error)) << name;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    }
    EXPECT_TRUE(S_ISFIFO(StatOf(dir.file("fifo"), false).st_mode));
    EXPECT_FALSE(FileExists(dir.file("fifo~")));
}

TEST(WriteFileAtomicallyTest, FailureInReadOnlyFolderIsReported) {
    TempDir dir;
    const std::string folder = dir.file("locked");
    ASSERT_TRUE(MakeFolders(folder));
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const int status = RunUnprivileged([&folder] {
        std::string error;
        const bool written = WriteFileAtomically(folder + "/a", "data", 0600, &error);
        return !written && error.find(folder) != std::string::npos && !FileExists(folder + "/a");
    });
    EXPECT_EQ(status, 0);
    ::chmod(folder.c_str(), 0700);
}

TEST(WriteFileAtomicallyTest, FailureWhenTheFolderIsAFileIsReported) {
    TempDir dir;
    WriteFile(dir.file("plain"), "not a folder");
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(dir.file("plain/a"), "data", 0600, &error));
    EXPECT_NE(error.find("plain/a"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(dir.file("plain")), "not a folder");
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
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(10);
#ifndef __SANITIZE_ADDRESS__
        const rlimit memory{std::size_t{2} << 30, std::size_t{2} << 30};
        ::setrlimit(RLIMIT_AS, &memory);
#endif
        bool held = true;
        for (const auto& [path, reason] : refused) {
            std::string data, error;
            if (ReadWholeFile(path, &data, &error) || error.find(reason) == std::string::npos) {
                std::fprintf(stderr, "%s: read, or refused with \"%s\"\n", path.c_str(),
                             error.c_str());
                held = false;
            }
        }
        std::string data, error;
        held =
            held && ReadWholeFile(dir.file("limit"), &data, &error) && data.size() == kMaxReadBytes;
        ::_exit(held ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status)) : "");
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
}  // namespace vandrelle
