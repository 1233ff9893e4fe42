// SPDX-License-Identifier: GPL-3.0-or-later
#include "SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vandrelle {
namespace {

const QByteArray kRequest = QByteArrayLiteral("activate\n");
const QByteArray kAnswer = QByteArrayLiteral("ok\n");
// Longer than any request or answer; more without a line end is not one.
constexpr qint64 kMaxLine = 64;
// How soon a copy tries again to reach or become the listening copy.
constexpr int kRetryMs = 200;

// A folder of this user's that no other user can write or read into.
bool IsPrivateFolder(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

bool PeerIsThisUser(const QLocalSocket& socket) {
    struct ucred peer {};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                        &size) == 0 &&
           peer.uid == ::getuid();
}

}  // namespace

QString SingleInstance::ServerName(const QString& windowClass) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && IsPrivateFolder(runtime)) {
        return runtime + QLatin1Char('/') + windowClass;
    }
    const QString own =
        QDir::tempPath() + QStringLiteral("/vandrelle-") + QString::number(::getuid());
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    if (IsPrivateFolder(own)) return own + QLatin1Char('/') + windowClass;
    qWarning("Single instance is off: %s is not a private folder of this user.",
             qUtf8Printable(own));
    return {};
}

bool SingleInstance::ActivateRunning(const QString& name, int timeoutMs) {
    if (name.isEmpty()) return false;
    QLocalSocket socket;
    socket.setReadBufferSize(kMaxLine);
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs) || !PeerIsThisUser(socket)) return false;
    socket.write(kRequest);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    // The answer comes once the window is forward: the caller may exit then.
    while (!socket.canReadLine()) {
        if (socket.bytesAvailable() >= kMaxLine || !socket.waitForReadyRead(timeoutMs)) {
            return false;
        }
    }
    return socket.readLine(kMaxLine) == kAnswer;
}

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent),
      m_name(name),
      m_server(new QLocalServer(this)),
      m_watch(new QLocalSocket(this)),
      m_retry(new QTimer(this)) {
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::OnConnection);
    if (name.isEmpty()) return;
    m_lock = ::open(QFile::encodeName(name + QStringLiteral(".lock")).constData(),
                    O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lock < 0) {
        qWarning("Single instance is off: no lock file beside %s.", qUtf8Printable(name));
        return;
    }
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryMs);
    connect(m_retry, &QTimer::timeout, this, &SingleInstance::TakeOver);
    // The listening copy ended, or was not listening yet.
    connect(m_watch, &QLocalSocket::disconnected, m_retry, qOverload<>(&QTimer::start));
    connect(m_watch, &QLocalSocket::errorOccurred, m_retry, qOverload<>(&QTimer::start));
    TakeOver();
}

SingleInstance::~SingleInstance() {
    // The socket goes before the lock: once the lock is free, the next copy
    // puts a socket of its own at the name, which closing ours must not remove.
    m_server->close();
    if (m_lock >= 0) ::close(m_lock);
}

bool SingleInstance::IsListening() const {
    return m_server->isListening();
}

void SingleInstance::TakeOver() {
    if (::flock(m_lock, LOCK_EX | LOCK_NB) == 0) {
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name)) {
            qWarning("Single instance is off: %s", qUtf8Printable(m_server->errorString()));
        }
        return;
    }
    m_watch->abort();
    m_watch->connectToServer(m_name);
}

void SingleInstance::OnConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!PeerIsThisUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Copies that watch this one stay connected and send nothing.
        socket->setReadBufferSize(kMaxLine);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() >= kMaxLine) socket->abort();
                return;
            }
            if (socket->readLine(kMaxLine) == kRequest) {
                Q_EMIT ActivationRequested();
                socket->write(kAnswer);
            }
            socket->disconnectFromServer();
        });
    }
}

}  // namespace vandrelle
