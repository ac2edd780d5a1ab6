// Table exports keep every value: a contact's second value under one label gets a numbered
// column of its own in CSV and a line of its own in text.
#include "export/csvexport.h"
#include "import/csvhelper.h"
#include "import/csvimport.h"
#include "export_test_util.h"
#include "export/txtexport.h"
#include "export/vcardexport.h"
#include "import/vcardimport.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace exporttest;

namespace {

QByteArray exportAll(AbsExport& exporter, const QList<pim::_Contact>& contacts) {
    QByteArray out = exporter.initialize(contacts);
    for (const pim::_Contact& c : contacts)
        out += exporter.ct2Bytes(c);
    return out + exporter.uninitialize();
}

pim::Entity phone(const char* number, const char* type) {
    return ent({{"data1", number}, {"data2", type}});
}

QList<QStringList> csvRows(const QByteArray& bytes) {
    QBuffer buf;
    buf.setData(bytes);
    buf.open(QIODevice::ReadOnly);
    QList<QStringList> rows;
    bool more = true;
    while (more && !buf.atEnd()) {
        QStringList row;
        more = csvhelper::utf8CSVRow(row, &buf, rows.isEmpty());
        rows << row;
    }
    return rows;
}

// "name|value" for every value of the columns whose names start with `prefix`.
QStringList csvValues(const QByteArray& bytes, const QString& prefix) {
    const QList<QStringList> rows = csvRows(bytes);
    QStringList out;
    for (int r = 1; r < rows.size(); ++r) {
        for (int i = 0; i < rows[0].size() && i < rows[r].size(); ++i) {
            if (rows[0][i].startsWith(prefix) && !rows[r][i].isEmpty())
                out << rows[r][0] + "|" + rows[r][i];
        }
    }
    out.sort();
    return out;
}

}  // namespace

TEST(EveryValue, CsvNumbersTheSecondValueOfALabel) {
    const QList<pim::_Contact> contacts = {
        contact("a",
                {{pim::ENTITY_NAME, ent({{"data2", "Ann"}})},
                 {pim::ENTITY_PHONE, phone("1", "2")},
                 {pim::ENTITY_PHONE, phone("2", "3")},
                 {pim::ENTITY_PHONE, phone("3", "2")},
                 {pim::ENTITY_PHONE, phone("", "2")},
                 {pim::ENTITY_EMAIL, ent({{"data1", "x@a"}, {"data2", "1"}})},
                 {pim::ENTITY_EMAIL, ent({{"data1", "y@a"}, {"data2", "1"}})},
                 // Two home addresses: each keeps its parts together under its number.
                 {pim::ENTITY_ADDR, ent({{"data2", "1"}, {"data7", "Paris"}})},
                 {pim::ENTITY_ADDR, ent({{"data2", "1"}})},
                 {pim::ENTITY_ADDR, ent({{"data2", "1"}, {"data4", "Elm 1"}, {"data7", "Rome"}})},
                 {pim::ENTITY_NOTES, ent({{"data1", "n1"}})},
                 {pim::ENTITY_NOTES, ent({{"data1", "n2"}})}}),
        contact("b", {{pim::ENTITY_NAME, ent({{"data2", "Bo"}})},
                      {pim::ENTITY_PHONE, phone("9", "2")}})};
    CSVExport csv;
    EXPECT_EQ(exportAll(csv, contacts).toStdString(),
              "First Name,Tel:Mobile,Tel:Mobile 2,Tel:Mobile 3,Tel:Work,Email:Home,Email:Home 2,"
              "Addr:Home:City,Addr:Home:City 2,Addr:Home:Street 2,Notes,Notes 2\n"
              "Ann,1,3,,2,x@a,y@a,Paris,Rome,Elm 1,n1,n2\n"
              "Bo,9,,,,,,,,,,\n");

    // A tenth value follows the ninth; numbered names sort and size as their first one.
    pim::_Contact many = contact("m", {});
    for (int i = 1; i <= 11; ++i)
        many.entities[pim::ENTITY_PHONE] << phone(QByteArray::number(i).constData(), "1");
    CSVExport csv2;
    const QString header = QString::fromUtf8(csv2.initialize({many})).trimmed();
    EXPECT_EQ(header.split(',').mid(8), (QStringList{"Tel:Home 9", "Tel:Home 10", "Tel:Home 11"}));
    EXPECT_EQ(AbsTextExport::colPriority("Addr:Work:Street 12"), 404);
    EXPECT_EQ(AbsTextExport::colPriority("Notes 2"), 800);
    EXPECT_EQ(AbsTextExport::baseCol("Tel:Mobile 02"), "Tel:Mobile 02");
    EXPECT_EQ(AbsTextExport::baseCol("Tel:Mobile 1"), "Tel:Mobile 1");
    EXPECT_EQ(TxtExport::colWidth("Addr:Home:Street 2"), 50);
}

