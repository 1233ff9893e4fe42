// SPDX-License-Identifier: GPL-3.0-or-later
#include "CDlgDisplay.h"

#include "ResourceIds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace vandrelle {
namespace {

QLineEdit* MakeNumberEdit(int id, QWidget* parent) {
    auto* edit = MakeControl<QLineEdit>(id, parent);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("0")) * 8 + 16);
    // The row keeps its place while hidden, so the page does not jump.
    QSizePolicy policy = edit->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    edit->setSizePolicy(policy);
    return edit;
}

}  // namespace

CDlgDisplay::CDlgDisplay(QWidget* parent) : CPropertyPage(IDD_DISPLAY, tr("Display"), parent) {
    setObjectName(QStringLiteral("IDD_DISPLAY"));
    setProperty("resourceId", IDD_DISPLAY);

    auto* group = new QGroupBox(tr("&Remote desktop display"), this);
    m_size = MakeControl<QComboBox>(IDC_DESKTOP_SIZE, group);
    for (const DesktopSizeEntry& e : DisplayMapper::SizeEntries()) {
        m_size->addItem(FromUtf8(e.text), static_cast<int>(e.size));
    }
    m_width = MakeNumberEdit(IDC_WIDTH, group);
    m_widthLabel = MakeLabel(tr("&Width:"), m_width, group);
    Identify(m_widthLabel, IDC_WIDTH_LABEL);
    m_height = MakeNumberEdit(IDC_HEIGHT, group);
    m_heightLabel = MakeLabel(tr("&Height:"), m_height, group);
    Identify(m_heightLabel, IDC_HEIGHT_LABEL);
    for (QLabel* label : {m_widthLabel, m_heightLabel}) {
        QSizePolicy policy = label->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        label->setSizePolicy(policy);
    }
    m_depth = MakeControl<QComboBox>(IDC_COLOR_DEPTH, group);
    for (const ColorDepthEntry& e : DisplayMapper::DepthEntries()) {
        m_depth->addItem(FromUtf8(e.text), e.depth);
    }
    m_console = MakeControl<QCheckBox>(IDC_CONSOLE, group);
    m_console->setText(tr("Connect to c&onsole"));

    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(m_widthLabel);
    sizeRow->addWidget(m_width);
    sizeRow->addSpacing(12);
    sizeRow->addWidget(m_heightLabel);
    sizeRow->addWidget(m_height);
    sizeRow->addStretch();
    auto* form = new QFormLayout;
    form->addRow(MakeLabel(tr("Desktop &size:"), m_size, group), m_size);
    form->addRow(QString(), sizeRow);
    form->addRow(MakeLabel(tr("&Color depth:"), m_depth, group), m_depth);
    form->addRow(m_console);
    MakePictureGroup(group, IDI_DISPLAY)->addLayout(form);

    auto* note =
        new QLabel(tr("When selected \"Fit Window with margin\", the \"Width\" and "
                      "\"Height\" specify the width and height of the margin (in pixels)."),
                   this);
    note->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(note);
    layout->addStretch();

    setTabOrder(m_size, m_width);
    setTabOrder(m_width, m_height);
    setTabOrder(m_height, m_depth);
    setTabOrder(m_depth, m_console);
    connect(m_size, &QComboBox::activated, this, &CDlgDisplay::SizeChosen);
}

void CDlgDisplay::Load(const Properties& record) {
    Show(DisplayMapper::Load(record));
}

void CDlgDisplay::Show(const DisplayState& state) {
    m_size->setCurrentIndex(m_size->findData(static_cast<int>(state.size)));
    m_width->setText(FromUtf8(state.width));
    m_height->setText(FromUtf8(state.height));
    const bool edits = DisplayMapper::ShowsSizeEdits(state.size);
    for (QWidget* w : {static_cast<QWidget*>(m_widthLabel), static_cast<QWidget*>(m_width),
                       static_cast<QWidget*>(m_heightLabel), static_cast<QWidget*>(m_height)}) {
        w->setVisible(edits);
    }
    m_depth->setCurrentIndex(state.colorDepth ? m_depth->findData(*state.colorDepth) : -1);
    m_console->setChecked(state.console);
}

DisplayState CDlgDisplay::Read() const {
    DisplayState state;
    state.size = static_cast<DesktopSize>(m_size->currentData().toInt());
    state.width = ToUtf8(m_width->text());
    state.height = ToUtf8(m_height->text());
    if (m_depth->currentIndex() >= 0) state.colorDepth = m_depth->currentData().toInt();
    state.console = m_console->isChecked();
    return state;
}

void CDlgDisplay::SizeChosen() {
    DisplayState state = Read();
    DisplayMapper::ChooseSize(state, state.size);
    Show(state);
}

void CDlgDisplay::Store(Properties& record) const {
    DisplayMapper::Store(Read(), record);
}

}  // namespace vandrelle
