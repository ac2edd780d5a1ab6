// Backing contacts up into a local database, and choosing or creating that database.
#include "mainwindow.h"

#include <QFile>
#include <QFileInfo>
#include <stdexcept>
#include <unistd.h>

#include "mainwindow_form.h"
#include "mainwindow_steps.h"
#include "unfinishedimport.h"
#include "ui/tips.h"
#include "device/workers/backupcontactstolocalthread.h"
#include "store/combinerule.h"
#include "store/localdb.h"

using namespace mainwindow_steps;

namespace {

// SQLite writes its rollback journal beside the database as "<name>-journal": a database whose
// name leaves no room for that could be made but never written.
const int kJournalSuffixBytes = 8;

int longestDbName(const QString& folder) {
    const long max = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    return int(max > 0 ? max : 255) - kJournalSuffixBytes;
}

}  // namespace

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

_DBItemNode* MainWindow::selOrCreateLocalDb(QString defaultName,
                                            std::unique_ptr<UnfinishedImportMark>* mark) {
    BusyScope busy(this);
    if (mark) {
        mark->reset();
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
            const int longest = longestDbName(LocalDb::dbDir().absolutePath());
            if (QFile::encodeName(name).size() > longest) {
                throw std::runtime_error(
                    tr("The name is too long: a database name takes at most %1 bytes. Choose a "
                       "shorter name.")
                        .arg(longest)
                        .toStdString());
            }
            // The mark comes first: a kill right after the file is made still leaves it marked.
            std::unique_ptr<UnfinishedImportMark> made;
            if (mark) {
                made.reset(new UnfinishedImportMark(path));
            }
            db->create();
            if (mark) {
                *mark = std::move(made);
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
        std::unique_ptr<UnfinishedImportMark> mark;
        _DBItemNode* node = selOrCreateLocalDb(defaultName, &mark);
        if (!node) {
            return;
        }
        QSharedPointer<LocalDb> db = node->db;
        bool ok = false;
        {
            ProgressForm form(tr("IDS_STARTING_IMPORT_CONTACTS_FROM_DEVICE"), nullptr);
            BackupContactsToLocalThread worker(contacts, db.data(), &form, this);
            ok = runUnderForm(form, worker);
        }
        if (ok) {
            selectDbNode(node);
        } else if (mark) {
            g_dropCreatedDb(m_treeModel, node);
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}
