#include "csvimport.h"

#include "csvcolumnwords.h"
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

CSVImport::CSVImport() {}

CSVImport::~CSVImport() {}

namespace {

// Lines looked at for the header: LinkedIn puts a few lines of notes ahead of it.
const int kHeaderSearchLines = 50;

// The separator of a file: the one of comma, semicolon and tab that its first line holding any
// of them outside quotes holds most often (Excel writes semicolons where the decimal sign is a
// comma); a comma on a tie or when no line holds one.
char separatorOf(const QByteArray& text) {
    int counts[3] = {0, 0, 0};
    bool quoted = false;
    int lines = 0;
    for (char ch : text) {
        if (ch == '"') {
            quoted = !quoted;
        } else if (!quoted) {
            if (ch == '\n') {
                if (counts[0] + counts[1] + counts[2] > 0 || ++lines >= kHeaderSearchLines)
                    break;
                continue;
            }
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

bool isBlank(const QStringList& line) {
    for (const QString& cell : line) {
        if (!cell.trimmed().isEmpty())
            return false;
    }
    return true;
}

int knownCount(const QStringList& line) {
    int known = 0;
    const QVector<CSVImport::_ColInfo> columns = CSVImport::headerColumns(line);
    for (const CSVImport::_ColInfo& info : columns)
        known += info.known() ? 1 : 0;
    return known;
}

int filledCount(const QStringList& line) {
    int filled = 0;
    for (const QString& cell : line)
        filled += cell.trimmed().isEmpty() ? 0 : 1;
    return filled;
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
    buffer.close();
    text = textencoding::toUtf8(raw);
    separator = separatorOf(text);
    // The rows are counted here and made into cells as they are read: on the import's reading
    // thread rather than ahead of every merge.
    int lastStart = 0;
    int lineCount = csvhelper::countCSVRows(text, 0, separator, &lastStart);
    buffer.setBuffer(&text);
    buffer.open(QIODevice::ReadOnly);
    if (lastStart < text.size()) {
        // A last line without a line feed is still a row, unless it reads as one empty cell.
        buffer.seek(lastStart);
        QStringList last;
        csvhelper::utf8CSVRow(last, &buffer, false, separator);
        if (!(last.isEmpty() || (last.size() == 1 && last.first().isEmpty())))
            ++lineCount;
    }
    buffer.seek(0);
    QList<QStringList> lines;
    QVector<qint64> ends;  // where each of `lines` ends
    QStringList scratch;
    for (bool first = true; lines.size() < qMin(lineCount, kHeaderSearchLines); first = false) {
        csvhelper::utf8CSVRow(scratch, &buffer, first, separator);
        lines.append(scratch);
        ends.append(buffer.pos());
        scratch.clear();
    }
    const int at = findHeader(lines);
    buffer.seek(lines.isEmpty() ? text.size() : ends[at]);
    rowCount = qMax(0, lineCount - (at + 1));
    rowsRead = 0;
    readColumns();
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
    settleNumberColumns();
    columnKeys = csvrow::entityKeys(columns);
}

// The header is the first line that names a known column. A line of one cell ("Notes:") may be
// a note ahead of the header, so a later line naming two known columns wins over it. The lines
// ahead of the header that hold something are counted as skipped.
int CSVImport::findHeader(const QList<QStringList>& lines) {
    int at = -1;
    const int searched = qMin(lines.size(), kHeaderSearchLines);
    for (int i = 0; i < searched && at < 0; ++i) {
        if (knownCount(lines[i]) == 0)
            continue;
        at = i;
        if (filledCount(lines[i]) >= 2)
            break;
        for (int j = i + 1; j < searched; ++j) {
            if (knownCount(lines[j]) >= 2) {
                at = j;
                break;
            }
        }
    }
    if (at < 0)
        at = 0;  // no known column anywhere: the first line is read as the header, and refused
    skippedLineCount = 0;
    for (int i = 0; i < at && i < lines.size(); ++i)
        skippedLineCount += isBlank(lines[i]) ? 0 : 1;
    header = lines.isEmpty() ? QStringList() : lines[at];
    return at;
}

QVector<CSVImport::_ColInfo> CSVImport::headerColumns(const QStringList& header) {
    return csvheaders::resolve(header);
}

void CSVImport::readColumns() {
    columns = headerColumns(header);
    anyKnown = false;
    for (const _ColInfo& info : columns)
        anyKnown = anyKnown || info.known();
    dayFirst = csvheaders::outlookLanguage(header) != QLatin1String("en");
    filled = QVector<bool>(header.size(), false);
}

// Columns left unread are named in the closing text, those that hold anything at least.
void CSVImport::noteFilled(const QStringList& row, QVector<bool>& held) const {
    for (int i = 0; i < header.size() && i < row.size(); ++i) {
        if (!held[i] && columns[i].unread() && !row[i].trimmed().isEmpty())
            held[i] = true;
    }
}

// A column that is a phone by its cells alone is one only when every cell it fills holds a
// number, so the rows are looked at here, before the first contact is made of them.
void CSVImport::settleNumberColumns() {
    QVector<int> open;
    for (int i = 0; i < columns.size(); ++i) {
        if (columns[i].numbersOnly)
            open.append(i);
    }
    if (open.isEmpty())
        return;
    rowsAhead([this, &open](const QStringList& row) {
        for (auto it = open.begin(); it != open.end();) {
            const QString cell = row.value(*it).trimmed();
            if (cell.isEmpty() || csvwords::isPhoneNumber(cell)) {
                ++it;
            } else {
                columns[*it] = _ColInfo();
                it = open.erase(it);
            }
        }
        return !open.isEmpty();
    });
}

void CSVImport::rowsAhead(const std::function<bool(const QStringList&)>& take) const {
    QByteArray rest = text;
    QBuffer more(&rest);
    more.open(QIODevice::ReadOnly);
    more.seek(buffer.pos());
    bool goOn = true;
    for (int k = rowsRead; k < rowCount && goOn; ++k) {
        QStringList row;
        csvhelper::utf8CSVRow(row, &more, false, separator);
        goOn = take(row);
    }
}

QStringList CSVImport::readRow() {
    QStringList row;
    csvhelper::utf8CSVRow(row, &buffer, false, separator);
    ++rowsRead;
    noteFilled(row, filled);
    return row;
}

int CSVImport::total() {
    return rowCount;
}

bool CSVImport::hasNext() {
    return rowsRead < rowCount;
}

pim::_Contact CSVImport::nextContact() {
    const QStringList row = readRow();
    csvrow::RowReader reader(header.size(), columns, columnKeys, dayFirst);
    pim::_Contact contact = reader.read(row);
    skippedDateCount += reader.skippedDates();
    return contact;
}

void CSVImport::uninitialize() {}

QStringList CSVImport::unreadColumns() const {
    QVector<bool> held = filled;
    // Rows not imported (yet) count as well.
    rowsAhead([this, &held](const QStringList& row) {
        noteFilled(row, held);
        return true;
    });
    QStringList unread;
    for (int i = 0; i < header.size(); ++i) {
        if (held[i])
            unread.append(notUnderstoodName(header[i], i));
    }
    return unread;
}

int CSVImport::skippedDates() const {
    return skippedDateCount;
}

int CSVImport::skippedLines() const {
    return skippedLineCount;
}
