// CSV files as the address books people leave write them, one group of cases per producer. Each
// header is the producer's own (the column names and their order as its export writes them);
// the rows are made up.
#include "import/csvimport.h"
#include "import/csvrowreader.h"
#include "import/textencoding.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <gtest/gtest.h>

namespace {

class CsvProducers : public ::testing::Test {
protected:
    QTemporaryDir dir;
    CSVImport importer;
    int files = 0;

    QList<pim::_Contact> import(const QByteArray& bytes) { return import(importer, bytes); }
    QList<pim::_Contact> import(CSVImport& importer, const QByteArray& bytes) {
        QFile f(dir.filePath(QString("contacts%1.csv").arg(++files)));
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

QString text(const pim::_Contact& c, int type, const char* key, int index = 0) {
    return c.entities.value(type).value(index).text(key);
}

// "value/code[/custom label]" of every entity of a type, in the contact's order.
QStringList typed(const pim::_Contact& c, int type, const char* codeKey = "data2") {
    QStringList out;
    for (const pim::Entity& e : c.entities.value(type)) {
        QString s = e.text("data1") + "/" + e.text(codeKey);
        if (!e.text("data3").isEmpty())
            s += "/" + e.text("data3");
        out << s;
    }
    out.sort();
    return out;
}

QDate dateOf(const pim::_Contact& c, int code) {
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_EVENT)) {
        if (e.fields.value("data2").toInt() == code)
            return e.fields.value("data1").toDateTime().date();
    }
    return QDate();
}

// Google Contacts, "Export" as "Google CSV" (its layout since 2023): labels in columns of their
// own, several values of one label in one cell joined by " ::: ", the preferred one marked "* ".
TEST_F(CsvProducers, GoogleCurrentLayout) {
    const QList<pim::_Contact> cs = import(
        "First Name,Middle Name,Last Name,Phonetic First Name,Phonetic Middle Name,"
        "Phonetic Last Name,Name Prefix,Name Suffix,Nickname,File As,Organization Name,"
        "Organization Title,Organization Department,Birthday,Notes,Photo,Labels,"
        "E-mail 1 - Label,E-mail 1 - Value,E-mail 2 - Label,E-mail 2 - Value,"
        "Phone 1 - Label,Phone 1 - Value,Phone 2 - Label,Phone 2 - Value,"
        "Address 1 - Label,Address 1 - Formatted,Address 1 - Street,Address 1 - City,"
        "Address 1 - PO Box,Address 1 - Region,Address 1 - Postal Code,Address 1 - Country,"
        "Address 1 - Extended Address,Address 2 - Label,Address 2 - Formatted,"
        "Relation 1 - Label,Relation 1 - Value,Website 1 - Label,Website 1 - Value,"
        "Event 1 - Label,Event 1 - Value,IM 1 - Label,IM 1 - Service,IM 1 - Value\n"
        "Ada,,Lovelace,,,,Lady,,Ada,,Analytical Ltd,Countess,R&D,--12-10,\"first\nsecond\","
        "https://lh3.googleusercontent.com/x,* myContacts ::: Friends ::: Family,"
        "* Home,ada@example.org,Work,ada@work.example,"
        "Mobile,+44 7700 900001 ::: +44 7700 900002,Google Voice,+1 555 0100,"
        "Home,\"12 St James's Square\nLondon\",12 St James's Square,London,,,SW1Y 4JH,"
        "United Kingdom,,Work,\"Marylebone\nLondon\",Spouse,William King,Blog,"
        "https://ada.example,Anniversary,1835-07-08,Work,Skype,ada.l\n");
    ASSERT_EQ(cs.size(), 1);
    const pim::_Contact& c = cs[0];
    EXPECT_EQ(c.fullName, "Lady Ada Lovelace");
    EXPECT_EQ(typed(c, pim::ENTITY_PHONE), (QStringList{"+1 555 0100/0/Google Voice",
                                                        "+44 7700 900001/2", "+44 7700 900002/2"}));
    EXPECT_EQ(typed(c, pim::ENTITY_EMAIL),
              (QStringList{"ada@example.org/1", "ada@work.example/2"}));
    ASSERT_EQ(c.entities.value(pim::ENTITY_ADDR).size(), 2);
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data4"), "12 St James's Square");
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data9"), "SW1Y 4JH");
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data2"), "1");
    // An address given only formatted keeps its text rather than vanish.
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data4", 1), "Marylebone\nLondon");
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data2", 1), "2");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data1"), "Analytical Ltd");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data4"), "Countess");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data5"), "R&D");
    EXPECT_EQ(typed(c, pim::ENTITY_REL), (QStringList{"William King/14"}));
    EXPECT_EQ(typed(c, pim::ENTITY_URL), (QStringList{"https://ada.example/2"}));
    EXPECT_EQ(dateOf(c, 1), QDate(1835, 7, 8));
    EXPECT_EQ(dateOf(c, 3), QDate(1604, 12, 10));  // a birthday without a year
    EXPECT_EQ(text(c, pim::ENTITY_IM, "data1"), "ada.l");
    EXPECT_EQ(text(c, pim::ENTITY_IM, "data5"), "4");
    EXPECT_EQ(text(c, pim::ENTITY_IM, "data2"), "2");
    EXPECT_EQ(text(c, pim::ENTITY_NOTES, "data1"), "first\nsecond");
    QStringList groups;
    for (const pim::Entity& g : c.entities.value(pim::ENTITY_GROUP))
        groups << g.text("data2");
    EXPECT_EQ(groups, (QStringList{"Friends", "Family"}));
    // Photo is a link, the phonetic columns are empty: nothing was left unread.
    EXPECT_EQ(importer.unreadColumns(), QStringList{});
}

