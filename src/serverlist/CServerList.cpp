// SPDX-License-Identifier: GPL-3.0-or-later
#include "CServerList.h"

#include "ConfigStore.h"
#include "Icons.h"
#include "ItemPath.h"
#include "ResourceIds.h"
#include "RowDelegate.h"
#include "SessionMessages.h"
#include "Utf8.h"
#include "XmlDocument.h"

#include <QApplication>
#include <QCollator>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace vandrelle {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The order of a level: the user's collation, without regard to case (the
// collator of the C locale compares code points, case and all, so labels are
// folded first).
const QCollator& LabelCollator() {
    static const QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator;
}

// An item that sorts among its siblings in that order, and whose
// description is worked out when asked, so that it is never stale. Its kind
// and icon are fields of its own rather than entries in the item's table of
// roles: a tree of ten thousand servers is made at every start.
class TreeItem : public QTreeWidgetItem {
public:
    TreeItem(QTreeWidgetItem* parent, const QString& label, int kind, const QIcon& icon)
        : QTreeWidgetItem(parent), m_kind(kind), m_icon(icon) {
        setText(0, label);
    }
    bool operator<(const QTreeWidgetItem& other) const override {
        return LabelCollator().compare(text(0).toCaseFolded(), other.text(0).toCaseFolded()) < 0;
    }
    QVariant data(int column, int role) const override {
        if (column == 0 && role == CServerList::kItemDataRole) return m_kind;
        if (column == 0 && role == Qt::DecorationRole) return m_icon;
        if (role == Qt::AccessibleDescriptionRole && treeWidget()) {
            if (const auto* list = qobject_cast<const CServerList*>(treeWidget()->parentWidget()))
                return list->ItemDescription(this);
        }
        return QTreeWidgetItem::data(column, role);
    }
    void setData(int column, int role, const QVariant& value) override {
        if (column == 0 && role == CServerList::kItemDataRole) {
            m_kind = value.toInt();
        } else if (column == 0 && role == Qt::DecorationRole) {
            m_icon = value.value<QIcon>();
        } else {
            QTreeWidgetItem::setData(column, role, value);
            return;
        }
        emitDataChanged();
    }

private:
    int m_kind;
    QIcon m_icon;
};

// A group is shown collapsed when it stores a collapse state other than "0".
bool StoredCollapsed(pugi::xml_node element) {
    const pugi::xml_node state = SelectElement(element, "Properties/GroupCollapsed");
    return state && ElementText(state) != "0";
}

struct MenuItem {
    const char* text;  // nullptr: a separator
    int id;
};

constexpr MenuItem kServerMenu[] = {
    {"&Connect", ID_SERVER_CONNECT},
    {"C&onnect to console", ID_SERVER_CONNECT_CONSOLE},
    {"Co&nnect to non-console", ID_SERVER_CONNECT_NON_CONSOLE},
    {"Connect with &MSTSC", ID_SERVER_CONNECT_MSTSC},
    {nullptr, 0},
    {"&Delete", ID_SERVER_DELETE},
    {"&Insert a copy", ID_SERVER_INSERT_COPY},
    {nullptr, 0},
    {"&Properties", ID_SERVER_PROPERTIES},
};

constexpr MenuItem kGroupMenu[] = {
    {"&Connect group", ID_GROUP_CONNECT},
    {"Add &server", ID_GROUP_ADD_SERVER},
    {"Add &group", ID_GROUP_ADD_GROUP},
    {"&Delete", ID_GROUP_DELETE},
    {nullptr, 0},
    {"&Import MSTSC connections", ID_GROUP_IMPORT_MSTSC},
    {nullptr, 0},
    {"&Properties", ID_GROUP_PROPERTIES},
};

}  // namespace

