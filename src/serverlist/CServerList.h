// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "NodePath.h"
#include "Properties.h"

#include <QIcon>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <map>

class QCollator;
class QContextMenuEvent;
class QKeyEvent;
class QLabel;
class QAction;
class QMenu;
class QMouseEvent;
class QTreeWidget;
class QTreeWidgetItem;

namespace vandrelle {

class CConfigStore;
class MessageTarget;

// What the tree asks of the properties sheet: its title, its pages, its mode
// and the labels the node's siblings carry (a name among them is refused).
struct SheetRequest {
    QString title;
    bool serverPages = false;  // General, Display, Local Resources, Experience
    bool groupMode = false;
    bool rootMode = false;
    QStringList siblingNames;
};

// Runs the sheet on `record`: true on OK (the record holds the edits), false
// on Cancel (the record is as it was).
using SheetRunner =
    std::function<bool(QWidget* owner, const SheetRequest& request, Properties& record)>;

// Imports the system client's saved connections into a group: asks `hasChild`
// whether the group already has a child of that label before each candidate,
// and hands each one to import to `add`.
using ImportRunner = std::function<void(const std::function<bool(const std::string&)>& hasChild,
                                        const std::function<void(const Properties&)>& add)>;

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
    const CConfigStore& Config() const { return m_config; }
    QTreeWidgetItem* RootItem() const { return m_root; }
    // The item that menu commands act on: set by a right click, the Delete
    // key, the start of a drag, and to a newly added server.
    QTreeWidgetItem* CurrentItem() const { return m_current; }
    void SetCurrentItem(QTreeWidgetItem* item) { m_current = item; }

    static bool IsServer(const QTreeWidgetItem* item);
    // The servers of a group and of all its subgroups.
    static int ServersBelow(const QTreeWidgetItem* group);
    bool IsRoot(const QTreeWidgetItem* item) const { return item == m_root; }

    // What a screen reader reads of an item besides its label: its kind, and
    // a group's count of the servers below it or a server's address.
    QString ItemDescription(const QTreeWidgetItem* item) const;

    // The item's path (zero after its end); false when the item is not in the
    // tree or its path does not fit the buffer.
    bool GetItemPath(const QTreeWidgetItem* item, PathBuffer& path) const;
    // The same for a command the user gave: a path that does not fit is told.
    bool CommandPath(const QTreeWidgetItem* item, PathBuffer& path);
    // The first direct child labelled exactly `label`, or nullptr.
    static QTreeWidgetItem* FindChildByLabel(const QTreeWidgetItem* parent, const QString& label);
    // A name as it is shown (tree, tabs, caption, menus, questions): its
    // bidirectional controls written out ("<U+202E>"), so that it is never
    // shown reordered into another name.
    static QString ShownText(const QString& name);

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

    // The properties sheet and the import the commands use.
    void SetSheetRunner(SheetRunner runner) { m_sheet = std::move(runner); }
    void SetImportRunner(ImportRunner runner) { m_import = std::move(runner); }

    // Appends a server item labelled with the record's name to the group,
    // expands the group and adds the server to the configuration under the
    // group's path (saving the file). The new item, or nullptr when the
    // group's path cannot be had or the configuration refused the server.
    QTreeWidgetItem* AddServerItem(QTreeWidgetItem* group, const Properties& record);
    // Moves the item (with everything below it) to the end of the new
    // parent's children, keeps its look, sorts that level and selects it.
    void MoveItem(QTreeWidgetItem* item, QTreeWidgetItem* newParent);
    // Sorts a level of the tree as the build does.
    void SortLevel(QTreeWidgetItem* parent);

    // Files a server opened through Quick Connect under the group "Quick
    // Connections" below the root (made the first time), unless that group
    // already holds an entry of its name, or it has none.
    void AddQuickConnection(const Properties& record);
    // Puts a fresh "C&onnect To" submenu that mirrors the tree (groups as
    // submenus, servers as items with command identifiers from 4096, 16
    // apart, depth first) into `menu` before `before`, in place of the one
    // of the last time. Returns it; its items carry their identifiers as data.
    QMenu* BuildConnectToMenu(QMenu* menu, QAction* before);
    // Opens the server of a "C&onnect To" identifier: its open tab, else a new one.
    void ConnectByMenuId(int id);

