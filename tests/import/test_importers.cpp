// The CSV column table and both importers, from files on disk to contacts.
#include "import/csvimport.h"
#include "import/vcardimport.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class Files {
public:
    QString write(const QByteArray& data, const QString& name = "f") {
        const QString path = dir.filePath(name + QString::number(++n));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return path;
    }
    QTemporaryDir dir;
    int n = 0;
};

QList<pim::_Contact> readAll(AbsImport& imp, const QString& path, int* total = nullptr) {
    imp.initialize(path);
    if (total)
        *total = imp.total();
    QList<pim::_Contact> out;
    while (imp.hasNext())
        out.append(imp.nextContact());
    imp.uninitialize();
    return out;
}

QList<pim::_Contact> csv(const QByteArray& data, int* total = nullptr) {
    Files files;
    CSVImport imp;
    return readAll(imp, files.write(data), total);
}

pim::_Contact card(const QByteArray& lines) {
    QList<QList<QVCardParser::_Property> > cards =
        QVCardParser::parse("BEGIN:VCARD\r\n" + lines + "END:VCARD\r\n");
    EXPECT_EQ(cards.size(), 1);
    return VCardImport::cardToContact(cards.value(0));
}

QString f(const pim::_Contact& c, int type, const char* key, int index = 0) {
    return c.entities.value(type).value(index).text(key);
}

QVariant v(const pim::_Contact& c, int type, const char* key, int index = 0) {
    return c.entities.value(type).value(index).fields.value(key);
}

}  // namespace

TEST(CsvColumns, TableAndTraps) {
    // The program's own names, Outlook in eight languages, Google, Thunderbird, Yahoo and
    // LinkedIn.
    EXPECT_EQ(CSVImport::knownHeaderCount(), 712);
    struct {
        QString header;
        int type, subtype;
        QString subtypeKey, dataKey;
    } cases[] = {
        {"First Name", 1, 0, "", "data2"},
        {"first name", 0, 0, "", ""},
        {"First Name ", 0, 0, "", ""},
        {"", 0, 0, "", ""},
        {"Tel:", 0, 0, "", ""},
        {"Tel:Mobile", 3, 2, "data2", "data1"},
        {"Tel:mobile", 0, 0, "", ""},
        {"Tel:TTY TDD", 3, 16, "data2", "data1"},
        {"Email:Other", 4, 0, "data2", "data1"},
        {"Addr:Home:Street", 12, 1, "data2", "data4"},
        {"Addr:Other:Country", 12, 0, "data2", "data10"},
        {"Addr:Work:Postcode", 12, 2, "data2", "data9"},
        {"Home Street 3", 12, 1, "data2", "data4"},
        {"Home Phone", 3, 1, "data2", "data1"},
        {"Home Phone 2", 3, 1, "data2", "data1"},
        {"Business Phone 2", 3, 3, "data2", "data1"},
        {"Business Phone", 3, 3, "data2", "data1"},
        {"E-mail Address", 4, 1, "data2", "data1"},
        {"E-mail 2 Address", 4, 2, "data2", "data1"},
        {"E-mail 3 Address", 4, 0, "data2", "data1"},
        {"Title", 1, 0, "", "data5"},
        {"Job Title", 10, 0, "data2", "data4"},
        {"Birthday", 6, 3, "data2", "data1"},
        {"Date:Birthday", 6, 3, "data2", "data1"},
        {"Anniversary", 6, 1, "data2", "data1"},
        {"Category", 7, 0, "", "data2"},
        {"Categories", 7, 0, "", "data2"},
        {"Referred By", 11, 11, "data2", "data1"},
        {"Rel:Referred by", 11, 11, "data2", "data1"},
        {"Rel:Referred By", 0, 0, "", ""},
        {"IM:Skype", 8, 4, "data5", "data1"},
        {"IM:Google Talk", 8, 6, "data5", "data1"},
        {"Url:Home page", 13, 1, "data2", "data1"},
        {"Nickname", 5, 1, "", "data1"},
        {"E-mail 1 - Value", 4, 1, "data2", "data1"},
        {"Name Suffix", 1, 0, "", "data6"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header.toStdString());
        for (int twice = 0; twice < 2; ++twice) {
            CSVImport::_ColInfo info = CSVImport::colInfo(c.header);
            EXPECT_EQ(info.type, c.type);
            EXPECT_EQ(info.subtype, c.subtype);
            EXPECT_EQ(info.subtypeKey, c.subtypeKey);
            EXPECT_EQ(info.dataKey, c.dataKey);
        }
    }
    EXPECT_EQ(CSVImport::knownHeaderCount(), 712);
}