// Google's older export ("Google CSV" before 2023): "Type" where the new one says "Label".
TEST_F(CsvProducers, GoogleOlderLayout) {
    const QList<pim::_Contact> cs = import(
        "Name,Given Name,Additional Name,Family Name,Yomi Name,Given Name Yomi,"
        "Additional Name Yomi,Family Name Yomi,Name Prefix,Name Suffix,Initials,Nickname,"
        "Short Name,Maiden Name,Birthday,Gender,Location,Billing Information,Directory Server,"
        "Mileage,Occupation,Hobby,Sensitivity,Priority,Subject,Notes,Language,Photo,"
        "Group Membership,E-mail 1 - Type,E-mail 1 - Value,Phone 1 - Type,Phone 1 - Value,"
        "Phone 2 - Type,Phone 2 - Value,Address 1 - Type,Address 1 - Formatted,"
        "Address 1 - Street,Address 1 - City,Address 1 - PO Box,Address 1 - Region,"
        "Address 1 - Postal Code,Address 1 - Country,Address 1 - Extended Address,"
        "Organization 1 - Type,Organization 1 - Name,Organization 1 - Yomi Name,"
        "Organization 1 - Title,Organization 1 - Department,Organization 1 - Symbol,"
        "Organization 1 - Location,Organization 1 - Job Description,Website 1 - Type,"
        "Website 1 - Value\n"
        "Grace Hopper,Grace,,Hopper,,,,,,,,,,,1906-12-09,,,,,,,,,,,,,,* myContacts,* Work,"
        "grace@navy.example,Work,+1 202 555 0147,Other,+1 202 555 0148,Home,"
        "\"1 Navy Way, Arlington\",1 Navy Way,Arlington,,VA,22202,US,,,US Navy,,"
        "Rear Admiral,,,,,Profile,https://grace.example\n"
        "Only A Name,,,,,,,,,,,,,,,,,,,,,,,,,,,,* myContacts,,,,,,,,,,,,,,,,,,,,,,,,,,\n");
    ASSERT_EQ(cs.size(), 2);
    const pim::_Contact& c = cs[0];
    EXPECT_EQ(c.fullName, "Grace Hopper");
    // "Other" is its own kind, not Mobile.
    EXPECT_EQ(typed(c, pim::ENTITY_PHONE), (QStringList{"+1 202 555 0147/3", "+1 202 555 0148/0"}));
    EXPECT_EQ(typed(c, pim::ENTITY_EMAIL), (QStringList{"grace@navy.example/2"}));
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data7"), "Arlington");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data1"), "US Navy");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data4"), "Rear Admiral");
    EXPECT_EQ(typed(c, pim::ENTITY_URL), (QStringList{"https://grace.example/3"}));
    EXPECT_EQ(dateOf(c, 3), QDate(1906, 12, 9));
    // The "Name" column names a row that has no name parts.
    EXPECT_EQ(cs[1].fullName, "Only A Name");
}

