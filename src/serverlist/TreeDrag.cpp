// SPDX-License-Identifier: GPL-3.0-or-later
// Moving groups and servers by drag and drop: the dragged item's picture
// follows the pointer, the drop target is highlighted, a drop moves the
// element in the configuration (which saves) and the item in the tree;
// Escape cancels. From the keyboard, Ctrl+X marks the selected item and
// Ctrl+V drops it on the selected one, by the same rules.
#include "CServerList.h"

#include "ConfigStore.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <algorithm>

namespace vandrelle {
namespace {

bool IsBelow(const QTreeWidgetItem* item, const QTreeWidgetItem* ancestor) {
    for (const QTreeWidgetItem* i = item; i; i = i->parent()) {
        if (i == ancestor) return true;
    }
    return false;
}

// The mark of the item to move is kept on the item itself: it goes with the
// item when the item is deleted, and stays when it is renamed or dragged.
constexpr int kMarkedRole = CServerList::kItemDataRole + 1;

}  // namespace

QTreeWidgetItem* CServerList::TargetFor(const QTreeWidgetItem* dragged,
                                        QTreeWidgetItem* under) const {
    if (!dragged || !under || IsBelow(under, dragged) || under == dragged->parent()) return nullptr;
    if (IsServer(under) && under->parent() == dragged->parent()) return nullptr;
    // Two children of one label would share one path.
    const QTreeWidgetItem* group = IsServer(under) ? under->parent() : under;
    if (FindChildByLabel(group, dragged->text(0))) return nullptr;
    return under;
}

// The left button pressed on an item and moved the system's drag distance
// starts a drag; while one is under way the tree sees none of the mouse.
bool CServerList::DragEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton || m_dragging) break;
            const QPoint at = m_tree->viewport()->mapFromGlobal(mouse->globalPosition().toPoint());
            QTreeWidgetItem* item = m_tree->itemAt(at);
            m_pressed = item && OnItemLabel(item, at) ? item : nullptr;
            m_pressedAt = at;
            break;
        }
        case QEvent::MouseMove: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint at = m_tree->viewport()->mapFromGlobal(mouse->globalPosition().toPoint());
            if (m_dragging) {
                DragMove(at);
                return true;
            }
            if (m_pressed && mouse->buttons().testFlag(Qt::LeftButton) &&
                (at - m_pressedAt).manhattanLength() >= QApplication::startDragDistance()) {
                BeginDrag(m_pressed, m_pressedAt);
                m_pressed = nullptr;
                if (m_dragging) DragMove(at);
                return m_dragging;
            }
            break;
        }
        case QEvent::MouseButtonRelease:
            m_pressed = nullptr;
            if (m_dragging && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                EndDrag(true);
                return true;
            }
            break;
        case QEvent::KeyPress:
            if (m_dragging && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
                EndDrag(false);
                return true;
            }
            break;
        default:
            break;
    }
    return false;
}

// The root cannot be dragged.
void CServerList::BeginDrag(QTreeWidgetItem* item, const QPoint& at) {
    m_current = item;
    if (IsRoot(item)) return;
    const QRect label = m_tree->visualItemRect(item);
    m_hotSpot = at - label.topLeft() + QPoint(m_tree->indentation(), 0);
    m_dragImage = new QLabel(this, Qt::ToolTip | Qt::FramelessWindowHint);
    m_dragImage->setObjectName(QStringLiteral("dragImage"));
    m_dragImage->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_dragImage->setWindowOpacity(0.7);
    m_dragImage->setPixmap(m_tree->viewport()->grab(label));
    m_dragging = true;
    m_tree->viewport()->grabMouse(Qt::ClosedHandCursor);
}

void CServerList::DragMove(const QPoint& at) {
    m_dragImage->move(m_tree->viewport()->mapToGlobal(at) - m_hotSpot);
    m_dragImage->show();
    // Nothing under the pointer keeps the target it had.
    if (QTreeWidgetItem* under = m_tree->itemAt(at)) SetDropTarget(TargetFor(m_current, under));
}

