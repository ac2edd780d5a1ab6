// The CSV row reader's states, cell quoting and the small helpers.
#include "import/csvhelper.h"

#include <QBuffer>
#include <QFile>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace {

struct Read {
    QList<QStringList> rows;
    QList<bool> results;
};

// Reads rows until the reader reports the end (mark test on the first call only).
Read readAll(const QByteArray& data) {
    QBuffer buf;
    buf.setData(data);
    buf.open(QIODevice::ReadOnly);
    Read r;
    bool first = true;
    for (;;) {
        QStringList row;
        bool more = csvhelper::utf8CSVRow(row, &buf, first);
        first = false;
        r.rows.append(row);
        r.results.append(more);
        if (!more)
            break;
    }
    return r;
}

QStringList firstRow(const QByteArray& data, bool markTest, bool* result = nullptr) {
    QBuffer buf;
    buf.setData(data);
    buf.open(QIODevice::ReadOnly);
    QStringList row;
    bool r = csvhelper::utf8CSVRow(row, &buf, markTest);
    if (result)
        *result = r;
    return row;
}

}  // namespace

TEST(CsvRow, CellMachine) {
    struct {
        QByteArray data;
        QStringList cells;
        bool result;
    } cases[] = {
        {"a,b\n", {"a", "b"}, true},
        {"a,b\r\n", {"a", "b"}, true},
        {"\n", {""}, true},
        {"a,\n", {"a", ""}, true},
        {",,\n", {"", "", ""}, true},
        {"\"a,b\",c\n", {"a,b", "c"}, true},
        {"\"a\"\"b\"\n", {"a\"b"}, true},
        {"\"\",x\n", {"", "x"}, true},
        // A quote inside an unquoted cell is text (csv-spectrum, spreadsheets).
        {"ab\"c,d\"e,f\n", {"ab\"c", "d\"e", "f"}, true},
        {"\"a\"b\"c\n", {"ab\"c"}, true},
        {"\"a\"b\"c\"\n", {"ab\"c\""}, true},
        {"\"a\nb\"\n", {"a\nb"}, true},
        {"\"a\r\nb\"\n", {"a\r\nb"}, true},
        {"a\rb\n", {"ab"}, true},
        {"x,y", {"x", "y"}, false},
        {"\"a,b", {"a,b"}, false},
        {QByteArray("a\0b,c\n", 6), {"a", "c"}, true},
        {QByteArray("\"a\0b\",c\n", 8), {"a", "c"}, true},
        {"\xC3\xA9t\xC3\xA9\n", {QString::fromUtf8("été")}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data.constData());
        bool result = !c.result;
        EXPECT_EQ(firstRow(c.data, false, &result), c.cells);
        EXPECT_EQ(result, c.result);
    }
}

TEST(CsvRow, MarkTestAndConsecutiveRows) {
    bool result = true;
    EXPECT_EQ(firstRow("", true, &result), QStringList());
    EXPECT_FALSE(result);
    EXPECT_EQ(firstRow("", false, &result), QStringList{""});
    EXPECT_EQ(firstRow("\xEF\xBB\xBFx,y\n", true), (QStringList{"x", "y"}));
    EXPECT_EQ(firstRow("\xEF\xBB\xBFx,y\n", false),
              (QStringList{QString::fromUtf8("\xEF\xBB\xBFx"), "y"}));

    Read r = readAll("\nx,y\n");
    ASSERT_EQ(r.rows.size(), 3);
    EXPECT_EQ(r.rows[0], QStringList{""});
    EXPECT_EQ(r.rows[1], (QStringList{"x", "y"}));
    EXPECT_EQ(r.rows[2], QStringList{""});
    EXPECT_EQ(r.results, (QList<bool>{true, true, false}));

    r = readAll("a\nx,y\n");
    EXPECT_EQ(r.rows[0], QStringList{"a"});
    EXPECT_EQ(r.rows[1], (QStringList{"x", "y"}));
}

TEST(CsvRow, AppendsToTheList) {
    QBuffer buf;
    buf.setData("a\nb,c\n");
    buf.open(QIODevice::ReadOnly);
    QStringList row{"keep"};
    EXPECT_TRUE(csvhelper::utf8CSVRow(row, &buf, false));
    EXPECT_EQ(row, (QStringList{"keep", "a"}));
}

// A device that claims more data but fails to read it after `good` bytes.
class FailingDevice : public QIODevice {
public:
    explicit FailingDevice(QByteArray good) : good(good) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return 1; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (pos >= good.size()) {
            setErrorString("disk on fire");
            return -1;
        }
        qint64 n = qMin<qint64>(maxSize, good.size() - pos);
        memcpy(data, good.constData() + pos, size_t(n));
        pos += int(n);
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray good;
    int pos = 0;
};

