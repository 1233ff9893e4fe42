// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPoint>
#include <QPointer>
#include <QTabBar>

class QLabel;

namespace vandrelle {

// The tab strip of the tab view: a QTabBar that reports the user's right and
// middle clicks, left double clicks and the keys that stand for them instead
// of acting on them, and reorders tabs by a drag of its own that Escape can
// cancel, or by Ctrl+Shift+Page Up and Page Down. It never moves a tab
// itself: the view moves the page and its tab.
//
// Right and middle buttons never select a tab; a left press selects as usual.
class TabStrip : public QTabBar {
    Q_OBJECT
public:
    explicit TabStrip(QWidget* parent = nullptr);
    ~TabStrip() override;

    // True from a left press on a tab (with two tabs or more) until its
    // release or a cancel: the time during which Escape cancels the drag.
    bool IsDragArmed() const { return m_drag != Drag::None; }
    // Ends the drag without moving anything.
    void CancelDrag();
    // The tab under which the dragged tab would be dropped, or -1.
    int DropIndex() const { return m_drag == Drag::Moving ? m_dropIndex : -1; }

Q_SIGNALS:
    // Right button released over a tab, or the context-menu keys on the
    // focused strip (then for the current tab, at its lower-left corner).
    void ContextMenuRequested(int index, QPoint screenPosition);
    void CloseRequested(int index);
    void TabDoubleClicked(int index);
    void EmptyContextMenuRequested(QPoint screenPosition);
    void EmptyMiddleClicked();
    // The current tab was dropped on the tab at `to`, or moved there by the keys.
    void MoveRequested(int from, int to);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void tabInserted(int index) override;
    void tabRemoved(int index) override;

private:
    enum class Drag { None, Armed, Moving };

    // The tab under a point of the strip; -2 when the point is off the strip.
    int HitTest(QPoint position) const;
    void StartMoving();
    void FollowPointer(QPoint position);

    Drag m_drag = Drag::None;
    QPoint m_pressPosition;
    QPoint m_grabOffset;  // from the dragged tab's top-left corner to the pointer
    int m_dropIndex = -1;
    QPointer<QLabel> m_dragImage;
};

}  // namespace vandrelle