TEST(CsvImport, RowsAndTotals) {
    int total = -1;
    EXPECT_TRUE(csv("", &total).isEmpty());
    EXPECT_EQ(total, 0);
    EXPECT_TRUE(csv("First Name\n", &total).isEmpty());
    EXPECT_EQ(total, 0);
    EXPECT_TRUE(csv("First Name", &total).isEmpty());
    EXPECT_EQ(total, 0);
    // The last line is a row even without a final line feed.
    QList<pim::_Contact> c = csv("First Name\nAnn\nBob", &total);
    EXPECT_EQ(total, 2);
    ASSERT_EQ(c.size(), 2);
    EXPECT_EQ(c[1].fullName, "Bob");
    c = csv("First Name\r\nAnn\r\nBob\r\n", &total);
    EXPECT_EQ(total, 2);
    // A blank line is a contact without entities.
    c = csv("First Name\nAnn\n\r\nBob\n", &total);
    EXPECT_EQ(total, 3);
    EXPECT_TRUE(c[1].entities.isEmpty());
    EXPECT_TRUE(c[1].fullName.isEmpty());
    // A missing file.
    CSVImport imp;
    EXPECT_THROW(imp.initialize("/nonexistent/x.csv"), std::runtime_error);
}

TEST(CsvImport, CellsToEntities) {
    QList<pim::_Contact> c = csv(
        "\xEF\xBB\xBF"
        "First Name,Last Name,Given Name,Unknown,Tel:Mobile,Home Phone,Home Phone 2,Tel:Company "
        "Main,"
        "Tel:Home,Home Street,Home Street 2,Home City,Home Postal Code,IM:Skype,Job Title,Company,"
        "Notes,E-mail Address,E-mail 1 - Value\n"
        "John,Doe,J.,ignored,+1,111,222,10,333,1 Main St,Apt 2,Springfield,12345,jd,Boss,ACME,"
        "\"multi\nline\",j@x.org,j@x.org\n"
        "  ,,,,,,,,,,,,,,,,,,\n"
        "Short\n");
    ASSERT_EQ(c.size(), 3);
    const pim::_Contact& a = c[0];
    EXPECT_EQ(a.fullName, "John J. Doe");
    EXPECT_EQ(f(a, 1, "data2"), "John J.");
    EXPECT_EQ(f(a, 1, "data1"), "John J. Doe");
    // Phones in key text order: 3-1 (home), 3-1#2 (home phone 2), 3-1#3 (Tel:Home), 3-10, 3-2.
    QStringList phones;
    for (const pim::Entity& e : a.entities.value(3))
        phones << e.text("data1") + "/" + e.text("data2");
    EXPECT_EQ(phones, (QStringList{"111/1", "222/1", "333/1", "10/10", "+1/2"}));
    // Street 2 is a line of its own, as the vCard side keeps a street's lines.
    EXPECT_EQ(f(a, 12, "data4"), "1 Main St\nApt 2");
    EXPECT_EQ(f(a, 12, "data1"), "1 Main St\nApt 2\nSpringfield, 12345");
    EXPECT_EQ(v(a, 12, "data2").toInt(), 1);
    EXPECT_EQ(f(a, 8, "data1"), "jd");
    EXPECT_EQ(v(a, 8, "data2").toInt(), 1);
    EXPECT_EQ(v(a, 8, "data5").toInt(), 4);
    EXPECT_EQ(f(a, 10, "data1"), "ACME");
    EXPECT_EQ(f(a, 10, "data4"), "Boss");
    EXPECT_FALSE(a.entities.value(10).first().fields.contains("data2"));  // subtype 0: none
    EXPECT_EQ(f(a, 9, "data1"), "multi\nline");
    EXPECT_EQ(a.entities.value(4).size(), 1);  // the same address twice is kept once
    // Blanks are not empty, but a name of blanks is no name.
    EXPECT_EQ(f(c[1], 1, "data2"), "  ");
    EXPECT_TRUE(c[1].fullName.isEmpty());
    EXPECT_EQ(c[2].fullName, "Short");
}