CServerList::CServerList(CConfigStore& config, MessageTarget& frame, QWidget* parent)
    : QWidget(parent),
      m_config(config),
      m_frame(frame),
      m_groupIcon(ResourceIcon(IDI_GROUP)),
      m_serverIcon(ResourceIcon(IDI_SERVER)) {
    setObjectName(QStringLiteral("serverList"));
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("tree"));
    m_tree->setProperty("controlId", kTreeControlId);
    m_tree->setAccessibleName(tr("Servers"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setUniformRowHeights(true);
    m_tree->setIconSize(QSize(16, 16));
    m_tree->setItemDelegate(new RowDelegate(m_tree));
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setContextMenuPolicy(Qt::DefaultContextMenu);
    m_tree->installEventFilter(this);
    m_tree->viewport()->installEventFilter(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tree);
    setFocusProxy(m_tree);

    Build();
    MakeEmptyHint();

    connect(m_tree, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { OnItemExpansion(item, false); });
    connect(m_tree, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* item) { OnItemExpansion(item, true); });
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this] { OpenSelected(); });
}

// The tree outlives this part of the panel: its last changes must not reach
// the hint.
CServerList::~CServerList() {
    disconnect(m_tree->model(), nullptr, this, nullptr);
}

// One level at a time: each item's children are made in document order, then
// ordered by their labels as a whole. The tree is put into the view only when
// complete, so the view lays it out once.
void CServerList::Build() {
    m_root = new TreeItem(nullptr, tr("Servers"), kGroupItem, ResourceIcon(IDR_MAINFRAME));

    std::vector<QTreeWidgetItem*> collapsed;
    struct Level {
        QTreeWidgetItem* item;
        pugi::xml_node element;
    };
    std::vector<Level> pending{{m_root, m_config.ServersElement()}};
    if (StoredCollapsed(m_config.ServersElement())) collapsed.push_back(m_root);
    while (!pending.empty()) {
        const Level level = pending.back();
        pending.pop_back();
        for (pugi::xml_node child = level.element.first_child(); child;
             child = child.next_sibling()) {
            if (IsElementNamed(child, "Group")) {
                const pugi::xml_node name = SelectElement(child, "Properties/Name");
                // Unreachable by path (an empty name ends a path): left out
                // with all below it.
                if (!name || ElementText(name).empty()) continue;
                QTreeWidgetItem* item = NewItem(level.item, ElementText(name), kGroupItem);
                if (StoredCollapsed(child)) collapsed.push_back(item);
                pending.push_back({item, child});
            } else if (IsElementNamed(child, "Server")) {
                const pugi::xml_node name = FirstChildElement(child, "Name");
                if (name && !ElementText(name).empty()) {
                    NewItem(level.item, ElementText(name), kServerItem);
                }
            }
        }
        SortChildren(level.item, LabelCollator());
    }

    m_tree->addTopLevelItem(m_root);
    m_expandingByProgram = true;
    m_tree->expandAll();
    for (QTreeWidgetItem* item : collapsed) item->setExpanded(false);
    m_expandingByProgram = false;
}

// A first start shows only "Servers": the hint above it says how to fill the
// tree. A label has no focus to take from the tree, and a screen reader reads
// it as static text, and as the tree's description while it shows.
void CServerList::MakeEmptyHint() {
    m_emptyHint = new QLabel(
        tr("No servers yet. To add one, open the menu of \"Servers\" below (right click, the "
           "Menu key or Shift+F10) and choose \"Add server\"; or choose \"Quick Connect...\" "
           "in the window menu (F10)."),
        this);
    m_emptyHint->setObjectName(QStringLiteral("emptyHint"));
    m_emptyHint->setWordWrap(true);
    m_emptyHint->setFocusPolicy(Qt::NoFocus);
    m_emptyHint->setContentsMargins(6, 6, 6, 6);
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, m_emptyHint);
    // Every way a server comes or goes (commands, drops, imports) adds or
    // removes rows; a new item learns its kind only after it was inserted.
    QAbstractItemModel* model = m_tree->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &CServerList::UpdateEmptyHint);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &CServerList::UpdateEmptyHint);
    connect(model, &QAbstractItemModel::dataChanged, this, &CServerList::UpdateEmptyHint);
    UpdateEmptyHint();
}

void CServerList::UpdateEmptyHint() {
    bool holdsServer = false;
    for (QTreeWidgetItemIterator it(m_tree); *it && !holdsServer; ++it) holdsServer = IsServer(*it);
    m_emptyHint->setHidden(holdsServer);
    m_tree->setAccessibleDescription(holdsServer ? QString() : m_emptyHint->text());
}

// An item of that kind appended to the parent's children.
QTreeWidgetItem* CServerList::NewItem(QTreeWidgetItem* parent, const std::string& label,
                                      int kind) const {
    return new TreeItem(parent, Q(label), kind, kind == kServerItem ? m_serverIcon : m_groupIcon);
}

