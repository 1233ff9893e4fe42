// SPDX-License-Identifier: GPL-3.0-or-later
// The "Quick Connections" group and the "C&onnect To" menu.
#include "CServerList.h"

#include "ConfigStore.h"
#include "ResourceIds.h"
#include "SessionMessages.h"

#include <QMenu>
#include <QTreeWidget>

#include <vector>

namespace vandrelle {
namespace {

const QString kQuickConnections = QStringLiteral("Quick Connections");

// A label as a menu shows it: an ampersand is not a mnemonic.
QString MenuText(const QString& label) {
    QString text = CServerList::ShownText(label);
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

// A session without a server name files nothing: its entry would have an
// empty name, which no path can reach.
void CServerList::AddQuickConnection(const Properties& record) {
    if (record.Name.empty()) return;
    const QString name = QString::fromStdString(record.Name);
    QTreeWidgetItem* group = FindChildByLabel(m_root, kQuickConnections);
    if (group && FindChildByLabel(group, name)) return;
    if (!group) {
        Properties settings;
        settings.Name = kQuickConnections.toStdString();
        settings.InheritGeneral = 0;
        group = NewItem(m_root, settings.Name, kGroupItem);
        try {
            m_config.AddGroup(NodePath(), settings);
        } catch (const ConfigError& e) {
            delete group;
            ShowError(QString::fromUtf8(e.what()));
            return;
        }
    }
    PathBuffer path;
    if (!CommandPath(group, path)) return;
    QTreeWidgetItem* item = NewItem(group, record.Name, kServerItem);
    try {
        m_config.AddServer(NodePathFromBuffer(path), record);
    } catch (const ConfigError& e) {
        delete item;
        ShowError(QString::fromUtf8(e.what()));
    }
}

// Only the top level is made at once: a group's submenu is filled when it
// is about to show, so that a tree of thousands of servers opens the menu at
// once. Identifiers still count depth first through the whole tree.
QMenu* CServerList::BuildConnectToMenu(QMenu* menu, QAction* before) {
    delete m_connectTo;
    m_commandMap.clear();
    m_connectTo = new QMenu(tr("C&onnect To"), menu);
    m_connectTo->setObjectName(QStringLiteral("connectToMenu"));
    m_connectTo->setAccessibleName(tr("Connect To"));  // a popup's title is not its name
    FillConnectTo(m_connectTo, m_root, kConnectToFirstId);
    menu->insertMenu(before, m_connectTo);
    return m_connectTo;
}

int CServerList::ServersBelow(const QTreeWidgetItem* group) {
    int count = 0;
    std::vector<const QTreeWidgetItem*> pending{group};
    while (!pending.empty()) {
        const QTreeWidgetItem* item = pending.back();
        pending.pop_back();
        for (int i = 0; i < item->childCount(); ++i) {
            const QTreeWidgetItem* child = item->child(i);
            if (CServerList::IsServer(child)) {
                ++count;
            } else {
                pending.push_back(child);
            }
        }
    }
    return count;
}

void CServerList::FillConnectTo(QMenu* menu, const QTreeWidgetItem* parent, int firstId) {
    int nextId = firstId;
    for (int i = 0; i < parent->childCount(); ++i) {
        const QTreeWidgetItem* child = parent->child(i);
        if (!IsServer(child)) {
            QMenu* submenu = menu->addMenu(MenuText(child->text(0)));
            submenu->setAccessibleName(child->text(0));
            const int groupFirst = nextId;
            connect(submenu, &QMenu::aboutToShow, submenu, [this, submenu, child, groupFirst] {
                if (submenu->actions().isEmpty()) FillConnectTo(submenu, child, groupFirst);
            });
            nextId += ServersBelow(child) * kConnectToIdStep;
            continue;
        }
        QAction* action = menu->addAction(MenuText(child->text(0)));
        action->setData(nextId);
        // A server whose path does not fit is shown, but cannot be chosen.
        if (!GetItemPath(child, m_commandMap[nextId])) {
            m_commandMap.erase(nextId);
            action->setEnabled(false);
        }
        nextId += kConnectToIdStep;
    }
}

void CServerList::ConnectByMenuId(int id) {
    const auto it = m_commandMap.find(id);
    if (it == m_commandMap.end()) return;
    const PathBuffer path = it->second;
    const auto lParam = reinterpret_cast<std::intptr_t>(&path);
    if (m_frame.Send(WM_APP_FIND_SESSION, 0, lParam) == 0) {
        m_frame.Send(WM_APP_OPEN_SESSION, ID_SERVER_CONNECT, lParam);
    }
}

}  // namespace vandrelle
