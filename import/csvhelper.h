// Reading and writing the comma-separated text of contact import and export.
#ifndef TW_IMPORT_CSVHELPER_H
#define TW_IMPORT_CSVHELPER_H

#include <QHash>
#include <QString>
#include <QStringList>

class QIODevice;

namespace csvhelper {

// Appends the cells of the next row to `row`. Returns true when the row ended with a line feed,
// false at the end of the data (the cells of a last line without a line feed are still appended).
// With `markTest` a UTF-8 byte-order mark at the current position is skipped, and an empty device
// appends nothing. `separator` is ',' (the default), ';' or '\t'; any other is taken as ','.
// Throws std::runtime_error on a read error.
bool utf8CSVRow(QStringList& row, QIODevice* device, bool markTest, char separator = ',');
// Rows that utf8CSVRow ends with a line feed in `text` read from `from` on (a UTF-8 byte-order
// mark there skipped first), without making their cells; `lastStart` receives where the part
// after the last of them starts (the size of `text` when nothing follows it).
int countCSVRows(const QByteArray& text, int from, char separator, int* lastStart);
// The cell as written into a CSV line, quoted when it holds a quote, comma, CR or LF.
QString formatCell(QString cell);
// Line feeds outside quotes from the current position to the end; consumes the device.
int totalRecords(QIODevice* device);
// Reads rows (each with the mark test) until one has at least `minCells` cells.
bool utf8CSVRowSkip(QStringList& row, QIODevice* device, int minCells);
QHash<QString, int> toHeader(QStringList header);
QString getCell(const QHash<QString, int>& header, const QStringList& row, QString name,
                QString defaultValue);

}  // namespace csvhelper

#endif
