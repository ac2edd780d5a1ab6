// Columns known by what their names say, the header found below lines that are no header, and a
// file of a layout no table lists imported into a real contact database.
#include "import/csvimport.h"
#include "import/importrun.h"

#include "store/localdb.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

CSVImport::_ColInfo column(const QString& header) {
    return CSVImport::headerColumns(QStringList{header}).value(0);
}

TEST(CsvColumnWords, CommonWordsAndWhatTheyLeaveAlone) {
    struct {
        const char* header;
        int type, subtype;
        const char* dataKey;
    } cases[] = {
        // Names, in the spellings of hand-made lists.
        {"first name", 1, 0, "data2"},
        {"FIRST_NAME", 1, 0, "data2"},
        {"Surname", 1, 0, "data3"},
        {"Contact Name", 1, 0, "data2"},
        // E-mail and numbers with their kinds; a label that says Other is Other.
        {"Email Address 2", 4, 1, "data1"},
        {"Work E-mail", 4, 2, "data1"},
        {"other email", 4, 0, "data1"},
        {"Phone Number", 3, 2, "data1"},
        {"home tel.", 3, 1, "data1"},
        {"Work Phone #", 3, 3, "data1"},
        {"Other phone number", 3, 0, "data1"},
        {"Fax", 3, 13, "data1"},
        {"Work Fax", 3, 4, "data1"},
        // Addresses: the place, then the part.
        {"Street Address", 12, 1, "data4"},
        {"Business Address Line 2", 12, 2, "data4"},
        {"State/Province", 12, 1, "data8"},
        {"Zip Code", 12, 1, "data9"},
        {"Country/Region", 12, 1, "data10"},
        {"Company Address", 12, 2, "data4"},
        // Work, dates, notes, the web.
        {"Company Name", 10, 0, "data1"},
        {"Job title", 10, 0, "data4"},
        {"Date of Birth", 6, 3, "data1"},
        {"Website URL", 13, 1, "data1"},
        {"Personal Web Page", 13, 4, "data1"},
        {"home page", 13, 1, "data1"},
        // Words the reader does not know leave the column unknown rather than misread.
        {"Last Modified", 0, 0, ""},
        {"Emergency Contact Phone", 0, 0, ""},
        {"Contact ID", 0, 0, ""},
        {"Skype ID", 8, 4, "data1"},
        {"", 0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        const CSVImport::_ColInfo info = column(QString::fromUtf8(c.header));
        EXPECT_EQ(info.type, c.type);
        EXPECT_EQ(info.subtype, c.subtype);
        EXPECT_EQ(info.dataKey, QString(c.dataKey));
    }
    // A PO box is the first line of the street.
    EXPECT_EQ(column("P.O. Box").streetLine, CSVImport::_ColInfo::PO_BOX);
    // The table's exact names still win over the words ("Title" is Outlook's courtesy title).
    EXPECT_EQ(CSVImport::headerColumns({"Title", "Job Title"}).value(0).dataKey, "data5");
    EXPECT_EQ(CSVImport::headerColumns({"Title", "Company"}).value(0).dataKey, "data4");
}

class CsvFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    CSVImport importer;
    QList<pim::_Contact> import(const QByteArray& bytes) { return import(importer, bytes); }
    QList<pim::_Contact> import(CSVImport& importer, const QByteArray& bytes) {
        QFile f(dir.filePath("in.csv"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        importer.initialize(f.fileName());
        QList<pim::_Contact> out;
        while (importer.hasNext())
            out << importer.nextContact();
        return out;
    }
};

TEST_F(CsvFile, HeaderFoundBelowLinesThatAreNone) {
    // Semicolons and a title line ahead of the header, as a spreadsheet saves a sheet.
    QList<pim::_Contact> cs = import(
        "Address list 2024\r\n"
        ";;\r\n"
        "Name;Telephone;E-mail\r\n"
        "Ann Lee;+44 1;ann@example.com\r\n");
    ASSERT_EQ(cs.size(), 1);
    EXPECT_EQ(importer.skippedLines(), 1);
    EXPECT_EQ(cs[0].fullName, "Ann Lee");
    EXPECT_EQ(cs[0].entities.value(pim::ENTITY_PHONE).value(0).text("data1"), "+44 1");

    // A file of one column keeps its one-word header, and data that reads like column names
    // further down is no header.
    CSVImport single;
    cs = import(single, "Name\nAnn\nHome\n");
    ASSERT_EQ(cs.size(), 2);
    EXPECT_EQ(single.skippedLines(), 0);
    EXPECT_EQ(cs[1].fullName, "Home");
}

TEST_F(CsvFile, NoKnownColumnWithinReachIsRefused) {
    try {
        import("Destination,Nights\r\nRome,3\r\nParis,2\r\n");
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains("in.csv")) << e.what();
    }
}

struct Reporter : ImportReporter {
    QStringList succeeded, errors;
    bool cancelled() override { return false; }
    void progress(QString, int, QString) override {}
    void succeed(QString m) override { succeeded << m; }
    void error(QString m) override { errors << m; }
};

// A CSV file through the import run into a fresh contact database.
struct ImportedFile {
    QTemporaryDir dir;
    LocalDb db{dir.filePath("t.db"), QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)};
    Reporter r;

    explicit ImportedFile(const QByteArray& bytes) {
        db.create();
        QFile f(dir.filePath("in.csv"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        f.close();
        CSVImport importer;
        g_runImport(importer, f.fileName(), db, r);
    }
};

// A layout no table lists, below a title line, through the import run into a real database:
// every column is read by its words, and what the database gives back has the kinds the column
// names said; the title line and the columns no words explain are named in the closing text.
TEST(CsvUnlistedLayout, ImportsIntoTheDatabase) {
    ImportedFile in(
        "Contacts exported 2026-12-01\r\n"
        "Contact ID,First name,Last name,Email Address,Other Email,Phone Number,"
        "Mobile Phone Number,Other Phone,Company Name,Position,Street Address,Address Line 2,"
        "City,State/Region,Postal Code,Country/Region,Website URL,Date of Birth,Notes,"
        "Lead Status\r\n"
        "1001,Maria,Garcia,maria@example.com,mg@other.example,+1 555 0100,+1 555 0101,"
        "+1 555 0102,Garcia & Co,Owner,1 Main St,Unit 4,Springfield,IL,62701,United States,"
        "https://garcia.example,6/3/1975,\"Prefers calls\nafter 5pm\",Open\r\n");
    const Reporter& r = in.r;
    ASSERT_EQ(r.errors, QStringList{});
    ASSERT_EQ(r.succeeded.size(), 1);
    EXPECT_TRUE(r.succeeded[0].startsWith("IDS_SUC_IMPORT_1_CONTACTS_TO_DB"))
        << r.succeeded[0].toStdString();
    EXPECT_TRUE(r.succeeded[0].contains("Contact ID, Lead Status")) << r.succeeded[0].toStdString();

    const QList<pim::_Contact> stored = in.db.contacts();
    ASSERT_EQ(stored.size(), 1);
    const pim::_Contact& c = stored[0];
    EXPECT_EQ(c.fullName, "Maria Garcia");
    QStringList phones, emails;
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_PHONE))
        phones << e.text("data1") + "/" + e.text("data2");
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_EMAIL))
        emails << e.text("data1") + "/" + e.text("data2");
    phones.sort();
    emails.sort();
    EXPECT_EQ(phones, (QStringList{"+1 555 0100/2", "+1 555 0101/2", "+1 555 0102/0"}));
    EXPECT_EQ(emails, (QStringList{"maria@example.com/1", "mg@other.example/0"}));
    ASSERT_EQ(c.entities.value(pim::ENTITY_ADDR).size(), 1);
    const pim::Entity addr = c.entities.value(pim::ENTITY_ADDR)[0];
    EXPECT_EQ(addr.text("data4"), "1 Main St\nUnit 4");
    EXPECT_EQ(addr.text("data7"), "Springfield");
    EXPECT_EQ(addr.text("data10"), "United States");
    ASSERT_EQ(c.entities.value(pim::ENTITY_ORG).size(), 1);
    EXPECT_EQ(c.entities.value(pim::ENTITY_ORG)[0].text("data1"), "Garcia & Co");
    EXPECT_EQ(c.entities.value(pim::ENTITY_ORG)[0].text("data4"), "Owner");
    ASSERT_EQ(c.entities.value(pim::ENTITY_EVENT).size(), 1);
    EXPECT_EQ(c.entities.value(pim::ENTITY_EVENT)[0].text("data2"), "3");
    // "Position" is also a German Outlook name; one such name does not make the dates German.
    EXPECT_EQ(c.entities.value(pim::ENTITY_EVENT)[0].fields.value("data1").toDateTime().date(),
              QDate(1975, 6, 3));
    EXPECT_EQ(c.entities.value(pim::ENTITY_NOTES).value(0).text("data1"),
              "Prefers calls\nafter 5pm");
    EXPECT_EQ(c.entities.value(pim::ENTITY_URL).value(0).text("data1"), "https://garcia.example");
}

