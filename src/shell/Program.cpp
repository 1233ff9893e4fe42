// SPDX-License-Identifier: GPL-3.0-or-later
#include "Program.h"
#include "TreeMerge.h"

#include "CMainFrame.h"
#include "SingleInstance.h"
#include "SystemWatchers.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QTimer>

#include <memory>

namespace vandrelle {
namespace {

// The wParam of a device change that says only that devices changed.
constexpr std::uintptr_t kDevicesChanged = 0x0007;

void ShowError(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QObject::tr("Error"), text, QMessageBox::Ok, owner);
    box.exec();
}

// A file that could not be read is never lost without a word: the user
// learns why, and what happens to it.
void ReportUnreadable(QWidget* owner, const CConfigStore& config, const ConfigSearchResult& found) {
    for (const std::string& problem : found.problems) {
        QString text = QObject::tr("A configuration file could not be read:\n%1")
                           .arg(QString::fromStdString(problem));
        if (config.UnreadableTargetMessage()) {
            text += QObject::tr(
                        "\n\nVandrelle starts with an empty list of servers. The file stays as "
                        "it is; before your first change is saved, it is kept as %1.unreadable.")
                        .arg(QString::fromStdString(config.ConfigPath()));
        }
        ShowError(owner, text);
    }
}

}  // namespace

StartingConfig LoadStartingConfig(const std::string& programFolder, const std::string& userFolder,
                                  KeyStore& keys) {
    StartingConfig starting{std::make_unique<CConfigStore>(keys), false, {}};
    starting.initialized = starting.config->Init();
    if (!starting.initialized) return starting;
    starting.config->SetDiskMerge(MergeTrees);
    starting.found = FindAndLoadConfig(*starting.config, programFolder, userFolder);
    return starting;
}

void PrepareToolkit() {
    QApplication::style();
    QFontMetrics(QApplication::font()).height();
}

int RunProgram(const ProgramEnvironment& environment, StartingConfig starting) {
    const auto step = [&environment](const char* name) {
        if (environment.onStep) environment.onStep(name);
    };
    CConfigStore& config = *starting.config;
    if (!starting.initialized) {
        ShowError(nullptr, QObject::tr("XML initialize failed.") + QStringLiteral("\n\n") +
                               QString::fromStdString(config.LastInitError()));
        return 0;
    }
    const ConfigSearchResult& found = starting.found;
    step("configuration");
    const bool maximized = config.IsMaximized() != 0;
    const QString instanceName =
        SingleInstance::ServerName(QString::fromLatin1(CMainFrame::kWindowClass));
    if (config.GetSingleInstance() != 0 && SingleInstance::ActivateRunning(instanceName)) return 0;

    step("single instance");

    CMainFrame frame(config, *environment.keys, environment.hosts);
    step("main window");
    SingleInstance instance(instanceName);
    QObject::connect(&instance, &SingleInstance::ActivationRequested, &frame,
                     &CMainFrame::BringForward);
    MountWatcher mounts;
    QObject::connect(&mounts, &MountWatcher::Changed, &frame,
                     [&frame] { frame.OnDeviceChange(kDevicesChanged, 0); });
    EndRequestWatcher ends;
    QObject::connect(&ends, &EndRequestWatcher::EndRequested, &frame, &CMainFrame::EndNow);
    const DisplayLossGuard displayLoss([&frame, &environment] {
        frame.EndWithoutDisplay();
        if (environment.endConnections) environment.endConnections();
    });

    step("watchers");

    if (maximized) {
        frame.showMaximized();
    } else {
        frame.show();
    }
    step("shown");
    // The login manager's bus is connected to from the event loop once the
    // window is shown, not before; the watcher asks it without waiting.
    std::unique_ptr<UnlockWatcher> unlock;
    if (environment.loginBus) {
        QTimer::singleShot(0, &frame, [&unlock, &frame, &environment] {
            unlock = std::make_unique<UnlockWatcher>(environment.loginBus());
            QObject::connect(unlock.get(), &UnlockWatcher::Unlocked, &frame, &CMainFrame::OnUnlock);
        });
    }
    ReportUnreadable(&frame, config, found);
    if (environment.onShown) environment.onShown(frame);
    const int code = QApplication::exec();

    if (!config.Save()) {
        ShowError(nullptr, QObject::tr("The configuration could not be saved to %1:\n%2")
                               .arg(QString::fromStdString(config.ConfigPath()),
                                    QString::fromStdString(config.LastSaveError())));
    }
    return code;
}

}  // namespace vandrelle
