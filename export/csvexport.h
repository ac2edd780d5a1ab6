// CSV export: a header of column names, then one line per contact; UTF-8, LF line ends.
#ifndef TW_EXPORT_CSVEXPORT_H
#define TW_EXPORT_CSVEXPORT_H

#include "abstextexport.h"

class CSVExport : public AbsTextExport {
public:
    CSVExport();
    ~CSVExport() override;

    QByteArray cols2Bytes(QStringList names) override;
    QByteArray rowData2Bytes(QString* cells, int n) override;
};

#endif
