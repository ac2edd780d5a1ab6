// The column names of contact CSV files: this program's own, and those of the address books whose
// exports people bring (Outlook in its languages, Google in both of its layouts, Thunderbird,
// Yahoo, LinkedIn).
#ifndef TW_IMPORT_CSVHEADERTABLE_H
#define TW_IMPORT_CSVHEADERTABLE_H

#include "csvimport.h"

#include <QMap>
#include <QString>
#include <QVector>

namespace csvheaders {

// Every column name the table knows, with what the column fills. Built once, read-only after.
const QMap<QString, CSVImport::_ColInfo>& table();

// The descriptor of one header text: an exact entry of the table, else a numbered repeat of one
// of this program's own columns ("Tel:Mobile 2"), else a numbered Google column
// ("Phone 3 - Value"); the ignored descriptor when none fits.
CSVImport::_ColInfo lookup(const QString& header);

// The descriptor of each column of a header line: the table's, or the meaning of the column's
// words when the table does not know it, with the readings that depend on the other columns.
QVector<CSVImport::_ColInfo> resolve(const QStringList& header);

// Outlook names its columns in the user's language and writes dates in that language's order.
// The language whose column names the header uses: "en" when it uses none of another.
QString outlookLanguage(const QStringList& header);

}  // namespace csvheaders

#endif
