// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "GeneralMapper.h"
#include "PageKit.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace vandrelle {

// The General page: name, server, logon settings (or inheriting them),
// port and description.
class CDlgGeneral : public CPropertyPage {
    Q_OBJECT
public:
    CDlgGeneral(GeneralMode mode, QWidget* parent);

    std::optional<Problem> Check() const override;
    void Store(Properties& record) const override;

protected:
    void Load(const Properties& record) override;

private:
    GeneralState Read() const;
    void UpdateLogonControls();
    void NameEdited(const QString& text);

    GeneralMapper m_mapper;
    QLineEdit* m_name = nullptr;
    QLabel* m_serverLabel = nullptr;
    QLineEdit* m_server = nullptr;
    QCheckBox* m_inherit = nullptr;
    QLineEdit* m_userName = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_domain = nullptr;
    QLineEdit* m_port = nullptr;
    QPlainTextEdit* m_description = nullptr;
};

}  // namespace vandrelle
