#include "csvhelper.h"

#include <QFileDevice>
#include <QIODevice>
#include <QVarLengthArray>
#include <QtDebug>

#include <cstring>
#include <string>

#include <stdexcept>

namespace {

enum CellState { Unquoted, Quoted, QuotePending, AfterQuotes };

[[noreturn]] void throwReadError(QIODevice* device, const char* format) {
    const QString err = device->errorString();
    qDebug(format, err.toLocal8Bit().constData());
    throw std::runtime_error(err.toUtf8().toStdString());
}

// After a read that yielded nothing: true at the end of the data, false on a read error.
bool atDataEnd(QIODevice* device) {
    QFileDevice* file = qobject_cast<QFileDevice*>(device);
    if (file && file->error() != QFileDevice::NoError)
        return false;
    return device->atEnd();
}

// Bytes that end a run of ordinary cell bytes: outside quotes, and inside quotes.
struct ByteClass {
    bool unquoted[256];
    bool quoted[256];
    char separator;
    constexpr explicit ByteClass(char sep) : unquoted(), quoted(), separator(sep) {
        unquoted[int('"')] = unquoted[int(sep)] = unquoted[int('\n')] = unquoted[int('\r')] = true;
        unquoted[0] = true;
        quoted[int('"')] = true;
        quoted[0] = true;
    }
};
constexpr ByteClass kComma(','), kSemicolon(';'), kTab('\t');

const ByteClass& classOf(char separator) {
    return separator == ';' ? kSemicolon : separator == '\t' ? kTab : kComma;
}

struct Cell {
    std::string bytes;
    bool hasZero = false;
};

void endCell(QStringList& row, Cell& cell, CellState& state) {
    size_t len = cell.bytes.size();
    if (cell.hasZero)
        len = cell.bytes.find('\0');  // a zero byte ends the cell's text
    row.append(QString::fromUtf8(cell.bytes.data(), int(len)));
    cell.bytes.clear();  // keeps its capacity for the next cell
    cell.hasZero = false;
    state = Unquoted;
}

}  // namespace

