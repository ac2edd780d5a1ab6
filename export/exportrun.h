// One export of contacts into a file, independent of the dialog that shows it.
#ifndef TW_EXPORT_EXPORTRUN_H
#define TW_EXPORT_EXPORTRUN_H

#include "store/runreporter.h"
#include "store/pim.h"

#include <QList>
#include <QString>

// Where an export reports to; cancelled() is polled before each contact.
using ExportReporter = RunReporter;

// Export type codes, as the save dialog's file types map to them.
enum ExportType { EXPORT_VCARD = 1, EXPORT_CSV = 2, EXPORT_TXT = 3, EXPORT_HTML = 4 };

// Writes `contacts` to `path` with the exporter of `type` and reports the outcome exactly once
// (succeed or error; nothing after a cancel). For EXPORT_HTML the path names the page; its
// pictures go into a folder beside it that no other page uses (PageFolder: "contacts_files"
// beside "contacts.html"), and `path` is cleaned ("x.html/" gives "x.html").
//
// The file is written beside the target and moved into place only when complete: a failed or
// cancelled export leaves no partial file and leaves a file that stood at the path before as it
// was; of a page's pictures it removes those it wrote. A page replaced takes with it the
// pictures only it referred to, once the new page is in place.
void g_runExport(const QList<pim::_Contact>& contacts, int type, QString& path,
                 ExportReporter& reporter);

// Progress percent before contact i (1-based) of n: the quotient first, then times 100,
// truncated.
int g_exportPercent(int i, int n);

#endif