// Sorting the attached tree keeps the items, and with them the view's
// expanded states; the build sorts detached levels with keys made once.
void CServerList::SortLevel(QTreeWidgetItem* parent) {
    parent->sortChildren(0, Qt::AscendingOrder);
}

void CServerList::SetTopBar(QWidget* bar) {
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, bar);
}

void CServerList::ExpandByProgram(QTreeWidgetItem* item, bool expanded) {
    m_expandingByProgram = true;
    item->setExpanded(expanded);
    m_expandingByProgram = false;
}

// A level that is in order already (a file written in order) is left as it
// is, which is what the stable sort would make of it, without a key for
// each item.
bool CServerList::InOrder(const QTreeWidgetItem* parent, const QCollator& collator) {
    QString previous = parent->child(0)->text(0).toCaseFolded();
    for (int i = 1; i < parent->childCount(); ++i) {
        QString next = parent->child(i)->text(0).toCaseFolded();
        if (collator.compare(previous, next) > 0) return false;
        previous = std::move(next);
    }
    return true;
}

void CServerList::SortChildren(QTreeWidgetItem* parent, const QCollator& collator) {
    if (parent->childCount() < 2 || InOrder(parent, collator)) return;
    struct Keyed {
        QCollatorSortKey key;
        QTreeWidgetItem* item;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(static_cast<std::size_t>(parent->childCount()));
    const QList<QTreeWidgetItem*> children = parent->takeChildren();
    for (QTreeWidgetItem* child : children) {
        // Folded first: the collator of the C locale compares code points, case and all.
        keyed.push_back({collator.sortKey(child->text(0).toCaseFolded()), child});
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const Keyed& a, const Keyed& b) { return a.key.compare(b.key) < 0; });
    QList<QTreeWidgetItem*> sorted;
    sorted.reserve(children.size());
    for (const Keyed& k : keyed) sorted.push_back(k.item);
    parent->addChildren(sorted);
}

QString CServerList::ShownText(const QString& name) {
    QString shown;
    for (const QChar c : name) {
        if (IsBidiControl(c.unicode())) {
            shown += QStringLiteral("<U+%1>").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
        } else {
            shown += c;
        }
    }
    return shown;
}

bool CServerList::IsServer(const QTreeWidgetItem* item) {
    return item && item->data(0, kItemDataRole).toInt() == kServerItem;
}

QString CServerList::ItemDescription(const QTreeWidgetItem* item) const {
    if (!IsServer(item)) {
        const int servers = ServersBelow(item);
        if (servers == 0) return tr("group, no servers");
        return servers == 1 ? tr("group, 1 server") : tr("group, %1 servers").arg(servers);
    }
    PathBuffer path;
    Properties record;
    try {
        if (GetItemPath(item, path)) m_config.LoadProperties(NodePathFromBuffer(path), record);
    } catch (const ConfigError&) {
        // A server being renamed or deleted: its kind alone.
    }
    return record.Server.empty() ? tr("server") : tr("server, %1").arg(Q(record.Server));
}

bool CServerList::GetItemPath(const QTreeWidgetItem* item, PathBuffer& path) const {
    if (!item || item->treeWidget() != m_tree) return false;
    std::vector<QString> labels;
    for (const QTreeWidgetItem* i = item; i && i != m_root; i = i->parent()) {
        labels.push_back(i->text(0));
    }
    std::vector<std::u16string_view> views;
    for (auto it = labels.rbegin(); it != labels.rend(); ++it) {
        views.emplace_back(reinterpret_cast<const char16_t*>(it->utf16()),
                           static_cast<std::size_t>(it->size()));
    }
    return BuildItemPath(views, path);
}

// A cut path could name a sibling that agrees in the part kept, so the
// command is refused rather than run on another node.
bool CServerList::CommandPath(const QTreeWidgetItem* item, PathBuffer& path) {
    if (GetItemPath(item, path)) return true;
    if (item && item->treeWidget() == m_tree) {
        ShowError(tr("The names from \"Servers\" down to \"%1\" are too long together for "
                     "Vandrelle to act on it (more than %2 characters). Give it or a group above "
                     "it a shorter name in the configuration file or with vandrelle-cli.")
                      .arg(item->text(0))
                      .arg(kPathBufferUnits - 1));
    }
    return false;
}

