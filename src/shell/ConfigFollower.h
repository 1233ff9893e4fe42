// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ConfigStore.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <functional>

namespace vandrelle {

// Follows the configuration file on disk (the file and its folder, since sync
// tools and git replace the file): when another writer changed it, the store
// reads it again and `reloaded` is told. While `busy` says the user is in the
// middle of something (a dialog, a drag, the find bar) the reading waits.
class ConfigFollower : public QObject {
public:
    using Busy = std::function<bool()>;
    using Reloaded = std::function<void(CConfigStore::Reload)>;
    ConfigFollower(CConfigStore& config, Busy busy, Reloaded reloaded, QObject* parent);

    static constexpr int kSettleMs = 100;  // a writer's burst of events ends
    static constexpr int kBusyRetryMs = 250;

private:
    void Watch();
    void Check();

    CConfigStore& m_config;
    Busy m_busy;
    Reloaded m_reloaded;
    QFileSystemWatcher m_watcher;
    QTimer m_timer;
};

}  // namespace vandrelle
