// SPDX-License-Identifier: GPL-3.0-or-later
#include "Cli.h"

#include "RegFileKeyStore.h"
#include "SystemInfo.h"

#include <unistd.h>

#include <iostream>

int main(int argc, char** argv) {
    auto keys = vandrelle::MakeDefaultKeyStore();
    vandrelle::CliEnvironment env{vandrelle::ProgramFolder(), vandrelle::UserConfigFolder(),
                                  keys.get()};
    env.input = STDIN_FILENO;
    return vandrelle::RunCli({argv + 1, argv + argc}, env, std::cout, std::cerr);
}