TEST(VCardImport, PropertyMapping) {
    pim::_Contact c = card(
        "N:Doe;John;Q;Dr.;Jr.;extra\r\nPHOTO;ENCODING=b:QUJD\r\nTEL;TYPE=home,voice:1\r\n"
        "TEL;TYPE=cell:2\r\nTEL;TYPE=work,fax:3\r\nTEL;TYPE=fax:4\r\nTEL:5\r\nTEL;TYPE=HOME,VOICE:"
        "6\r\n"
        "EMAIL;TYPE=work:a@b\r\nNICKNAME:JJ\r\nBDAY:1980-01-31\r\nX-EVENT;TYPE=anniversary:2000-06-"
        "01\r\n"
        "X-EVENT;TYPE=other:2001-01-01\r\nCATEGORIES:Friends,Work\r\nX-IM;TYPE=skype:sk\r\n"
        "X-IM;TYPE=other:ot\r\nNOTE:a\\nb\r\nTITLE:Chief\r\nORG:ACME\\;Inc;Sales;ignored\r\n"
        "X-REL;TYPE=spouse:Jane\r\nX-REL:Nobody\r\nADR;TYPE=home:;;1 Main St;Town;ST;12345;Land\r\n"
        "ADR;TYPE=work:;\r\nURL;TYPE=blog:http://b\r\nURL:http://x\r\nVERSION:3.0\r\nUID:1\r\n");
    // N is family; given; middle; prefix; suffix.
    EXPECT_EQ(c.fullName, "Dr. John Q Doe Jr.");
    EXPECT_EQ(f(c, 1, "data1"), c.fullName);
    EXPECT_EQ(f(c, 1, "data3"), "Doe");
    EXPECT_EQ(v(c, 2, "data15").toByteArray(), QByteArray("ABC"));
    QList<int> phoneTypes;
    for (const pim::Entity& e : c.entities.value(3))
        phoneTypes << e.fields.value("data2").toInt();
    // Type words in any case.
    EXPECT_EQ(phoneTypes, (QList<int>{1, 2, 4, 13, 2, 1}));
    EXPECT_EQ(v(c, 4, "data2").toInt(), 2);
    EXPECT_EQ(f(c, 5, "data1"), "JJ");
    ASSERT_EQ(c.entities.value(6).size(), 3);
    EXPECT_EQ(v(c, 6, "data1").toDateTime(), QDateTime(QDate(1980, 1, 31), QTime(0, 0)));
    EXPECT_EQ(v(c, 6, "data2").toInt(), 3);
    EXPECT_EQ(v(c, 6, "data2", 1).toInt(), 1);
    EXPECT_EQ(v(c, 6, "data2", 2).toInt(), 0);
    EXPECT_EQ(f(c, 7, "data2"), "Friends,Work");
    EXPECT_EQ(v(c, 8, "data5").toInt(), 4);
    EXPECT_EQ(v(c, 8, "data2", 1).toInt(), 1);
    EXPECT_FALSE(c.entities.value(8).value(1).fields.contains("data5"));
    EXPECT_EQ(f(c, 9, "data1"), "a\nb");
    ASSERT_EQ(c.entities.value(10).size(), 1);
    EXPECT_EQ(f(c, 10, "data1"), "ACME;Inc");
    EXPECT_EQ(f(c, 10, "data5"), "Sales");
    EXPECT_EQ(f(c, 10, "data4"), "Chief");
    EXPECT_EQ(v(c, 11, "data2").toInt(), 14);
    EXPECT_EQ(v(c, 11, "data2", 1).toInt(), 0);
    EXPECT_EQ(f(c, 12, "data1"), "1 Main St\nTown, ST 12345\nLand");
    EXPECT_EQ(v(c, 12, "data2").toInt(), 1);
    EXPECT_EQ(c.entities.value(12).size(), 1);  // an ADR of empty parts is no address
    EXPECT_EQ(v(c, 13, "data2").toInt(), 2);
    EXPECT_EQ(v(c, 13, "data2", 1).toInt(), 0);
}

