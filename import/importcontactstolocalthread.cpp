#include "importcontactstolocalthread.h"

#include "csvimport.h"
#include "importrun.h"
#include "vcardimport.h"

#include "ui/progressform.h"

#include <QScopedPointer>

ImportContactsToLocalThread::ImportContactsToLocalThread(QString path, TYPE type, LocalDb* db,
                                                         ProgressForm* progressForm,
                                                         QObject* parent)
    : QThread(parent), path(path), type(type), db(db), progressForm(progressForm) {}

ImportContactsToLocalThread::~ImportContactsToLocalThread() {}

void ImportContactsToLocalThread::run() {
    ProgressFormReporter reporter(progressForm);
    QScopedPointer<AbsImport> importer;
    try {
        if (type == VCARD) {
            importer.reset(new VCardImport);
        } else if (type == CSV) {
            importer.reset(new CSVImport);
        }
    } catch (...) {
    }
    if (!importer) {
        reporter.error(QString());
        return;
    }
    g_runImport(*importer, path, *db, reporter);
}
