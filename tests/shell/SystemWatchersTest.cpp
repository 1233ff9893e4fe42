// SPDX-License-Identifier: GPL-3.0-or-later
// What the program hears from the system: a second start, the login
// manager's unlock (on a private message bus of the test's own), mount
// changes and requests to end.
#include "SingleInstance.h"
#include "SystemWatchers.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <future>
#include <memory>

using namespace vandrelle;

namespace {

// The login manager's object that answers which session a process belongs
// to; it lives on a thread of its own, since the watcher asks while blocking.
class FakeLoginManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public Q_SLOTS:
    QDBusObjectPath GetSessionByPID(uint) {
        return QDBusObjectPath(QStringLiteral("/org/freedesktop/login1/session/_31"));
    }
};

const QString kLogin = QStringLiteral("org.freedesktop.login1");

void SendSessionSignal(QDBusConnection& bus, const QString& session, const QString& name) {
    bus.send(QDBusMessage::createSignal(session, QStringLiteral("org.freedesktop.login1.Session"),
                                        name));
}

// A Unix socket at `path` that listens or is connected; -1 on failure.
// Safe in a child of fork: system calls only.
int UnixSocket(const std::string& path, bool listen) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const auto* any = reinterpret_cast<const sockaddr*>(&address);
    const bool ok = listen ? ::bind(fd, any, sizeof address) == 0 && ::listen(fd, 1) == 0
                           : ::connect(fd, any, sizeof address) == 0;
    return ok ? fd : -1;
}

// Runs `body` in a child process as `user` (system calls only there); its
// exit code is what `body` returns. The child ends within ten seconds.
template <class Body>
pid_t AsUser(const passwd& user, Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(10);
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(user.pw_gid) == 0 &&
                             ::setuid(user.pw_uid) == 0;
        ::_exit(dropped ? body() : 99);
    }
    return pid;
}

// Keeps the event loop running until the child ends; its exit code.
int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) QTest::qWait(20);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

class SystemWatchersTest : public QObject {
    Q_OBJECT
private:
    QProcess m_bus;
    QString m_address;

