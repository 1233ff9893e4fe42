// SPDX-License-Identifier: GPL-3.0-or-later
#include "SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace vandrelle {
namespace {

const QByteArray kRequest = QByteArrayLiteral("activate\n");
const QByteArray kAnswer = QByteArrayLiteral("ok\n");

}  // namespace

QString SingleInstance::ServerName(const QString& windowClass) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) {
        return runtime + QLatin1Char('/') + windowClass;
    }
    return windowClass + QLatin1Char('-') + QString::number(::getuid());
}

bool SingleInstance::ActivateRunning(const QString& name, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(kRequest);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    // The answer comes once the window is forward: the caller may exit then.
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    }
    return socket.readLine() == kAnswer;
}

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)) {
    // No socket options: with them the socket is made aside and renamed into
    // place, which would take the name from a live program. The user's
    // runtime folder, or the permissions of the socket, keep others out.
    if (!m_server->listen(name) && m_server->serverError() == QAbstractSocket::AddressInUseError) {
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(500)) return;  // a live program has the name
        QLocalServer::removeServer(name);
        m_server->listen(name);
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::OnConnection);
}

bool SingleInstance::IsListening() const {
    return m_server->isListening();
}

void SingleInstance::OnConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) return;
            if (socket->readLine() == kRequest) {
                Q_EMIT ActivationRequested();
                socket->write(kAnswer);
            }
            socket->disconnectFromServer();
        });
    }
}

}  // namespace vandrelle