TEST(VCardImport, RepeatsAndNames) {
    pim::_Contact c = card("N:A;B;C\r\nN:X\r\nPHOTO;ENCODING=b:QQ==\r\nPHOTO;ENCODING=b:Qg==\r\n");
    EXPECT_EQ(f(c, 1, "data3"), "X");
    EXPECT_EQ(c.fullName, "B C X");
    EXPECT_EQ(v(c, 2, "data15").toByteArray(), QByteArray("B"));
    c = card("N:Doe;John;;\r\n");
    EXPECT_EQ(c.fullName, "John Doe");
    EXPECT_FALSE(c.entities.value(1).first().fields.contains("data6"));
    // Names of properties are case-insensitive and a group prefix does not hide them.
    c = card("n:Doe;John\r\nitem1.TEL:1\r\ntel:2\r\nItem2.Email:e@x\r\n");
    EXPECT_EQ(c.fullName, "John Doe");
    EXPECT_EQ(c.entities.value(3).size(), 2);
    EXPECT_EQ(c.entities.value(4).size(), 1);
    // No usable N: the formatted name, else the company.
    c = card("FN: Jane Roe \r\nVERSION:3.0\r\n");
    EXPECT_EQ(c.fullName, "Jane Roe");
    EXPECT_EQ(f(c, 1, "data1"), "Jane Roe");
    c = card("N:;;;;\r\nORG:ACME;Sales\r\n");
    EXPECT_EQ(c.fullName, "ACME");
    c = card("VERSION:3.0\r\n");
    EXPECT_TRUE(c.fullName.isEmpty());
    EXPECT_TRUE(c.entities.isEmpty());
    // Dates of vCard 4.0 and unreadable ones.
    c = card("BDAY:19800131\r\nBDAY:31.01.1980\r\n");
    EXPECT_EQ(v(c, 6, "data1").toDateTime(), QDateTime(QDate(1980, 1, 31), QTime(0, 0)));
    EXPECT_FALSE(v(c, 6, "data1", 1).toDateTime().isValid());
    // A data: URI photo is decoded; a link is no picture.
    c = card("PHOTO:data:image/png;base64,QUJD\r\n");
    EXPECT_EQ(v(c, 2, "data15").toByteArray(), QByteArray("ABC"));
    c = card("PHOTO;VALUE=uri:https://x/y.jpg\r\n");
    EXPECT_FALSE(c.entities.contains(2));
}

TEST(VCardImport, FilesOfOtherPrograms) {
    Files files;
    const QByteArray data =
        // vCard 2.1 with quoted-printable, CHARSET and LF line ends.
        "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=\n"
        "=BCrgen;;;\nTEL;HOME;VOICE:+49 30 1234\nNOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:"
        "Gr=C3=BC=C3=9Fe aus =\nK=C3=B6ln\nEND:VCARD\n"
        // vCard 3.0 with TYPE lists, groups and a folded photo.
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;John;;;\r\nFN:John Doe\r\n"
        "item1.TEL;type=CELL;type=VOICE:+1 555 0100\r\nitem1.X-ABLabel:mobile\r\n"
        "item2.ADR;type=HOME:;;1 Main St;Town;;12345;USA\r\n"
        "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4A\r\n AQSkZJRg==\r\nEND:VCARD\r\n"
        // A malformed line does not cost the cards after it.
        "BEGIN:VCARD\r\nN:Bad;Line\r\nTEL;X=1\r\nEND:VCARD\r\n"
        // vCard 4.0.
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Zo\xC3\xAB\r\nN:Z;Zo\xC3\xAB;;;\r\nBDAY:19800131\r\n"
        "END:VCARD\r\n";
    VCardImport imp;
    int total = 0;
    QList<pim::_Contact> c = readAll(imp, files.write(data), &total);
    EXPECT_EQ(total, 4);
    EXPECT_EQ(imp.skippedLines(), 1);
    ASSERT_EQ(c.size(), 4);
    EXPECT_EQ(c[0].fullName, QString::fromUtf8("Jürgen Müller"));
    EXPECT_EQ(f(c[0], 9, "data1"), QString::fromUtf8("Grüße aus Köln"));
    EXPECT_EQ(c[1].fullName, "John Doe");
    EXPECT_EQ(f(c[1], 3, "data1"), "+1 555 0100");
    EXPECT_EQ(f(c[1], 12, "data4"), "1 Main St");
    EXPECT_EQ(v(c[1], 2, "data15").toByteArray(), QByteArray::fromBase64("/9j/4AAQSkZJRg=="));
    EXPECT_EQ(c[2].fullName, "Line Bad");
    EXPECT_FALSE(c[2].entities.contains(3));
    EXPECT_EQ(c[3].fullName, QString::fromUtf8("Zoë Z"));
    EXPECT_TRUE(v(c[3], 6, "data1").toDateTime().isValid());

    VCardImport missing;
    try {
        missing.initialize(files.dir.filePath("absent.vcf"));
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        QFile probe(files.dir.filePath("absent.vcf"));
        probe.open(QIODevice::ReadOnly);
        EXPECT_EQ(QString::fromUtf8(e.what()), probe.errorString());
    }
}

