// SPDX-License-Identifier: GPL-3.0-or-later
#include "CFindBar.h"

#include "CServerList.h"
#include "ConfigIndex.h"
#include "ConfigStore.h"
#include "ResourceIds.h"
#include "RowDelegate.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

namespace vandrelle {
namespace {

// Numbers with their thousands marked, also where no locale is set.
QString Count(int n) {
    QLocale locale;
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English);
    return locale.toString(n);
}

}  // namespace

CFindBar::CFindBar(CServerList& list) : QWidget(&list), m_list(list) {
    setObjectName(QStringLiteral("findBar"));
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("findField"));
    m_field->setAccessibleName(tr("Find server"));
    m_field->setPlaceholderText(tr("Find server"));
    m_field->installEventFilter(this);
    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("findClose"));
    close->setText(QStringLiteral("\u00D7"));
    close->setAccessibleName(tr("Close find bar"));
    close->setToolTip(tr("Close find bar (Escape)"));
    close->setAutoRaise(true);
    close->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_field, 1);
    layout->addWidget(close);
    hide();
    list.SetTopBar(this);

    QTreeWidget* tree = list.Tree();
    m_delegate = dynamic_cast<RowDelegate*>(tree->itemDelegate());
    connect(m_field, &QLineEdit::textChanged, this, &CFindBar::Refilter);
    connect(close, &QToolButton::clicked, this, &CFindBar::Close);
    connect(tree, &QTreeWidget::currentItemChanged, this, [this] {
        if (m_open && !m_selecting) m_chosen = true;
    });
    // Item pointers of a changed tree may be gone: the index goes at once,
    // and is made again, after the change, for the words typed.
    QAbstractItemModel* model = tree->model();
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, &CFindBar::ForgetIndex);
    connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this, &CFindBar::ForgetIndex);
    connect(model, &QAbstractItemModel::rowsAboutToBeMoved, this, &CFindBar::ForgetIndex);
    connect(model, &QAbstractItemModel::dataChanged, this, &CFindBar::ForgetIndex);
    connect(model, &QAbstractItemModel::layoutAboutToBeChanged, this, &CFindBar::ForgetIndex);
}

void CFindBar::Open() {
    if (!m_open) {
        m_open = true;
        m_chosen = false;
        QTreeWidget* tree = m_list.Tree();
        m_currentAtOpen = tree->currentItem();
        m_collapsedAtOpen.clear();
        for (QTreeWidgetItemIterator it(tree); *it; ++it) {
            if (!(*it)->isExpanded()) m_collapsedAtOpen.insert(*it);
        }
        if (m_delegate) m_delegate->SetMarker([this](const QString& l) { return Marks(l); });
        show();
        // Made once the bar is shown, before the first key comes.
        QTimer::singleShot(0, this, [this] {
            if (m_open && !m_indexed) BuildIndex();
        });
    }
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void CFindBar::Close() {
    if (!m_open) return;
    QTreeWidget* tree = m_list.Tree();
    const bool hadFocus = m_field->hasFocus();
    QTreeWidgetItem* keep = m_chosen ? tree->currentItem() : nullptr;
    m_query = FindQuery();
    m_result = FindResult();
    ShowAsAtOpen();
    if (!keep) {
        // Only an item still in the tree is selected again.
        for (QTreeWidgetItemIterator it(tree); *it && !keep; ++it) {
            if (*it == m_currentAtOpen) keep = *it;
        }
    }
    if (keep) {
        for (QTreeWidgetItem* up = keep->parent(); up; up = up->parent()) {
            if (!up->isExpanded()) m_list.ExpandByProgram(up);
        }
    }
    Select(keep, false);
    m_open = false;
    if (m_delegate) m_delegate->SetMarker({});
    m_field->blockSignals(true);
    m_field->clear();
    m_field->blockSignals(false);
    hide();
    tree->viewport()->update();
    if (hadFocus) tree->setFocus(Qt::OtherFocusReason);
    Q_EMIT CountChanged(QString());
}

QString CFindBar::CountText() const {
    if (!m_result.filtering) return {};
    const int total = m_index.ServerCount();
    return (total == 1 ? tr("%1 of %2 server") : tr("%1 of %2 servers"))
        .arg(Count(static_cast<int>(m_result.servers.size())), Count(total));
}

// Walks the tree depth first, in the order it shows, pairing each item with
// its element by label, a level at a time.
void CFindBar::BuildIndex() {
    if (m_touched) RestoreWholeTree();
    m_index = ServerIndex();
    m_groupItems.clear();
    m_serverItems.clear();
    m_itemNumbers.clear();
    const CConfigStore& config = m_list.Config();
    ServerFeeder feeder(m_index, config);
    struct Pending {
        QTreeWidgetItem* item;
        pugi::xml_node element;
        int group;
    };
    std::vector<Pending> stack;
    const auto pushChildren = [&](QTreeWidgetItem* item, pugi::xml_node element, int group) {
        std::unordered_map<std::string, pugi::xml_node> byLabel;
        for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
            byLabel.emplace(ElementLabel(child), child);  // the first of a label, as paths find it
        }
        for (int i = item->childCount() - 1; i >= 0; --i) {
            QTreeWidgetItem* child = item->child(i);
            const auto found = byLabel.find(child->text(0).toStdString());
            stack.push_back(
                {child, found == byLabel.end() ? pugi::xml_node() : found->second, group});
        }
    };
    pushChildren(m_list.RootItem(), config.ServersElement(), ServerIndex::kTop);
    while (!stack.empty()) {
        const Pending next = stack.back();
        stack.pop_back();
        const std::string label = next.item->text(0).toStdString();
        if (CServerList::IsServer(next.item)) {
            const int n = next.element ? feeder.Add(next.group, next.element)
                                       : m_index.AddServer(next.group, {label, {}, {}, {}});
            m_serverItems.push_back(next.item);
            m_itemNumbers.emplace(next.item, n);
        } else {
            const int n = m_index.AddGroup(next.group, label);
            m_groupItems.push_back(next.item);
            m_itemNumbers.emplace(next.item, -n - 1);
            pushChildren(next.item, next.element, n);
        }
    }
    m_groupHidden.assign(m_groupItems.size(), 0);
    m_groupOpened.assign(m_groupItems.size(), 0);
    m_groupWasOpen.clear();
    for (const QTreeWidgetItem* item : m_groupItems) m_groupWasOpen.push_back(item->isExpanded());
    m_serverHidden.assign(m_serverItems.size(), 0);
    m_indexed = true;
}

