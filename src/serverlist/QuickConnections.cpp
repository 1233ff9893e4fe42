// SPDX-License-Identifier: GPL-3.0-or-later
// The "Quick Connections" group and the "C&onnect To" menu.
#include "CServerList.h"

#include "ConfigStore.h"
#include "ResourceIds.h"
#include "SessionMessages.h"

#include <QMenu>
#include <QTreeWidget>

namespace vandrelle {
namespace {

const QString kQuickConnections = QStringLiteral("Quick Connections");

// A label as a menu shows it: an ampersand is not a mnemonic.
QString MenuText(const QString& label) {
    QString text = label;
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
    if (!GetItemPath(group, path)) return;
    QTreeWidgetItem* item = NewItem(group, record.Name, kServerItem);
    try {
        m_config.AddServer(NodePathFromBuffer(path), record);
    } catch (const ConfigError& e) {
        delete item;
        ShowError(QString::fromUtf8(e.what()));
    }
}

QMenu* CServerList::BuildConnectToMenu(QMenu* menu, QAction* before) {
    delete m_connectTo;
    m_commandMap.clear();
    m_connectTo = new QMenu(tr("C&onnect To"), menu);
    m_connectTo->setObjectName(QStringLiteral("connectToMenu"));
    int nextId = kConnectToFirstId;
    FillConnectTo(m_connectTo, m_root, nextId);
    menu->insertMenu(before, m_connectTo);
    return m_connectTo;
}

void CServerList::FillConnectTo(QMenu* menu, const QTreeWidgetItem* parent, int& nextId) {
    for (int i = 0; i < parent->childCount(); ++i) {
        const QTreeWidgetItem* child = parent->child(i);
        if (!IsServer(child)) {
            FillConnectTo(menu->addMenu(MenuText(child->text(0))), child, nextId);
            continue;
        }
        QAction* action = menu->addAction(MenuText(child->text(0)));
        action->setData(nextId);
        GetItemPath(child, m_commandMap[nextId]);
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