// What other programs write, line by line: name order, type words, escapes, addresses, dates.
TEST(VCardImport, AsOtherProgramsWriteIt) {
    // Files this program wrote before (given name first) keep their names; others do not.
    pim::_Contact c =
        card("VERSION:3.0\r\nFN;CHARSET=UTF-8:John Doe\r\nN;CHARSET=UTF-8:John;Doe;;;\r\n");
    EXPECT_EQ(f(c, 1, "data2"), "John");
    EXPECT_EQ(f(c, 1, "data3"), "Doe");
    c = card("VERSION:3.0\r\nFN:Doe John\r\nN:Doe;John;;;\r\n");
    EXPECT_EQ(f(c, 1, "data3"), "Doe");

    c = card(
        "VERSION:2.1\r\nN:X\r\nTEL;WORK;FAX:1\r\nTEL;PREF;WORK;VOICE:2\r\nEMAIL;WORK:w@x\r\n"
        "ADR;WORK:;;S;;;;\r\n");
    EXPECT_EQ(v(c, 3, "data2").toInt(), 4);
    EXPECT_EQ(v(c, 3, "data2", 1).toInt(), 3);
    EXPECT_EQ(v(c, 4, "data2").toInt(), 2);
    EXPECT_EQ(v(c, 12, "data2").toInt(), 2);
    c = card(
        "VERSION:3.0\r\nN:X\r\nTEL;type=WORK;type=voice;type=pref:1\r\nTEL;TYPE=\"home,fax\":2\r\n"
        "EMAIL;TYPE=INTERNET,HOME:h@x\r\nADR;LABEL=\"1 Main: Town;X\";TYPE=home:;;1 Main;Town\r\n"
        "URL;type=WORK:http\\://x.org/a\\,b\r\n");
    EXPECT_EQ(v(c, 3, "data2").toInt(), 3);
    EXPECT_EQ(v(c, 3, "data2", 1).toInt(), 5);
    EXPECT_EQ(v(c, 4, "data2").toInt(), 1);
    EXPECT_EQ(v(c, 12, "data2").toInt(), 1);
    EXPECT_EQ(f(c, 12, "data4"), "1 Main");
    EXPECT_EQ(f(c, 12, "data7"), "Town");
    EXPECT_EQ(f(c, 13, "data1"), "http://x.org/a,b");
    EXPECT_EQ(v(c, 13, "data2").toInt(), 5);

    // Escapes of 3.0 and 4.0; 2.1 has none but "\;" in compound values.
    c = card(
        "VERSION:3.0\r\nN:X\r\nNOTE:a\\nb\\Nc\\,d\\;e\\\\f\r\nNOTE:second\r\nORG:A\\, "
        "Inc.;R\\;D\r\n");
    EXPECT_EQ(f(c, 9, "data1"), "a\nb\nc,d;e\\f\nsecond");
    EXPECT_EQ(f(c, 10, "data1"), "A, Inc.");
    EXPECT_EQ(f(c, 10, "data5"), "R;D");
    c = card("VERSION:2.1\r\nN:X\r\nNOTE:a\\nb\r\n");
    EXPECT_EQ(f(c, 9, "data1"), "a\\nb");

    // Post-office box and extended address go ahead of the street.
    c = card(
        "N:X\r\nADR:PO Box 7;Suite 2;1 Main St;Town;ST;12345;Land\r\n"
        "ADR:;Whole address in one;;;;;\r\n");
    EXPECT_EQ(f(c, 12, "data4"), "PO Box 7\nSuite 2\n1 Main St");
    EXPECT_EQ(f(c, 12, "data1"), "PO Box 7\nSuite 2\n1 Main St\nTown, ST 12345\nLand");
    EXPECT_EQ(f(c, 12, "data4", 1), "Whole address in one");

    // Dates: extended and basic, with a time or a zone, and without a year (year 1604).
    c = card(
        "N:X\r\nBDAY:1980-01-31T10:20:30Z\r\nBDAY:19800131T102030\r\nBDAY;VALUE=date:1980-01-31\r\n"
        "BDAY:--0203\r\nX-EVENT;TYPE=anniversary:--02-03\r\nBDAY:0/0/00\r\n");
    const QDateTime day(QDate(1980, 1, 31), QTime(10, 20, 30));
    EXPECT_EQ(v(c, 6, "data1").toDateTime(), day);
    EXPECT_EQ(v(c, 6, "data1", 1).toDateTime(), day);
    EXPECT_EQ(v(c, 6, "data1", 2).toDateTime(), QDateTime(QDate(1980, 1, 31), QTime(0, 0)));
    EXPECT_EQ(v(c, 6, "data1", 3).toDateTime(), QDateTime(QDate(1604, 2, 3), QTime(0, 0)));
    EXPECT_EQ(v(c, 6, "data1", 4).toDateTime(), QDateTime(QDate(1604, 2, 3), QTime(0, 0)));
    EXPECT_FALSE(v(c, 6, "data1", 5).toDateTime().isValid());

    // No name at all: named from the e-mail, else the number.
    EXPECT_EQ(card("EMAIL:only@x.org\r\nTEL:1\r\n").fullName, "only@x.org");
    EXPECT_EQ(card("TEL:+1 555\r\n").fullName, "+1 555");
}

