// One CSV row turned into a contact, after the descriptors of its file's columns.
#ifndef TW_IMPORT_CSVROWREADER_H
#define TW_IMPORT_CSVROWREADER_H

#include "csvimport.h"

#include <QDateTime>
#include <QMap>
#include <QStringList>
#include <QVector>

namespace csvrow {

// How a date cell reads: no date at all (empty, or Outlook's "0/0/00"), a date, or text that is
// no date ("circa 1800"), which is left out and counted.
enum DateRead { NO_DATE, DATE, NOT_A_DATE };
// `dayFirst`: a date with "/" whose first number could be a month is read d/M/y.
DateRead readDate(const QString& cell, bool dayFirst, QDateTime& out);

// The key text of the entity a column's cells fill, "type-subtype[@slot]": the order of these
// texts is the order of the contact's entities. Made once per file.
QVector<QString> entityKeys(const QVector<CSVImport::_ColInfo>& columns);

class RowReader {
public:
    // `keys`: entityKeys(columns).
    RowReader(int width, const QVector<CSVImport::_ColInfo>& columns, const QVector<QString>& keys,
              bool dayFirst);
    pim::_Contact read(const QStringList& row);
    int skippedDates() const { return skipped; }

private:
    typedef CSVImport::_ColInfo Col;
    void readSlotLabels(const QStringList& row);
    void plainCell(const Col& info, const QString& base, const QString& cell);
    void multiCell(const Col& info, const QString& cell);
    bool dateValue(const QString& text, QVariant& value);
    bool holds(int type, const QString& dataKey, const QString& value) const;
    void noteFirst(const Col& info, const QString& value);
    void foldStreets();
    void formattedAddresses();
    void birthday();
    pim::_Contact assemble();

    const int width;
    const QVector<Col>& columns;
    const QVector<QString>& keys;
    const bool dayFirst;
    int skipped = 0;

    QMap<QString, pim::Entity> work;  // by key text "type-subtype[@slot[.n]][#n]"
    QMap<QPair<int, int>, QString> labels, services, formatted;  // by (type, slot)
    struct Street {
        QStringList lines[3];  // by Col::StreetLine
    };
    QMap<QString, Street> streets;  // by the key text of their address entity
    QString firstValues[3];         // company, e-mail address, number
    QString fullName;
    QString birthParts[3];  // year, month, day
    QStringList groups;
};

}  // namespace csvrow

#endif
