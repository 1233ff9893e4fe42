// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigFollower.h"

#include <QFileInfo>

namespace vandrelle {

ConfigFollower::ConfigFollower(CConfigStore& config, Busy busy, Reloaded reloaded, QObject* parent)
    : QObject(parent), m_config(config), m_busy(std::move(busy)), m_reloaded(std::move(reloaded)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ConfigFollower::Check);
    const auto changed = [this] {
        if (!m_timer.isActive()) m_timer.start(kSettleMs);
    };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, changed);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, changed);
    Watch();
}

// A replaced file is a new one to watch; the path can also change (the first
// save of a new file).
void ConfigFollower::Watch() {
    const QString file = QString::fromStdString(m_config.ConfigPath());
    if (file.isEmpty()) return;
    for (const QString& path : {file, QFileInfo(file).absolutePath()}) {
        if (!m_watcher.files().contains(path) && !m_watcher.directories().contains(path) &&
            QFileInfo::exists(path))
            m_watcher.addPath(path);
    }
}

void ConfigFollower::Check() {
    if (m_busy && m_busy()) {
        m_timer.start(kBusyRetryMs);
        return;
    }
    const CConfigStore::Reload result = m_config.ReloadFromDisk();
    if (result != CConfigStore::Reload::Unchanged) m_reloaded(result);
    Watch();
}

}  // namespace vandrelle