// Thunderbird's "Export" of an address book as comma-separated text.
TEST_F(CsvProducers, Thunderbird) {
    const QList<pim::_Contact> cs = import(
        "First Name,Last Name,Display Name,Nickname,Primary Email,Secondary Email,Screen Name,"
        "Work Phone,Home Phone,Fax Number,Pager Number,Mobile Number,Home Address,"
        "Home Address 2,Home City,Home State,Home ZipCode,Home Country,Work Address,"
        "Work Address 2,Work City,Work State,Work ZipCode,Work Country,Job Title,Department,"
        "Organization,Web Page 1,Web Page 2,Birth Year,Birth Month,Birth Day,Custom 1,Custom 2,"
        "Custom 3,Custom 4,Notes\r\n"
        "Rory,Williams,Rory Williams,,rory@example.com,rory2@example.com,,555-3000,555-1000,"
        "555-4000,555-5000,555-2000,12 Leadworth Rd,Flat 1,Leadworth,Glos,GL1 1AA,UK,"
        "1 Hospital Way,,Leadworth,Glos,GL1 2BB,UK,Nurse,Ward 4,Leadworth Hospital,"
        "https://work.example,https://home.example,1985,2,28,,,,,Centurion\r\n"
        ",,Amy,,,,,,,,,,,,,,,,,,,,,,,,,,,,6,,,,,,\r\n");
    ASSERT_EQ(cs.size(), 2);
    const pim::_Contact& c = cs[0];
    EXPECT_EQ(c.fullName, "Rory Williams");
    EXPECT_EQ(typed(c, pim::ENTITY_EMAIL),
              (QStringList{"rory2@example.com/0", "rory@example.com/1"}));
    EXPECT_EQ(typed(c, pim::ENTITY_PHONE),
              (QStringList{"555-1000/1", "555-2000/2", "555-3000/3", "555-4000/13", "555-5000/6"}));
    ASSERT_EQ(c.entities.value(pim::ENTITY_ADDR).size(), 2);
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data4"), "12 Leadworth Rd\nFlat 1");
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data9"), "GL1 1AA");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data1"), "Leadworth Hospital");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data5"), "Ward 4");
    EXPECT_EQ(dateOf(c, 3), QDate(1985, 2, 28));
    EXPECT_EQ(c.entities.value(pim::ENTITY_URL).size(), 2);
    EXPECT_EQ(text(c, pim::ENTITY_NOTES, "data1"), "Centurion");
    // A display name alone names the row; a month without a day is no date.
    EXPECT_EQ(cs[1].fullName, "Amy");
    EXPECT_TRUE(cs[1].entities.value(pim::ENTITY_EVENT).isEmpty());
    EXPECT_EQ(importer.skippedDates(), 1);
}

// Outlook names its columns in the user's language; German Excel separates with semicolons and
// the file is in the Windows code page. Dates are d.M.yyyy there, "0.0.00" for none.
TEST_F(CsvProducers, OutlookGermanSemicolonsCodePage) {
    const QString rows = QString::fromUtf8(
        "Anrede;Vorname;Weitere Vornamen;Nachname;Suffix;Firma;Abteilung;Position;"
        "Straße geschäftlich;Ort geschäftlich;Postleitzahl geschäftlich;"
        "Land/Region geschäftlich;Telefon geschäftlich;Telefon privat;Mobiltelefon;"
        "Fax geschäftlich;E-Mail-Adresse;E-Mail-Typ;E-Mail: Angezeigter Name;Geburtstag;"
        "Jahrestag;Notizen;Priorität;Vertraulichkeit;Webseite\r\n"
        "Dr.;Jürgen;;Müller;;Bäckerei Müller;Verkauf;Inhaber;Hauptstraße 1;München;80331;"
        "Deutschland;+49 89 1;+49 89 2;+49 170 3;+49 89 4;j@example.de;SMTP;"
        "Jürgen Müller (j@example.de);31.1.1970;0.0.00;Grüße;Normal;Normal;"
        "https://baeckerei.example\r\n");
    const QList<pim::_Contact> cs =
        import(QTextCodec::codecForName("windows-1252")->fromUnicode(rows));
    ASSERT_EQ(cs.size(), 1);
    const pim::_Contact& c = cs[0];
    EXPECT_EQ(c.fullName, QString::fromUtf8("Dr. Jürgen Müller"));
    EXPECT_EQ(typed(c, pim::ENTITY_PHONE),
              (QStringList{"+49 170 3/2", "+49 89 1/3", "+49 89 2/1", "+49 89 4/4"}));
    EXPECT_EQ(typed(c, pim::ENTITY_EMAIL), (QStringList{"j@example.de/1"}));
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data4"), QString::fromUtf8("Hauptstraße 1"));
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data2"), "2");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data1"), QString::fromUtf8("Bäckerei Müller"));
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data4"), "Inhaber");
    EXPECT_EQ(dateOf(c, 3), QDate(1970, 1, 31));
    EXPECT_EQ(c.entities.value(pim::ENTITY_EVENT).size(), 1);
    EXPECT_EQ(text(c, pim::ENTITY_NOTES, "data1"), QString::fromUtf8("Grüße"));
    EXPECT_TRUE(importer.unreadColumns().isEmpty())
        << importer.unreadColumns().join(",").toStdString();
    EXPECT_EQ(importer.skippedDates(), 0);
}

