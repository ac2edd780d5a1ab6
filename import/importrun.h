// The import loop, apart from the thread and the dialog so that it can be driven directly.
#ifndef TW_IMPORT_IMPORTRUN_H
#define TW_IMPORT_IMPORTRUN_H

#include <QString>

#include "store/runreporter.h"

class AbsImport;
class LocalDb;

// Where an import reports to: the progress dialog, or a recorder in tests.
using ImportReporter = RunReporter;

// Reads the file with the importer and merges every named contact into the database in one
// edit. Ends with exactly one succeed or error report, or none after a cancel (the transaction
// is then rolled back). Never throws.
void g_runImport(AbsImport& importer, const QString& path, LocalDb& db, ImportReporter& reporter);

#endif
