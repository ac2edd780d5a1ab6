// Contacts from a CSV file whose first line names the columns.
#ifndef TW_IMPORT_CSVIMPORT_H
#define TW_IMPORT_CSVIMPORT_H

#include "absimport.h"

#include <QList>
#include <QStringList>
#include <QVector>

class CSVImport : public AbsImport {
public:
    // What one column fills: entity type (0 = ignored), subtype code, the entity key that
    // receives the subtype (may be empty) and the key that receives the cell text.
    struct _ColInfo {
        int type = 0;
        int subtype = 0;
        QString subtypeKey;
        QString dataKey;

        _ColInfo() {}
        _ColInfo(int type, int subtype, QString subtypeKey, QString dataKey);
    };

    CSVImport();
    ~CSVImport() override;

    void initialize(QString path) override;
    int total() override;
    bool hasNext() override;
    pim::_Contact nextContact() override;
    void uninitialize() override;

    // Descriptor of a header text (exact, case-sensitive); the ignored descriptor when unknown.
    static _ColInfo colInfo(QString name);
    // Number of distinct header texts the table knows.
    static int knownHeaderCount();

private:
    QStringList header;
    QList<QStringList> rows;
    QList<QStringList>::const_iterator readPos;
    QVector<_ColInfo> columns;  // descriptor of each header cell, looked up once per file
};

#endif