// Columns read by what they hold, each file through the import run into a real database: a
// place word alone ("Business", "Home", "Work", "Other") is that place's phone only when every
// cell of its column is a number, else named as not understood and stored nowhere; a column
// left out on purpose is named when it holds text (the photo link is not).
TEST(CsvColumnsByWhatTheyHold, StoredRowsAndClosingText) {
    struct {
        const char* file;
        QStringList stored;  // "name: number/kind ... email/kind ..." of each contact
        const char* unread;  // the closing text's list of columns, or null for none
    } cases[] = {
        {"csv-business-company.csv", {"John Doe: (555) 123-4567/2"}, "Business"},
        {"csv-place-numbers.csv",
         {"Al Poe: 555-0100/3", "Jane Roe:",
          "John Doe: (555) 123-4567/2 +1 (555) 123-4567 ext. 89/3 +44 20 7946 0958/1 "
          "555.987.6543 x12/0"},
         nullptr},
        // One cell that is no number decides for the whole column.
        {"csv-place-mixed.csv", {"Jane Roe:", "John Doe: 555-0199/2"}, "Home, Work"},
        {"csv-left-out-text.csv",
         {"Jane Roe: jane@example.com/1", "John Doe: john@example.com/1"},
         "Location, Hobby"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        QFile f(QStringLiteral(TW_IMPORT_DATA "/") + c.file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        ImportedFile in(f.readAll());
        const Reporter& r = in.r;
        ASSERT_EQ(r.errors, QStringList{});
        QStringList stored;
        for (const pim::_Contact& contact : in.db.contacts()) {
            QStringList values;
            for (int type : {pim::ENTITY_PHONE, pim::ENTITY_EMAIL, pim::ENTITY_ORG}) {
                for (const pim::Entity& e : contact.entities.value(type))
                    values << e.text("data1") + "/" + e.text("data2");
            }
            values.sort();
            stored << (QStringList{contact.fullName + ":"} + values).join(" ");
        }
        stored.sort();
        EXPECT_EQ(stored.join("\n").toStdString(), c.stored.join("\n").toStdString());
        const QString closing = r.succeeded.value(0);
        EXPECT_EQ(closing.contains("not understood"), c.unread != nullptr) << closing.toStdString();
        if (c.unread) {
            EXPECT_TRUE(
                closing.contains(QString("Columns not understood, left out: %1.").arg(c.unread)))
                << closing.toStdString();
        }
    }
}

}  // namespace
