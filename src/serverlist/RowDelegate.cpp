// SPDX-License-Identifier: GPL-3.0-or-later
#include "RowDelegate.h"

#include "CServerList.h"

#include <QApplication>
#include <QPainter>
#include <QTextLayout>

namespace vandrelle {

QSize RowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    return QStyledItemDelegate::sizeHint(option, index) + QSize(0, 2);
}

QString RowDelegate::displayText(const QVariant& value, const QLocale& locale) const {
    return CServerList::ShownText(QStyledItemDelegate::displayText(value, locale));
}

// A marked label is drawn by hand over the row the style draws without it.
// Only a label shown as it is stored is marked: where bidirectional controls
// are written out, the marks' places would not fit the text shown.
void RowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const {
    const QString label = index.data(Qt::DisplayRole).toString();
    const QList<std::pair<int, int>> marks = m_marker && CServerList::ShownText(label) == label
                                                 ? m_marker(label)
                                                 : QList<std::pair<int, int>>();
    if (marks.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    QTextCharFormat marked;
    marked.setFontWeight(QFont::Bold);
    marked.setFontUnderline(true);
    QList<QTextLayout::FormatRange> formats;
    for (const auto& [start, end] : marks) formats.append({start, end - start, marked});
    QTextLayout layout(label, opt.font);
    layout.setFormats(formats);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(textRect.width());
    layout.endLayout();
    painter->save();
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setClipRect(textRect);
    const qreal top = textRect.top() + (textRect.height() - line.height()) / 2;
    layout.draw(painter, QPointF(textRect.left() + 3, top));
    painter->restore();
}

}  // namespace vandrelle