// Whole files: byte-order marks, UTF-16, stray lines and things that are not vCards.
TEST(VCardImport, FileShapes) {
    Files files;
    const QString text = QString::fromUtf8(
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:M\xC3\xBCller;J\xC3\xBCrgen\r\nEND:VCARD\r\n");
    QTextCodec* utf16 = QTextCodec::codecForName("UTF-16LE");
    for (const QByteArray& bytes : {QByteArray("\xEF\xBB\xBF") + text.toUtf8(),
                                    QByteArray("\xFF\xFE") + utf16->fromUnicode(text)}) {
        VCardImport imp;
        const QList<pim::_Contact> c = readAll(imp, files.write(bytes));
        ASSERT_EQ(c.size(), 1);
        EXPECT_EQ(c[0].fullName, QString::fromUtf8("Jürgen Müller"));
    }
    // A line without ":" and a blank line touch neither neighbour; the dropped line is counted.
    // A quoted-printable soft break before an empty line (as Android writes) ends the value.
    VCardImport imp;
    QList<pim::_Contact> c = readAll(
        imp, files.write("BEGIN:VCARD\r\nVERSION:2.1\r\nN:A;B\r\nTEL;CELL\r\nTEL:1\r\n   \r\n"
                         "EMAIL:e@x\r\nNOTE;ENCODING=QUOTED-PRINTABLE:come=\r\n to=\r\n\r\n"
                         "TITLE:Boss\r\nEND:VCARD\r\n"));
    ASSERT_EQ(c.size(), 1);
    EXPECT_EQ(f(c[0], 3, "data1"), "1");
    EXPECT_EQ(f(c[0], 4, "data1"), "e@x");
    EXPECT_EQ(f(c[0], 9, "data1"), "come to");
    EXPECT_EQ(f(c[0], 10, "data4"), "Boss");
    EXPECT_EQ(imp.skippedLines(), 1);

    VCardImport wrong;
    try {
        wrong.initialize(files.write("Name;Phone\nAnn;1\n", "holiday"));
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains("holiday")) << e.what();
    }
}