// French Outlook writes "Titre" twice (courtesy title, then job title) and dates d/M/yyyy.
TEST_F(CsvProducers, OutlookFrenchAndDutchAndItalian) {
    QList<pim::_Contact> cs =
        import(QString::fromUtf8(
                   "Titre,Prénom,Deuxième prénom,Nom,Suffixe,Société,Service,Titre,Rue (bureau),"
                   "Ville (bureau),Code postal (bureau),Téléphone (bureau),Tél. mobile,"
                   "Adresse de messagerie,Anniversaire,Notes\r\n"
                   "M.,Jean,,Dupont,,Dupont SA,Ventes,Directeur,1 rue de la Paix,Paris,75002,"
                   "+33 1 1,+33 6 2,jean@example.fr,3/4/1960,Note\r\n")
                   .toUtf8());
    ASSERT_EQ(cs.size(), 1);
    EXPECT_EQ(cs[0].fullName, "M. Jean Dupont");
    EXPECT_EQ(text(cs[0], pim::ENTITY_ORG, "data4"), "Directeur");
    EXPECT_EQ(dateOf(cs[0], 3), QDate(1960, 4, 3));
    EXPECT_EQ(typed(cs[0], pim::ENTITY_PHONE), (QStringList{"+33 1 1/3", "+33 6 2/2"}));

    CSVImport dutch;
    cs = import(dutch,
                "Voornaam,Achternaam,Bedrijf,Mobiele telefoon,E-mailadres,"
                "\"Huisadres, straat\"\r\n"
                "Anna,de Vries,Vries BV,+31 6 1,anna@example.nl,Damrak 1\r\n");
    ASSERT_EQ(cs.size(), 1);
    const pim::_Contact nl = cs[0];
    EXPECT_EQ(text(nl, pim::ENTITY_ADDR, "data4"), "Damrak 1");
    EXPECT_EQ(nl.fullName, "Anna de Vries");
    EXPECT_EQ(typed(nl, pim::ENTITY_PHONE), (QStringList{"+31 6 1/2"}));
    EXPECT_EQ(text(nl, pim::ENTITY_ORG, "data1"), "Vries BV");

    CSVImport italian;
    cs = import(italian,
                QString::fromUtf8("Nome;Cognome;Società;Cellulare;Indirizzo posta elettronica;"
                                  "Compleanno\r\nMario;Rossi;Rossi Srl;+39 3;m@example.it;"
                                  "25/12/1980\r\n")
                    .toUtf8());
    ASSERT_EQ(cs.size(), 1);
    EXPECT_EQ(cs[0].fullName, "Mario Rossi");
    EXPECT_EQ(dateOf(cs[0], 3), QDate(1980, 12, 25));
}

// Japanese Outlook: Shift_JIS without a mark, family name column first.
TEST_F(CsvProducers, OutlookJapaneseShiftJis) {
    const QString rows = QString::fromUtf8(
        "姓,名,会社名,部署,役職,携帯電話,自宅電話,電子メール アドレス,番地 (自宅),"
        "市町村 (自宅),郵便番号 (自宅),誕生日,メモ\r\n"
        "山田,太郎,株式会社サンプル,営業部,部長,090-1234-5678,03-1234-5678,"
        "taro@example.jp,千代田1-1,千代田区,100-0001,1980/1/31,よろしくお願いします\r\n");
    const QByteArray sjis = QTextCodec::codecForName("Shift_JIS")->fromUnicode(rows);
    EXPECT_EQ(textencoding::detect(sjis), "Shift_JIS");
    const QList<pim::_Contact> cs = import(sjis);
    ASSERT_EQ(cs.size(), 1);
    const pim::_Contact& c = cs[0];
    EXPECT_EQ(text(c, pim::ENTITY_NAME, "data3"), QString::fromUtf8("山田"));
    EXPECT_EQ(text(c, pim::ENTITY_NAME, "data2"), QString::fromUtf8("太郎"));
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data1"), QString::fromUtf8("株式会社サンプル"));
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data7"), QString::fromUtf8("千代田区"));
    EXPECT_EQ(typed(c, pim::ENTITY_PHONE), (QStringList{"03-1234-5678/1", "090-1234-5678/2"}));
    EXPECT_EQ(dateOf(c, 3), QDate(1980, 1, 31));
    EXPECT_EQ(text(c, pim::ENTITY_NOTES, "data1"), QString::fromUtf8("よろしくお願いします"));
}

