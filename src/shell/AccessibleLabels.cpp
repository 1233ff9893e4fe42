// SPDX-License-Identifier: GPL-3.0-or-later
#include "AccessibleLabels.h"

#include <QAccessibleWidget>

namespace vandrelle {
namespace {

// A label read as static text whose words a screen reader can also read
// through the text interface (Qt gives plain labels none), as status bar
// readers do.
class StatusPaneAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit StatusPaneAccessible(QWidget* pane)
        : QAccessibleWidget(pane, QAccessible::StaticText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) return Text();
        return QAccessibleWidget::text(t);
    }

    // Read-only text without a caret or selection.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override {
        const QString all = Text();
        if (end < 0 || end > all.size()) end = static_cast<int>(all.size());
        return start < 0 || start > end ? QString() : all.mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(Text().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override {
        *start = 0;
        *end = qMax(offset, characterCount());
        return {};
    }

private:
    QString Text() const { return static_cast<const QLabel*>(widget())->text(); }
};

// A label that is a link: the link role, and a press action that follows it.
class LinkAccessible : public QAccessibleWidget {
public:
    explicit LinkAccessible(QWidget* link) : QAccessibleWidget(link, QAccessible::Link) {}

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.linked = true;
        return s;
    }
    QStringList actionNames() const override {
        return QStringList(pressAction()) + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction()) {
            static_cast<LinkLabel*>(widget())->Follow();
        } else {
            QAccessibleWidget::doAction(action);
        }
    }
};

QAccessibleInterface* LabelAccessibles(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String(StatusPane::staticMetaObject.className())) {
        return new StatusPaneAccessible(widget);
    }
    if (className == QLatin1String(LinkLabel::staticMetaObject.className())) {
        return new LinkAccessible(widget);
    }
    return nullptr;
}

}  // namespace

StatusPane::StatusPane(const QString& state, QWidget* parent)
    : QLabel(state, parent), m_state(state) {
    QAccessible::installFactory(&LabelAccessibles);  // once: Qt keeps no duplicates
    setObjectName(QStringLiteral("statusPane"));
    setTextFormat(Qt::PlainText);  // server and user names are shown as typed
}

void StatusPane::SetStateText(const QString& text) {
    m_state = text;
    if (!m_prompting) Show(text);
}

void StatusPane::ShowPrompt(const QString& prompt) {
    m_prompting = !prompt.isEmpty();
    Show(m_prompting ? prompt : m_state);
}

// A screen reader hears of the new text both as the label's name and as its text.
void StatusPane::Show(const QString& shown) {
    const QString before = text();
    if (shown == before) return;
    setText(shown);
    QAccessibleTextUpdateEvent textChanged(this, 0, before, shown);
    QAccessible::updateAccessibility(&textChanged);
    QAccessibleEvent nameChanged(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&nameChanged);
}

LinkLabel::LinkLabel(const QString& name, const QString& target, QWidget* parent)
    : QLabel(parent), m_target(target) {
    QAccessible::installFactory(&LabelAccessibles);
    setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(target.toHtmlEscaped()));
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::TextBrowserInteraction);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(name);
    setAccessibleDescription(target);
}

void LinkLabel::Follow() {
    Q_EMIT linkActivated(m_target);
}

}  // namespace vandrelle
