// Backing contacts up into a local database, and choosing or creating that database.
#include "app/mainwindow.h"

#include <QFileInfo>
#include <stdexcept>

#include "app/mainwindow_form.h"
#include "app/mainwindow_steps.h"
#include "ui/tips.h"
#include "device/workers/backupcontactstolocalthread.h"
#include "store/combinerule.h"
#include "store/localdb.h"

using namespace mainwindow_steps;

void MainWindow::miFileBackup() {
    selectedRowCount(ui->treeContacts) > 0 ? miContactBackup() : miTreeBackup();
}

void MainWindow::miTreeBackup() {
    runOnNodeContacts([this](const _CurrentNode& cur, const QList<pim::_Contact>& list) {
        backupContacts(list, QString("%1-backup.db").arg(cur.dbNode->name));
    });
}

void MainWindow::miContactBackup() {
    const _CurrentNode cur = currentNode();
    if (!cur.dbNode) {
        return;
    }
    backupContacts(contactsSelected(), QString("%1-backup.db").arg(cur.dbNode->name));
}

_DBItemNode* MainWindow::selOrCreateLocalDb(QString defaultName, bool* created) {
    BusyScope busy(this);
    if (created) {
        *created = false;
    }
    const QString name = m_choosers->dbName(this, defaultName);
    if (name.isEmpty()) {
        return nullptr;
    }
    for (_ItemNode* child : m_treeModel.localDbRoot()->children) {
        if (child->name == name) {
            return static_cast<_DBItemNode*>(child);
        }
    }
    try {
        // A file name inside the database folder, never a path elsewhere.
        if (name.contains('/') || name.contains('\\') || name == "." || name == "..") {
            throw std::runtime_error(tr("Invalid database name.").toStdString());
        }
        const QString path = QFileInfo(LocalDb::dbDir().absoluteFilePath(name)).absoluteFilePath();
        QSharedPointer<LocalDb> db(
            new LocalDb(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)));
        if (!QFileInfo::exists(path)) {
            db->create();
            if (created) {
                *created = true;
            }
        }
        _DBItemNode* node = m_treeModel.addLocalDb(db, name);
        m_treeModel.contentsUpdate();
        return node;
    } catch (const std::exception& e) {
        Tips::error(tr("IDS_CREATE_DB_FAIL_%1").arg(utf8(e)));
        return nullptr;
    }
}

void MainWindow::backupContacts(QList<pim::_Contact> contacts, QString defaultName) {
    BusyScope busy(this);
    try {
        // Listed contacts hold no photo bytes; the backup carries the stored photos.
        const _CurrentNode source = currentNode();
        if (source.dbNode && source.dbNode->db) {
            source.dbNode->db->loadPhotos(contacts);
        }
        _DBItemNode* node = selOrCreateLocalDb(defaultName);
        if (!node) {
            return;
        }
        QSharedPointer<LocalDb> db = node->db;
        ProgressForm form(tr("IDS_STARTING_IMPORT_CONTACTS_FROM_DEVICE"), nullptr);
        BackupContactsToLocalThread worker(contacts, db.data(), &form, this);
        if (runUnderForm(form, worker)) {
            selectDbNode(node);
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}