TEST(CsvRow, ReadErrorThrowsTheDeviceText) {
    FailingDevice dev("a,b\nc,");
    QStringList row;
    EXPECT_TRUE(csvhelper::utf8CSVRow(row, &dev, false));
    row.clear();
    try {
        csvhelper::utf8CSVRow(row, &dev, false);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "disk on fire");
    }
    EXPECT_EQ(row, QStringList{"c"});  // cells completed before the error stay
    FailingDevice dev2("x\n");
    EXPECT_THROW(csvhelper::totalRecords(&dev2), std::runtime_error);
}

TEST(CsvCell, FormatAndReadBack) {
    EXPECT_EQ(csvhelper::formatCell("a,b"), "\"a,b\"");
    EXPECT_EQ(csvhelper::formatCell("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csvhelper::formatCell("a\nb"), "\"a\nb\"");
    EXPECT_EQ(csvhelper::formatCell(" x "), " x ");
    EXPECT_EQ(csvhelper::formatCell(""), "");
    // A carriage return is quoted, or the reader would drop it.
    EXPECT_EQ(csvhelper::formatCell("a\rb"), "\"a\rb\"");

    const QStringList cells{"plain",       "a,b",      "q\"uote",
                            "multi\nline", "cr\ronly", "crlf\r\n",
                            " blanks ",    "",         QString::fromUtf8("Zoë 東京"),
                            "\"\""};
    QStringList line;
    for (const QString& c : cells)
        line << csvhelper::formatCell(c);
    QByteArray data = (line.join(",") + "\n").toUtf8();
    bool result = false;
    EXPECT_EQ(firstRow(data, true, &result), cells);
    EXPECT_TRUE(result);
}

TEST(CsvHelpers, CountSkipHeaderAndCell) {
    QBuffer buf;
    buf.setData("a\n\"b\nc\"\nd");
    buf.open(QIODevice::ReadOnly);
    EXPECT_EQ(csvhelper::totalRecords(&buf), 2);
    EXPECT_TRUE(buf.atEnd());
    QBuffer none;
    none.setData("abc");
    none.open(QIODevice::ReadOnly);
    EXPECT_EQ(csvhelper::totalRecords(&none), 0);

    QBuffer skip;
    skip.setData("a\nb,c\n");
    skip.open(QIODevice::ReadOnly);
    QStringList row;
    EXPECT_TRUE(csvhelper::utf8CSVRowSkip(row, &skip, 2));
    EXPECT_EQ(row, (QStringList{"b", "c"}));

    const QHash<QString, int> h = csvhelper::toHeader({"A", "B", "A"});
    EXPECT_EQ(h.value("A"), 2);
    EXPECT_EQ(h.value("B"), 1);
    EXPECT_EQ(csvhelper::getCell(h, {"x", "y", "z"}, "B", "d"), "y");
    EXPECT_EQ(csvhelper::getCell(h, {"x", "y", "z"}, "C", "d"), "d");
    EXPECT_EQ(csvhelper::getCell(h, {"x"}, "A", "d"), "d");
    EXPECT_EQ(csvhelper::getCell(h, {"x", "y", "z"}, "a", "d"), "d");
}

// The row count taken without cells agrees with the reader on where every row ends: quotes that
// open only at a cell's start, doubled quotes, CRs, zero bytes, a mark, a last line without a
// line feed, all three separators.
TEST(CsvRow, CountAgreesWithReader) {
    const char alphabet[] = {'a', ',', ';', '\t', '"', '"', '\n', '\r', '\0', '\xC3', '\xA9'};
    unsigned seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    for (int round = 0; round < 4000; ++round) {
        QByteArray data;
        if (round % 7 == 0)
            data += "\xEF\xBB\xBF";
        const int len = int(next() % 40);
        for (int k = 0; k < len; ++k)
            data += alphabet[next() % sizeof alphabet];
        for (char sep : {',', ';', '\t'}) {
            QBuffer buf;
            buf.setData(data);
            buf.open(QIODevice::ReadOnly);
            int rows = 0;
            qint64 lastStart = 0;
            for (bool first = true;; first = false) {
                QStringList row;
                if (!csvhelper::utf8CSVRow(row, &buf, first, sep))
                    break;
                ++rows;
                lastStart = buf.pos();
            }
            int counted = 0;
            const int got = csvhelper::countCSVRows(data, 0, sep, &counted);
            ASSERT_EQ(got, rows) << data.toHex().constData() << " sep " << int(sep);
            if (rows > 0) {
                ASSERT_EQ(counted, lastStart) << data.toHex().constData() << " sep " << int(sep);
            }
        }
    }
}