namespace csvhelper {

bool utf8CSVRow(QStringList& row, QIODevice* device, bool markTest, char separator) {
    const ByteClass& kClass = classOf(separator);
    const char sep = kClass.separator;
    static const char* const kError = "utf8CSVRow::error:%s";
    if (!device->isReadable())
        throwReadError(device, kError);
    if (markTest) {
        const QByteArray head = device->peek(3);
        if (head.isEmpty()) {
            if (!atDataEnd(device))
                throwReadError(device, kError);
            return false;
        }
        if (head == "\xEF\xBB\xBF")
            device->skip(3);
    }
    // The bytes are looked at in peeked chunks and only the ones this row used are consumed,
    // so the device always stands at the start of the next row.
    Cell cell;
    cell.bytes.reserve(64);
    CellState state = Unquoted;
    QVarLengthArray<char, 1024> chunk(512);
    for (;;) {
        const qint64 got = device->peek(chunk.data(), chunk.size());
        if (got <= 0) {
            if (!atDataEnd(device))
                throwReadError(device, kError);
            endCell(row, cell, state);
            return false;
        }
        const char* p = chunk.constData();
        const int n = int(got);
        int i = 0;
        while (i < n) {
            if (state == Unquoted || state == AfterQuotes) {
                // Take a run of ordinary bytes at once.
                int j = i;
                while (j < n && !kClass.unquoted[static_cast<unsigned char>(p[j])])
                    ++j;
                cell.bytes.append(p + i, size_t(j - i));
                i = j;
                if (i == n)
                    break;
                const char ch = p[i++];
                if (ch == '"') {
                    // Quoting opens only at the start of a cell (as spreadsheets and Python's
                    // csv read it): 37°36'37.8"N is a cell of its own.
                    if (state == Unquoted && cell.bytes.empty() && !cell.hasZero) {
                        state = Quoted;
                    } else {
                        cell.bytes.push_back(ch);
                    }
                } else if (ch == sep) {
                    endCell(row, cell, state);
                } else if (ch == '\n') {
                    device->skip(i);
                    endCell(row, cell, state);
                    return true;
                } else if (ch == '\0') {
                    cell.bytes.push_back(ch);
                    cell.hasZero = true;
                }  // a CR outside quotes is dropped
            } else if (state == Quoted) {
                int j = i;
                while (j < n && !kClass.quoted[static_cast<unsigned char>(p[j])])
                    ++j;
                cell.bytes.append(p + i, size_t(j - i));
                i = j;
                if (i == n)
                    break;
                if (p[i++] == '"') {
                    state = QuotePending;
                } else {
                    cell.bytes.push_back('\0');
                    cell.hasZero = true;
                }
            } else {  // QuotePending
                const char ch = p[i++];
                if (ch == '"') {
                    cell.bytes.push_back('"');
                    state = Quoted;
                } else if (ch == sep) {
                    endCell(row, cell, state);
                } else if (ch == '\n') {
                    device->skip(i);
                    endCell(row, cell, state);
                    return true;
                } else if (ch == '\r') {
                    state = AfterQuotes;
                } else {
                    cell.bytes.push_back(ch);
                    cell.hasZero = cell.hasZero || ch == '\0';
                    state = AfterQuotes;
                }
            }
        }
        device->skip(n);
        if (chunk.size() < 65536)
            chunk.resize(chunk.size() * 2);
    }
}

int countCSVRows(const QByteArray& text, int from, char separator, int* lastStart) {
    const char sep = classOf(separator).separator;
    const char* p = text.constData();
    const int n = text.size();
    int i = from;
    if (n - i >= 3 && std::memcmp(p + i, "\xEF\xBB\xBF", 3) == 0)
        i += 3;
    // The states of utf8CSVRow; `empty`: the cell holds no byte yet, so a quote opens quoting.
    CellState state = Unquoted;
    bool empty = true;
    int rows = 0;
    *lastStart = i;
    for (; i < n; ++i) {
        const char ch = p[i];
        if (state == Quoted) {
            if (ch == '"')
                state = QuotePending;
            continue;
        }
        if (ch == '\n' && state != Quoted) {
            ++rows;
            *lastStart = i + 1;
            state = Unquoted;
            empty = true;
        } else if (ch == sep) {
            state = Unquoted;
            empty = true;
        } else if (state == QuotePending) {
            state = ch == '"' ? Quoted : AfterQuotes;
            empty = false;
        } else if (ch == '"') {
            if (state == Unquoted && empty)
                state = Quoted;
            else
                empty = false;
        } else if (ch != '\r') {  // a CR outside quotes is dropped
            empty = false;
        }
    }
    return rows;
}

QString formatCell(QString cell) {
    QString out;
    out.reserve(cell.size() + 2);
    bool quote = false;
    for (QChar ch : cell) {
        if (ch == QLatin1Char('"')) {
            out.append(ch);
            quote = true;
        } else if (ch == QLatin1Char('\n') || ch == QLatin1Char(',') || ch == QLatin1Char('\r')) {
            // A bare CR would be dropped by readers (ours included) outside quotes.
            quote = true;
        }
        out.append(ch);
    }
    if (quote) {
        out.prepend(QLatin1Char('"'));
        out.append(QLatin1Char('"'));
    }
    return out;
}

int totalRecords(QIODevice* device) {
    static const char* const kError = "totalRecords::error:%s\n";
    if (!device->isReadable())
        throwReadError(device, kError);
    int count = 0;
    bool inQuotes = false;
    char chunk[16384];
    for (;;) {
        const qint64 got = device->read(chunk, sizeof chunk);
        if (got <= 0) {
            if (!atDataEnd(device))
                throwReadError(device, kError);
            return count;
        }
        for (qint64 i = 0; i < got; ++i) {
            if (chunk[i] == '"') {
                inQuotes = !inQuotes;
            } else if (chunk[i] == '\n' && !inQuotes) {
                ++count;
            }
        }
    }
}

bool utf8CSVRowSkip(QStringList& row, QIODevice* device, int minCells) {
    for (;;) {
        if (!utf8CSVRow(row, device, true))
            return false;
        if (row.size() >= minCells)
            return true;
        row.clear();
    }
}

QHash<QString, int> toHeader(QStringList header) {
    QHash<QString, int> index;
    for (int i = 0; i < header.size(); ++i)
        index[header[i]] = i;
    return index;
}

QString getCell(const QHash<QString, int>& header, const QStringList& row, QString name,
                QString defaultValue) {
    QHash<QString, int>::const_iterator it = header.constFind(name);
    if (it == header.constEnd() || it.value() < 0 || it.value() >= row.size())
        return defaultValue;
    return row[it.value()];
}

}  // namespace csvhelper
