// Importing contacts into a local database: from a vCard or CSV file, or from a phone backup.
#include "mainwindow.h"

#include <QFileInfo>

#include "mainwindow_form.h"
#include "mainwindow_steps.h"
#include "unfinishedimport.h"
#include "export/exportfile.h"
#include "ui/tips.h"
#include "backup/backupmanifest.h"
#include "backup/importcontactsfromitunesthread.h"
#include "backup/loaditunesbackupdlg.h"
#include "backup/passcodedlg.h"
#include "import/importcontactstolocalthread.h"
#include "store/localdb.h"

using namespace mainwindow_steps;

namespace {

const char kMarkSuffix[] = ".importing";

// True when the database at the path holds a contact; false when it holds none or cannot be
// read at all. Opening it rolls back the journal of an import that was killed.
bool holdsContacts(const QString& path) {
    try {
        LocalDb db(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.open_check();
        Sqlite3Cursor cur = db.db().queryThrow("select count(*) from contact");
        return cur.moveNext() && cur.getInt64(0) > 0;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

UnfinishedImportMark::UnfinishedImportMark(const QString& dbPath) : m_mark(markPath(dbPath)) {
    // The mark names its database: a long name has had to be shortened in the mark's own.
    QFile mark(m_mark);
    if (mark.open(QIODevice::WriteOnly)) {
        mark.write(QFileInfo(dbPath).fileName().toUtf8());
        mark.close();
    }
}

UnfinishedImportMark::~UnfinishedImportMark() {
    QFile::remove(m_mark);
}

void g_dropCreatedDb(ItemModelMainTree& tree, ItemModelMainTree::_DBItemNode* node) {
    QSharedPointer<LocalDb> db = node->db;
    const int row = tree.localDbRoot()->children.indexOf(node);
    db->removeDB();
    if (row >= 0) {
        tree.removeChild(tree.localDbRoot(), row);
    }
}

QString UnfinishedImportMark::markPath(const QString& dbPath) {
    const QFileInfo db(dbPath);
    return db.absolutePath() + QLatin1Char('/') +
           g_nameWithinLimit(db.absolutePath(), db.fileName(), QLatin1String(kMarkSuffix));
}

void g_sweepUnfinishedImports(const QDir& dbFolder) {
    const QFileInfoList marks =
        dbFolder.entryInfoList(QStringList() << QStringLiteral("*") + QLatin1String(kMarkSuffix),
                               QDir::Files | QDir::Hidden);
    for (const QFileInfo& mark : marks) {
        QString dbName;
        QFile file(mark.absoluteFilePath());
        if (file.open(QIODevice::ReadOnly))
            dbName = QString::fromUtf8(file.read(4096));
        file.close();
        // Only a database of this folder; a mark left empty by a kill names its own.
        if (dbName.isEmpty() || dbName.contains(QLatin1Char('/')) || dbName == QLatin1String(".") ||
            dbName == QLatin1String(".."))
            dbName = mark.fileName().chopped(int(sizeof kMarkSuffix) - 1);
        const QString dbPath = dbFolder.absoluteFilePath(dbName);
        if (QFileInfo(dbPath).isFile() && !holdsContacts(dbPath)) {
            LocalDb(dbPath, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule))
                .removeDB();
        }
        QFile::remove(mark.absoluteFilePath());
    }
}

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
        std::unique_ptr<UnfinishedImportMark> mark;
        _DBItemNode* node = selOrCreateLocalDb(QFileInfo(path).fileName(), &mark);
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
        } else if (mark) {
            g_dropCreatedDb(m_treeModel, node);
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
        std::unique_ptr<UnfinishedImportMark> mark;
        _DBItemNode* node = selOrCreateLocalDb(defaultName, &mark);
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
        if (mark) {
            g_dropCreatedDb(m_treeModel, node);
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}
