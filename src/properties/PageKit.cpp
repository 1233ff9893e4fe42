// SPDX-License-Identifier: GPL-3.0-or-later
#include "PageKit.h"

#include "Icons.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

namespace vandrelle {

CPropertyPage::CPropertyPage(int id, const QString& title, QWidget* parent)
    : QWidget(parent), m_id(id), m_title(title) {}

void CPropertyPage::LoadOnce(const Properties& record) {
    if (m_loaded) return;
    m_loaded = true;
    Load(record);
}

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) {
    return text.toStdString();
}

void Identify(QWidget* control, int id) {
    control->setObjectName(QStringLiteral("IDC_%1").arg(id));
    control->setProperty("controlId", id);
}

QLabel* MakeLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

QBoxLayout* MakePictureGroup(QGroupBox* group, int iconId) {
    // The page's spare height goes below its groups, not into them.
    group->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* row = new QHBoxLayout(group);
    auto* picture = new QLabel(group);
    const int size = group->style()->pixelMetric(QStyle::PM_LargeIconSize);
    picture->setPixmap(ResourceIcon(iconId).pixmap(size, size));
    picture->setFixedSize(size, size);
    picture->setAlignment(Qt::AlignCenter);
    auto* pictureColumn = new QVBoxLayout;
    pictureColumn->addWidget(picture);
    pictureColumn->addStretch();
    row->addLayout(pictureColumn);
    row->addSpacing(8);
    auto* content = new QVBoxLayout;
    row->addLayout(content, 1);
    return content;
}

}  // namespace vandrelle
