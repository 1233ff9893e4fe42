// SPDX-License-Identifier: GPL-3.0-or-later
#include "CSimpleTabView.h"

#include "TabStrip.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QTextDocument>

#include <utility>

namespace vandrelle {

namespace {

// QTabBar reads '&' as the mark of a mnemonic; a caption shows it as typed.
QString TabText(QString shown) {
    return shown.replace(u'&', QStringLiteral("&&"));
}

// A tooltip is shown as markup when its text looks like markup; a caption is
// plain text, whatever it contains.
QString PlainToolTip(const QString& caption) {
    if (!Qt::mightBeRichText(caption)) return caption;
    return QStringLiteral("<qt>") + caption.toHtmlEscaped() + QStringLiteral("</qt>");
}

}  // namespace

CSimpleTabView::CSimpleTabView(QWidget* parent) : QWidget(parent), m_strip(new TabStrip(this)) {
    m_strip->hide();
    connect(m_strip, &QTabBar::currentChanged, this, &CSimpleTabView::OnStripSelection);
    connect(m_strip, &TabStrip::MoveRequested, this, &CSimpleTabView::MovePage);
    connect(m_strip, &TabStrip::ContextMenuRequested, this, &CSimpleTabView::ContextMenuRequested);
    connect(m_strip, &TabStrip::CloseRequested, this, &CSimpleTabView::CloseRequested);
    connect(m_strip, &TabStrip::TabDoubleClicked, this, &CSimpleTabView::TabDoubleClicked);
    connect(m_strip, &TabStrip::EmptyContextMenuRequested, this,
            &CSimpleTabView::StripContextMenuRequested);
    connect(m_strip, &TabStrip::EmptyMiddleClicked, this, &CSimpleTabView::StripMiddleClicked);
    // Ctrl+Tab must work whichever page has the focus, before the page sees it.
    qApp->installEventFilter(this);
}

// No notification here: the receivers may be half destroyed already.
CSimpleTabView::~CSimpleTabView() {
    qApp->removeEventFilter(this);
    DestroyPages();
}

void CSimpleTabView::SetImageList(const QList<QIcon>& images) {
    m_images = images;
    for (int i = 0; i < m_pages.size(); ++i)
        m_strip->setTabIcon(i, m_images.value(m_pages[i].image));
}

bool CSimpleTabView::AddPage(QWidget* page, const QString& caption, int image, QObject* pageData) {
    return InsertPage(GetPageCount(), page, caption, image, pageData);
}

bool CSimpleTabView::InsertPage(int index, QWidget* page, const QString& caption, int image,
                                QObject* pageData) {
    if (!page || index < 0 || index > m_pages.size() || PageIndexOf(page) >= 0) return false;
    const bool focusPage = !m_strip->hasFocus();
    if (page->parentWidget() != this) page->setParent(this);
    m_pages.insert(index, Page{page, caption, pageData, image});
    {
        QScopedValueRollback syncing(m_syncing, true);
        m_strip->insertTab(index, m_images.value(image), TabText(ShownCaption(caption)));
        m_strip->setTabToolTip(index, PlainToolTip(caption));
    }
    // The new page becomes active whatever the place of the previous one.
    ActivatePage(index, focusPage);
    Q_EMIT PageActivated(index);
    return true;
}

void CSimpleTabView::RemovePage(int index) {
    if (index < 0 || index >= m_pages.size()) return;
    const bool wasActive = index == m_active;
    // Decided before the page goes: destroying the focused widget may move the focus.
    const bool focusPage = wasActive && !m_strip->hasFocus();
    const Page page = m_pages.takeAt(index);
    if (wasActive) {
        m_active = index > 0 ? index - 1 : (m_pages.isEmpty() ? -1 : 0);
    } else if (index < m_active) {
        --m_active;
    }
    delete page.widget.data();
    {
        QScopedValueRollback syncing(m_syncing, true);
        m_strip->removeTab(index);
    }
    ActivatePage(m_active, focusPage);
    Q_EMIT PageActivated(m_active);
}

void CSimpleTabView::RemoveAllPages() {
    m_strip->hide();
    DestroyPages();
    {
        QScopedValueRollback syncing(m_syncing, true);
        while (m_strip->count() > 0) m_strip->removeTab(m_strip->count() - 1);
    }
    Layout();
    Q_EMIT PageActivated(-1);
}

void CSimpleTabView::DestroyPages() {
    const QList<Page> pages = std::exchange(m_pages, {});
    m_active = -1;
    for (const Page& page : pages) delete page.widget.data();
}

void CSimpleTabView::SetActivePage(int index) {
    if (index >= 0 && index < m_pages.size()) Activate(index);
}

int CSimpleTabView::GetPageCount() const {
    return static_cast<int>(m_pages.size());
}

QWidget* CSimpleTabView::GetPageWidget(int index) const {
    return index >= 0 && index < m_pages.size() ? m_pages[index].widget.data() : nullptr;
}

QObject* CSimpleTabView::GetPageData(int index) const {
    return index >= 0 && index < m_pages.size() ? m_pages[index].data.data() : nullptr;
}

QString CSimpleTabView::GetPageCaption(int index) const {
    return index >= 0 && index < m_pages.size() ? m_pages[index].caption : QString();
}

int CSimpleTabView::GetPageImage(int index) const {
    return index >= 0 && index < m_pages.size() ? m_pages[index].image : -1;
}

int CSimpleTabView::SetPageImage(int index, int image) {
    if (index < 0 || index >= m_pages.size()) return -1;
    m_strip->setTabIcon(index, m_images.value(image));
    return std::exchange(m_pages[index].image, image);
}

int CSimpleTabView::PageIndexOf(const QWidget* page) const {
    if (!page) return -1;
    for (int i = 0; i < m_pages.size(); ++i) {
        if (m_pages[i].widget == page) return i;
    }
    return -1;
}

QTabBar* CSimpleTabView::Strip() const {
    return m_strip;
}

void CSimpleTabView::SetStripButton(QWidget* button) {
    if (m_stripButton == button) return;
    if (m_stripButton) m_stripButton->hide();
    m_stripButton = button;
    if (button) {
        button->setParent(this);
        // Tab follows the screen: the button, the strip, the page below. Qt
        // leaves the order as it is when nothing that takes the focus lies
        // between the button and the strip, even across the end of the
        // window's chain (the pages after the button, the strip first): the
        // button goes after the strip first, so that the strip then moves.
        setTabOrder(m_strip, button);
        setTabOrder(button, m_strip);
    }
    Layout();
}

QWidget* CSimpleTabView::HomeWidget(int index) const {
    QWidget* widget = GetPageWidget(index);
    return widget && widget->parentWidget() == this && !widget->isWindow() ? widget : nullptr;
}

void CSimpleTabView::Activate(int index) {
    ActivatePage(index, !m_strip->hasFocus());
}

void CSimpleTabView::ActivatePage(int index, bool focusPage) {
    m_active = index;
    {
        QScopedValueRollback syncing(m_syncing, true);
        m_strip->setCurrentIndex(index);
    }
    Layout();
    if (QWidget* widget = HomeWidget(index); widget && focusPage) widget->setFocus();
}

// The strip row along the top (the button, then the strip over the rest of
// the width), the active page below it; every other page that is home hidden.
void CSimpleTabView::Layout() {
    const bool anyPage = !m_pages.isEmpty();
    int top = 0;
    if (anyPage) {
        const QSize button = m_stripButton ? m_stripButton->sizeHint() : QSize(0, 0);
        top = qMax(m_strip->sizeHint().height(), button.height());
        if (m_stripButton) m_stripButton->setGeometry(0, 0, button.width(), top);
        m_strip->setGeometry(button.width(), 0, width() - button.width(), top);
    }
    m_strip->setVisible(anyPage);
    if (m_stripButton) m_stripButton->setVisible(anyPage);
    for (int i = 0; i < m_pages.size(); ++i) {
        QWidget* widget = i == m_active ? nullptr : HomeWidget(i);
        if (widget && !widget->isHidden()) widget->hide();
    }
    if (QWidget* active = HomeWidget(m_active)) {
        active->setGeometry(0, top, width(), height() - top);
        active->show();
    }
}

void CSimpleTabView::NextPage(bool forward) {
    const int count = GetPageCount();
    if (count < 2) return;
    const int next = (m_active + (forward ? 1 : count - 1)) % count;
    Activate(next);
    Q_EMIT PageActivated(next);
}

QString CSimpleTabView::ShownCaption(const QString& caption) {
    if (caption.size() <= kTabTextLength) return caption;
    qsizetype kept = kTabTextLength - 3;
    // Never half a character: a pair of surrogates stays whole or goes.
    if (caption.at(kept - 1).isHighSurrogate()) --kept;
    return caption.left(kept) + QStringLiteral("...");
}

void CSimpleTabView::OnStripSelection(int index) {
    if (m_syncing || index < 0 || index >= m_pages.size()) return;
    Activate(index);
    Q_EMIT PageActivated(index);
}

// The dragged tab is the active one; it lands at `to` and stays active.
void CSimpleTabView::MovePage(int from, int to) {
    const int count = GetPageCount();
    if (from == to || from < 0 || to < 0 || from >= count || to >= count) return;
    m_pages.move(from, to);
    {
        QScopedValueRollback syncing(m_syncing, true);
        m_strip->moveTab(from, to);
    }
    Activate(to);
    Q_EMIT PageActivated(to);
}

void CSimpleTabView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Layout();
}

