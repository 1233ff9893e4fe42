// SPDX-License-Identifier: GPL-3.0-or-later
// Vandrelle: the program takes no command line (Qt gets none of it either).
#include "EngineLoader.h"
#include "Icons.h"
#include "Program.h"
#include "RegFileKeyStore.h"
#include "ResourceIds.h"
#include "SystemInfo.h"
#include "Version.h"

#include <QApplication>

#include <future>
#include <string>

int main(int argc, char** argv) {
    (void)argc;
    // The configuration is read on another thread while the application
    // connects to the display and readies its style and fonts: neither needs
    // the other.
    auto keys = vandrelle::MakeDefaultKeyStore();
    const std::string programFolder = vandrelle::ProgramFolder();
    const std::string userFolder = vandrelle::UserConfigFolder();
    auto starting = std::async(std::launch::async, [&] {
        return vandrelle::LoadStartingConfig(programFolder, userFolder, *keys);
    });
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Vandrelle"));
    QApplication::setApplicationVersion(QString::fromLatin1(vandrelle::kVersion));
    // The installed desktop entry's id, so that a taskbar (and a Wayland
    // compositor, by the window's app id) shows the menu's name and icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(vandrelle::kApplicationId));
    QApplication::setWindowIcon(vandrelle::ResourceIcon(vandrelle::IDR_MAINFRAME));
    vandrelle::ProgramEnvironment environment;
    environment.keys = keys.get();
    environment.hosts = vandrelle::ModuleEngineHosts(vandrelle::EngineModulePath());
    environment.loginBus = [] { return QDBusConnection::systemBus(); };
    environment.endConnections = [] { vandrelle::EndEngineConnections(std::chrono::seconds(5)); };
    vandrelle::PrepareToolkit();
    const int code = vandrelle::RunProgram(environment, starting.get());
    // Closed sessions end their connections on their own threads; the
    // process waits for them rather than cutting them off.
    vandrelle::WaitForEngineConnections(std::chrono::seconds(5));
    return code;
}
