// SPDX-License-Identifier: GPL-3.0-or-later
// Usage: vandrelle-startup-bench PROGRAM_FOLDER START_NS
// Runs the program as it starts (the configuration beside it, a window on
// the display, the engine loaded only when a session opens) and prints, as
// "figure" lines:
//   start to first paint: from START_NS (CLOCK_REALTIME, taken by the caller
//     just before it started this process) to the main window's first paint;
//   step: each step of that start, from the end of the one before (the first
//     from START_NS: the libraries loaded and initialized up to main);
//   tree panel: the median time to build the server tree alone, of 5 builds;
//   resident memory: the process once the window is shown, no session;
//   window menu: the time to open it, "C&onnect To" with every server included;
//   tree followed: the median time, of 5, to read the file again after another
//     writer changed it and rebuild the shown tree, expansion and selection kept.
// Then it closes the window as a user would.
#include "Clocks.h"

#include "CMainFrame.h"
#include "CServerList.h"
#include "ConfigStore.h"
#include "EngineLoader.h"
#include "FileUtil.h"
#include "Program.h"
#include "RegFileKeyStore.h"
#include "SessionMessages.h"
#include "SystemInfo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <string>
#include <vector>

namespace {

using namespace vandrelle;

std::string StatusLine(const char* key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0)
            return line.substr(line.find_first_not_of(" \t", std::strlen(key)));
    }
    return "?";
}

class NoFrame : public MessageTarget {
public:
    void Post(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    std::intptr_t Send(std::uint32_t, std::uintptr_t, std::intptr_t) override { return 0; }
};

// The steps of the start, each timed from the end of the one before.
class Steps {
public:
    explicit Steps(long long startNs) : m_lastNs(startNs) {}
    void End(const char* name) {
        const long long now = NowNs();
        m_lines.push_back("figure step " + std::string(name) + ": " +
                          std::to_string((now - m_lastNs) / 1000) + " us");
        m_lastNs = now;
    }
    // Printed once the start is over, so that printing takes none of its time.
    void Print() const {
        for (const std::string& line : m_lines) std::printf("%s\n", line.c_str());
    }

private:
    long long m_lastNs;
    std::vector<std::string> m_lines;
};

// The first paint of anything in the main window.
class FirstPaint : public QObject {
public:
    FirstPaint(long long startNs, Steps& steps) : m_startNs(startNs), m_steps(steps) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!m_done && event->type() == QEvent::Paint && watched->isWidgetType()) {
            m_done = true;
            m_steps.End("shown to first paint");
            std::printf("figure start to first paint: %.1f ms\n", (NowNs() - m_startNs) / 1e6);
            std::printf("figure processor time to first paint: %.1f ms\n", CpuNs() / 1e6);
        }
        return false;
    }
    bool Done() const { return m_done; }

private:
    long long m_startNs;
    Steps& m_steps;
    bool m_done = false;
};

double TreeBuildMs(CConfigStore& config) {
    NoFrame frame;
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer clock;
        clock.start();
        CServerList panel(config, frame);
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The file read again and the shown tree rebuilt, the way the program
// follows it, after another writer added a server. A few groups are open
// and a server deep down selected; the rebuild must keep both.
double TreeFollowedMs(CConfigStore& config) {
    NoFrame frame;
    CServerList panel(config, frame);
    panel.resize(400, 800);
    panel.show();
    QTreeWidgetItem* item = panel.Tree()->topLevelItem(0);
    for (int depth = 0; depth < 3 && item->childCount() > 0; ++depth) {
        item->setExpanded(true);
        item = item->child(item->childCount() - 1);
    }
    panel.Tree()->setCurrentItem(item);
    const QString selected = item->text(0);
    std::string original, error;
    if (!ReadWholeFile(config.ConfigPath(), &original, &error)) return -1;
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        std::string changed = original;
        changed.insert(changed.find("</Group>"),
                       "<Server><Name>added-" + std::to_string(i) + "</Name></Server>");
        if (!WriteFileAtomically(config.ConfigPath(), changed, 0600, &error)) return -1;
        QElapsedTimer clock;
        clock.start();
        if (config.ReloadFromDisk() != CConfigStore::Reload::Reloaded) return -1;
        panel.Rebuild();
        panel.repaint();
        times.push_back(clock.nsecsElapsed() / 1e6);
        if (panel.Tree()->currentItem()->text(0) != selected) return -1;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vandrelle-startup-bench PROGRAM_FOLDER START_NS\n");
        return 2;
    }
    const long long startNs = std::stoll(argv[2]);
    Steps steps(startNs);
    steps.End("process start to main (libraries loaded and initialized)");
    // As the program's main: the configuration is read while the application starts.
    auto keys = MakeDefaultKeyStore();
    const std::string programFolder = argv[1];
    const std::string userFolder = UserConfigFolder();
    auto starting = std::async(
        std::launch::async, [&] { return LoadStartingConfig(programFolder, userFolder, *keys); });
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    steps.End("application (platform, display; the configuration read meanwhile)");
    FirstPaint firstPaint(startNs, steps);
    app.installEventFilter(&firstPaint);
    ProgramEnvironment environment;
    environment.keys = keys.get();
    environment.hosts = ModuleEngineHosts(EngineModulePath());
    environment.loginBus = [] { return QDBusConnection::systemBus(); };
    environment.onStep = [&steps](const char* name) { steps.End(name); };
    environment.onShown = [&](CMainFrame& frame) {
        auto* poll = new QTimer(&frame);
        QObject::connect(poll, &QTimer::timeout, &frame, [&frame, poll, &firstPaint, &steps] {
            if (!firstPaint.Done()) return;
            poll->stop();
            QCoreApplication::processEvents();
            steps.Print();
            std::printf("figure engine module loaded: %s\n", EngineModuleLoaded() ? "yes" : "no");
            std::printf(
                "figure resident memory, window and configuration, no session: %s"
                " (peak %s)\n",
                StatusLine("VmRSS:").c_str(), StatusLine("VmHWM:").c_str());
            // The window menu as the user opens it: "C&onnect To" made anew, then shown.
            QMenu* menu = frame.WindowMenu();
            QElapsedTimer clock;
            clock.start();
            menu->popup(frame.mapToGlobal(QPoint(0, 0)));
            QCoreApplication::processEvents();
            std::printf("figure window menu with Connect To opened: %.1f ms\n",
                        clock.nsecsElapsed() / 1e6);
            menu->hide();
            frame.close();
        });
        poll->start(5);
    };
    PrepareToolkit();
    steps.End("toolkit (style and fonts; the configuration read meanwhile)");
    const int code = RunProgram(environment, starting.get());

    // The tree alone, from the same file, in the warm process.
    CConfigStore config(*keys);
    config.Init();
    config.SetConfigPath(std::string(argv[1]) + "/Vandrelle.xml");
    if (!config.Load(config.ConfigPath())) {
        std::fprintf(stderr, "cannot load %s/Vandrelle.xml\n", argv[1]);
        return 1;
    }
    std::printf("figure tree panel built: %.1f ms (median of 5)\n", TreeBuildMs(config));
    std::printf("figure tree followed, file read again and tree rebuilt: %.1f ms (median of 5)\n",
                TreeFollowedMs(config));
    return code;
}