void CServerList::SetDropTarget(QTreeWidgetItem* target) {
    if (target == m_dropTarget) return;
    if (m_dropTarget) {
        m_dropTarget->setData(0, Qt::BackgroundRole, QVariant());
        m_dropTarget->setData(0, Qt::ForegroundRole, QVariant());
    }
    m_dropTarget = target;
    if (m_dropTarget) {
        m_dropTarget->setData(0, Qt::BackgroundRole, palette().brush(QPalette::Highlight));
        m_dropTarget->setData(0, Qt::ForegroundRole, palette().brush(QPalette::HighlightedText));
    }
}

void CServerList::EndDrag(bool drop) {
    QTreeWidgetItem* target = m_dropTarget;
    SetDropTarget(nullptr);
    m_tree->viewport()->releaseMouse();
    delete m_dragImage;
    m_dragImage = nullptr;
    m_dragging = false;
    if (drop && target) Drop(m_current, target);
}

// A server target stands for its group. Moving to the group the item is in
// already (the same path) changes nothing.
void CServerList::Drop(QTreeWidgetItem* dragged, QTreeWidgetItem* target) {
    if (IsServer(target)) target = target->parent();
    PathBuffer from, to;  // 2048 bytes each, compared whole
    if (!CommandPath(dragged, from) || !CommandPath(target, to) || from == to) return;
    try {
        m_config.MoveNode(NodePathFromBuffer(from), NodePathFromBuffer(to));
    } catch (const ConfigError& e) {
        ShowError(QString::fromUtf8(e.what()));
        return;
    }
    MoveItem(dragged, target);
}

// The item goes with everything below it; the view forgets the expanded
// states of items taken out of it, so they are put back.
void CServerList::MoveItem(QTreeWidgetItem* item, QTreeWidgetItem* newParent) {
    std::vector<std::pair<QTreeWidgetItem*, bool>> looks;
    std::vector<QTreeWidgetItem*> pending{item};
    while (!pending.empty()) {
        QTreeWidgetItem* i = pending.back();
        pending.pop_back();
        looks.emplace_back(i, i->isExpanded());
        for (int c = 0; c < i->childCount(); ++c) pending.push_back(i->child(c));
    }
    item->parent()->removeChild(item);
    newParent->addChild(item);
    m_expandingByProgram = true;
    for (const auto& [i, expanded] : looks) i->setExpanded(expanded);
    m_expandingByProgram = false;
    SortLevel(newParent);
    m_tree->setCurrentItem(item);
}

QTreeWidgetItem* CServerList::MarkedItem() const {
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        if ((*it)->data(0, kMarkedRole).toBool()) return *it;
    }
    return nullptr;
}

// Ctrl+X and Ctrl+V, not the platform's other keys for Cut and Paste:
// Shift+Delete is the Delete key's. Escape forgets the mark.
bool CServerList::MoveKey(const QKeyEvent& key) {
    const bool ctrl = (key.modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
    if (ctrl && key.key() == Qt::Key_X) {
        Mark(m_tree->currentItem());
    } else if (ctrl && key.key() == Qt::Key_V) {
        MoveMarked(m_tree->currentItem());
    } else if (key.key() == Qt::Key_Escape && MarkedItem()) {
        Mark(nullptr);
    } else {
        return false;
    }
    return true;
}

// One item at most is marked, shown in italics; the root cannot be moved.
void CServerList::Mark(QTreeWidgetItem* item) {
    if (QTreeWidgetItem* marked = MarkedItem()) {
        marked->setData(0, kMarkedRole, QVariant());
        marked->setData(0, Qt::FontRole, QVariant());
    }
    if (!item) return;
    if (IsRoot(item)) {
        QApplication::beep();
        return;
    }
    QFont italic = m_tree->font();
    italic.setItalic(true);
    item->setData(0, kMarkedRole, true);
    item->setFont(0, italic);
}

// Where a drop would be refused the mark stays, for another target.
void CServerList::MoveMarked(QTreeWidgetItem* target) {
    QTreeWidgetItem* marked = MarkedItem();
    if (!marked || !TargetFor(marked, target)) {
        QApplication::beep();
        return;
    }
    Mark(nullptr);
    Drop(marked, target);
}

}  // namespace vandrelle
