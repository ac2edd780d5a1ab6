// CSV as other programs write it: csv-spectrum's cases through the row reader, and Outlook's
// current layout, its empty dates and the Windows code page through the importer.
#include "foreign_util.h"

#include "import/csvhelper.h"
#include "import/csvimport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextCodec>
#include <gtest/gtest.h>

namespace {

TEST(ForeignCsv, CsvSpectrumRowsAsExpected) {
    QDir dir(testDataDir() + "/csv/csv-spectrum/csvs");
    const QStringList files = dir.entryList({"*.csv"}, QDir::Files, QDir::Name);
    if (files.isEmpty())
        GTEST_SKIP() << "no shared test data";
    for (const QString& name : files) {
        QFile csv(dir.filePath(name));
        ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
        QFile json(testDataDir() + "/csv/csv-spectrum/json/" + QFileInfo(name).baseName() +
                   ".json");
        ASSERT_TRUE(json.open(QIODevice::ReadOnly)) << name.toStdString();
        const QJsonDocument doc = QJsonDocument::fromJson(json.readAll());
        // One case keeps its single row as an object rather than a list.
        const QJsonArray expected = doc.isArray() ? doc.array() : QJsonArray{doc.object()};
        QStringList header;
        csvhelper::utf8CSVRow(header, &csv, true);
        int row = 0;
        for (bool more = true; more;) {
            QStringList cells;
            more = csvhelper::utf8CSVRow(cells, &csv, false);
            if (!more && cells.size() == 1 && cells[0].isEmpty())
                break;  // the read after the final line feed
            ASSERT_LT(row, expected.size()) << name.toStdString();
            const QJsonObject obj = expected[row++].toObject();
            ASSERT_EQ(cells.size(), header.size()) << name.toStdString();
            for (int i = 0; i < header.size(); ++i) {
                // The suite's own expectation has another number than its file in this cell.
                if (name == "location_coordinates.csv" && header[i] == "Contact Phone Number")
                    continue;
                EXPECT_EQ(cells[i], obj.value(header[i]).toString()) << name.toStdString();
            }
        }
        EXPECT_EQ(row, expected.size()) << name.toStdString();
    }
}

QList<pim::_Contact> importCsv(const QString& path) {
    CSVImport importer;
    importer.initialize(path);
    QList<pim::_Contact> out;
    while (importer.hasNext())
        out << importer.nextContact();
    return out;
}

class CsvFiles : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
};

// Outlook's current export layout (CR LF, "Country/Region", M/d/yyyy dates, "0/0/00" for none).
const char* const kOutlookHeader =
    "First Name,Middle Name,Last Name,Title,Suffix,Nickname,E-mail Address,E-mail 2 Address,"
    "Home Phone,Business Phone,Mobile Phone,Business Fax,Job Title,Department,Company,"
    "Business Street,Business City,Business State,Business Postal Code,Business Country/Region,"
    "Home Street,Home City,Home State,Home Postal Code,Home Country/Region,Web Page,"
    "Personal Web Page,Birthday,Anniversary,Notes\r\n";

TEST_F(CsvFiles, OutlookCurrentLayout) {
    const QByteArray rows =
        QByteArray(kOutlookHeader) +
        "Jürgen,K.,Müller,Dr.,,Jü,j@example.de,jm@work.example,+49 30 1,+49 30 2,+49 170 3,"
        "+49 30 4,Tester,QA,Acme,Hauptstr. 1,Berlin,BE,10115,Germany,Weg 2,Potsdam,BB,14467,"
        "Germany,https://acme.example,https://jm.example,3/9/1970,0/0/00,\"two\r\nlines\"\r\n"
        ",,,,,,only@example.com,,,,,,,,,,,,,,,,,,,,,1970-03-09,,\r\n";
    const QList<pim::_Contact> cs = importCsv(write("outlook.csv", rows));
    ASSERT_EQ(cs.size(), 2);
    const ContactView v = ourView(cs[0]);
    EXPECT_EQ(cs[0].fullName, "Dr. Jürgen K. Müller");
    EXPECT_EQ(v.addresses.size(), 2);
    EXPECT_TRUE(v.addresses.contains("Hauptstr. 1|Berlin|BE|10115|Germany"))
        << v.addresses.join(";").toStdString();
    EXPECT_EQ(v.birthday, QDate(1970, 3, 9));
    // "0/0/00" is Outlook's "no date": no anniversary at all.
    EXPECT_EQ(cs[0].entities.value(pim::ENTITY_EVENT).size(), 1);
    EXPECT_EQ(v.note, "two\r\nlines");
    EXPECT_EQ(v.urls.size(), 2);
    // A row with only an e-mail is named from it and imported; its ISO birthday is a date.
    EXPECT_EQ(cs[1].fullName, "only@example.com");
    EXPECT_EQ(ourView(cs[1]).birthday, QDate(1970, 3, 9));
}

TEST_F(CsvFiles, WindowsCodePageAndUtf16) {
    const QString text = QString::fromUtf8("First Name,Last Name,Notes\r\nJürgen,Groß,Café €5\r\n");
    QTextCodec* cp1252 = QTextCodec::codecForName("Windows-1252");
    QTextCodec* utf16 = QTextCodec::codecForName("UTF-16LE");
    const QByteArray le = QByteArray("\xFF\xFE", 2) + utf16->fromUnicode(text);
    for (const QByteArray& bytes : {cp1252->fromUnicode(text), le}) {
        const QList<pim::_Contact> cs = importCsv(write("enc.csv", bytes));
        ASSERT_EQ(cs.size(), 1);
        EXPECT_EQ(cs[0].fullName, QString::fromUtf8("Jürgen Groß"));
        EXPECT_EQ(ourView(cs[0]).note, QString::fromUtf8("Café €5"));
    }
}

TEST_F(CsvFiles, NotAContactsFileIsAnErrorNamingIt) {
    const QString path = write("holiday.csv", "Destination,Nights\r\nRome,3\r\n");
    CSVImport importer;
    try {
        importer.initialize(path);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains("holiday.csv")) << e.what();
    }
}

}  // namespace
