#include "importcontactstolocalthread.h"

#include "csvimport.h"
#include "importrun.h"
#include "vcardimport.h"

#include "store/runreporter.h"

#include <QScopedPointer>

ImportContactsToLocalThread::ImportContactsToLocalThread(QString path, TYPE type, LocalDb* db,
                                                         RunReporter* reporter, QObject* parent)
    : QThread(parent), path(path), type(type), db(db), reporter(reporter) {}

ImportContactsToLocalThread::~ImportContactsToLocalThread() {}

void ImportContactsToLocalThread::run() {
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
        reporter->error(QString());
        return;
    }
    g_runImport(*importer, path, *db, *reporter);
}
