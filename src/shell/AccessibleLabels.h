// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>

namespace vandrelle {

// The status bar's text: the state of the page shown, or, while a menu is
// open, the prompt of its highlighted item. Unlike a plain label, a screen
// reader reads it through a text interface and is told of every change.
class StatusPane : public QLabel {
    Q_OBJECT
public:
    explicit StatusPane(const QString& state, QWidget* parent = nullptr);

    // The text shown while no prompt is.
    void SetStateText(const QString& text);
    // A menu item's prompt; an empty one brings the state text back (a blank
    // one shows blank, for items without a prompt).
    void ShowPrompt(const QString& prompt);

private:
    void Show(const QString& text);

    QString m_state;
    bool m_prompting = false;
};

// A link that a screen reader knows as one (the link role, its name, a press
// action that follows it). It shows `target` and emits linkActivated with it.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& name, const QString& target, QWidget* parent = nullptr);

    // Follows the link, as a click on it or Enter does.
    void Follow();

private:
    QString m_target;
};

}  // namespace vandrelle
