// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QTimer;

namespace vandrelle {

// How a second start of the program finds the running one: one copy of a
// user's program listens on a local socket named after its main window's
// class; another start that should not run beside it asks it to come forward.
// Every copy that does not listen watches the one that does and takes the
// name over when that copy ends, so a running copy is always found.
//
// Other local users are kept out three ways: the socket lives in a folder of
// the user's alone, each side checks the other's user id, and a request is
// one short line.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The socket's name for this user: in the user's runtime folder when
    // there is a private one, else in "vandrelle-<uid>" in the temporary
    // folder, made private. Empty when neither is private (another user made
    // it first): the program then runs without single instance.
    static QString ServerName(const QString& windowClass);

    // Asks the running program to bring its window forward; false when no
    // program of this user answers within `timeoutMs`.
    static bool ActivateRunning(const QString& name, int timeoutMs = 2000);

    // Listens under `name`, now or once the copy that holds the name ends.
    // The copy that holds the lock file beside the name is the one that
    // listens: whatever else is at the name then was left by a copy that
    // ended, and is replaced.
    explicit SingleInstance(const QString& name, QObject* parent = nullptr);
    ~SingleInstance() override;
    bool IsListening() const;

Q_SIGNALS:
    // Another start asked for the window.
    void ActivationRequested();

private:
    void TakeOver();
    void OnConnection();

    QString m_name;
    int m_lock = -1;
    QLocalServer* m_server;
    QLocalSocket* m_watch;  // connected to the copy that listens
    QTimer* m_retry;
};

}  // namespace vandrelle
