// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PageKit.h"
#include "ResourcesMapper.h"

#include <QStringList>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace vandrelle {

// The Local Resources page: remote sound, where Windows key combinations
// apply, and the local devices offered to the session.
class CDlgResources : public CPropertyPage {
    Q_OBJECT
public:
    // `drives`: this computer's drives as the session offers them ("System (C:)").
    CDlgResources(const QStringList& drives, QWidget* parent);

    void Store(Properties& record) const override;

protected:
    void Load(const Properties& record) override;

private:
    ResourcesState Read() const;

    QComboBox* m_sound = nullptr;
    QComboBox* m_keyboard = nullptr;
    QCheckBox* m_printers = nullptr;
    QCheckBox* m_clipboard = nullptr;
    QCheckBox* m_ports = nullptr;
    QCheckBox* m_smartCards = nullptr;
    QCheckBox* m_drives = nullptr;
    QLineEdit* m_driveList = nullptr;
};

}  // namespace vandrelle
