// SPDX-License-Identifier: GPL-3.0-or-later
// What the widget tests share: answering modal message boxes, a fake session
// host, and a configuration on disk with its key store.
#pragma once

#include "ClientHost.h"
#include "ConfigStore.h"
#include "FakeRdpClient.h"
#include "RegFileKeyStore.h"
#include "TempDir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QWidget>

#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <vector>

namespace vandrelle::test {

// Every 10 ms calls `act` with the active modal window (nullptr when there
// is none) until it returns true, which it does once it acted, or until
// `timeoutMs` passed. The watch stops while `act` runs, so that an `act`
// that waits itself is not called again meanwhile.
inline QTimer* WatchModal(int timeoutMs, std::function<bool(QWidget*)> act) {
    auto* timer = new QTimer(qApp);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, timeoutMs, act] {
        timer->stop();
        if (act(QApplication::activeModalWidget()) || clock.elapsed() >= timeoutMs) {
            timer->deleteLater();
        } else {
            timer->start(10);
        }
    });
    timer->start(10);
    return timer;
}

// Calls `act` with the next modal window once it is open and active (within
// a minute).
inline void WhenModalOpens(std::function<void(QWidget*)> act) {
    WatchModal(60000, [act](QWidget* modal) {
        if (!modal || !modal->isActiveWindow()) return false;
        act(modal);
        return true;
    });
}

// What a message box showed. Its watch for the box ends with it, so that a
// box that never came cannot be recorded later into a record long gone.
struct SeenBox {
    QString text;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    bool seen = false;
    QPointer<QTimer> watch;
    ~SeenBox() { delete watch; }
};

// Answers the next message box that opens within `timeoutMs` by pressing
// `button`, and records what it showed in *seen, which forgets any box before.
inline void AnswerNextMessageBox(QMessageBox::StandardButton button, SeenBox* seen,
                                 int timeoutMs = 5000) {
    delete seen->watch;
    seen->seen = false;
    seen->watch = WatchModal(timeoutMs, [button, seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) return false;
        seen->text = box->text();
        seen->defaultButton = box->standardButton(box->defaultButton());
        seen->seen = true;
        if (QAbstractButton* b = box->button(button)) {
            b->click();
        } else {
            box->reject();
        }
        return true;
    });
}

// Presses the button of that object name in the next modal dialog that opens
// within `timeoutMs`; *pressed tells whether it was there.
inline void PressInNextModal(const QString& buttonName, bool* pressed, int timeoutMs = 20000) {
    WatchModal(timeoutMs, [buttonName, pressed](QWidget* modal) {
        auto* button = modal ? modal->findChild<QAbstractButton*>(buttonName) : nullptr;
        *pressed = button != nullptr;
        if (button) button->click();
        return *pressed;
    });
}

// The labels of an item's children, in order, joined by ", ".
inline QString ChildLabels(const QTreeWidgetItem* parent) {
    QStringList labels;
    for (int i = 0; i < parent->childCount(); ++i) labels << parent->child(i)->text(0);
    return labels.join(QStringLiteral(", "));
}

// A session's host without an engine: a plain widget and a fake client that
// FakeHosts keeps, to be read after its session ended.
struct FakeHost : ClientHost {
    FakeHost(QWidget* view, FakeRdpClient& c) : client(c), widget(new QWidget(view)) {
        widget->setFocusPolicy(Qt::StrongFocus);
    }
    RdpClient& Client() override { return client; }
    QWidget* Widget() override { return widget; }
    void SetFullScreenBarVisible(bool) override {}
    void ReleaseWindowsKeys() override { ++windowsKeyReleases; }

    FakeRdpClient& client;
    QWidget* widget;
    int windowsKeyReleases = 0;
};

// Makes fake hosts; each client lives on, a pointer to each host is valid
// while its session lives.
struct FakeHosts {
    std::deque<FakeRdpClient> clients;
    std::vector<FakeHost*> made;
    ClientHostFactory Factory() {
        return [this](QWidget* view) -> std::unique_ptr<ClientHost> {
            auto host = std::make_unique<FakeHost>(view, clients.emplace_back());
            made.push_back(host.get());
            return host;
        };
    }
};

// A configuration file in a fresh folder, loaded into a store, with the
// key store beside it.
struct ConfigOnDisk {
    explicit ConfigOnDisk(const std::string& xml = {})
        : keys(dir.file("registry.reg"), dir.file("machine.reg")), config(keys) {
        config.Init();
        path = dir.file("Vandrelle.xml");
        if (!xml.empty()) {
            std::ofstream(path, std::ios::binary) << xml;
            config.Load(path);
        }
        config.SetConfigPath(path);
    }
    std::string Text() const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TempDir dir;
    std::string path;
    RegFileKeyStore keys;
    CConfigStore config;
};

}  // namespace vandrelle::test