void CSimpleTabView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    if (QWidget* widget = HomeWidget(m_active)) widget->setFocus(event->reason());
}

bool CSimpleTabView::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
            if (watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == window() &&
                HandleKey(*static_cast<QKeyEvent*>(event))) {
                return true;
            }
            break;
        case QEvent::ParentChange:
        case QEvent::Show:
            // A page back from elsewhere (another parent, or a window of its
            // own) is placed, or hidden, once whoever brought it back is done.
            if (watched->isWidgetType() && PageIndexOf(static_cast<QWidget*>(watched)) >= 0) {
                QMetaObject::invokeMethod(
                    this, [this] { Layout(); }, Qt::QueuedConnection);
            }
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

bool CSimpleTabView::HandleKey(const QKeyEvent& key) {
    if (key.key() == Qt::Key_Escape && m_strip->IsDragArmed()) {
        m_strip->CancelDrag();
        return true;
    }
    const bool tab = key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab;
    const Qt::KeyboardModifiers modifiers =
        key.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (!tab || modifiers != Qt::ControlModifier || m_pages.isEmpty()) return false;
    // With a single page the keystroke is used up all the same.
    NextPage(key.key() == Qt::Key_Tab && !(key.modifiers() & Qt::ShiftModifier));
    return true;
}

}  // namespace vandrelle
