// SPDX-License-Identifier: GPL-3.0-or-later
// Usage: vandrelle-bare-window START_NS
// The yardstick of the start-up benchmark: a bare Qt main window with a tree
// of a few items and nothing else. Prints "figure start to first paint: N ms"
// from START_NS (CLOCK_REALTIME, taken by the caller just before it started
// this process) and quits at once.
#include "Clocks.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <string>

namespace {

class FirstPaint : public QObject {
public:
    explicit FirstPaint(long long startNs) : m_startNs(startNs) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!m_done && event->type() == QEvent::Paint && watched->isWidgetType()) {
            m_done = true;
            std::printf("figure start to first paint: %.1f ms\n", (NowNs() - m_startNs) / 1e6);
            std::printf("figure processor time to first paint: %.1f ms\n", CpuNs() / 1e6);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    long long m_startNs;
    bool m_done = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vandrelle-bare-window START_NS\n");
        return 2;
    }
    const long long startNs = std::stoll(argv[1]);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    FirstPaint firstPaint(startNs);
    app.installEventFilter(&firstPaint);
    QMainWindow window;
    auto* tree = new QTreeWidget(&window);
    for (int i = 0; i < 10; ++i) {
        new QTreeWidgetItem(tree, {QStringLiteral("Server %1").arg(i)});
    }
    window.setCentralWidget(tree);
    window.resize(960, 640);
    window.show();
    return QApplication::exec();
}
