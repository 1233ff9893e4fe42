// SPDX-License-Identifier: GPL-3.0-or-later
// What the program hears from the system: a second start, the login
// manager's unlock (on a private message bus of the test's own) and mount
// changes (requests to end: the main window's tests).
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

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vandrelle;
using namespace Qt::StringLiterals;

namespace {

// The login manager's object that answers which session a process belongs
// to; it lives on a thread of its own, as the real one is another process.
class FakeLoginManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public Q_SLOTS:
    QDBusObjectPath GetSessionByPID(uint) {
        return QDBusObjectPath(u"/org/freedesktop/login1/session/_31"_s);
    }
};

}  // namespace

class SystemWatchersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The unlock of this process's session is heard, not another's; without
    // an answer about its session the watcher takes any. It never waits for
    // the answer: it listens once the answer has come.
    void unlockOfThisSessionIsHeard() {
        QProcess daemon;
        daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        if (!daemon.waitForStarted(5000)) QSKIP("dbus-daemon is not installed");
        QTRY_VERIFY_WITH_TIMEOUT(daemon.canReadLine(), 5000);
        const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
        QDBusConnection login = QDBusConnection::connectToBus(address, u"login"_s);
        QVERIFY(login.registerService(u"org.freedesktop.login1"_s));
        QDBusConnection bus = QDBusConnection::connectToBus(address, u"watcher"_s);
        UnlockWatcher anySession(bus);
        QVERIFY(!anySession.IsListening());  // the constructor did not wait for the answer
        QTRY_VERIFY(anySession.IsListening());
        QThread managerThread;
        FakeLoginManager manager;
        manager.moveToThread(&managerThread);
        managerThread.start();
        QVERIFY(login.registerObject(u"/org/freedesktop/login1"_s, &manager,
                                     QDBusConnection::ExportAllSlots));
        UnlockWatcher watcher(bus);
        QTRY_VERIFY(watcher.IsListening());
        QCOMPARE(watcher.SessionPath(), u"/org/freedesktop/login1/session/_31"_s);
        QSignalSpy unlocked(&watcher, &UnlockWatcher::Unlocked);
        QSignalSpy anyUnlocked(&anySession, &UnlockWatcher::Unlocked);
        for (const QString& session : {u"/org/freedesktop/login1/session/_32"_s,
                                       watcher.SessionPath()}) {  // another user's, then this one
            login.send(QDBusMessage::createSignal(session, u"org.freedesktop.login1.Session"_s,
                                                  u"Unlock"_s));
        }
        QTRY_COMPARE(anyUnlocked.count(), 2);  // the other's and this one's
        QCOMPARE(unlocked.count(), 1);
        managerThread.quit();
        managerThread.wait();
        daemon.terminate();
        daemon.waitForFinished(5000);
    }

    // A socket left by a program that died does not stand in the way (a
    // second start handing over: the end-to-end tests), and a peer that
    // sends more than a short line without its end is dropped. The socket is
    // in a folder of the user's alone: the runtime folder when it is
    // private, else one of its own in the temporary folder, unless another
    // user made that first.
    void theSocketIsPrivateAndDropsAnEndlessPeer() {
        QTemporaryDir dir;
        const QString name = dir.filePath(u"VandrelleMainFrame"_s);
        QVERIFY(!SingleInstance::ActivateRunning(name, 200));
        {
            QFile stale(name);
            QVERIFY(stale.open(QIODevice::WriteOnly));
        }
        SingleInstance first(name);
        QVERIFY(first.IsListening());
        QLocalSocket endless;
        endless.connectToServer(name);
        endless.write(QByteArray(1 << 20, 'a'));
        QTRY_COMPARE(endless.state(), QLocalSocket::UnconnectedState);

        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"), tmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", dir.path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
        QCOMPARE(SingleInstance::ServerName(u"W"_s), dir.filePath(u"W"_s));
        ::chmod(dir.path().toUtf8().constData(), 0711);
        const QString own = dir.filePath(u"vandrelle-%1"_s.arg(::getuid()));
        QCOMPARE(SingleInstance::ServerName(u"W"_s), own + u"/W"_s);
        ::chmod(own.toUtf8().constData(), 01777);  // as another user would make it
        QCOMPARE(SingleInstance::ServerName(u"W"_s), QString());
        qputenv("XDG_RUNTIME_DIR", runtime);
        qputenv("TMPDIR", tmp);
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
