// SPDX-License-Identifier: GPL-3.0-or-later
// The tree's editing commands: adding groups and servers, copying a server,
// the properties of a server, a group or the top, and the import. Each edits
// a scratch record in the properties sheet and reaches the configuration
// only on OK.
#include "CServerList.h"

#include "ConfigStore.h"

#include <QMessageBox>
#include <QProgressDialog>
#include <QTreeWidget>

namespace vandrelle {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

void CServerList::ShowError(const QString& text) {
    QMessageBox box(QMessageBox::Critical, tr("Error"), text, QMessageBox::Ok, this);
    box.exec();
}

QStringList CServerList::ChildLabels(const QTreeWidgetItem* parent,
                                     const QTreeWidgetItem* except) const {
    QStringList labels;
    for (int i = 0; parent && i < parent->childCount(); ++i) {
        if (parent->child(i) != except) labels << parent->child(i)->text(0);
    }
    return labels;
}

// The item's path, and its settings as they are now in a fresh record.
bool CServerList::Scratch(const QTreeWidgetItem* item, PathBuffer& path, Properties& record) {
    if (!CommandPath(item, path)) return false;
    try {
        m_config.LoadProperties(NodePathFromBuffer(path), record);
    } catch (const ConfigError& e) {
        ShowError(QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

// A new node starts with its group's settings but a name and description of
// its own, and inherits its log-on settings.
bool CServerList::ScratchForNew(QTreeWidgetItem* group, PathBuffer& path, Properties& record) {
    if (IsServer(group) || !Scratch(group, path, record) || !m_sheet) return false;
    record.InheritGeneral = 1;
    record.Name.clear();
    record.Description.clear();
    return true;
}

// The parent stays current after a group is added.
void CServerList::AddGroupCommand() {
    QTreeWidgetItem* parent = m_current;
    PathBuffer path;
    Properties record;
    if (!ScratchForNew(parent, path, record)) return;
    const SheetRequest request{tr("Add Group"), false, true, false, ChildLabels(parent, nullptr)};
    if (!m_sheet(this, request, record)) return;
    QTreeWidgetItem* item = NewItem(parent, record.Name, kGroupItem);
    ExpandByProgram(parent);
    m_tree->setCurrentItem(item);
    try {
        m_config.AddGroup(NodePathFromBuffer(path), record);
    } catch (const ConfigError& e) {
        delete item;
        ShowError(QString::fromUtf8(e.what()));
    }
}

void CServerList::AddServerCommand() {
    QTreeWidgetItem* parent = m_current;
    PathBuffer path;
    Properties record;
    if (!ScratchForNew(parent, path, record)) return;
    const SheetRequest request{tr("Add Server"), true, false, false, ChildLabels(parent, nullptr)};
    if (!m_sheet(this, request, record)) return;
    if (QTreeWidgetItem* item = AddServerItem(parent, record)) {
        m_current = item;
        m_tree->setCurrentItem(item);
    }
}

// The copy is proposed as "name (2)", "name (3)", ... the first that no
// sibling carries.
void CServerList::InsertCopyCommand() {
    QTreeWidgetItem* server = m_current;
    PathBuffer path;
    Properties record;
    if (!IsServer(server) || !Scratch(server, path, record) || !m_sheet) return;
    QTreeWidgetItem* parent = server->parent();
    const QString name = Q(record.Name);
    for (int n = 2;; ++n) {
        const QString proposal = QStringLiteral("%1 (%2)").arg(name).arg(n);
        if (!FindChildByLabel(parent, proposal)) {
            record.Name = proposal.toStdString();
            break;
        }
    }
    const SheetRequest request{tr("Add Server"), true, false, false, ChildLabels(parent, nullptr)};
    if (!m_sheet(this, request, record)) return;
    if (QTreeWidgetItem* item = AddServerItem(parent, record)) {
        m_current = item;
        m_tree->setCurrentItem(item);
    }
}

QTreeWidgetItem* CServerList::AddServerItem(QTreeWidgetItem* group, const Properties& record) {
    PathBuffer path;
    if (!CommandPath(group, path)) return nullptr;
    QTreeWidgetItem* item = NewItem(group, record.Name, kServerItem);
    ExpandByProgram(group);
    try {
        m_config.AddServer(NodePathFromBuffer(path), record);
    } catch (const ConfigError& e) {
        delete item;
        ShowError(QString::fromUtf8(e.what()));
        return nullptr;
    }
    return item;
}

// The record is written to the element found by the path the item had
// before the sheet, so a renamed node is found by its old name; its label
// changes at once and it keeps its place until the next start.
void CServerList::PropertiesCommand(bool server) {
    QTreeWidgetItem* item = m_current;
    PathBuffer path;
    Properties record;
    if (!item || IsServer(item) != server || !Scratch(item, path, record) || !m_sheet) return;
    const bool root = IsRoot(item);
    if (root) {
        record.Name = "Servers";
        record.InheritGeneral = 0;
    }
    const SheetRequest request{tr("Properties of %1").arg(Q(record.Name)), server, !server, root,
                               root ? QStringList() : ChildLabels(item->parent(), item)};
    if (!m_sheet(this, request, record)) return;
    const QString oldLabel = item->text(0);
    if (!root) item->setText(0, Q(record.Name));
    try {
        const NodePath node = NodePathFromBuffer(path);
        if (server) {
            m_config.UpdateServer(node, record);
        } else {
            m_config.UpdateGroup(node, record);
        }
    } catch (const ConfigError& e) {
        item->setText(0, oldLabel);
        ShowError(QString::fromUtf8(e.what()));
    }
}

// After the question, the import adds each server it finds as Add Server
// does, judged against the group's children as they are at that moment;
// then the group's level is sorted. The servers are saved together at the
// end, one write however many. An import that runs for more than a second
// shows its progress in a window-modal dialog, through which the window
// keeps painting and the user can stop it (what was added stays).
void CServerList::ImportCommand() {
    QTreeWidgetItem* group = m_current;
    if (!group || IsServer(group) || !m_import) return;
    QMessageBox box(QMessageBox::Question, tr("Vandrelle"),
                    tr("Are you sure to import MSTSC connections?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes) return;
    QProgressDialog progress(tr("Importing MSTSC connections..."), tr("Stop"), 0, 0, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(1000);
    progress.setValue(0);
    int candidates = 0;
    CConfigStore::SaveBatch batch(m_config);
    m_import(
        [&](const std::string& label) {
            // Shows the dialog once a second has passed; a stopped one stays hidden.
            if (!progress.wasCanceled()) progress.setValue(++candidates);
            return FindChildByLabel(group, Q(label)) != nullptr;
        },
        [&](const Properties& record) {
            if (!progress.wasCanceled()) AddServerItem(group, record);
        });
    SortLevel(group);
    batch.Finish();
}

}  // namespace vandrelle
