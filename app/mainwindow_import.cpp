// Importing contacts into a local database: from a vCard or CSV file, or from a phone backup.
#include "app/mainwindow.h"

#include <QFileInfo>

#include "app/mainwindow_form.h"
#include "app/mainwindow_steps.h"
#include "ui/tips.h"
#include "backup/backupmanifest.h"
#include "backup/importcontactsfromitunesthread.h"
#include "backup/loaditunesbackupdlg.h"
#include "backup/passcodedlg.h"
#include "import/importcontactstolocalthread.h"
#include "store/localdb.h"

using namespace mainwindow_steps;

namespace {

// A database made for an import that failed or was cancelled goes again, file and node; one
// that existed before stays as the rolled-back import left it.
void dropCreatedDb(ItemModelMainTree& tree, ItemModelMainTree::_DBItemNode* node) {
    QSharedPointer<LocalDb> db = node->db;
    const int row = tree.localDbRoot()->children.indexOf(node);
    db->removeDB();
    if (row >= 0) {
        tree.removeChild(tree.localDbRoot(), row);
    }
}

}  // namespace

void MainWindow::miImport() {
    BusyScope busy(this);
    try {
        const QStringList filters = {tr("VCard Files(*.vcf)"), tr("CSV Files(*.csv)")};
        QString selected;
        const QString path = m_choosers->openFile(this, filters.join(";;"), &selected);
        if (path.isEmpty()) {
            return;
        }
        const int pos = filters.indexOf(selected);
        if (pos < 0) {
            return;
        }
        const auto type =
            pos == 0 ? ImportContactsToLocalThread::VCARD : ImportContactsToLocalThread::CSV;
        bool created = false;
        _DBItemNode* node = selOrCreateLocalDb(QFileInfo(path).fileName(), &created);
        if (!node) {
            return;
        }
        QSharedPointer<LocalDb> db = node->db;
        bool ok = false;
        {
            ProgressForm form(tr("IDS_STARTING_IMPORT_CONTACTS_FROM_FILE"), nullptr);
            ImportContactsToLocalThread worker(path, type, db.data(), &form, this);
            ok = runUnderForm(form, worker);
        }
        if (ok) {
            selectDbNode(node);
        } else if (created) {
            dropCreatedDb(m_treeModel, node);
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}

void MainWindow::miFromiTunes() {
    BusyScope busy(this);
    try {
        QSharedPointer<BackupManifest> backup;
        {
            LoadItunesBackupDlg dlg(this);
            const int rc = m_choosers->backupChooser(dlg);
            if (rc != 1 || !dlg.selected) {
                return;
            }
            backup = dlg.selected;
        }
        if (backup->info.isEncrypted) {
            PasscodeDlg dlg(backup.data(), this);
            const int rc = m_choosers->passcode(dlg);
            if (rc != 1) {
                return;
            }
        }
        backup->parseInfo();

        const QString defaultName = backup->info.deviceName.isEmpty()
                                        ? tr("Unknown Device")
                                        : backup->info.deviceName + "-backup.db";
        bool created = false;
        _DBItemNode* node = selOrCreateLocalDb(defaultName, &created);
        if (!node) {
            return;
        }
        QSharedPointer<LocalDb> db = node->db;
        bool ok = false;
        {
            ProgressForm form(QString(), this);
            ImportContactsFromiTunesThread worker(*backup, db.data(), &form, nullptr);
            ok = runUnderForm(form, worker);
        }
        if (ok) {
            selectDbNode(node);
            return;
        }
        if (created) {
            dropCreatedDb(m_treeModel, node);
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}
