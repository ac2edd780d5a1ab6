// Random bytes through the CSV row reader (with a comma, semicolon or tab as the separator, by
// the input's length), then every cell back through formatCell.
#include "import/csvhelper.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// The cell machine taken byte by byte, straight from its table: the fast reader must agree.
bool referenceRow(const QByteArray& data, int& pos, QStringList& row, char sep) {
    enum { Unquoted, Quoted, QuotePending, AfterQuotes } state = Unquoted;
    QByteArray cell;
    auto end = [&] {
        const int zero = cell.indexOf('\0');
        row.append(QString::fromUtf8(cell.constData(), zero < 0 ? cell.size() : zero));
        cell.clear();
        state = Unquoted;
    };
    while (pos < data.size()) {
        const char ch = data[pos++];
        switch (state) {
            case Unquoted:
            case AfterQuotes:
                // Quoting opens only at the start of a cell; elsewhere a quote is a byte.
                if (ch == '"' && state == Unquoted && cell.isEmpty()) {
                    state = Quoted;
                } else if (ch == sep) {
                    end();
                } else if (ch == '\n') {
                    end();
                    return true;
                } else if (ch != '\r') {
                    cell.append(ch);
                }
                break;
            case Quoted:
                if (ch == '"') {
                    state = QuotePending;
                } else {
                    cell.append(ch);
                }
                break;
            case QuotePending:
                if (ch == '"') {
                    cell.append('"');
                    state = Quoted;
                } else if (ch == sep) {
                    end();
                } else if (ch == '\n') {
                    end();
                    return true;
                } else if (ch == '\r') {
                    state = AfterQuotes;
                } else {
                    cell.append(ch);
                    state = AfterQuotes;
                }
                break;
        }
    }
    end();
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1 << 20))
        return 0;
    QBuffer buf;
    buf.setData(reinterpret_cast<const char*>(data), static_cast<int>(size));
    buf.open(QIODevice::ReadOnly);
    const QByteArray& bytes = buf.data();
    static const char kSeparators[] = {',', ';', '\t'};
    const char sep = kSeparators[size % 3];
    int refPos = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    bool first = true;
    int rows = 0;
    for (;;) {
        QStringList row;
        const qint64 before = buf.pos();
        const bool more = csvhelper::utf8CSVRow(row, &buf, first, sep);
        if (more && buf.pos() <= before)
            abort();  // a row always consumes its line feed
        QStringList expected;
        const bool refMore =
            (first && bytes.isEmpty()) ? false : referenceRow(bytes, refPos, expected, sep);
        first = false;
        if (refMore != more || expected != row || refPos != buf.pos())
            abort();
        for (const QString& cell : row)
            (void)csvhelper::formatCell(cell);
        if (!more)
            break;
        ++rows;
    }
    buf.seek(0);
    (void)csvhelper::totalRecords(&buf);
    (void)rows;
    return 0;
}