    // Whether a start reaches `running` and is answered.
    static bool Reaches(SingleInstance& running, const QString& name) {
        QSignalSpy asked(&running, &SingleInstance::ActivationRequested);
        auto answered = std::async(std::launch::async,
                                   [name] { return SingleInstance::ActivateRunning(name); });
        while (answered.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
            QTest::qWait(10);
        }
        return answered.get() && asked.count() == 1;
    }

private Q_SLOTS:
    void initTestCase() {
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--print-address=1")});
        if (!m_bus.waitForStarted(5000)) QSKIP("dbus-daemon is not installed");
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 5000);
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
    }

    void cleanupTestCase() {
        m_bus.terminate();
        m_bus.waitForFinished(5000);
    }

    void unlockOfThisSessionIsHeard() {
        QDBusConnection login = QDBusConnection::connectToBus(m_address, QStringLiteral("login"));
        QVERIFY(login.registerService(kLogin));
        QThread managerThread;
        FakeLoginManager manager;
        manager.moveToThread(&managerThread);
        managerThread.start();
        QVERIFY(login.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                                     QDBusConnection::ExportAllSlots));

        QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("watcher"));
        UnlockWatcher watcher(bus);
        QCOMPARE(watcher.SessionPath(), QStringLiteral("/org/freedesktop/login1/session/_31"));
        QSignalSpy unlocked(&watcher, &UnlockWatcher::Unlocked);
        SendSessionSignal(login, QStringLiteral("/org/freedesktop/login1/session/_32"),
                          QStringLiteral("Unlock"));  // another user's session
        SendSessionSignal(login, watcher.SessionPath(), QStringLiteral("Lock"));
        SendSessionSignal(login, watcher.SessionPath(), QStringLiteral("Unlock"));
        QTRY_COMPARE(unlocked.count(), 1);
        QTest::qWait(100);
        QCOMPARE(unlocked.count(), 1);

        login.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
        login.unregisterService(kLogin);
        managerThread.quit();
        managerThread.wait();
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
        QDBusConnection::disconnectFromBus(QStringLiteral("login"));
    }

    // Without an answer about its session the watcher takes any unlock.
    void withoutTheSessionAnyUnlockCounts() {
        QDBusConnection login = QDBusConnection::connectToBus(m_address, QStringLiteral("login2"));
        QVERIFY(login.registerService(kLogin));
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("watcher2"));
        UnlockWatcher watcher(bus);
        QVERIFY(watcher.SessionPath().isEmpty());
        QSignalSpy unlocked(&watcher, &UnlockWatcher::Unlocked);
        SendSessionSignal(login, QStringLiteral("/org/freedesktop/login1/session/c2"),
                          QStringLiteral("Unlock"));
        QTRY_COMPARE(unlocked.count(), 1);
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher2"));
        QDBusConnection::disconnectFromBus(QStringLiteral("login2"));

        UnlockWatcher unconnected{QDBusConnection(QStringLiteral("no such connection"))};
        QVERIFY(unconnected.SessionPath().isEmpty());
    }

    // A second start reaches the first, which answers once it has come
    // forward; a socket left by a program that died does not stand in the
    // way, and a copy started beside the first takes over when it ends.
    void aSecondStartReachesTheFirst() {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("VandrelleMainFrame"));
        QVERIFY(!SingleInstance::ActivateRunning(name, 200));
        {
            QFile stale(name);
            QVERIFY(stale.open(QIODevice::WriteOnly));
        }
        auto first = std::make_unique<SingleInstance>(name);
        QVERIFY(first->IsListening());
        SingleInstance second(name);
        QVERIFY(!second.IsListening());
        QVERIFY(Reaches(*first, name));
        first.reset();
        QTRY_VERIFY(second.IsListening());
        QVERIFY(Reaches(second, name));
    }

    // The socket is in a folder of the user's alone, never in a shared one.
    void theSocketIsInAPrivateFolder() {
        QTemporaryDir dir;
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"), tmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", dir.path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
        const QString own = dir.filePath(QStringLiteral("vandrelle-%1").arg(::getuid()));
        QCOMPARE(SingleInstance::ServerName(QStringLiteral("W")),
                 dir.filePath(QStringLiteral("W")));
        QVERIFY(QFile::setPermissions(
            dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther));
        QCOMPARE(SingleInstance::ServerName(QStringLiteral("W")), own + QStringLiteral("/W"));
        struct stat st {};
        QCOMPARE(::stat(own.toUtf8().constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        ::chmod(own.toUtf8().constData(), 01777);  // as another user would have made it
        QCOMPARE(SingleInstance::ServerName(QStringLiteral("W")), QString());
        QVERIFY(!SingleInstance::ActivateRunning(QString(), 200));
        qputenv("XDG_RUNTIME_DIR", runtime);
        qputenv("TMPDIR", tmp);
    }

    // A peer that sends no line end is dropped once it has sent more than a request.
    void anOverlongRequestIsDropped() {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("VandrelleMainFrame"));
        SingleInstance first(name);
        QSignalSpy asked(&first, &SingleInstance::ActivationRequested);
        QLocalSocket peer;
        peer.connectToServer(name);
        QVERIFY(peer.waitForConnected(2000));
        peer.write(QByteArray(1 << 20, 'a'));
        QTRY_COMPARE(peer.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(asked.count(), 0);
    }

    // Another local user neither answers a start nor is heard by the running
    // copy, even where a mistaken folder lets it reach the socket.
    void anotherUserIsNeitherAnsweredNorHeard() {
        if (::geteuid() != 0) QSKIP("needs root, to add a second user");
        const QString user = QStringLiteral("vdl-si-%1").arg(::getpid());
        if (QProcess::execute(
                QStringLiteral("useradd"),
                {QStringLiteral("--system"), QStringLiteral("--no-create-home"), user}) != 0) {
            QSKIP("useradd failed");
        }
        struct UserDel {
            QString name;
            ~UserDel() { QProcess::execute(QStringLiteral("userdel"), {name}); }
        } userDel{user};
        const passwd* other = ::getpwnam(user.toUtf8().constData());
        QVERIFY(other);
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)));
        const QString name = dir.filePath(QStringLiteral("VandrelleMainFrame"));
        const std::string path = name.toStdString();

        // The other user listens at the name and answers anything.
        const pid_t answerer = AsUser(*other, [&path] {
            const int server = UnixSocket(path, true), peer = ::accept(server, nullptr, nullptr);
            char request[16];
            if (::read(peer, request, sizeof request) > 0) ::send(peer, "ok\n", 3, MSG_NOSIGNAL);
            return 0;
        });
        QTRY_VERIFY(QFileInfo::exists(name));
        QVERIFY(!SingleInstance::ActivateRunning(name, 1000));
        WaitFor(answerer);
        QFile::remove(name);

        // The other user asks this user's running copy.
        SingleInstance running(name);
        QVERIFY(running.IsListening());
        QVERIFY(QFile::setPermissions(name, QFileDevice::Permissions(0x7777)));
        QSignalSpy asked(&running, &SingleInstance::ActivationRequested);
        const pid_t asker = AsUser(*other, [&path] {
            const int socket = UnixSocket(path, false);
            char answer[4] = {};
            if (socket < 0 || ::send(socket, "activate\n", 9, MSG_NOSIGNAL) != 9) return 2;
            return ::read(socket, answer, 3) > 0 ? 1 : 0;  // 0: refused without an answer
        });
        QCOMPARE(WaitFor(asker), 0);
        QCOMPARE(asked.count(), 0);
    }

    void signalsToEndArriveOnTheEventLoop() {
        EndRequestWatcher watcher;
        QSignalSpy ended(&watcher, &EndRequestWatcher::EndRequested);
        ::raise(SIGTERM);
        QTRY_COMPARE(ended.count(), 1);
        ::raise(SIGHUP);
        QTRY_COMPARE(ended.count(), 2);
    }

    // A volume mounted in a mount namespace of the test's own.
    void mountChangesAreHeard() {
        if (::geteuid() != 0) QSKIP("mounting needs root");
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            QSKIP("no mount namespace here");
        }
        QTemporaryDir dir;
        MountWatcher watcher;
        QSignalSpy changed(&watcher, &MountWatcher::Changed);
        QCOMPARE(::mount("tmpfs", dir.path().toUtf8().constData(), "tmpfs", 0, nullptr), 0);
        QTRY_VERIFY(changed.count() >= 1);
        ::umount(dir.path().toUtf8().constData());
    }
};

QTEST_MAIN(SystemWatchersTest)
#include "SystemWatchersTest.moc"
