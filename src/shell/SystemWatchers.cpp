// SPDX-License-Identifier: GPL-3.0-or-later
#include "SystemWatchers.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSocketNotifier>
#include <QThread>

#include <cstdio>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace vandrelle {
namespace {

const QString kLogin = QStringLiteral("org.freedesktop.login1");

// The write end of the pipe on which signal handlers report (the handlers may
// only write; everything else happens on the event loop).
int g_endPipe[2] = {-1, -1};

void OnEndSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_endPipe[1], &byte, 1);
}

// What Qt's X11 platform reports just before it calls exit(1).
const QString kDisplayBroke = QStringLiteral("The X11 connection broke");

QtMessageHandler g_previousHandler = nullptr;
std::function<void()> g_lastWords;

void PassOn(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (g_previousHandler) {
        g_previousHandler(type, context, text);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    }
}

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    PassOn(type, context, text);
    const QCoreApplication* app = QCoreApplication::instance();
    if (type != QtWarningMsg || !app || QThread::currentThread() != app->thread() ||
        !text.startsWith(kDisplayBroke) || !g_lastWords) {
        return;
    }
    g_lastWords();
    std::fflush(nullptr);
    ::_exit(1);
}

}  // namespace

UnlockWatcher::UnlockWatcher(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)) {
    if (!m_bus.isConnected()) return;
    QDBusMessage ask = QDBusMessage::createMethodCall(
        kLogin, QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("GetSessionByPID"));
    ask << static_cast<uint>(QCoreApplication::applicationPid());
    auto* answer = new QDBusPendingCallWatcher(m_bus.asyncCall(ask, 2000), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                const QDBusPendingReply<QDBusObjectPath> session = *call;
                Listen(session.isValid() ? session.value().path() : QString());
                call->deleteLater();
            });
}

void UnlockWatcher::Listen(const QString& session) {
    m_session = session;
    m_bus.connect(kLogin, m_session, QStringLiteral("org.freedesktop.login1.Session"),
                  QStringLiteral("Unlock"), this, SLOT(OnUnlock()));
    m_listening = true;
}

void UnlockWatcher::OnUnlock() {
    Q_EMIT Unlocked();
}

// The kernel marks /proc/self/mounts as exceptional when the mount table changes.
MountWatcher::MountWatcher(QObject* parent) : QObject(parent) {
    m_fd = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        // Reading it to the end acknowledges the change.
        char buffer[4096];
        ::lseek(m_fd, 0, SEEK_SET);
        while (::read(m_fd, buffer, sizeof buffer) > 0) {
        }
        Q_EMIT Changed();
    });
}

MountWatcher::~MountWatcher() {
    delete m_notifier;
    if (m_fd >= 0) ::close(m_fd);
}

EndRequestWatcher::EndRequestWatcher(QObject* parent) : QObject(parent) {
    if (g_endPipe[0] < 0 && ::pipe2(g_endPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    m_notifier = new QSocketNotifier(g_endPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(g_endPipe[0], bytes, sizeof bytes) > 0) {
        }
        Q_EMIT EndRequested();
    });
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

EndRequestWatcher::~EndRequestWatcher() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

DisplayLossGuard::DisplayLossGuard(std::function<void()> lastWords) {
    g_lastWords = std::move(lastWords);
    g_previousHandler = qInstallMessageHandler(OnQtMessage);
}

DisplayLossGuard::~DisplayLossGuard() {
    qInstallMessageHandler(g_previousHandler);
    g_lastWords = nullptr;
}

}  // namespace vandrelle
