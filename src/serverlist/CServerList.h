// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "NodePath.h"

#include <QWidget>

class QCollator;
class QContextMenuEvent;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace vandrelle {

class CConfigStore;
class MessageTarget;

// The server tree panel: the first page of the main window. Shows the groups
// and servers of the configuration, each level sorted as a whole (groups and
// servers mixed, case-insensitive, by the user's locale), keeps each group's
// collapsed state in the configuration file, opens a server on a double
// click or Enter, and runs the commands of its two context menus.
//
// The panel talks to the main window only through `frame`'s messages
// (WM_APP_FIND_SESSION, WM_APP_OPEN_SESSION, sent with a PathBuffer* as
// lParam). Items are tied to the configuration only by their paths: a group's
// label is its name, a server's label its name.
class CServerList : public QWidget {
    Q_OBJECT
public:
    // Item data of the three kinds (the root counts as a group).
    static constexpr int kGroupItem = 1;
    static constexpr int kServerItem = 2;
    // The role of an item's kind.
    static constexpr int kItemDataRole = Qt::UserRole;

    // Builds the whole tree from the configuration.
    CServerList(CConfigStore& config, MessageTarget& frame, QWidget* parent = nullptr);
    ~CServerList() override;

    QTreeWidget* Tree() const { return m_tree; }
    QTreeWidgetItem* RootItem() const { return m_root; }
    // The item that menu commands act on: set by a right click, the Delete
    // key, the start of a drag, and to a newly added server.
    QTreeWidgetItem* CurrentItem() const { return m_current; }
    void SetCurrentItem(QTreeWidgetItem* item) { m_current = item; }

    static bool IsServer(const QTreeWidgetItem* item);
    bool IsRoot(const QTreeWidgetItem* item) const { return item == m_root; }

    // The item's path (zero after its end); false when a label cannot be had.
    bool GetItemPath(const QTreeWidgetItem* item, PathBuffer& path) const;
    // The first direct child labelled exactly `label`, or nullptr.
    static QTreeWidgetItem* FindChildByLabel(const QTreeWidgetItem* parent, const QString& label);

    // The context menu of an item: the server menu or the group menu (the
    // root's "&Delete" greyed). Its actions carry their command identifiers
    // as data and run OnCommand on the current item. The caller owns it.
    QMenu* MakeContextMenu(const QTreeWidgetItem* item);

    // Runs a context-menu command on the current item: the one dispatch point
    // of the tree's commands.
    void OnCommand(int id);

    // Opens the selected server as a double click or Enter does: activates its
    // open tab, else asks for a new one.
    void OpenSelected();

protected:
    void focusInEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Build();
    static void SortChildren(QTreeWidgetItem* parent, const QCollator& collator);
    void OnItemExpansion(QTreeWidgetItem* item, bool collapsed);
    void ShowContextMenu(QContextMenuEvent* event);
    bool OnItemLabel(QTreeWidgetItem* item, const QPoint& pos) const;
    void DeleteKey();
    void SendOpen(int command, QTreeWidgetItem* server);
    void ConnectGroup();
    void DeleteCurrent();

    CConfigStore& m_config;
    MessageTarget& m_frame;
    QTreeWidget* m_tree = nullptr;
    QTreeWidgetItem* m_root = nullptr;
    QTreeWidgetItem* m_current = nullptr;
    bool m_expandingByProgram = false;  // only the user's expansions are stored
};

}  // namespace vandrelle
