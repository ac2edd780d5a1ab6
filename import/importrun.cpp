#include "importrun.h"

#include "absimport.h"
#include "store/localdb.h"

#include <QCoreApplication>

#include <exception>

namespace {

QString tr(const char* key) {
    return QCoreApplication::translate("ImportContactsToLocalThread", key);
}

QString unknownError() {
    return tr("IDS_IMPORT_UNKNOWN_ERROR");
}

// Rolls back, and keeps a failing rollback from hiding the error being reported.
void rollback(LocalDb& db) {
    try {
        db.endEdit(false);
    } catch (...) {
    }
}

}  // namespace

void g_runImport(AbsImport& importer, const QString& path, LocalDb& db, ImportReporter& reporter) {
    try {
        importer.initialize(path);
        db.beginEdit();
    } catch (const std::exception& e) {
        reporter.error(QString::fromUtf8(e.what()));
        return;
    } catch (...) {
        reporter.error(unknownError());
        return;
    }

    try {
        const int total = importer.total();
        int added = 0;
        int merged = 0;
        int i = 1;
        while (importer.hasNext()) {
            if (reporter.cancelled()) {
                importer.uninitialize();
                db.endEdit(false);
                return;
            }
            int percent = 100;
            if (total > 0) {
                double p = double(i) / double(total) * 100.0;
                percent = p >= 100.0 ? 100 : int(p);
            }
            reporter.progress(tr("IDS_IMPORTING_CONTACTS_TO_DB"), percent,
                              tr("Contacts:%1/%2").arg(i).arg(total));
            pim::_Contact stored;
            const pim::_Contact incoming = importer.nextContact();
            if (!incoming.fullName.isEmpty()) {
                bool wasMerged = false;
                db.combineContact(incoming, stored, wasMerged);
                if (wasMerged) {
                    ++merged;
                } else {
                    ++added;
                }
            }
            ++i;
        }
        importer.uninitialize();
        // A cancel confirmed while the last contact was merged still means "keep nothing".
        if (reporter.cancelled()) {
            db.endEdit(false);
            return;
        }
        db.endEdit(true);
        const QString text =
            merged == 0 ? tr("IDS_SUC_IMPORT_%1_CONTACTS_TO_DB").arg(added)
                        : tr("IDS_SUC_IMPORT_%1_CONTACTS_TO_DB_%2_MERGED").arg(added).arg(merged);
        reporter.succeed(text);
    } catch (const std::exception& e) {
        rollback(db);
        reporter.error(QString::fromUtf8(e.what()));
    } catch (...) {
        rollback(db);
        reporter.error(unknownError());
    }
}