QTreeWidgetItem* CServerList::FindChildByLabel(const QTreeWidgetItem* parent,
                                               const QString& label) {
    if (!parent) return nullptr;
    for (int i = 0; i < parent->childCount(); ++i) {
        if (parent->child(i)->text(0) == label) return parent->child(i);
    }
    return nullptr;
}

// Only the user's expansions and collapses are stored; the program's own
// (building the tree, showing a new item) are not. The state is compared
// with what the tree reads from the file, so that a hand-written state such
// as "yes" (shown collapsed) is replaced by the user's choice.
void CServerList::OnItemExpansion(QTreeWidgetItem* item, bool collapsed) {
    if (m_expandingByProgram || IsServer(item)) return;
    PathBuffer path;
    if (!GetItemPath(item, path)) return;
    try {
        const pugi::xml_node element = m_config.FindNode(NodePathFromBuffer(path));
        if (element && StoredCollapsed(element) != collapsed) {
            m_config.SetGroupCollapsed(element, collapsed ? 1 : 0);
        }
    } catch (const ConfigError&) {
        // A path that no longer resolves leaves the state unsaved.
    }
}

QMenu* CServerList::MakeContextMenu(const QTreeWidgetItem* item) {
    const bool server = IsServer(item);
    auto* menu = new QMenu(server ? tr("Server") : tr("Group"), this);
    menu->setAccessibleName(menu->title());  // a popup's title is not its name
    menu->setObjectName(server ? QStringLiteral("IDR_SERVER_MENU")
                               : QStringLiteral("IDR_GROUP_MENU"));
    menu->setProperty("resourceId", server ? IDR_SERVER_MENU : IDR_GROUP_MENU);
    const auto add = [&](const auto& items) {
        for (const MenuItem& m : items) {
            if (!m.text) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(tr(m.text));
            action->setData(m.id);
            const int id = m.id;
            connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        }
    };
    if (server) {
        add(kServerMenu);
    } else {
        add(kGroupMenu);
    }
    if (IsRoot(item)) {
        for (QAction* a : menu->actions()) {
            if (a->data().toInt() == ID_GROUP_DELETE) a->setEnabled(false);
        }
    }
    return menu;
}

// A right click makes the item under the pointer the current item without
// selecting it; the menu of a server or a group follows when the click was
// on the item's icon or label. From the keyboard the selected item's menu
// opens beside it.
void CServerList::ShowContextMenu(QContextMenuEvent* event) {
    QTreeWidgetItem* item = nullptr;
    QPoint at;
    if (event->reason() == QContextMenuEvent::Mouse) {
        const QPoint pos = m_tree->viewport()->mapFromGlobal(event->globalPos());
        item = m_tree->itemAt(pos);
        m_current = item;
        if (!item || !OnItemLabel(item, pos)) return;
        at = event->globalPos();
    } else {
        item = m_tree->currentItem();
        m_current = item;
        if (!item) return;
        at = m_tree->viewport()->mapToGlobal(m_tree->visualItemRect(item).bottomLeft());
    }
    QMenu* menu = MakeContextMenu(item);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(at);
}

// Shift+F10 asks for the menu as the Menu key does: the window system makes
// a request for a menu of the Menu key only, Shift+F10 comes as a key.
bool CServerList::MenuOrMoveKey(const QKeyEvent& key) {
    if (key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier) {
        QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        ShowContextMenu(&request);
        return true;
    }
    return MoveKey(key);
}

// Whether the point lies on the item's icon or label rather than beside them.
bool CServerList::OnItemLabel(QTreeWidgetItem* item, const QPoint& pos) const {
    const QRect row = m_tree->visualItemRect(item);
    const int width =
        m_tree->iconSize().width() + 8 + m_tree->fontMetrics().horizontalAdvance(item->text(0));
    return pos.x() >= row.left() && pos.x() < row.left() + width;
}

