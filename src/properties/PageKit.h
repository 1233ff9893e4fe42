// SPDX-License-Identifier: GPL-3.0-or-later
// What the property pages share: the page protocol of the sheet, and the
// making of identified controls, labels and pictures.
#pragma once

#include "Properties.h"

#include <QString>
#include <QWidget>

#include <optional>
#include <string>
#include <string_view>

class QBoxLayout;
class QGroupBox;
class QLabel;

namespace vandrelle {

// One page of the properties sheet. The sheet makes every page at once, so
// that it is as large as its largest page, but a page loads the record only
// when it is first shown; only loaded pages are checked and stored.
class CPropertyPage : public QWidget {
    Q_OBJECT
public:
    // A refusal: the control that gets the focus, and the text of the
    // "Error" box (empty: a beep only).
    struct Problem {
        QWidget* control;
        QString message;
    };

    CPropertyPage(int id, const QString& title, QWidget* parent);

    int Id() const { return m_id; }
    QString Title() const { return m_title; }
    bool Loaded() const { return m_loaded; }
    // Puts the record into the controls the first time; later calls do nothing.
    void LoadOnce(const Properties& record);

    // The first thing that keeps the sheet open, or nothing.
    virtual std::optional<Problem> Check() const { return std::nullopt; }
    // Writes the controls into the record; called only after every loaded
    // page passed its check.
    virtual void Store(Properties& record) const = 0;

protected:
    virtual void Load(const Properties& record) = 0;

private:
    int m_id;
    QString m_title;
    bool m_loaded = false;
};

QString FromUtf8(std::string_view text);
std::string ToUtf8(const QString& text);

// Names a control after its identifier ("IDC_1002") and keeps the
// identifier as the property "controlId".
void Identify(QWidget* control, int id);

template <class Control>
Control* MakeControl(int id, QWidget* parent) {
    auto* control = new Control(parent);
    Identify(control, id);
    return control;
}

// A label whose mnemonic focuses `buddy`.
QLabel* MakeLabel(const QString& text, QWidget* buddy, QWidget* parent);

// A group box with the picture `iconId` at its left; the returned layout,
// beside the picture, takes the group's controls.
QBoxLayout* MakePictureGroup(QGroupBox* group, int iconId);

}  // namespace vandrelle