TEST(EveryValue, TextPutsSecondValuesOnALineOfTheirOwn) {
    const QList<pim::_Contact> contacts = {
        contact("a", {{pim::ENTITY_NAME, ent({{"data2", "Ann"}})},
                      {pim::ENTITY_PHONE, phone("1", "2")},
                      {pim::ENTITY_PHONE, phone("2", "2")},
                      {pim::ENTITY_PHONE, phone("3", "2")},
                      {pim::ENTITY_NOTES, ent({{"data1", "n"}})}}),
        contact("b", {{pim::ENTITY_NAME, ent({{"data2", "Bo"}})}})};
    TxtExport txt;
    auto pad = [](const QString& s, int w) { return s + QString(qMax(0, w - s.size()), ' '); };
    const QString blank25(25, ' ');
    EXPECT_EQ(QString::fromUtf8(exportAll(txt, contacts)),
              pad("First Name", 25) + pad("Tel:Mobile", 25) + pad("Notes", 100) + "\n" +
                  pad("Ann", 25) + pad("1", 25) + pad("n", 100) + "\n" + blank25 + pad("2", 25) +
                  pad("", 100) + "\n" + blank25 + pad("3", 25) + pad("", 100) + "\n" +
                  pad("Bo", 25) + blank25 + pad("", 100) + "\n");
}

// Stored contacts with repeated labels: the CSV export holds every number and address the
// vCard export holds, as our own vCard import reads that back.
TEST(EveryValue, CsvHoldsEveryNumberTheVCardHolds) {
    static const char* const types[] = {"1", "2", "3", "2", "2", "0"};
    QRandomGenerator rng(7);
    QList<pim::_Contact> source;
    for (int i = 0; i < 2000; ++i) {
        const QString name = QString("P%1").arg(i, 4, 10, QLatin1Char('0'));
        pim::_Contact c = contact(name, {{pim::ENTITY_NAME, ent({{"data2", name}})}});
        const int phones = 1 + int(rng.bounded(4));
        for (int p = 0; p < phones; ++p) {
            c.entities[pim::ENTITY_PHONE] << ent({{"data1", QString("+1 555 %1 %2").arg(i).arg(p)},
                                                  {"data2", types[rng.bounded(6)]}});
        }
        for (int e = 0; e < int(rng.bounded(3)); ++e) {
            c.entities[pim::ENTITY_EMAIL]
                << ent({{"data1", QString("p%1.%2@example.com").arg(i).arg(e)}, {"data2", "1"}});
        }
        source << c;
    }
    TempDb t;
    const QList<pim::_Contact> stored = t.storeAndReload(source);
    ASSERT_EQ(stored.size(), 2000);

    VCardExport vcf;
    const QString vcfPath = t.dir.filePath("all.vcf");
    writeFile(vcfPath, exportAll(vcf, stored));
    VCardImport back;
    back.initialize(vcfPath);
    QStringList vcfPhones, vcfEmails;
    while (back.hasNext()) {
        const pim::_Contact c = back.nextContact();
        for (const pim::Entity& e : c.entities.value(pim::ENTITY_PHONE))
            vcfPhones << c.fullName + "|" + e.text("data1");
        for (const pim::Entity& e : c.entities.value(pim::ENTITY_EMAIL))
            vcfEmails << c.fullName + "|" + e.text("data1");
    }
    back.uninitialize();
    vcfPhones.sort();
    vcfEmails.sort();
    ASSERT_GT(vcfPhones.size(), 4000);

    CSVExport csv;
    const QByteArray csvBytes = exportAll(csv, stored);
    EXPECT_EQ(csvValues(csvBytes, "Tel:"), vcfPhones);
    EXPECT_EQ(csvValues(csvBytes, "Email:"), vcfEmails);

    // Read back by our CSV import, a contact with one value per label keeps its details.
    const QString csvPath = t.dir.filePath("all.csv");
    writeFile(csvPath, csvBytes);
    CSVImport import;
    import.initialize(csvPath);
    int checked = 0;
    for (const pim::_Contact& c : stored) {
        ASSERT_TRUE(import.hasNext());
        const pim::_Contact in = import.nextContact();
        QSet<QString> labels;
        for (const pim::Entity& e : c.entities.value(pim::ENTITY_PHONE))
            labels << e.text("data2");
        if (labels.size() != c.entities.value(pim::ENTITY_PHONE).size() ||
            c.entities.value(pim::ENTITY_EMAIL).size() > 1) {
            continue;
        }
        ++checked;
        QStringList want, got;
        for (const pim::Entity& e : c.entities.value(pim::ENTITY_PHONE))
            want << e.text("data1");
        for (const pim::Entity& e : in.entities.value(pim::ENTITY_PHONE))
            got << e.text("data1");
        want.sort();
        got.sort();
        EXPECT_EQ(got, want) << c.fullName.toStdString();
    }
    import.uninitialize();
    EXPECT_GT(checked, 200);
}
