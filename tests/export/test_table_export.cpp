// Table exports: column set and order, CSV and fixed-width bytes, CSV read back by the import.
#include "export/csvexport.h"
#include "import/csvimport.h"
#include "export_test_util.h"
#include "export/txtexport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace exporttest;

namespace {

QByteArray exportAll(AbsExport& exporter, const QList<pim::_Contact>& contacts) {
    QByteArray out = exporter.initialize(contacts);
    for (const pim::_Contact& c : contacts)
        out += exporter.ct2Bytes(c);
    return out + exporter.uninitialize();
}

}  // namespace

TEST(TableExport, ColumnsNamesAndOrder) {
    // Priority order, address parts grouped by part rather than by address.
    const QList<pim::_Contact> contacts = {
        contact("a", {{pim::ENTITY_NOTES, ent({{"data1", ""}})},
                      {pim::ENTITY_PHONE, ent({{"data1", "1"}, {"data2", "1"}})},
                      {pim::ENTITY_NAME, ent({{"data3", "L"}})},
                      {pim::ENTITY_ADDR, ent({{"data2", "1"}, {"data4", "S"}})}}),
        contact("b", {{pim::ENTITY_NAME, ent({{"data2", "F"}, {"data5", ""}})},
                      {pim::ENTITY_ADDR, ent({{"data2", "2"}, {"data10", "C"}})},
                      {pim::ENTITY_ORG, ent({{"data1", ""}})},
                      {pim::ENTITY_PHOTO, ent({{"data15", QByteArray("x")}})}})};
    CSVExport csv;
    EXPECT_EQ(
        csv.initialize(contacts),
        QByteArray("First Name,Last Name,Tel:Home,Addr:Work:Country,Addr:Home:Street,Notes\n"));

    // Type codes missing from a label table give the bare prefix; no code reads as "Other".
    EXPECT_EQ(AbsTextExport::telCol(ent({{"data2", "7"}})), "Tel:");
    EXPECT_EQ(AbsTextExport::telCol(ent({})), "Tel:Other");
    EXPECT_EQ(AbsTextExport::imCol(ent({{"data5", "4"}, {"data2", "1"}})), "IM:Skype");
    EXPECT_EQ(AbsTextExport::addrStreetCol(ent({{"data2", "3"}})), "Addr::Street");
    EXPECT_EQ(AbsTextExport::addrCityCol(ent({{"data2", "x"}})), "Addr:Other:City");

    // Empty nickname/note/group still make their column; photos make none.
    CSVExport csv2;
    EXPECT_EQ(csv2.initialize({contact("x", {{pim::ENTITY_NICKNAME, ent({})},
                                             {pim::ENTITY_GROUP, ent({})},
                                             {pim::ENTITY_PHOTO, ent({})}})}),
              QByteArray("Nickname,Category\n"));
    CSVExport empty;
    EXPECT_EQ(exportAll(empty, {}), QByteArray("\n"));
}

TEST(TableExport, CsvBytes) {
    // A later name part wins its cell, an empty one never clears an earlier one; a second
    // number gets a column of its own. A contact without a column gets an empty cell.
    const QList<pim::_Contact> contacts = {
        contact("a", {{pim::ENTITY_NAME, ent({{"data2", "Ann"}})},
                      {pim::ENTITY_NAME, ent({{"data2", ""}, {"data3", "Lee"}})},
                      {pim::ENTITY_PHONE, ent({{"data1", "1"}, {"data2", "2"}})},
                      {pim::ENTITY_PHONE, ent({{"data1", "2"}, {"data2", "2"}})},
                      {pim::ENTITY_NOTES, ent({{"data1", "say \"hi\", ok\nbye"}})}}),
        contact("b", {{pim::ENTITY_PHONE, ent({{"data1", "5"}, {"data2", "2"}})},
                      {pim::ENTITY_PHONE, ent({{"data1", ""}, {"data2", "2"}})}}),
        contact("c", {{pim::ENTITY_GROUP, ent({{"data2", "G"}})}})};
    CSVExport csv;
    EXPECT_EQ(exportAll(csv, contacts).toStdString(),
              "First Name,Last Name,Category,Tel:Mobile,Tel:Mobile 2,Notes\n"
              "Ann,Lee,,1,2,\"say \"\"hi\"\", ok\nbye\"\n"
              ",,,5,,\n"
              ",,G,,,\n");
}

