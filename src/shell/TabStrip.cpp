// SPDX-License-Identifier: GPL-3.0-or-later
#include "TabStrip.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

namespace vandrelle {

namespace {

constexpr int kOffStrip = -2;
constexpr int kMarkWidth = 3;
constexpr double kDragImageOpacity = 0.75;

QPixmap Faded(const QPixmap& picture) {
    QPixmap faded(picture.size());
    faded.setDevicePixelRatio(picture.devicePixelRatio());
    faded.fill(Qt::transparent);
    QPainter painter(&faded);
    painter.setOpacity(kDragImageOpacity);
    painter.drawPixmap(0, 0, picture);
    return faded;
}

}  // namespace

TabStrip::TabStrip(QWidget* parent) : QTabBar(parent) {
    setObjectName(QStringLiteral("tabStrip"));
    setAccessibleName(tr("Open connections"));
    setFocusPolicy(Qt::TabFocus);
    setExpanding(false);
    setUsesScrollButtons(true);
    // Captions arrive already shortened; Qt must not shorten them again.
    setElideMode(Qt::ElideNone);
    setIconSize(QSize(16, 16));
}

TabStrip::~TabStrip() {
    delete m_dragImage;
}

void TabStrip::CancelDrag() {
    const bool marked = DropIndex() >= 0;
    m_drag = Drag::None;
    setMouseTracking(false);
    m_dropIndex = -1;
    delete m_dragImage;
    if (marked) update();
}

int TabStrip::HitTest(QPoint position) const {
    return rect().contains(position) ? tabAt(position) : kOffStrip;
}

bool TabStrip::event(QEvent* event) {
    // The window losing activation takes the mouse away from the drag.
    if (event->type() == QEvent::WindowDeactivate) CancelDrag();
    return QTabBar::event(event);
}

void TabStrip::mousePressEvent(QMouseEvent* event) {
    CancelDrag();  // a press while a drag is on: its release went elsewhere
    const QPoint position = event->position().toPoint();
    switch (event->button()) {
        case Qt::LeftButton: {
            const int index = HitTest(position);
            QTabBar::mousePressEvent(event);  // selects the tab
            // The receiver of the selection may have changed the tabs meanwhile.
            if (index >= 0 && index == currentIndex() && count() >= 2) {
                m_drag = Drag::Armed;
                m_pressPosition = position;
                // Moves without the button, after a release that went elsewhere, too.
                setMouseTracking(true);
            }
            return;
        }
        case Qt::RightButton:
        case Qt::MiddleButton:
            event->accept();  // acted on at release; never selects
            return;
        default:
            QTabBar::mousePressEvent(event);
    }
}

void TabStrip::mouseMoveEvent(QMouseEvent* event) {
    QTabBar::mouseMoveEvent(event);
    if (m_drag == Drag::None) return;
    // A move without the button means its release went elsewhere.
    if (!(event->buttons() & Qt::LeftButton)) {
        CancelDrag();
        return;
    }
    const QPoint position = event->position().toPoint();
    if (m_drag == Drag::Armed) {
        const QPoint moved = position - m_pressPosition;
        const int distance = QApplication::startDragDistance();
        if (qAbs(moved.x()) < distance && qAbs(moved.y()) < distance) return;
        StartMoving();
    }
    FollowPointer(position);
}

void TabStrip::StartMoving() {
    const QRect tab = tabRect(currentIndex());
    m_drag = Drag::Moving;
    m_grabOffset = m_pressPosition - tab.topLeft();
    // A child of the window, so that it is drawn over the page below the strip.
    m_dragImage = new QLabel(window());
    m_dragImage->setObjectName(QStringLiteral("tabDragImage"));
    m_dragImage->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_dragImage->setPixmap(Faded(grab(tab)));
    m_dragImage->resize(tab.size());
    m_dragImage->show();
    m_dragImage->raise();
}

void TabStrip::FollowPointer(QPoint position) {
    m_dragImage->move(mapTo(window(), position) - m_grabOffset);
    const int drop = qMax(HitTest(position), -1);
    if (drop != m_dropIndex) {
        m_dropIndex = drop;
        update();
    }
}

void TabStrip::mouseReleaseEvent(QMouseEvent* event) {
    const int hit = HitTest(event->position().toPoint());
    const QPoint screenPosition = event->globalPosition().toPoint();
    switch (event->button()) {
        case Qt::LeftButton: {
            const bool moving = m_drag == Drag::Moving;
            const int from = currentIndex();
            CancelDrag();
            QTabBar::mouseReleaseEvent(event);
            if (moving && hit >= 0 && hit != from) Q_EMIT MoveRequested(from, hit);
            return;
        }
        case Qt::RightButton:
            event->accept();
            if (hit >= 0) Q_EMIT ContextMenuRequested(hit, screenPosition);
            if (hit == -1) Q_EMIT EmptyContextMenuRequested(screenPosition);
            return;
        case Qt::MiddleButton:
            event->accept();
            if (hit >= 0) Q_EMIT CloseRequested(hit);
            if (hit == -1) Q_EMIT EmptyMiddleClicked();
            return;
        default:
            QTabBar::mouseReleaseEvent(event);
    }
}

void TabStrip::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        mousePressEvent(event);  // the second press of that button
        return;
    }
    // Its first click has selected the tab; the strip itself never sees it.
    event->accept();
    const int hit = HitTest(event->position().toPoint());
    if (hit >= 0) Q_EMIT TabDoubleClicked(hit);
}

// What the mouse does to the current tab, the keys do on the focused strip:
// the context-menu keys its menu, Enter its double click, Ctrl+Shift+Page
// Up and Page Down a drag one place to the left or right.
void TabStrip::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    const int current = currentIndex();
    const bool moveKey = modifiers == (Qt::ControlModifier | Qt::ShiftModifier) &&
                         (key == Qt::Key_PageUp || key == Qt::Key_PageDown);
    if (key == Qt::Key_Menu || (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
        if (current >= 0) {
            const QRect tab = tabRect(current);
            Q_EMIT ContextMenuRequested(current, mapToGlobal(QPoint(tab.left(), tab.bottom() + 1)));
        }
    } else if ((key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
        if (current >= 0) Q_EMIT TabDoubleClicked(current);
    } else if (moveKey) {
        const int to = current + (key == Qt::Key_PageUp ? -1 : 1);
        if (current >= 0 && to >= 0 && to < count()) Q_EMIT MoveRequested(current, to);
    } else {
        QTabBar::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TabStrip::contextMenuEvent(QContextMenuEvent* event) {
    // Both kinds are answered elsewhere: the mouse at the button's release,
    // the keyboard at the key press.
    event->accept();
}

void TabStrip::paintEvent(QPaintEvent* event) {
    QTabBar::paintEvent(event);
    const int drop = DropIndex();
    const int current = currentIndex();
    if (drop < 0 || drop == current) return;
    // The mark stands on the side of the drop tab where the dragged one will go.
    const QRect tab = tabRect(drop);
    const int x = drop < current ? tab.left() : tab.right() - kMarkWidth + 1;
    QPainter(this).fillRect(QRect(x, tab.top(), kMarkWidth, tab.height()),
                            palette().color(QPalette::Highlight));
}

void TabStrip::hideEvent(QHideEvent* event) {
    CancelDrag();
    QTabBar::hideEvent(event);
}

void TabStrip::tabInserted(int index) {
    CancelDrag();
    QTabBar::tabInserted(index);
}

void TabStrip::tabRemoved(int index) {
    CancelDrag();
    QTabBar::tabRemoved(index);
}

}  // namespace vandrelle
