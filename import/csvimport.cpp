#include "csvimport.h"

#include "csvheadertable.h"
#include "csvhelper.h"
#include "csvrowreader.h"
#include "textencoding.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

CSVImport::_ColInfo CSVImport::colInfo(QString name) {
    return csvheaders::lookup(name);
}

int CSVImport::knownHeaderCount() {
    return csvheaders::table().size();
}

CSVImport::CSVImport() {
    readPos = rows.constEnd();
}

CSVImport::~CSVImport() {}

namespace {

// The separator of a file: the one of comma, semicolon and tab that its header line holds most
// often outside quotes (Excel writes semicolons where the decimal sign is a comma); a comma on a
// tie or when the line holds none.
char separatorOf(const QByteArray& text) {
    int counts[3] = {0, 0, 0};
    bool quoted = false;
    for (char ch : text) {
        if (ch == '"') {
            quoted = !quoted;
        } else if (!quoted) {
            if (ch == '\n')
                break;
            counts[0] += ch == ',';
            counts[1] += ch == ';';
            counts[2] += ch == '\t';
        }
    }
    if (counts[1] > counts[0] && counts[1] >= counts[2])
        return ';';
    if (counts[2] > counts[0] && counts[2] > counts[1])
        return '\t';
    return ',';
}

QString notUnderstoodName(const QString& header, int column) {
    const QString name = header.trimmed();
    if (!name.isEmpty())
        return name;
    return QCoreApplication::translate("ImportContactsToLocalThread", "column %1").arg(column + 1);
}

}  // namespace

void CSVImport::initialize(QString path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error(file.errorString().toUtf8().toStdString());
    }
    const QByteArray raw = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw std::runtime_error(file.errorString().toUtf8().toStdString());
    file.close();
    QByteArray text = textencoding::toUtf8(raw);
    const char separator = separatorOf(text);
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    if (csvhelper::utf8CSVRow(header, &buffer, true, separator)) {
        QStringList scratch;
        for (;;) {
            bool more = csvhelper::utf8CSVRow(scratch, &buffer, false, separator);
            // A last line without a line feed is still a row; a read that starts at the very
            // end yields one empty cell, which is not.
            if (more || !(scratch.size() == 1 && scratch.first().isEmpty()))
                rows.append(scratch);
            scratch.clear();
            if (!more)
                break;
        }
    }
    readColumns();
    readPos = rows.constBegin();
    if (!anyKnown && !text.trimmed().isEmpty()) {
        // Not an address book (or not CSV at all): say so rather than import nothing.
        throw std::runtime_error(
            QCoreApplication::translate("ImportContactsToLocalThread",
                                        "%1 is not a contacts CSV file: none of its column "
                                        "names is known.")
                .arg(QFileInfo(path).fileName())
                .toUtf8()
                .toStdString());
    }
}

void CSVImport::readColumns() {
    columns.clear();
    columns.reserve(header.size());
    unread.clear();
    anyKnown = false;
    QSet<QString> seen;
    for (int i = 0; i < header.size(); ++i) {
        _ColInfo info = colInfo(header[i]);
        // French Outlook names the courtesy title and the job title alike ("Titre"): the second
        // column of a name-prefix header is the job title.
        if (seen.contains(header[i]) && info.type == pim::ENTITY_NAME &&
            info.dataKey == QLatin1String("data5")) {
            info = _ColInfo(pim::ENTITY_ORG, 0, "data2", "data4");
        }
        seen.insert(header[i]);
        columns.append(info);
        anyKnown = anyKnown || info.known();
    }
    dayFirst = csvheaders::outlookLanguage(header) != QLatin1String("en");
    // Columns left unread are named in the closing text, those that hold anything at least.
    for (int i = 0; i < header.size(); ++i) {
        if (columns[i].known())
            continue;
        for (const QStringList& row : rows) {
            if (i < row.size() && !row[i].trimmed().isEmpty()) {
                unread.append(notUnderstoodName(header[i], i));
                break;
            }
        }
    }
}

int CSVImport::total() {
    return rows.size();
}

bool CSVImport::hasNext() {
    return readPos != rows.constEnd();
}

pim::_Contact CSVImport::nextContact() {
    const QStringList& row = *readPos;
    ++readPos;
    csvrow::RowReader reader(header.size(), columns, dayFirst);
    pim::_Contact contact = reader.read(row);
    skippedDateCount += reader.skippedDates();
    return contact;
}

void CSVImport::uninitialize() {}

QStringList CSVImport::unreadColumns() const {
    return unread;
}

int CSVImport::skippedDates() const {
    return skippedDateCount;
}