void CFindBar::ForgetIndex() {
    if (!m_indexed) return;
    m_indexed = false;
    m_groupItems.clear();
    m_serverItems.clear();
    m_itemNumbers.clear();
    m_serverMatches.clear();
    if (m_open) QMetaObject::invokeMethod(this, &CFindBar::Refilter, Qt::QueuedConnection);
}

void CFindBar::Refilter() {
    if (!m_open) return;
    if (!m_indexed) BuildIndex();
    m_query = ParseQuery(m_field->text().toStdString());
    m_result = m_index.Find(m_query);
    QTreeWidget* tree = m_list.Tree();
    if (!m_result.filtering) {
        ShowAsAtOpen();
    } else {
        m_serverMatches.assign(m_serverItems.size(), 0);
        for (const int s : m_result.servers) m_serverMatches[static_cast<std::size_t>(s)] = 1;
        tree->setUpdatesEnabled(false);
        if (!m_list.RootItem()->isExpanded()) m_list.ExpandByProgram(m_list.RootItem());
        for (std::size_t g = 0; g < m_groupItems.size(); ++g) {
            const bool shown = m_result.groupShown[g] != FindResult::kHidden;
            SetHidden(m_groupItems[g], m_groupHidden[g], !shown);
            if (shown && !m_groupOpened[g] && !m_groupWasOpen[g]) {
                m_list.ExpandByProgram(m_groupItems[g]);
                m_groupOpened[g] = 1;
            }
        }
        for (std::size_t s = 0; s < m_serverItems.size(); ++s) {
            SetHidden(m_serverItems[s], m_serverHidden[s], m_serverMatches[s] == 0);
        }
        m_touched = true;
        tree->setUpdatesEnabled(true);
        const auto best = m_result.ranked.empty()
                              ? nullptr
                              : m_serverItems[static_cast<std::size_t>(m_result.ranked.front())];
        Select(best, false);
    }
    tree->viewport()->update();
    m_field->setAccessibleDescription(CountText());
    Q_EMIT CountChanged(CountText());
}

// Hides or shows an item whose state the bar keeps in `hidden`: asking the
// view would cost a look-up per item and keystroke.
void CFindBar::SetHidden(QTreeWidgetItem* item, char& hidden, bool hide) {
    if ((hidden != 0) == hide) return;
    item->setHidden(hide);
    hidden = hide ? 1 : 0;
}

// Every item shown again, each group open or closed as when the bar opened:
// only what the bar changed is changed back.
void CFindBar::ShowAsAtOpen() {
    if (!m_touched) return;
    if (!m_indexed) {
        RestoreWholeTree();
        return;
    }
    QTreeWidget* tree = m_list.Tree();
    tree->setUpdatesEnabled(false);
    for (std::size_t g = 0; g < m_groupItems.size(); ++g) {
        SetHidden(m_groupItems[g], m_groupHidden[g], false);
        if (m_groupOpened[g]) m_list.ExpandByProgram(m_groupItems[g], false);
        m_groupOpened[g] = 0;
    }
    for (std::size_t s = 0; s < m_serverItems.size(); ++s) {
        SetHidden(m_serverItems[s], m_serverHidden[s], false);
    }
    if (m_collapsedAtOpen.contains(m_list.RootItem())) {
        m_list.ExpandByProgram(m_list.RootItem(), false);
    }
    tree->setUpdatesEnabled(true);
    m_touched = false;
}

