// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QStyledItemDelegate>

#include <functional>
#include <utility>

namespace vandrelle {

// The tree's rows: two pixels taller than the style's own, for a less crowded
// tree; labels shown as CServerList::ShownText has them. While a marker is
// set, the parts of a label it returns ([start, end) in the label's UTF-16
// units) are drawn marked, as finding shows what matched.
class RowDelegate : public QStyledItemDelegate {
public:
    using Marker = std::function<QList<std::pair<int, int>>(const QString& label)>;
    using QStyledItemDelegate::QStyledItemDelegate;

    void SetMarker(Marker marker) { m_marker = std::move(marker); }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QString displayText(const QVariant& value, const QLocale& locale) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    Marker m_marker;
};

}  // namespace vandrelle
