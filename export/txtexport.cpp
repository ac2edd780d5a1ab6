#include "txtexport.h"

namespace {

void appendPadded(QString& line, const QString& text, int width) {
    line += text;
    if (text.size() < width)
        line += QString(width - text.size(), QLatin1Char(' '));
}

}  // namespace

TxtExport::TxtExport() {}

TxtExport::~TxtExport() {}

bool TxtExport::repeatsOnLines() const {
    return true;
}

int TxtExport::colWidth(QString name) {
    name = baseCol(name);
    if (name.startsWith(QLatin1String("Date:")))
        return 20;
    if (name.startsWith(QLatin1String("Addr:")) && name.endsWith(QLatin1String(":Street")))
        return 50;
    if (name.startsWith(QLatin1String("Url:")))
        return 60;
    if (name == QLatin1String("Notes"))
        return 100;
    return 25;
}

QByteArray TxtExport::cols2Bytes(QStringList names) {
    widths.resize(names.size());
    QString line;
    for (int i = 0; i < names.size(); ++i) {
        widths[i] = colWidth(names.at(i));
        appendPadded(line, names.at(i), widths[i]);
    }
    line += QLatin1Char('\n');
    return line.toUtf8();
}

QByteArray TxtExport::rowData2Bytes(QString* cells, int n) {
    QString line;
    for (int i = 0; i < n; ++i) {
        // A line break inside a cell would break the table; each CR and LF becomes a space.
        QString cell = cells[i];
        cell.replace(QLatin1Char('\r'), QLatin1Char(' '));
        cell.replace(QLatin1Char('\n'), QLatin1Char(' '));
        appendPadded(line, cell, i < widths.size() ? widths[i] : colWidth(QString()));
    }
    line += QLatin1Char('\n');
    return line.toUtf8();
}