// The same when the items the bar changed are no longer known (the tree
// changed meanwhile): every item is looked at.
void CFindBar::RestoreWholeTree() {
    QTreeWidget* tree = m_list.Tree();
    tree->setUpdatesEnabled(false);
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        QTreeWidgetItem* item = *it;
        if (item->isHidden()) item->setHidden(false);
        const bool expanded = !m_collapsedAtOpen.contains(item);
        if (item->childCount() > 0 && item->isExpanded() != expanded) {
            m_list.ExpandByProgram(item, expanded);
        }
    }
    tree->setUpdatesEnabled(true);
    m_touched = false;
}

void CFindBar::Select(QTreeWidgetItem* item, bool chosen) {
    QTreeWidget* tree = m_list.Tree();
    m_selecting = true;
    tree->setCurrentItem(item);
    m_selecting = false;
    if (item) tree->scrollToItem(item);
    if (chosen) m_chosen = true;
}

bool CFindBar::IsMatch(const QTreeWidgetItem* item) const {
    const auto it = m_itemNumbers.find(item);
    if (!m_result.filtering || it == m_itemNumbers.end()) return false;
    const int n = it->second;
    if (n >= 0) return m_serverMatches[static_cast<std::size_t>(n)] != 0;
    return m_result.groupShown[static_cast<std::size_t>(-n - 1)] == FindResult::kMatches;
}

void CFindBar::MoveToMatch(bool forward) {
    QTreeWidget* tree = m_list.Tree();
    QTreeWidgetItem* item = tree->currentItem();
    const auto step = [&](QTreeWidgetItem* from) {
        if (!from) return forward ? tree->topLevelItem(0) : nullptr;
        return forward ? tree->itemBelow(from) : tree->itemAbove(from);
    };
    for (QTreeWidgetItem* next = step(item); next; next = step(next)) {
        if (IsMatch(next)) {
            Select(next, true);
            return;
        }
    }
}

// Enter: a server opens as a double click opens it; a group is connected as
// its menu's "Connect group" does, question and all.
void CFindBar::Activate() {
    QTreeWidgetItem* item = m_list.Tree()->currentItem();
    if (!IsMatch(item)) return;
    m_chosen = true;
    m_list.SetCurrentItem(item);
    if (CServerList::IsServer(item)) {
        m_list.OpenSelected();
    } else {
        m_list.OnCommand(ID_GROUP_CONNECT);
    }
}

// The selected item's menu, as the tree's Menu key opens it.
void CFindBar::ShowMenu() {
    QTreeWidget* tree = m_list.Tree();
    if (!tree->currentItem()) return;
    m_chosen = true;
    QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(), QPoint());
    QApplication::sendEvent(tree, &request);
}

bool CFindBar::KeyPressed(int key, Qt::KeyboardModifiers modifiers) {
    modifiers &= ~Qt::KeypadModifier;
    switch (key) {
        case Qt::Key_Escape:
            Close();
            return true;
        case Qt::Key_Down:
        case Qt::Key_Tab:
            MoveToMatch(true);
            return true;
        case Qt::Key_Up:
        case Qt::Key_Backtab:
            MoveToMatch(false);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            Activate();
            return true;
        case Qt::Key_Menu:
            ShowMenu();
            return true;
        case Qt::Key_F10:
            if (modifiers != Qt::ShiftModifier) return false;
            ShowMenu();
            return true;
        default:
            return false;
    }
}

bool CFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_field) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        return KeyPressed(key->key(), key->modifiers());
    }
    // The Menu key's request; the mouse keeps the field's own menu.
    if (event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
        ShowMenu();
        return true;
    }
    return false;
}

QList<std::pair<int, int>> CFindBar::Marks(const QString& label) const {
    QList<std::pair<int, int>> marks;
    if (m_query.Empty()) return marks;
    const QByteArray utf8 = label.toUtf8();
    const auto units = [&](std::size_t bytes) {
        return static_cast<int>(
            QString::fromUtf8(utf8.constData(), static_cast<qsizetype>(bytes)).size());
    };
    for (const auto& [start, end] :
         MatchRanges({utf8.constData(), static_cast<std::size_t>(utf8.size())}, m_query)) {
        marks.append({units(start), units(end)});
    }
    return marks;
}

}  // namespace vandrelle
