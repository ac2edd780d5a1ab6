#include "csvexport.h"

#include "import/csvhelper.h"

CSVExport::CSVExport() {}

CSVExport::~CSVExport() {}

QByteArray CSVExport::cols2Bytes(QStringList names) {
    return (names.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8();
}

QByteArray CSVExport::rowData2Bytes(QString* cells, int n) {
    QString line;
    for (int i = 0; i < n; ++i) {
        if (i)
            line += QLatin1Char(',');
        line += csvhelper::formatCell(cells[i]);
    }
    line += QLatin1Char('\n');
    return line.toUtf8();
}
