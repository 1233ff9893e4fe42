// SPDX-License-Identifier: GPL-3.0-or-later
#include "EngineLoader.h"

#include "EngineModule.h"

#include <QCoreApplication>
#include <QLibrary>

namespace vandrelle {
namespace {

// The module's entry points, resolved once on the user-interface thread
// (hosts are made there) and kept for the process: the module stays loaded.
struct Engine {
    VandrelleEngineHostFunction host = nullptr;
    VandrelleEngineEndFunction endAll = nullptr;
    VandrelleEngineEndFunction waitAll = nullptr;
};
Engine g_engine;

const Engine& LoadEngine(const QString& path) {
    if (g_engine.host) return g_engine;
    QLibrary module(path);
    const auto resolve = [&module](const char* name) {
        QFunctionPointer entry = module.resolve(name);
        if (!entry) {
            qFatal("The RDP engine could not be loaded: %s", qPrintable(module.errorString()));
        }
        return entry;
    };
    Engine loaded;
    loaded.endAll = reinterpret_cast<VandrelleEngineEndFunction>(resolve("VandrelleEngineEndAll"));
    loaded.waitAll =
        reinterpret_cast<VandrelleEngineEndFunction>(resolve("VandrelleEngineWaitAll"));
    loaded.host = reinterpret_cast<VandrelleEngineHostFunction>(resolve("VandrelleEngineHost"));
    g_engine = loaded;
    return g_engine;
}

}  // namespace

QString EngineModulePath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../") +
           QStringLiteral(VANDRELLE_ENGINE_MODULE);
}

ClientHostFactory ModuleEngineHosts(QString path) {
    return [path = std::move(path)](QWidget* view) {
        return std::unique_ptr<ClientHost>(LoadEngine(path).host(view));
    };
}

bool EngineModuleLoaded() {
    return g_engine.host != nullptr;
}

bool EndEngineConnections(std::chrono::milliseconds timeout) {
    return !g_engine.endAll || g_engine.endAll(timeout.count());
}

bool WaitForEngineConnections(std::chrono::milliseconds timeout) {
    return !g_engine.waitAll || g_engine.waitAll(timeout.count());
}

}  // namespace vandrelle