// A hand-made list, tab-separated as spreadsheets copy it; a column nobody knows is named in
// the closing text when it holds something.
TEST_F(CsvProducers, PlainListTabsAndUnreadColumns) {
    const QList<pim::_Contact> cs = import(
        "Name\tE-mail\tShoe size\tComment\r\n"
        "Ann Smith\tann@example.com\t38\t\r\n"
        "\t\t41\t\r\n");
    ASSERT_EQ(cs.size(), 2);
    EXPECT_EQ(cs[0].fullName, "Ann Smith");
    EXPECT_EQ(typed(cs[0], pim::ENTITY_EMAIL), (QStringList{"ann@example.com/1"}));
    EXPECT_TRUE(cs[1].fullName.isEmpty());
    EXPECT_EQ(importer.unreadColumns(), QStringList{"Shoe size"});
}

// Our own export writes a second value of one label into a numbered column of its own.
TEST_F(CsvProducers, OwnNumberedColumns) {
    const QList<pim::_Contact> cs = import(
        "First Name,Last Name,Tel:Mobile,Tel:Mobile 2,Tel:Mobile 3,Email:Work,Email:Work 2,"
        "Addr:Home:Street,Addr:Home:City,Addr:Home:Street 2,Addr:Home:City 2,Date:Anniversary,"
        "Date:Anniversary 2,Category,Category 2,IM:Skype,IM:Skype 2\n"
        "Ann,Lee,+1 1,+1 2,+1 3,a@w.example,b@w.example,1 Main St,Springfield,2 Elm St,"
        "Shelbyville,2001-05-06,circa 1800,Friends,Chess,ann.l,ann.lee\n");
    ASSERT_EQ(cs.size(), 1);
    const pim::_Contact& c = cs[0];
    EXPECT_EQ(typed(c, pim::ENTITY_PHONE), (QStringList{"+1 1/2", "+1 2/2", "+1 3/2"}));
    EXPECT_EQ(typed(c, pim::ENTITY_EMAIL), (QStringList{"a@w.example/2", "b@w.example/2"}));
    ASSERT_EQ(c.entities.value(pim::ENTITY_ADDR).size(), 2);
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data1", 0), "1 Main St\nSpringfield");
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data1", 1), "2 Elm St\nShelbyville");
    // A date that is no date is left out and counted, never stored empty.
    EXPECT_EQ(c.entities.value(pim::ENTITY_EVENT).size(), 1);
    EXPECT_EQ(importer.skippedDates(), 1);
    EXPECT_EQ(c.entities.value(pim::ENTITY_GROUP).size(), 2);
    EXPECT_EQ(typed(c, pim::ENTITY_IM, "data5"), (QStringList{"ann.l/4", "ann.lee/4"}));
}

// LinkedIn's Connections.csv as its data export writes it today: a byte-order mark, a "Notes:"
// paragraph and a blank line ahead of the header, CR LF, "Connected On" as "12 Mar 2024". The
// layout and notes as in the public fixtures of LinkedIn-reading tools (and LinkedIn's help on
// the export); the people are made up.
TEST_F(CsvProducers, LinkedInCurrentWithNotes) {
    const QList<pim::_Contact> cs = import(
        "\xEF\xBB\xBFNotes:\r\n"
        "\"When exporting your connection data, you may notice that some of the email addresses "
        "are missing. You will only see email addresses for connections who have allowed their "
        "connections to see or download their email address using this setting "
        "https://www.linkedin.com/psettings/privacy/email. You can learn more here "
        "https://www.linkedin.com/help/linkedin/answer/261\"\r\n"
        "\r\n"
        "First Name,Last Name,URL,Email Address,Company,Position,Connected On\r\n"
        "Priya,Sharma,https://www.linkedin.com/in/priya-sharma-1a2b3c,,\"Stripe, Inc.\","
        "Technical Recruiter,12 Mar 2024\r\n"
        "Neha,,https://www.linkedin.com/in/neha-k,neha@example.com,Razorpay,"
        "\"Senior Engineer \"\"Platform\"\"\",7-Feb-22\r\n");
    ASSERT_EQ(cs.size(), 2);
    EXPECT_EQ(importer.skippedLines(), 2);  // "Notes:" and its paragraph; the blank line is none
    const pim::_Contact& c = cs[0];
    EXPECT_EQ(c.fullName, "Priya Sharma");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data1"), "Stripe, Inc.");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data4"), "Technical Recruiter");
    EXPECT_EQ(typed(c, pim::ENTITY_URL),
              (QStringList{"https://www.linkedin.com/in/priya-sharma-1a2b3c/3"}));
    EXPECT_EQ(text(c, pim::ENTITY_EVENT, "data3"), "Connected On");
    EXPECT_EQ(dateOf(c, 0), QDate(2024, 3, 12));
    EXPECT_EQ(cs[1].fullName, "Neha");
    EXPECT_EQ(typed(cs[1], pim::ENTITY_EMAIL), (QStringList{"neha@example.com/1"}));
    EXPECT_EQ(text(cs[1], pim::ENTITY_ORG, "data4"), "Senior Engineer \"Platform\"");
    EXPECT_EQ(dateOf(cs[1], 0), QDate(2022, 2, 7));
    EXPECT_EQ(importer.unreadColumns(), QStringList{});
    EXPECT_EQ(importer.skippedDates(), 0);
}

