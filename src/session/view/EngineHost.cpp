// SPDX-License-Identifier: GPL-3.0-or-later
#include "ClientHost.h"

#include "DialogPrompts.h"
#include "FreeRdpClient.h"
#include "RdpView.h"

#include <QCoreApplication>

namespace vandrelle {
namespace {

// XKB key codes of the left and right Windows keys.
constexpr std::uint32_t kSuperLeft = 133;
constexpr std::uint32_t kSuperRight = 134;

class EngineHost : public ClientHost {
public:
    explicit EngineHost(QWidget* view)
        : m_prompts(view),
          m_client(
              [](std::function<void()> task) {
                  QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
              },
              m_prompts),
          m_view(std::make_unique<RdpView>(m_client, view)) {}

    ~EngineHost() override { m_view.reset(); }  // the widget draws from the client

    RdpClient& Client() override { return m_client; }
    QWidget* Widget() override { return m_view.get(); }
    void SetFullScreenBarVisible(bool visible) override {
        m_view->SetFullScreenBarVisible(visible);
    }
    void ReleaseWindowsKeys() override {
        m_client.SendKey(kSuperLeft, false);
        m_client.SendKey(kSuperRight, false);
    }

    void FollowArea(DesktopMode mode, std::function<void(int, int)> sized) override {
        m_view->FollowArea(mode, [sized = std::move(sized)](QSize size, bool) {
            sized(size.width(), size.height());
        });
    }

private:
    DialogPrompts m_prompts;
    FreeRdpClient m_client;
    std::unique_ptr<RdpView> m_view;
};

}  // namespace

ClientHostFactory EngineHosts() {
    return [](QWidget* view) -> std::unique_ptr<ClientHost> {
        return std::make_unique<EngineHost>(view);
    };
}

}  // namespace vandrelle
