// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace vandrelle {

// How a second start of the program finds the running one: the first program
// of a user listens on a local socket named after its main window's class;
// another start that should not run beside it asks it to come forward.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The socket's name for this user (in the user's runtime folder when
    // there is one).
    static QString ServerName(const QString& windowClass);

    // Asks the running program to bring its window forward; false when no
    // program answers within `timeoutMs`.
    static bool ActivateRunning(const QString& name, int timeoutMs = 2000);

    // Listens under `name` unless a live program already does (a socket left
    // by a program that died is replaced).
    explicit SingleInstance(const QString& name, QObject* parent = nullptr);
    bool IsListening() const;

Q_SIGNALS:
    // Another start asked for the window.
    void ActivationRequested();

private:
    void OnConnection();
    QLocalServer* m_server;
};

}  // namespace vandrelle
