// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "MatchText.h"
#include "ServerIndex.h"

#include <QWidget>

#include <unordered_map>
#include <unordered_set>
#include <vector>

class QLineEdit;
class QTreeWidgetItem;

namespace vandrelle {

class CServerList;
class RowDelegate;

// The find bar above the server tree: a line in which the user types words,
// and the tree, while words are typed, showing only the servers that match
// (every word in the name, host, description, user name or a group's name
// above) and the groups on their way, open, with what matched marked. The
// best match is selected; Down, Up, Tab and Shift+Tab move between matches,
// Enter opens the selected one, the Menu key opens its menu, Escape closes
// the bar. Closing gives the tree back as it was when the bar opened (the
// same groups open, the same selection) unless the user chose an item from
// the results, which then stays selected. Nothing of it is stored.
class CFindBar : public QWidget {
    Q_OBJECT
public:
    explicit CFindBar(CServerList& list);

    // Opens the bar, or, when open, selects what is typed; the field takes the focus.
    void Open();
    void Close();
    bool IsOpen() const { return m_open; }
    QLineEdit* Field() const { return m_field; }

    // "3 of 10,000 servers" while words are typed, else empty.
    QString CountText() const;

Q_SIGNALS:
    void CountChanged(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildIndex();
    void ForgetIndex();
    void Refilter();
    void ShowAsAtOpen();
    void RestoreWholeTree();
    static void SetHidden(QTreeWidgetItem* item, char& hidden, bool hide);
    void Select(QTreeWidgetItem* item, bool chosen);
    void MoveToMatch(bool forward);
    void Activate();
    void ShowMenu();
    bool IsMatch(const QTreeWidgetItem* item) const;
    bool KeyPressed(int key, Qt::KeyboardModifiers modifiers);
    QList<std::pair<int, int>> Marks(const QString& label) const;

    CServerList& m_list;
    QLineEdit* m_field = nullptr;
    RowDelegate* m_delegate = nullptr;
    bool m_open = false;

    // The tree as an index, and the items its numbers stand for; made when
    // first needed, dropped when the tree changes.
    bool m_indexed = false;
    ServerIndex m_index;
    std::vector<QTreeWidgetItem*> m_groupItems;
    std::vector<QTreeWidgetItem*> m_serverItems;
    std::unordered_map<const QTreeWidgetItem*, int> m_itemNumbers;  // server n: n, group n: -n-1

    FindQuery m_query;
    FindResult m_result;
    std::vector<char> m_serverMatches;
    // What the bar did to the tree: per group and server whether it hid it,
    // per group whether it opened it; whether it changed anything at all.
    std::vector<char> m_groupHidden;
    std::vector<char> m_groupOpened;
    std::vector<char> m_groupWasOpen;  // when the index was made
    std::vector<char> m_serverHidden;
    bool m_touched = false;

    // The tree when the bar opened.
    std::unordered_set<const QTreeWidgetItem*> m_collapsedAtOpen;
    QTreeWidgetItem* m_currentAtOpen = nullptr;
    bool m_chosen = false;
    bool m_selecting = false;
};

}  // namespace vandrelle
