// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileUtil.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <functional>
#include <string>

namespace vandrelle {
namespace {

using test::ReadFile;
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

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(WriteFileAtomicallyTest, NewFileGetsTheRequestedMode) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(dir.file("a"), "secret", 0600, &error)) << error;
    EXPECT_EQ(ReadFile(dir.file("a")), "secret");
    EXPECT_EQ(ModeOf(dir.file("a")), 0600u);
    EXPECT_FALSE(FileExists(dir.file("a~")));
}

TEST(WriteFileAtomicallyTest, ExistingFileKeepsItsMode) {
    TempDir dir;
    WriteFile(dir.file("a"), "old");
    ASSERT_EQ(::chmod(dir.file("a").c_str(), 0640), 0);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(dir.file("a"), "new", 0600, &error)) << error;
    EXPECT_EQ(ReadFile(dir.file("a")), "new");
    EXPECT_EQ(ModeOf(dir.file("a")), 0640u);
}

TEST(WriteFileAtomicallyTest, LeftoverTempFileIsReplaced) {
    TempDir dir;
    WriteFile(dir.file("a.tmp"), "leftover from a crash, longer than the new data");
    ASSERT_EQ(::chmod(dir.file("a.tmp").c_str(), 0666), 0);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(dir.file("a"), "new", 0600, &error, ".tmp")) << error;
    EXPECT_EQ(ReadFile(dir.file("a")), "new");
    EXPECT_EQ(ModeOf(dir.file("a")), 0600u);
    EXPECT_FALSE(FileExists(dir.file("a.tmp")));
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

TEST(FileUtilTest, MakeFoldersCreatesPrivateParents) {
    TempDir dir;
    ASSERT_TRUE(MakeFolders(dir.file("x/y/z")));
    EXPECT_EQ(ModeOf(dir.file("x")), 0700u);
    EXPECT_EQ(ModeOf(dir.file("x/y/z")), 0700u);
    EXPECT_TRUE(MakeFolders(dir.file("x/y")));
    WriteFile(dir.file("f"), "");
    EXPECT_FALSE(MakeFolders(dir.file("f")));
}

}  // namespace
}  // namespace vandrelle