bool CServerList::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_tree->viewport() && watched != m_tree) {
        return QWidget::eventFilter(watched, event);
    }
    if (DragEvent(event)) return true;
    if (watched == m_tree && event->type() == QEvent::KeyPress &&
        MenuOrMoveKey(*static_cast<QKeyEvent*>(event))) {
        return true;
    }
    // The mouse's request comes to the viewport, the keyboard's to the tree.
    if (event->type() == QEvent::ContextMenu) {
        ShowContextMenu(static_cast<QContextMenuEvent*>(event));
        return true;
    }
    if (watched == m_tree->viewport()) {
        if (event->type() == QEvent::MouseButtonPress ||
            event->type() == QEvent::MouseButtonRelease ||
            event->type() == QEvent::MouseButtonDblClick) {
            // The right button must not move the selection.
            return static_cast<QMouseEvent*>(event)->button() == Qt::RightButton;
        }
    } else if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // The keypad's Delete and Delete with a modifier are the same key.
        if (key->key() == Qt::Key_Delete) {
            DeleteKey();
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            IsServer(m_tree->currentItem())) {
            OpenSelected();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CServerList::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    m_tree->setFocus();
}

void CServerList::OpenSelected() {
    QTreeWidgetItem* item = m_tree->currentItem();
    if (!IsServer(item)) return;
    PathBuffer path;
    if (!CommandPath(item, path)) return;
    const auto lParam = reinterpret_cast<std::intptr_t>(&path);
    if (m_frame.Send(WM_APP_FIND_SESSION, 0, lParam) == 0) {
        m_frame.Send(WM_APP_OPEN_SESSION, 0, lParam);
    }
}

void CServerList::SendOpen(int command, QTreeWidgetItem* server) {
    PathBuffer path;
    if (!CommandPath(server, path)) return;
    m_frame.Send(WM_APP_OPEN_SESSION, static_cast<std::uintptr_t>(command),
                 reinterpret_cast<std::intptr_t>(&path));
}

void CServerList::DeleteKey() {
    QTreeWidgetItem* item = m_tree->currentItem();
    m_current = item;
    if (!item || IsRoot(item)) {
        QApplication::beep();
        return;
    }
    OnCommand(IsServer(item) ? ID_SERVER_DELETE : ID_GROUP_DELETE);
}

void CServerList::OnCommand(int id) {
    switch (id) {
        case ID_SERVER_CONNECT:
        case ID_SERVER_CONNECT_CONSOLE:
        case ID_SERVER_CONNECT_NON_CONSOLE:
        case ID_SERVER_CONNECT_MSTSC:
            if (IsServer(m_current)) SendOpen(id, m_current);
            return;
        case ID_GROUP_CONNECT:
            ConnectGroup();
            return;
        case ID_SERVER_DELETE:
        case ID_GROUP_DELETE:
            DeleteCurrent();
            return;
        case ID_GROUP_ADD_GROUP:
            AddGroupCommand();
            return;
        case ID_GROUP_ADD_SERVER:
            AddServerCommand();
            return;
        case ID_SERVER_INSERT_COPY:
            InsertCopyCommand();
            return;
        case ID_SERVER_PROPERTIES:
        case ID_GROUP_PROPERTIES:
            PropertiesCommand(id == ID_SERVER_PROPERTIES);
            return;
        case ID_GROUP_IMPORT_MSTSC:
            ImportCommand();
            return;
        default:
            return;
    }
}

// The group's own servers, in the order shown; its subgroups are not opened.
void CServerList::ConnectGroup() {
    if (!m_current || IsServer(m_current)) return;
    for (int i = 0; i < m_current->childCount(); ++i) {
        QTreeWidgetItem* child = m_current->child(i);
        if (IsServer(child)) SendOpen(0, child);
    }
}

// The item leaves the tree at once; the file follows at the next save.
void CServerList::DeleteCurrent() {
    QTreeWidgetItem* item = m_current;
    if (!item || IsRoot(item)) return;
    PathBuffer path;
    if (!CommandPath(item, path)) return;
    const QString question = IsServer(item) ? tr("Delete server '%1'?") : tr("Delete group '%1'?");
    QMessageBox box(QMessageBox::Question, tr("Confirm"), question.arg(ShownText(item->text(0))),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes) return;
    m_current = nullptr;
    delete item;
    try {
        m_config.DeleteNode(NodePathFromBuffer(path));
    } catch (const ConfigError&) {
        // The element was already gone: the tree shows what the file holds.
    }
}

}  // namespace vandrelle
