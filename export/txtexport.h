// Plain-text table export: left-aligned columns of fixed width, no separators, UTF-8, LF line
// ends. A text longer than its column is written whole. A contact's second value under one
// column goes on a line of its own below the contact's line.
#ifndef TW_EXPORT_TXTEXPORT_H
#define TW_EXPORT_TXTEXPORT_H

#include "abstextexport.h"

#include <QVector>

class TxtExport : public AbsTextExport {
public:
    TxtExport();
    ~TxtExport() override;

    QByteArray cols2Bytes(QStringList names) override;
    QByteArray rowData2Bytes(QString* cells, int n) override;

    // Width in characters (UTF-16 code units) of a column.
    static int colWidth(QString name);

protected:
    bool repeatsOnLines() const override;

private:
    QVector<int> widths;  // one per column, set by cols2Bytes
};

#endif
