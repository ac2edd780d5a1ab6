// The column names of Outlook's CSV export in the languages Outlook ships in: Outlook writes
// them in the language of its user.
#ifndef TW_IMPORT_OUTLOOKCOLUMNS_H
#define TW_IMPORT_OUTLOOKCOLUMNS_H

#include "csvimport.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace outlookcolumns {

// Every column name with what it fills, English first; a name two languages share comes once
// per language, the first meaning counts.
QList<QPair<QString, CSVImport::_ColInfo> > columns();

// The language ("de", "fr", ...) of which the header uses two own column names; "en" otherwise
// (names English shares, such as "Notes", say nothing).
QString language(const QStringList& header);

}  // namespace outlookcolumns

#endif
