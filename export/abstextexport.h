// Base of the table exporters (CSV, fixed-width text): which columns exist, their names, their
// order, and which value goes into which cell. Subclasses turn names and cells into bytes.
#ifndef TW_EXPORT_ABSTEXTEXPORT_H
#define TW_EXPORT_ABSTEXTEXPORT_H

#include "absexport.h"

#include <QMap>
#include <QString>
#include <QStringList>

class AbsTextExport : public AbsExport {
public:
    AbsTextExport();
    ~AbsTextExport() override;

    // Collects the columns of all contacts, orders them and returns the header bytes.
    QByteArray initialize(const QList<pim::_Contact>& contacts) override;
    // One row (several when the subclass puts repeated values on lines of their own); a column
    // that initialize() did not see is left out.
    QByteArray ct2Bytes(const pim::_Contact& contact) override;
    QByteArray uninitialize() override;

    virtual QByteArray cols2Bytes(QStringList names) = 0;
    virtual QByteArray rowData2Bytes(QString* cells, int n) = 0;

    // The column of the nth value (from 1) under one name: the first keeps the name, later
    // ones add " 2", " 3" and so on ("Tel:Mobile 2").
    static QString numberedCol(const QString& name, int nth);
    // A column name without its value number.
    static QString baseCol(const QString& name);

    // A numbered column sorts and sizes as its first one.
    static int colPriority(QString name);
    static bool compareColNameLess(QString a, QString b);

    static QString telCol(const pim::Entity& e);
    static QString emailCol(const pim::Entity& e);
    static QString eventCol(const pim::Entity& e);
    static QString imCol(const pim::Entity& e);
    static QString relCol(const pim::Entity& e);
    static QString urlCol(const pim::Entity& e);
    static QString addrCountryCol(const pim::Entity& e);
    static QString addrStateCol(const pim::Entity& e);
    static QString addrCityCol(const pim::Entity& e);
    static QString addrStreetCol(const pim::Entity& e);
    static QString addrPostcodeCol(const pim::Entity& e);

protected:
    // False: a contact's second value under one column name gets a numbered column of its own.
    // True: the columns keep their names and the second values go on a line of their own.
    virtual bool repeatsOnLines() const;

    QMap<QString, int> colIndexMap;
};

#endif