// LinkedIn's layout of 2018 to 2021: no notes, no URL, and "Email Address" (the column every
// tool reading that export names).
TEST_F(CsvProducers, LinkedIn2018Layout) {
    const QList<pim::_Contact> cs = import(
        "First Name,Last Name,Email Address,Company,Position,Connected On\n"
        "Alice,Smith,alice@example.com,Acme Corp,CEO,15 Jan 2020\n"
        "Bob,Jones,,Other Inc,Analyst,03 Jan 2019\n");
    ASSERT_EQ(cs.size(), 2);
    EXPECT_EQ(importer.skippedLines(), 0);
    EXPECT_EQ(cs[0].fullName, "Alice Smith");
    EXPECT_EQ(typed(cs[0], pim::ENTITY_EMAIL), (QStringList{"alice@example.com/1"}));
    EXPECT_EQ(text(cs[0], pim::ENTITY_ORG, "data4"), "CEO");
    EXPECT_EQ(dateOf(cs[1], 0), QDate(2019, 1, 3));
}

// LinkedIn's older export in Outlook's columns (bbdb-csv-import, test/linkedin-test-data.csv):
// Street 2 and 3 are lines of their own, "Other Address PO Box" alone is an address, and
// "Other Phone" is Other. Header as in that file, trimmed to the columns the case needs.
TEST_F(CsvProducers, LinkedInOutlookLayout) {
    const QList<pim::_Contact> cs = import(
        "\"Title\",\"First Name\",\"Middle Name\",\"Last Name\",\"Suffix\",\"E-mail Address\","
        "\"E-mail 2 Address\",\"E-mail 3 Address\",\"Business Street\",\"Business Street 2\","
        "\"Business Street 3\",\"Business City\",\"Business State\",\"Business Postal Code\","
        "\"Business Country\",\"Other Street\",\"Other City\",\"Company\",\"Department\","
        "\"Job Title\",\"Business Phone\",\"Other Fax\",\"Other Phone\",\"Birthday\","
        "\"Notes\",\"Other Address PO Box\",\"Spouse\",\"Web Page\"\n"
        "\"Dr.\",\"Test\",\"M\",\"Last\",\"Jr.\",\"first@example.com\",\"second@example.com\","
        "\"third@example.com\",\"1234 Business St\",\"Suite 5\",\"Floor 2\",\"Seattle\",\"WA\","
        "\"98101\",\"USA\",\"\",\"\",\"Testcompany\",\"Testdepartment\",\"Tester\",\"555 0100\","
        "\"555 0101\",\"555 0102\",\"1/2/1970\",\"notes test\",\"PO Box 77\",\"Spouse Name\","
        "\"https://example.com\"\n"
        "\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"nameless@example.com\",\"\",\"\",\"\",\"\",\"\","
        "\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\n"
        "\"\",\"\",\"\",\"\",\"\",\"\",\"one@example.com\",\"three@example.com\",\"\",\"\","
        "\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\","
        "\"\"\n");
    ASSERT_EQ(cs.size(), 3);
    const pim::_Contact& c = cs[0];
    EXPECT_EQ(c.fullName, "Dr. Test M Last Jr.");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data4"), "Tester");  // "Title" beside "Job Title"
    EXPECT_EQ(typed(c, pim::ENTITY_PHONE),
              (QStringList{"555 0100/3", "555 0101/13", "555 0102/0"}));
    EXPECT_EQ(typed(c, pim::ENTITY_EMAIL),
              (QStringList{"first@example.com/1", "second@example.com/2", "third@example.com/0"}));
    ASSERT_EQ(c.entities.value(pim::ENTITY_ADDR).size(), 2);
    const pim::Entity* work = nullptr;
    const pim::Entity* other = nullptr;
    for (const pim::Entity& a : c.entities.value(pim::ENTITY_ADDR))
        (a.text("data2") == "2" ? work : other) = &a;
    ASSERT_TRUE(work && other);
    EXPECT_EQ(work->text("data4"), "1234 Business St\nSuite 5\nFloor 2");
    EXPECT_EQ(work->text("data1"), "1234 Business St\nSuite 5\nFloor 2\nSeattle, WA 98101\nUSA");
    EXPECT_EQ(other->text("data2"), "0");
    EXPECT_EQ(other->text("data4"), "PO Box 77");
    EXPECT_EQ(typed(c, pim::ENTITY_REL), (QStringList{"Spouse Name/14"}));
    EXPECT_EQ(dateOf(c, 3), QDate(1970, 1, 2));
    // A nameless row is known by its first e-mail in column order, whatever its kind.
    EXPECT_EQ(cs[1].fullName, "nameless@example.com");
    EXPECT_EQ(cs[2].fullName, "one@example.com");
}

