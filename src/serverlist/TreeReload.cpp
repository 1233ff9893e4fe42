// SPDX-License-Identifier: GPL-3.0-or-later
// The tree built again after the configuration was read anew from its file.
#include "CServerList.h"

#include <QSet>
#include <QTreeWidget>

namespace vandrelle {
namespace {

// An item's place by the kinds and labels from the top, which survive a rebuild.
QString PlaceOf(const QTreeWidgetItem* item) {
    QString place;
    for (; item; item = item->parent())
        place.prepend(
            QString(CServerList::IsServer(item) ? QStringLiteral("S:") : QStringLiteral("G:")) +
            item->text(0) + QLatin1Char('\n'));
    return place;
}

template <typename Visit>
void ForEachItem(QTreeWidgetItem* item, const Visit& visit) {
    visit(item);
    for (int i = 0; i < item->childCount(); ++i) ForEachItem(item->child(i), visit);
}

}  // namespace

void CServerList::Rebuild() {
    QSet<QString> open, closed;
    ForEachItem(m_root, [&](const QTreeWidgetItem* item) {
        if (!IsServer(item)) (item->isExpanded() ? open : closed).insert(PlaceOf(item));
    });
    const QString current = PlaceOf(m_tree->currentItem());
    m_current = m_pressed = m_dropTarget = nullptr;
    m_tree->clear();
    Build();
    QTreeWidgetItem* selected = m_root;
    m_expandingByProgram = true;
    ForEachItem(m_root, [&](QTreeWidgetItem* item) {
        const QString place = PlaceOf(item);
        if (open.contains(place) || closed.contains(place)) item->setExpanded(open.contains(place));
        // The item itself, else the nearest group above it that is left.
        if (current.startsWith(place) && place.size() > PlaceOf(selected).size()) selected = item;
    });
    m_expandingByProgram = false;
    m_tree->setCurrentItem(selected);
    UpdateEmptyHint();
}

}  // namespace vandrelle
