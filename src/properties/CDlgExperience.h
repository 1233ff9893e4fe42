// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ExperienceMapper.h"
#include "PageKit.h"

class QCheckBox;
class QComboBox;

namespace vandrelle {

// The Experience page: the connection speed and the performance options
// behind it.
class CDlgExperience : public CPropertyPage {
    Q_OBJECT
public:
    explicit CDlgExperience(QWidget* parent);

    void Store(Properties& record) const override;

protected:
    void Load(const Properties& record) override;

private:
    ExperienceBoxes Read() const;
    void Show(const ExperienceBoxes& boxes);
    void ShowSpeed(Speed speed);
    void BoxClicked();
    void SpeedChosen();

    ExperienceMapper m_mapper;
    QComboBox* m_speed = nullptr;
    QCheckBox* m_background = nullptr;
    QCheckBox* m_fontSmoothing = nullptr;
    QCheckBox* m_composition = nullptr;
    QCheckBox* m_dragging = nullptr;
    QCheckBox* m_animation = nullptr;
    QCheckBox* m_themes = nullptr;
    QCheckBox* m_bitmapCaching = nullptr;
};

}  // namespace vandrelle
