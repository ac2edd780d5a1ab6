// Exporting contacts to a file and printing them.
#include "mainwindow.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include "mainwindow_form.h"
#include "mainwindow_steps.h"
#include "ui/tips.h"
#include "export/contactsprinter.h"
#include "export/exporttofilethread.h"
#include "export/pdfexportthread.h"
#include "store/localdb.h"
#include "store/photofetch.h"

using namespace mainwindow_steps;

void MainWindow::miFileExport() {
    selectedRowCount(ui->treeContacts) > 0 ? miContactExport() : miTreeExport();
}

void MainWindow::miFilePrint() {
    selectedRowCount(ui->treeContacts) > 0 ? miContactPrint() : miTreePrint();
}

void MainWindow::miTreeExport() {
    runOnNodeContacts(
        [this](const _CurrentNode&, const QList<pim::_Contact>& list) { exportContacts(list); });
}

void MainWindow::miContactExport() {
    exportContacts(contactsSelected());
}

void MainWindow::miTreePrint() {
    runOnNodeContacts(
        [this](const _CurrentNode&, const QList<pim::_Contact>& list) { printContacts(list); });
}

void MainWindow::miContactPrint() {
    printContacts(contactsSelected());
}

namespace {

// The export file kinds, in the order the save dialog offers them.
struct ExportKind {
    const char* filter;
    const char* extension;
    int workerType;  // ExportToFileThread::TYPE; 0 for PDF, which the card printer writes
};
const ExportKind kExportKinds[] = {
    {QT_TRANSLATE_NOOP("MainWindow", "VCard Files(*.vcf)"), ".vcf", ExportToFileThread::VCARD},
    {QT_TRANSLATE_NOOP("MainWindow", "CSV Files(*.csv)"), ".csv", ExportToFileThread::CSV},
    {QT_TRANSLATE_NOOP("MainWindow", "Text Files(*.txt)"), ".txt", ExportToFileThread::TXT},
    {QT_TRANSLATE_NOOP("MainWindow", "HTML files(*.html)"), ".html", ExportToFileThread::HTML},
    // Word opens the HTML page.
    {QT_TRANSLATE_NOOP("MainWindow", "Word files(*.doc)"), ".doc", ExportToFileThread::HTML},
    {QT_TRANSLATE_NOOP("MainWindow", "PDF files(*.pdf)"), ".pdf", 0},
};

}  // namespace
void MainWindow::exportContacts(const QList<pim::_Contact>& contacts) {
    BusyScope busy(this);
    try {
        QStringList filters;
        for (const ExportKind& k : kExportKinds) {
            filters << tr(k.filter);
        }
        const QString defaultPath =
            QDir(QDir::homePath())
                .absoluteFilePath(
                    QString("contacts(%1)")
                        .arg(QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss")));
        QString selected;
        // The name is asked about below, once its suffix is known.
        QString path = m_choosers->saveFile(this, defaultPath, filters.join(";;"), &selected);
        if (path.isEmpty()) {
            return;
        }
        const int pos = filters.indexOf(selected);
        if (pos < 0) {
            return;
        }
        const ExportKind& kind = kExportKinds[pos];
        // A name the user gave a suffix of his own keeps it.
        if (QFileInfo(path).suffix().isEmpty()) {
            path += QLatin1String(kind.extension);
        }
        // The file that would be replaced ("x.html/" names the page x.html).
        const QString replaced = QDir::cleanPath(path);
        if (QFileInfo(replaced).isFile() &&
            !Tips::question(QCoreApplication::translate(
                                "QFileDialog", "%1 already exists.\nDo you want to replace it?")
                                .arg(QFileInfo(replaced).fileName()))) {
            return;
        }
        // Listed contacts hold no photo bytes: the cards read each photo as they draw it, the
        // files get them all.
        const _CurrentNode source = currentNode();
        const QSharedPointer<LocalDb> db = source.dbNode ? source.dbNode->db : nullptr;
        ProgressForm form(tr("IDS_STARTING_EXPORT_CONTACTS_TO_FILE"), nullptr);
        if (kind.workerType == 0) {
            PdfExportThread worker(contacts, path, &form, this);
            // The database's own connection, which nothing else uses while the worker runs.
            worker.setPhotoFetch(db ? g_photoFetch(db.data()) : PhotoFetch());
            runUnderForm(form, worker);
            return;
        }
        QList<pim::_Contact> withPhotos = contacts;
        if (db) {
            db->loadPhotos(withPhotos);
        }
        ExportToFileThread worker(
            withPhotos, static_cast<ExportToFileThread::TYPE>(kind.workerType), path, &form, this);
        runUnderForm(form, worker);
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}

void MainWindow::printContacts(const QList<pim::_Contact>& contacts) {
    BusyScope busy(this);
    try {
        ContactsPrinter printer(this);
        const _CurrentNode source = currentNode();
        // Held for the preview, which reads the photos through its connection on this thread.
        const QSharedPointer<LocalDb> db = source.dbNode ? source.dbNode->db : nullptr;
        if (db) {
            printer.setPhotoFetch(g_photoFetch(db.data()));
        }
        printer.printContacts(contacts);
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}
