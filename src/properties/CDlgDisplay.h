// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "DisplayMapper.h"
#include "PageKit.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace vandrelle {

// The Display page: desktop size (with a margin or a custom size), colour
// depth and the console session.
class CDlgDisplay : public CPropertyPage {
    Q_OBJECT
public:
    explicit CDlgDisplay(QWidget* parent);

    void Store(Properties& record) const override;

protected:
    void Load(const Properties& record) override;

private:
    DisplayState Read() const;
    void Show(const DisplayState& state);
    void SizeChosen();

    QComboBox* m_size = nullptr;
    QLabel* m_widthLabel = nullptr;
    QLineEdit* m_width = nullptr;
    QLabel* m_heightLabel = nullptr;
    QLineEdit* m_height = nullptr;
    QComboBox* m_depth = nullptr;
    QCheckBox* m_console = nullptr;
};

}  // namespace vandrelle