// Yahoo's export (its columns as the address-book converters that write Yahoo CSV list them):
// phones by their place alone, "Title" a job title, "Primary" the kind of the preferred number.
TEST_F(CsvProducers, Yahoo) {
    const QList<pim::_Contact> cs = import(
        "\"First\",\"Middle\",\"Last\",\"Nickname\",\"Email\",\"Category\",\"Distribution Lists\","
        "\"Messenger ID\",\"Home\",\"Work\",\"Pager\",\"Fax\",\"Mobile\",\"Other\",\"Yahoo! "
        "Phone\","
        "\"Primary\",\"Alternate Email 1\",\"Alternate Email 2\",\"Personal Website\","
        "\"Business Website\",\"Title\",\"Company\",\"Work Address\",\"Work City\",\"Work State\","
        "\"Work ZIP\",\"Work Country\",\"Home Address\",\"Home City\",\"Home State\",\"Home ZIP\","
        "\"Home Country\",\"Birthday\",\"Anniversary\",\"Custom 1\",\"Custom 2\",\"Custom 3\","
        "\"Custom 4\",\"Comments\",\"Messenger ID1\",\"Skype ID\",\"ICQ ID\"\n"
        "\"Jane\",\"Q\",\"Public\",\"JQ\",\"jane@example.com\",\"Friends\",\"\",\"janeq\","
        "\"555-1000\",\"555-2000\",\"\",\"555-4000\",\"555-3000\",\"555-5000\",\"555-6000\","
        "\"mobile\",\"jq@alt.example\",\"\",\"https://jane.example\",\"\",\"Editor\",\"Daily "
        "Planet\","
        "\"1 Press St\",\"Metropolis\",\"NY\",\"10001\",\"USA\",\"2 Home "
        "Rd\",\"Smallville\",\"KS\","
        "\"66002\",\"USA\",\"4/5/1980\",\"\",\"\",\"\",\"\",\"\",\"Met at the fair\",\"\","
        "\"jane.skype\",\"\"\n"
        "\"Bob\",\"\",\"Yu\",\"\",\"bob@example.com\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\","
        "\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"Acme\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\","
        "\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\n");
    ASSERT_EQ(cs.size(), 2);
    const pim::_Contact& c = cs[0];
    EXPECT_EQ(c.fullName, "Jane Q Public");
    EXPECT_EQ(cs[1].fullName, "Bob Yu");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data1"), "Daily Planet");
    EXPECT_EQ(text(c, pim::ENTITY_ORG, "data4"), "Editor");
    EXPECT_EQ(text(cs[1], pim::ENTITY_ORG, "data1"), "Acme");
    EXPECT_EQ(typed(c, pim::ENTITY_PHONE),
              (QStringList{"555-1000/1", "555-2000/3", "555-3000/2", "555-4000/13", "555-5000/0",
                           "555-6000/0/Yahoo! Phone"}));
    EXPECT_EQ(typed(c, pim::ENTITY_EMAIL), (QStringList{"jane@example.com/1", "jq@alt.example/0"}));
    EXPECT_EQ(typed(c, pim::ENTITY_IM, "data5"), (QStringList{"jane.skype/4", "janeq/3"}));
    EXPECT_EQ(typed(c, pim::ENTITY_URL), (QStringList{"https://jane.example/4"}));
    ASSERT_EQ(c.entities.value(pim::ENTITY_ADDR).size(), 2);
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data1", 0), "2 Home Rd\nSmallville, KS 66002\nUSA");
    EXPECT_EQ(text(c, pim::ENTITY_ADDR, "data1", 1), "1 Press St\nMetropolis, NY 10001\nUSA");
    EXPECT_EQ(dateOf(c, 3), QDate(1980, 4, 5));
    EXPECT_EQ(text(c, pim::ENTITY_NOTES, "data1"), "Met at the fair");
    EXPECT_EQ(text(c, pim::ENTITY_NICKNAME, "data1"), "JQ");
    EXPECT_EQ(importer.unreadColumns(), QStringList{});
}