    // Expands or collapses a group for the program's own purposes: unlike the
    // user's, the change is not stored in the configuration.
    void ExpandByProgram(QTreeWidgetItem* item, bool expanded = true);
    // Builds the tree again from the document (read anew from its file), with
    // the groups that still exist open or closed as they were and the same
    // item selected, or the nearest group above it that is left. Nothing is
    // stored.
    void Rebuild();
    // Puts a bar (the find bar) above the tree.
    void SetTopBar(QWidget* bar);

    // Drag and drop: whether a drag is under way, and where it would drop.
    bool IsDragging() const { return m_dragging; }
    QTreeWidgetItem* DropTarget() const { return m_dropTarget; }
    // The drop target for the item under the pointer while `dragged` is
    // dragged: none for the item itself, anything below it, its parent, a
    // server beside it, and a group that already holds a child of its label.
    QTreeWidgetItem* TargetFor(const QTreeWidgetItem* dragged, QTreeWidgetItem* under) const;
    // Moving from the keyboard: the item marked by Ctrl+X, or nullptr.
    QTreeWidgetItem* MarkedItem() const;

protected:
    void focusInEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Build();
    void MakeEmptyHint();
    void UpdateEmptyHint();
    static void SortChildren(QTreeWidgetItem* parent, const QCollator& collator);
    static bool InOrder(const QTreeWidgetItem* parent, const QCollator& collator);
    QTreeWidgetItem* NewItem(QTreeWidgetItem* parent, const std::string& label, int kind) const;
    void ShowError(const QString& text);
    QStringList ChildLabels(const QTreeWidgetItem* parent, const QTreeWidgetItem* except) const;
    bool Scratch(const QTreeWidgetItem* item, PathBuffer& path, Properties& record);
    bool ScratchForNew(QTreeWidgetItem* group, PathBuffer& path, Properties& record);
    void AddGroupCommand();
    void AddServerCommand();
    void InsertCopyCommand();
    void PropertiesCommand(bool server);
    void ImportCommand();
    void BeginDrag(QTreeWidgetItem* item, const QPoint& at);
    void DragMove(const QPoint& at);
    void EndDrag(bool drop);
    void SetDropTarget(QTreeWidgetItem* target);
    void Drop(QTreeWidgetItem* dragged, QTreeWidgetItem* target);
    bool DragEvent(QEvent* event);
    bool MenuOrMoveKey(const QKeyEvent& key);
    bool MoveKey(const QKeyEvent& key);
    void Mark(QTreeWidgetItem* item);
    void MoveMarked(QTreeWidgetItem* target);
    void OnItemExpansion(QTreeWidgetItem* item, bool collapsed);
    void ShowContextMenu(QContextMenuEvent* event);
    bool OnItemLabel(QTreeWidgetItem* item, const QPoint& pos) const;
    void DeleteKey();
    void SendOpen(int command, QTreeWidgetItem* server);
    void ConnectGroup();
    void DeleteCurrent();

    CConfigStore& m_config;
    MessageTarget& m_frame;
    QIcon m_groupIcon;
    QIcon m_serverIcon;
    QTreeWidget* m_tree = nullptr;
    QTreeWidgetItem* m_root = nullptr;
    QTreeWidgetItem* m_current = nullptr;
    bool m_expandingByProgram = false;  // only the user's expansions are stored
    void FillConnectTo(QMenu* menu, const QTreeWidgetItem* parent, int firstId);
    SheetRunner m_sheet;
    // "C&onnect To": the submenu of the last time, and its servers' paths by identifier.
    QPointer<QMenu> m_connectTo;
    std::map<int, PathBuffer> m_commandMap;
    ImportRunner m_import;
    // Drag and drop.
    QTreeWidgetItem* m_pressed = nullptr;  // under the left button, not dragged yet
    QPoint m_pressedAt;
    bool m_dragging = false;
    QTreeWidgetItem* m_dropTarget = nullptr;
    QLabel* m_dragImage = nullptr;
    QPoint m_hotSpot;
    QLabel* m_emptyHint = nullptr;  // shown while the tree holds no server
};

}  // namespace vandrelle
