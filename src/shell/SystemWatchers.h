// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>

#include <functional>

class QSocketNotifier;

namespace vandrelle {

// The login manager's word that this program's session was unlocked (the
// "Unlock" signal of its session object). Without the login manager on `bus`
// it listens to the unlock of any session there. It asks which session is
// its own without waiting for the answer, and listens once it has come.
class UnlockWatcher : public QObject {
    Q_OBJECT
public:
    explicit UnlockWatcher(QDBusConnection bus, QObject* parent = nullptr);
    // Whether the answer came and the watcher listens.
    bool IsListening() const { return m_listening; }
    // The session object listened to; empty when any session's unlock counts.
    const QString& SessionPath() const { return m_session; }

Q_SIGNALS:
    void Unlocked();

private Q_SLOTS:
    void OnUnlock();

private:
    void Listen(const QString& session);

    QDBusConnection m_bus;
    QString m_session;
    bool m_listening = false;
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

// Qt's X11 platform ends the process with exit(1) from inside event
// processing when its connection to the X server breaks (the server ended, a
// log-out without session management). The exit handlers and static
// destructors exit() runs would race with the threads still running (the
// connections' workers) and crash. While a guard lives, Qt's report of the
// broken connection, which comes on the user-interface thread just before that
// exit, runs `lastWords` there and then ends the process with _exit(1), which
// runs none of them. `lastWords` keeps what must not be lost; it must touch no
// widget (the display is gone). One guard at a time.
class DisplayLossGuard {
public:
    explicit DisplayLossGuard(std::function<void()> lastWords);
    ~DisplayLossGuard();
    DisplayLossGuard(const DisplayLossGuard&) = delete;
    DisplayLossGuard& operator=(const DisplayLossGuard&) = delete;
};

}  // namespace vandrelle