TEST(TableExport, FixedWidthTextBytes) {
    const QString wide = QString::fromUtf8("\xe5\xbc\xa0\xe4\xb8\x89");  // two characters
    const QList<pim::_Contact> contacts = {contact(
        "a",
        {{pim::ENTITY_NAME, ent({{"data2", "a\r\nb"}})},
         {pim::ENTITY_EMAIL, ent({{"data1", "abcdefghijklmnopqrstuvwxyz1234"}, {"data2", "1"}})},
         {pim::ENTITY_EVENT, ent({{"data1", wide}, {"data2", "3"}})},
         {pim::ENTITY_ADDR, ent({{"data2", "1"}, {"data4", "S"}})},
         {pim::ENTITY_URL, ent({{"data1", "u"}, {"data2", "1"}})},
         {pim::ENTITY_NOTES, ent({{"data1", "n"}})}})};
    TxtExport txt;
    const QByteArray out = exportAll(txt, contacts);
    auto pad = [](const QString& s, int w) { return s + QString(qMax(0, w - s.size()), ' '); };
    const QString expected = pad("First Name", 25) + pad("Email:Home", 25) +
                             pad("Date:Birthday", 20) + pad("Addr:Home:Street", 50) +
                             pad("Url:Home page", 60) + pad("Notes", 100) + "\n" + pad("a  b", 25) +
                             "abcdefghijklmnopqrstuvwxyz1234" + pad(wide, 20) + pad("S", 50) +
                             pad("u", 60) + pad("n", 100) + "\n";
    EXPECT_EQ(out, expected.toUtf8());
    EXPECT_FALSE(out.contains('\r'));
    EXPECT_EQ(TxtExport::colWidth("Addr:Home:City"), 25);
    EXPECT_EQ(TxtExport::colWidth("Street"), 25);

    TxtExport none;
    EXPECT_EQ(exportAll(none, {contact("p", {{pim::ENTITY_PHOTO, ent({})}})}), QByteArray("\n\n"));
}

// Stored contacts exported to CSV come back through the CSV import with the same details.
TEST(TableExport, CsvRoundTripThroughDatabaseAndImport) {
    TempDb t;
    const QList<pim::_Contact> stored = t.storeAndReload(
        {everyType("Ann"),
         contact("Bo", {{pim::ENTITY_NAME, ent({{"data2", "Bo"}})},
                        {pim::ENTITY_NOTES, ent({{"data1", "cr\ronly \"q\""}})},
                        {pim::ENTITY_ADDR, ent({{"data2", "2"}, {"data7", "Paris, FR"}})}})});
    ASSERT_EQ(stored.size(), 2);
    CSVExport csv;
    const QString path = t.dir.filePath("out.csv");
    writeFile(path, exportAll(csv, stored));

    CSVImport import;
    import.initialize(path);
    ASSERT_EQ(import.total(), 2);
    ASSERT_TRUE(import.hasNext());
    const pim::_Contact ann = import.nextContact();
    using namespace pim;
    expectSameDetails(ann, stored.at(0),
                      {{ENTITY_NAME, "data2", 0},
                       {ENTITY_NAME, "data3", 0},
                       {ENTITY_NAME, "data5", 0},
                       {ENTITY_EMAIL, "data1", 0},
                       {ENTITY_NICKNAME, "data1", 0},
                       {ENTITY_GROUP, "data2", 0},
                       {ENTITY_IM, "data1", 0},
                       {ENTITY_IM, "data5", 0},
                       {ENTITY_NOTES, "data1", 0},
                       {ENTITY_ORG, "data1", 0},
                       {ENTITY_ORG, "data5", 0},
                       {ENTITY_REL, "data2", 0},
                       {ENTITY_ADDR, "data7", 0},
                       {ENTITY_URL, "data1", 0}});
    EXPECT_EQ(ann.entities.value(ENTITY_PHONE).size(), 2);
    const pim::_Contact bo = import.nextContact();
    expectSameDetails(
        bo, stored.at(1),
        {{ENTITY_ADDR, "data7", 0}, {ENTITY_ADDR, "data2", 0}, {ENTITY_NOTES, "data1", 0}});
    import.uninitialize();
}
