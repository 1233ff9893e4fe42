// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>

class QSocketNotifier;

namespace vandrelle {

// The login manager's word that this program's session was unlocked (the
// "Unlock" signal of its session object). Without the login manager on `bus`
// it listens to the unlock of any session there.
class UnlockWatcher : public QObject {
    Q_OBJECT
public:
    explicit UnlockWatcher(QDBusConnection bus, QObject* parent = nullptr);
    // The session object listened to; empty when any session's unlock counts.
    const QString& SessionPath() const { return m_session; }

Q_SIGNALS:
    void Unlocked();

private Q_SLOTS:
    void OnUnlock();

private:
    QString m_session;
};

// Changes of the mounted file systems (a volume plugged in or taken away).
class MountWatcher : public QObject {
    Q_OBJECT
public:
    explicit MountWatcher(QObject* parent = nullptr);
    ~MountWatcher() override;

Q_SIGNALS:
    void Changed();

private:
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

// SIGINT, SIGTERM and SIGHUP turned into a signal on the event loop, so that
// the program ends as after a confirmed close (the configuration saved)
// instead of dying where it stands.
class EndRequestWatcher : public QObject {
    Q_OBJECT
public:
    explicit EndRequestWatcher(QObject* parent = nullptr);
    ~EndRequestWatcher() override;

Q_SIGNALS:
    void EndRequested();

private:
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace vandrelle
