// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ClientHost.h"
#include "ConfigLocation.h"
#include "ConfigStore.h"

#include <QDBusConnection>

#include <functional>
#include <memory>
#include <string>

namespace vandrelle {

class CMainFrame;

// What the program runs with besides its configuration: its key store, the
// engine behind its sessions, and the bus of the login manager (connected to
// once the window is shown; none when not set).
struct ProgramEnvironment {
    KeyStore* keys = nullptr;
    ClientHostFactory hosts;
    std::function<QDBusConnection()> loginBus;
    // Called with the main window once it is shown (a benchmark measures it).
    std::function<void(CMainFrame&)> onShown;
    // Called as each step of the start ends, with its name (a benchmark
    // times them).
    std::function<void(const char*)> onStep;
    // Asks every session's connection to end and waits for them, bounded,
    // where the sessions cannot be closed (the display is gone).
    std::function<void()> endConnections;
};

// The configuration the program starts with: the store made, given its
// password key, and loaded from where the program finds its file. Needs no
// QApplication, so that it may be made on another thread while the
// application starts.
struct StartingConfig {
    std::unique_ptr<CConfigStore> config;
    bool initialized = false;  // false: the key could not be read or made (LastInitError)
    ConfigSearchResult found;
};
StartingConfig LoadStartingConfig(const std::string& programFolder, const std::string& userFolder,
                                  KeyStore& keys);

// Readies what the first window takes from the toolkit (its style, the
// fonts and their metrics), work that would otherwise fall on the window's
// making; called while the configuration is still being read. The
// QApplication must exist.
void PrepareToolkit();

// The program from start to end with that configuration: a second start
// handed over to the first when the configuration asks for one instance, the
// main window run until it closes, the configuration saved. The QApplication
// must exist. Returns the exit code. When the display goes away meanwhile,
// the configuration is saved and the connections ended, and the process ends
// there with code 1.
int RunProgram(const ProgramEnvironment& environment, StartingConfig starting);

}  // namespace vandrelle
