// SPDX-License-Identifier: GPL-3.0-or-later
#include "CDlgResources.h"

#include "ResourceIds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace vandrelle {
namespace {

QComboBox* MakeList(int id, std::span<const char* const> entries, QWidget* parent) {
    auto* list = MakeControl<QComboBox>(id, parent);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        list->addItem(FromUtf8(entries[i]), static_cast<int>(i));
    }
    return list;
}

QCheckBox* MakeBox(int id, const QString& text, QWidget* parent) {
    auto* box = MakeControl<QCheckBox>(id, parent);
    box->setText(text);
    return box;
}

void Select(QComboBox* list, std::optional<int> value) {
    list->setCurrentIndex(value ? list->findData(*value) : -1);
}

std::optional<int> Selected(const QComboBox* list) {
    if (list->currentIndex() < 0) return std::nullopt;
    return list->currentData().toInt();
}

QLabel* MakeHelp(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

}  // namespace

CDlgResources::CDlgResources(const QStringList& drives, QWidget* parent)
    : CPropertyPage(IDD_RESOURCES, tr("Local Resources"), parent) {
    setObjectName(QStringLiteral("IDD_RESOURCES"));
    setProperty("resourceId", IDD_RESOURCES);

    auto* sound = new QGroupBox(tr("Remote com&puter sound"), this);
    m_sound = MakeList(IDC_SOUND, ResourcesMapper::SoundEntries(), sound);
    m_sound->setAccessibleName(tr("Remote computer sound"));
    QBoxLayout* soundColumn = MakePictureGroup(sound, IDI_SOUND);
    soundColumn->addWidget(m_sound);
    soundColumn->addStretch();

    auto* keyboard = new QGroupBox(tr("&Keyboard"), this);
    m_keyboard = MakeList(IDC_KEYBOARD, ResourcesMapper::KeyboardEntries(), keyboard);
    m_keyboard->setAccessibleName(tr("Apply Windows key combinations"));
    QBoxLayout* keyboardColumn = MakePictureGroup(keyboard, IDI_KEYBOARD);
    keyboardColumn->addWidget(
        MakeLabel(tr("Apply Windows key combinations"), m_keyboard, keyboard));
    keyboardColumn->addWidget(new QLabel(tr("(for example ALT+TAB)"), keyboard));
    keyboardColumn->addWidget(m_keyboard);

    auto* devices = new QGroupBox(tr("Local devices and resources"), this);
    m_printers = MakeBox(IDC_PRINTERS, tr("Prin&ters"), devices);
    m_clipboard = MakeBox(IDC_CLIPBOARD, tr("C&lipboard"), devices);
    m_ports = MakeBox(IDC_PORTS, tr("P&orts"), devices);
    m_smartCards = MakeBox(IDC_SMART_CARDS, tr("&Smart Cards"), devices);
    m_drives = MakeBox(IDC_DRIVES, tr("&Drives"), devices);
    m_driveList = MakeControl<QLineEdit>(IDC_DRIVE_LIST, devices);
    m_driveList->setAccessibleName(tr("Drives to redirect"));
    const QString driveHelp = tr("For example D:; E:. $: means the drives that I plug in later.");
    const QString allHelp = tr("Leave it empty to redirect all drives.");
    m_driveList->setAccessibleDescription(driveHelp + QLatin1Char(' ') + allHelp);

    auto* boxes = new QGridLayout;
    boxes->addWidget(m_printers, 0, 0);
    boxes->addWidget(m_clipboard, 0, 1);
    boxes->addWidget(m_ports, 1, 0);
    boxes->addWidget(m_smartCards, 1, 1);
    boxes->addWidget(m_drives, 2, 0);
    boxes->addWidget(m_driveList, 2, 1);
    boxes->setColumnStretch(1, 1);
    QBoxLayout* devicesColumn = MakePictureGroup(devices, IDI_DEVICES);
    devicesColumn->addWidget(MakeHelp(
        tr("Select the devices and resources you want to use in your remote session:"), devices));
    devicesColumn->addLayout(boxes);
    devicesColumn->addWidget(MakeHelp(driveHelp, devices));
    devicesColumn->addWidget(MakeHelp(allHelp, devices));
    if (!drives.isEmpty()) {
        // The letters stand for this computer's mount points: say which is which.
        QLabel* known = MakeHelp(
            tr("Drives on this computer: %1").arg(drives.join(QStringLiteral(", "))), devices);
        known->setObjectName(QStringLiteral("knownDrives"));
        known->setTextInteractionFlags(Qt::TextSelectableByMouse);
        devicesColumn->addWidget(known);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(sound);
    layout->addWidget(keyboard);
    layout->addWidget(devices);
    layout->addStretch();
}

void CDlgResources::Load(const Properties& record) {
    const ResourcesState state = ResourcesMapper::Load(record);
    Select(m_sound, state.sound);
    Select(m_keyboard, state.keyboard);
    m_printers->setChecked(state.printers);
    m_clipboard->setChecked(state.clipboard);
    m_ports->setChecked(state.ports);
    m_smartCards->setChecked(state.smartCards);
    m_drives->setChecked(state.drives);
    m_driveList->setText(FromUtf8(state.driveList));
}

ResourcesState CDlgResources::Read() const {
    ResourcesState state;
    state.sound = Selected(m_sound);
    state.keyboard = Selected(m_keyboard);
    state.printers = m_printers->isChecked();
    state.clipboard = m_clipboard->isChecked();
    state.ports = m_ports->isChecked();
    state.smartCards = m_smartCards->isChecked();
    state.drives = m_drives->isChecked();
    state.driveList = ToUtf8(m_driveList->text());
    return state;
}

void CDlgResources::Store(Properties& record) const {
    ResourcesMapper::Store(Read(), record);
}

}  // namespace vandrelle