// Google's "Other" label is Other (0), never an empty kind, for e-mail addresses and numbers
// alike; a PO box and an extended address are lines of the street, as in a vCard.
TEST_F(CsvProducers, GoogleOtherLabelsAndStreetLines) {
    const QList<pim::_Contact> cs = import(
        "First Name,Last Name,E-mail 1 - Label,E-mail 1 - Value,Phone 1 - Label,Phone 1 - Value,"
        "Address 1 - Label,Address 1 - Street,Address 1 - City,Address 1 - PO Box,"
        "Address 1 - Extended Address\n"
        "Ann,Lee,Other,ann@other.example,Other,+1 555 0100,Work,work street,los angeles,"
        "po box 1234,neighborhood 1234\n");
    ASSERT_EQ(cs.size(), 1);
    EXPECT_EQ(typed(cs[0], pim::ENTITY_EMAIL), (QStringList{"ann@other.example/0"}));
    EXPECT_EQ(typed(cs[0], pim::ENTITY_PHONE), (QStringList{"+1 555 0100/0"}));
    EXPECT_EQ(text(cs[0], pim::ENTITY_ADDR, "data4"),
              "po box 1234\nneighborhood 1234\nwork street");
    EXPECT_EQ(text(cs[0], pim::ENTITY_ADDR, "data2"), "2");
}

TEST(CsvDates, ProducersOrders) {
    struct {
        const char* cell;
        bool dayFirst;
        csvrow::DateRead read;
        QDate date;
    } cases[] = {
        {"3/9/1970", false, csvrow::DATE, QDate(1970, 3, 9)},
        {"3/9/1970", true, csvrow::DATE, QDate(1970, 9, 3)},
        {"31/1/1970", false, csvrow::DATE, QDate(1970, 1, 31)},
        {"31.1.1970", false, csvrow::DATE, QDate(1970, 1, 31)},
        {"1980/1/31", false, csvrow::DATE, QDate(1980, 1, 31)},
        {"3/9/70 0:00:00", false, csvrow::DATE, QDate(1970, 3, 9)},
        {"1970-03-09", false, csvrow::DATE, QDate(1970, 3, 9)},
        {"--03-09", false, csvrow::DATE, QDate(1604, 3, 9)},
        {"0/0/00", false, csvrow::NO_DATE, QDate()},
        {"0.0.00", true, csvrow::NO_DATE, QDate()},
        {"", false, csvrow::NO_DATE, QDate()},
        {"circa 1800", false, csvrow::NOT_A_DATE, QDate()},
        {"19723101", false, csvrow::NOT_A_DATE, QDate()},
        {"12 Mar 2024", false, csvrow::DATE, QDate(2024, 3, 12)},
        {"7-Feb-22", true, csvrow::DATE, QDate(2022, 2, 7)},
        {"March 12, 2024", false, csvrow::DATE, QDate(2024, 3, 12)},
        {"12 Foo 2024", false, csvrow::NOT_A_DATE, QDate()},
        {"30 Feb 2024", false, csvrow::NOT_A_DATE, QDate()},
        {"31/31/1970", false, csvrow::NOT_A_DATE, QDate()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cell);
        QDateTime out;
        EXPECT_EQ(csvrow::readDate(c.cell, c.dayFirst, out), c.read);
        if (c.read == csvrow::DATE) {
            EXPECT_EQ(out.date(), c.date);
        }
    }
}

TEST(TextEncoding, MarksValidityAndDetector) {
    const QString text = QString::fromUtf8("Name,Notes\r\nJürgen Groß,Café au lait, très bon\r\n");
    EXPECT_EQ(textencoding::detect(text.toUtf8()), "UTF-8");
    EXPECT_EQ(textencoding::detect("\xEF\xBB\xBF" + text.toUtf8()), "UTF-8");
    QTextCodec* le = QTextCodec::codecForName("UTF-16LE");
    QTextCodec* be = QTextCodec::codecForName("UTF-16BE");
    // UTF-16 without a mark, as some phones write it.
    EXPECT_EQ(textencoding::detect(le->fromUnicode(text)), "UTF-16LE");
    EXPECT_EQ(textencoding::detect(be->fromUnicode(text)), "UTF-16BE");
    EXPECT_EQ(textencoding::toUtf8(le->fromUnicode(text)), text.toUtf8());
    EXPECT_EQ(textencoding::toUtf8("\xFF\xFE" + le->fromUnicode(text)), text.toUtf8());
    const QByteArray cp1252 = QTextCodec::codecForName("windows-1252")->fromUnicode(text);
    EXPECT_EQ(textencoding::toUtf8(cp1252), text.toUtf8());
    EXPECT_EQ(textencoding::toUtf8(QByteArray()), QByteArray());
}

}  // namespace
