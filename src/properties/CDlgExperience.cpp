// SPDX-License-Identifier: GPL-3.0-or-later
#include "CDlgExperience.h"

#include "ResourceIds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace vandrelle {

CDlgExperience::CDlgExperience(QWidget* parent)
    : CPropertyPage(IDD_EXPERIENCE, tr("Experience"), parent) {
    setObjectName(QStringLiteral("IDD_EXPERIENCE"));
    setProperty("resourceId", IDD_EXPERIENCE);

    auto* group = new QGroupBox(tr("&Performance"), this);
    m_speed = MakeControl<QComboBox>(IDC_SPEED, group);
    for (const SpeedEntry& e : ExperienceMapper::SpeedEntries()) {
        m_speed->addItem(FromUtf8(e.text), static_cast<int>(e.speed));
    }
    QBoxLayout* column = MakePictureGroup(group, IDI_PERFORMANCE);
    // Alt+P is the group's; the label takes the next letter of the word.
    column->addWidget(
        MakeLabel(tr("Choose your connection speed to optimize p&erformance."), m_speed, group));
    column->addWidget(m_speed);
    column->addSpacing(6);
    column->addWidget(new QLabel(tr("Allow the following:"), group));

    const auto box = [&](int id, const QString& text) {
        auto* b = MakeControl<QCheckBox>(id, group);
        b->setText(text);
        column->addWidget(b);
        connect(b, &QCheckBox::clicked, this, &CDlgExperience::BoxClicked);
        return b;
    };
    m_background = box(IDC_BACKGROUND, tr("Desktop &background"));
    m_fontSmoothing = box(IDC_FONT_SMOOTHING, tr("&Font smoothing"));
    m_composition = box(IDC_COMPOSITION, tr("&Desktop composition"));
    m_dragging = box(IDC_DRAGGING, tr("&Show contents of window while dragging"));
    m_animation = box(IDC_ANIMATION, tr("&Menu and window animation"));
    m_themes = box(IDC_THEMES, tr("&Themes"));
    m_bitmapCaching = box(IDC_BITMAP_CACHING, tr("Bitm&ap caching"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch();

    connect(m_speed, &QComboBox::activated, this, &CDlgExperience::SpeedChosen);
}

void CDlgExperience::Load(const Properties& record) {
    const ExperienceBoxes boxes = m_mapper.Load(record);
    Show(boxes);
    ShowSpeed(ExperienceMapper::SpeedFor(boxes));
}

ExperienceBoxes CDlgExperience::Read() const {
    ExperienceBoxes boxes;
    boxes.background = m_background->isChecked();
    boxes.fontSmoothing = m_fontSmoothing->isChecked();
    boxes.composition = m_composition->isChecked();
    boxes.dragging = m_dragging->isChecked();
    boxes.animation = m_animation->isChecked();
    boxes.themes = m_themes->isChecked();
    boxes.bitmapCaching = m_bitmapCaching->isChecked();
    return boxes;
}

void CDlgExperience::Show(const ExperienceBoxes& boxes) {
    m_background->setChecked(boxes.background);
    m_fontSmoothing->setChecked(boxes.fontSmoothing);
    m_composition->setChecked(boxes.composition);
    m_dragging->setChecked(boxes.dragging);
    m_animation->setChecked(boxes.animation);
    m_themes->setChecked(boxes.themes);
    m_bitmapCaching->setChecked(boxes.bitmapCaching);
}

void CDlgExperience::ShowSpeed(Speed speed) {
    m_speed->setCurrentIndex(m_speed->findData(static_cast<int>(speed)));
}

void CDlgExperience::BoxClicked() {
    ShowSpeed(m_mapper.BoxClicked(Read()));
}

void CDlgExperience::SpeedChosen() {
    Show(m_mapper.SpeedChosen(static_cast<Speed>(m_speed->currentData().toInt())));
}

void CDlgExperience::Store(Properties& record) const {
    ExperienceMapper::Store(Read(), record);
}

}  // namespace vandrelle
