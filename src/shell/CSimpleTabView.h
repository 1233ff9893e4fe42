// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

class QKeyEvent;
class QTabBar;

namespace vandrelle {

class TabStrip;

// The main window's client area: a strip of tabs along the top and, below
// it, the window of the active page. The first page is the server tree, the
// others are sessions, appended at the right end. Only the active page is
// visible. The view reports activations and the user's clicks on tabs through
// its signals and never interprets a page itself.
//
// A page's widget becomes a child of the view. It may leave the view for a
// while (a session covering the screen takes another parent): the view keeps
// its record and neither lays it out nor shows it until it is back.
class CSimpleTabView : public QWidget {
    Q_OBJECT
public:
    // Tabs show at most this many characters of their caption; longer ones
    // show their first 27 and "...". The tooltip and the tab's accessible
    // name are the whole caption.
    static constexpr int kTabTextLength = 30;

    explicit CSimpleTabView(QWidget* parent = nullptr);
    ~CSimpleTabView() override;

    // The images of the tabs, by index (the frame's session and tree images).
    void SetImageList(const QList<QIcon>& images);

    // Appends a page; it becomes active (PageActivated is emitted).
    bool AddPage(QWidget* page, const QString& caption, int image, QObject* data = nullptr);
    bool InsertPage(int index, QWidget* page, const QString& caption, int image,
                    QObject* data = nullptr);
    // Destroys the page's widget; the page to its left becomes active when it
    // was the active one (PageActivated is emitted with the new active index).
    void RemovePage(int index);
    void RemoveAllPages();
    // Makes a page active without emitting PageActivated.
    void SetActivePage(int index);

    int GetActivePage() const { return m_active; }
    int GetPageCount() const;
    QWidget* GetPageWidget(int index) const;
    QObject* GetPageData(int index) const;
    QString GetPageCaption(int index) const;
    int GetPageImage(int index) const;
    // Returns the previous image.
    int SetPageImage(int index, int image);
    // What a screen reader reads of the page's tab besides its caption (the
    // tab's image in words).
    void SetPageDescription(int index, const QString& description);
    // The index of the page whose widget this is, or -1.
    int PageIndexOf(const QWidget* page) const;

    // The tab strip (for tests and for the frame's button at its left end).
    QTabBar* Strip() const;
    // A widget shown at the left end of the strip (the frame's window menu
    // button). Tab goes from it to the strip, and from the strip to the page.
    void SetStripButton(QWidget* button);

Q_SIGNALS:
    // The user selected a tab; a page was inserted, removed or moved; Ctrl+Tab.
    // -1 when no page is left.
    void PageActivated(int index);
    // Right button released over a tab, or Shift+F10 / the menu key on the strip.
    void ContextMenuRequested(int index, QPoint screenPosition);
    // Left double click on a tab, or Enter on the focused strip (its active tab).
    void TabDoubleClicked(int index);
    // Middle button released over a tab.
    void CloseRequested(int index);
    // Right button released on the strip's empty part (the frame's window menu).
    void StripContextMenuRequested(QPoint screenPosition);
    // Middle button released on the strip's empty part.
    void StripMiddleClicked();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Page {
        QPointer<QWidget> widget;
        QString caption;
        QPointer<QObject> data;
        int image = 0;
    };
    void Activate(int index);
    // Activate with the focus rule decided by the caller (before it hid or
    // destroyed the widget that had the focus).
    void ActivatePage(int index, bool focusPage);
    void Layout();
    void NextPage(bool forward);
    static QString ShownCaption(const QString& caption);
    // The page's widget while it is a child of the view, else nullptr.
    QWidget* HomeWidget(int index) const;
    void OnStripSelection(int index);
    void MovePage(int from, int to);
    bool HandleKey(const QKeyEvent& key);
    void DestroyPages();

    TabStrip* m_strip = nullptr;
    QPointer<QWidget> m_stripButton;
    QList<Page> m_pages;
    QList<QIcon> m_images;
    int m_active = -1;
    // Set while the view itself changes the strip, whose current-index
    // changes are then not the user's selection.
    bool m_syncing = false;
};

}  // namespace vandrelle
