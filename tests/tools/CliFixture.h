// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Cli.h"
#include "FileUtil.h"
#include "RegFileKeyStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace vandrelle::test {

// The companion over a key store, a program folder and a configuration file
// in a fresh folder.
class CliFixture : public ::testing::Test {
protected:
    struct Result {
        int code;
        std::string out;
        std::string err;
    };

    CliFixture() : keys(dir.file("registry.reg"), dir.file("machine.reg")) {
        MakeFolders(dir.file("prog"));
        env = {dir.file("prog"), dir.file("xdg"), &keys};
    }

    // Runs with --config on the folder's file unless the arguments name another.
    Result Run(std::vector<std::string> args, bool withConfig = true) {
        if (withConfig) args.insert(args.begin(), {"--config", file});
        std::ostringstream out, err;
        const int code = RunCli(args, env, out, err);
        return {code, out.str(), err.str()};
    }

    // Replaces the key store's file by these sections.
    void WriteKeys(const std::string& sections) {
        WriteFile(dir.file("registry.reg"), "Windows Registry Editor Version 5.00\n\n" + sections);
    }

    TempDir dir;
    RegFileKeyStore keys;
    CliEnvironment env;
    std::string file = dir.file("conn.xml");
};

}  // namespace vandrelle::test
