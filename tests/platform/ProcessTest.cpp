// SPDX-License-Identifier: GPL-3.0-or-later
#include "Process.h"

#include "FileUtil.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace vandrelle::test {
namespace {

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
