// SPDX-License-Identifier: GPL-3.0-or-later
// Usage: vandrelle-find-bench CONFIG.xml [TYPED]
// The find bar of the main window over CONFIG.xml, on the display: the time
// of each keystroke, from the key event to the repainted window (the filter,
// the tree's layout, the marks and the status bar), as TYPED ("srv-012"
// unless given) is typed a key at a time and taken back with Backspace, five
// times over; and the time to open and to close the bar, repaint included.
// Prints medians and 95th percentiles as "figure" lines.
#include "CMainFrame.h"
#include "ConfigStore.h"
#include "RegFileKeyStore.h"
#include "ResourceIds.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace vandrelle;

double ThreadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Times of one kind of step: wall time, and the GUI thread's own processor
// time (which other load on the machine does not add to).
struct Samples {
    std::vector<double> wall;
    std::vector<double> cpu;
    // Runs the step and the window's repaint.
    void Take(const std::function<void()>& step, QWidget& window) {
        const double cpuStart = ThreadCpuMs();
        QElapsedTimer clock;
        clock.start();
        step();
        window.repaint();
        wall.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        cpu.push_back(ThreadCpuMs() - cpuStart);
    }
};

void Press(QWidget* to, Qt::Key key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(to, &press);
    QApplication::sendEvent(to, &release);
}

void Report(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const auto at = [&](double q) {
        return times[static_cast<std::size_t>(q * static_cast<double>(times.size() - 1))];
    };
    std::printf("figure %s: median %.2f ms, 95th percentile %.2f ms, max %.2f ms (%zu samples)\n",
                what, at(0.5), at(0.95), times.back(), times.size());
}

void Report(const char* what, const Samples& samples) {
    Report(what, samples.wall);
    Report((std::string(what) + ", processor time").c_str(), samples.cpu);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: vandrelle-find-bench CONFIG.xml [TYPED]\n");
        return 2;
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    const QString typed = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("srv-012");
    QTemporaryDir keysDir;
    RegFileKeyStore keys(keysDir.filePath(QStringLiteral("registry.reg")).toStdString(),
                         keysDir.filePath(QStringLiteral("machine.reg")).toStdString());
    CConfigStore config(keys);
    if (!config.Init() || !config.Load(argv[1])) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    CMainFrame frame(config, keys, [](QWidget*) { return std::unique_ptr<ClientHost>(); });
    frame.show();
    for (int i = 0; i < 20; ++i) app.processEvents();

    Samples opens, closes, keystrokes;
    std::vector<double> idleMs;
    for (int round = 0; round < 5; ++round) {
        opens.Take([&] { frame.OnSysCommand(IDM_FIND_SERVER); }, frame);
        // What the bar does once shown, before a user's first key could come.
        QElapsedTimer idle;
        idle.start();
        app.processEvents();
        idleMs.push_back(idle.nsecsElapsed() / 1e6);
        auto* field = frame.findChild<QLineEdit*>(QStringLiteral("findField"));
        if (!field || !field->isVisible()) {
            std::fprintf(stderr, "the find bar did not open\n");
            return 1;
        }
        for (const QChar c : typed) {
            keystrokes.Take([&] { Press(field, Qt::Key(c.toUpper().unicode()), c); }, frame);
        }
        if (round == 0) std::printf("figure matches: %s\n", qPrintable(frame.StatusText()));
        for (qsizetype i = 0; i < typed.size(); ++i) {
            keystrokes.Take([&] { Press(field, Qt::Key_Backspace); }, frame);
        }
        closes.Take([&] { Press(field, Qt::Key_Escape); }, frame);
    }
    Report("keystroke, filter and repaint", keystrokes);
    Report("find bar opened", opens);
    Report("find bar closed", closes);
    Report("after opening, while idle (the first time: the index made)", idleMs);
    return 0;
}
