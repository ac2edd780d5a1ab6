// vCards as today's address books write them, one group of cases per producer: small cards in
// each producer's own layout (its property names, parameters, grouping and escapes, as its
// exports and the public test files of vCard libraries show them), the values made up.
#include "kcontacts_view.h"

#include "import/cardsource.h"
#include "import/vcardcharset.h"
#include "import/vcardimport.h"

#include <KContacts/VCardConverter>

#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <gtest/gtest.h>

namespace {

struct Imported {
    QList<pim::_Contact> contacts;
    int skippedDates = 0;
    int skippedLines = 0;
};

Imported importBytes(const QByteArray& bytes) {
    QTemporaryDir dir;
    QFile f(dir.filePath("cards.vcf"));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    VCardImport importer;
    importer.initialize(f.fileName());
    Imported out;
    while (importer.hasNext())
        out.contacts << importer.nextContact();
    out.skippedDates = importer.skippedDates();
    out.skippedLines = importer.skippedLines();
    return out;
}

pim::_Contact one(const QByteArray& card, int* skippedDates = nullptr) {
    const Imported i = importBytes(card);
    EXPECT_EQ(i.contacts.size(), 1);
    if (skippedDates)
        *skippedDates = i.skippedDates;
    return i.contacts.value(0);
}

// "value/code[/custom label]" of each entity of a type, sorted.
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

QStringList dates(const pim::_Contact& c) {
    QStringList out;
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_EVENT)) {
        QString s = e.fields.value("data1").toDateTime().date().toString(Qt::ISODate) + "/" +
                    e.text("data2");
        if (!e.text("data3").isEmpty())
            s += "/" + e.text("data3");
        out << s;
    }
    out.sort();
    return out;
}

// The fields both readers know, compared with KContacts reading the same bytes.
QStringList againstKContacts(const QByteArray& bytes) {
    const KContacts::Addressee::List theirs = KContacts::VCardConverter().parseVCards(bytes);
    const Imported ours = importBytes(bytes);
    if (theirs.size() != ours.contacts.size())
        return {QString("cards: %1 | %2").arg(ours.contacts.size()).arg(theirs.size())};
    QStringList out;
    for (int i = 0; i < theirs.size(); ++i)
        out << differences(ourView(ours.contacts[i]), kcontactsView(theirs[i]));
    return out;
}

// Apple Contacts (macOS, iCloud): grouped lines labelled by "itemN.X-ABLabel", its own markers
// ("_$!<Mobile>!$_") and X-AB properties.
TEST(VCardProducers, AppleGroupedLabelsAndXAbProperties) {
    int skipped = -1;
    const pim::_Contact c =
        one("BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Apple Inc.//macOS 13.4//EN\r\n"
            "N:Appleseed;Johnny;;;\r\nFN:Johnny Appleseed\r\nORG:Orchard Inc.;\r\n"
            "item1.TEL;type=CELL;type=VOICE;type=pref:+1 408 555 0101\r\n"
            "item1.X-ABLabel:_$!<Mobile>!$_\r\n"
            "item2.TEL:+1 408 555 0102\r\nitem2.X-ABLabel:Boat\r\n"
            "TEL;type=OTHER;type=VOICE:+1 408 555 0103\r\n"
            "TEL;type=HOME;type=FAX:+1 408 555 0104\r\n"
            "item3.EMAIL;type=INTERNET:j@school.example\r\nitem3.X-ABLabel:_$!<School>!$_\r\n"
            "item4.EMAIL;type=INTERNET:j@other.example\r\nitem4.X-ABLabel:_$!<Other>!$_\r\n"
            "item5.ADR;type=HOME;type=pref:;;1 Infinite Loop;Cupertino;CA;95014;United States\r\n"
            "item5.X-ABADR:us\r\n"
            "item6.X-ABDATE;type=pref:2004-05-06\r\nitem6.X-ABLabel:_$!<Anniversary>!$_\r\n"
            "item7.X-ABDATE:2010-01-02\r\nitem7.X-ABLabel:Adopted\r\n"
            "item8.X-ABRELATEDNAMES;type=pref:Jane Appleseed\r\n"
            "item8.X-ABLabel:_$!<Spouse>!$_\r\n"
            "item9.X-ABRELATEDNAMES:Sam\r\nitem9.X-ABLabel:Coach\r\n"
            "IMPP;X-SERVICE-TYPE=Skype;type=HOME;type=pref:skype:johnny.a\r\n"
            "IMPP;X-SERVICE-TYPE=Jabber;type=WORK:xmpp:johnny@jabber.example\r\n"
            "item10.IMPP;X-SERVICE-TYPE=Signal:x-apple:+14085550101\r\n"
            "X-SOCIALPROFILE;type=twitter;x-user=johnnyapple:http://twitter.com/johnnyapple\r\n"
            "item11.URL;type=pref:https://orchard.example\r\nitem11.X-ABLabel:_$!<HomePage>!$_\r\n"
            "BDAY;X-APPLE-OMIT-YEAR=1604:1604-03-15\r\n"
            "END:VCARD\r\n",
            &skipped);
    EXPECT_EQ(c.fullName, "Johnny Appleseed");
    // Custom labels stay as words; "other" is Other, not Mobile.
    EXPECT_EQ(typed(c, pim::ENTITY_PHONE),
              (QStringList{"+1 408 555 0101/2", "+1 408 555 0102/0/Boat", "+1 408 555 0103/0",
                           "+1 408 555 0104/5"}));
    EXPECT_EQ(typed(c, pim::ENTITY_EMAIL),
              (QStringList{"j@other.example/0", "j@school.example/0/School"}));
    EXPECT_EQ(dates(c), (QStringList{"1604-03-15/3", "2004-05-06/1", "2010-01-02/0/Adopted"}));
    EXPECT_EQ(typed(c, pim::ENTITY_REL), (QStringList{"Jane Appleseed/14", "Sam/0/Coach"}));
    EXPECT_EQ(typed(c, pim::ENTITY_IM, "data5"),
              (QStringList{"+14085550101/0", "johnny.a/4", "johnny@jabber.example/8"}));
    EXPECT_EQ(typed(c, pim::ENTITY_IM),
              (QStringList{"+14085550101/0", "johnny.a/1", "johnny@jabber.example/2"}));
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_IM)) {
        if (e.text("data1") == "+14085550101") {
            EXPECT_EQ(e.text("data6"), "Signal");
        }
    }
    EXPECT_EQ(typed(c, pim::ENTITY_URL), (QStringList{"http://twitter.com/johnnyapple/0/Twitter",
                                                      "https://orchard.example/1"}));
    EXPECT_EQ(c.entities.value(pim::ENTITY_ADDR).value(0).text("data7"), "Cupertino");
    EXPECT_EQ(skipped, 0);
}

// Outlook's vCard 2.1: bare type words, empty parameters ("ADR;HOME;PREF;:", "EMAIL;TYPE=:"),
// quoted-printable text in the Windows code page. Read as KContacts reads it.
TEST(VCardProducers, OutlookVCard21OddParameters) {
    const QByteArray card =
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;LANGUAGE=de:M=FCller;J=FCrgen\r\n"
        "N;CHARSET=Windows-1252;ENCODING=QUOTED-PRINTABLE:M=FCller;J=FCrgen\r\n"
        "FN:J\xFCrgen M\xFCller\r\nORG:B\xE4"
        "ckerei M\xFCller;Verkauf\r\nTITLE:Inhaber\r\n"
        "TEL;WORK;VOICE:+49 89 1\r\nTEL;HOME;VOICE:+49 89 2\r\nTEL;CELL;VOICE:+49 170 3\r\n"
        "ADR;WORK;PREF;:;;Hauptstra\xDF"
        "e 1;M\xFCnchen;;80331;Deutschland\r\n"
        "LABEL;WORK;PREF;ENCODING=QUOTED-PRINTABLE:Hauptstra=DFe 1=0D=0AM=FCnchen\r\n"
        "EMAIL;PREF;INTERNET:j@example.de\r\nEMAIL;TYPE=:jm@example.de\r\n"
        "BDAY:19700131\r\nREV:20240101T120000Z\r\nEND:VCARD\r\n";
    // KContacts reads the raw Windows bytes of ADR and ORG as UTF-8 (U+FFFD); we read them in
    // the set found for the file's values. Every other field agrees.
    const QStringList differ = againstKContacts(card);
    EXPECT_EQ(differ.size(), 2) << differ.join("\n").toStdString();
    for (const QString& d : differ) {
        EXPECT_TRUE(d.startsWith("address: [Hauptstra\u00DFe 1|M\u00FCnchen|") ||
                    d.startsWith("org: [B\u00E4ckerei M\u00FCller]"))
            << d.toStdString();
        EXPECT_TRUE(d.section(" | ", 1).contains(QChar(0xFFFD))) << d.toStdString();
    }
    const pim::_Contact c = one(card);
    EXPECT_EQ(c.entities.value(pim::ENTITY_ADDR).size(), 1);
    EXPECT_EQ(c.entities.value(pim::ENTITY_EMAIL).size(), 2);
    EXPECT_EQ(typed(c, pim::ENTITY_PHONE),
              (QStringList{"+49 170 3/2", "+49 89 1/3", "+49 89 2/1"}));
}

// Nextcloud (and khard) write a photo as a data: URI whose comma is escaped as in text, an
// empty TEL and ADR into every card, and pass on birthdays that are no dates.
TEST(VCardProducers, NextcloudDataUriEmptyValuesAndBadDates) {
    const QByteArray gif =
        QByteArray::fromBase64("R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7");
    int skipped = -1;
    const pim::_Contact c =
        one("BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Sabre//Sabre VObject 4.4.2//EN\r\n"
            "UID:1f0c4e5d\r\nFN:Nina Cloud\r\nN:Cloud;Nina;;;\r\n"
            "PHOTO;VALUE=uri:data:image/gif;base64\\,"
            "R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7\r\n"
            "TEL;TYPE=\"HOME,VOICE\":\r\nADR;TYPE=HOME:;;;;;;\r\nEMAIL;TYPE=HOME:\r\n"
            "BDAY:19723101\r\nX-EVENT;TYPE=anniversary:circa 1800\r\n"
            "NOTE:line one\\nC:\\temp stays\r\nREV;VALUE=DATE-AND-OR-TIME:20240102T030405Z\r\n"
            "END:VCARD\r\n",
            &skipped);
    EXPECT_EQ(c.entities.value(pim::ENTITY_PHOTO).value(0).fields.value("data15").toByteArray(),
              gif);
    EXPECT_FALSE(c.entities.contains(pim::ENTITY_PHONE));
    EXPECT_FALSE(c.entities.contains(pim::ENTITY_ADDR));
    EXPECT_FALSE(c.entities.contains(pim::ENTITY_EMAIL));
    EXPECT_FALSE(c.entities.contains(pim::ENTITY_EVENT));
    EXPECT_EQ(skipped, 2);
    // "\n" is a line break; "\t" is no escape and its backslash stays.
    EXPECT_EQ(c.entities.value(pim::ENTITY_NOTES).value(0).text("data1"),
              "line one\nC:\\temp stays");

    // The same photo unescaped (vCard 4.0), and Base64 text without an ENCODING parameter.
    for (const QByteArray& line :
         {QByteArray("PHOTO:data:image/gif;base64,"), QByteArray("PHOTO;TYPE=GIF:")}) {
        const pim::_Contact p =
            one("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:P\r\n" + line +
                "R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7\r\nEND:VCARD\r\n");
        EXPECT_EQ(p.entities.value(pim::ENTITY_PHOTO).value(0).fields.value("data15").toByteArray(),
                  gif)
            << line.constData();
    }
}

// Thunderbird's own vCard 4.0 export.
TEST(VCardProducers, ThunderbirdVCard40) {
    int skipped = -1;
    const pim::_Contact c =
        one("BEGIN:VCARD\r\nVERSION:4.0\r\nN:Pond;Amy;;;\r\nFN:Amy Pond\r\nNICKNAME:Amelia\r\n"
            "EMAIL;PREF=1:amy@example.org\r\nEMAIL;TYPE=work:amy@work.example\r\n"
            "TEL;TYPE=cell;VALUE=TEXT:+44 7700 900123\r\nTEL;VALUE=URI;TYPE=home:tel:+44 20 7946 "
            "0000\r\n"
            "ADR;TYPE=home:;;1 Leadworth Lane\\nFlat 2;Leadworth;Glos;GL1 1AA;UK\r\n"
            "BDAY;VALUE=DATE:19890131\r\nANNIVERSARY;VALUE=DATE:20100626\r\n"
            "IMPP:xmpp:amy@jabber.example\r\nURL;VALUE=URL:https://amy.example\r\n"
            "TITLE:Model\r\nORG:Tardis Ltd;Travel\r\nNOTE:Raggedy\\, Doctor\r\n"
            "UID:3b1e\r\nEND:VCARD\r\n",
            &skipped);
    EXPECT_EQ(c.fullName, "Amy Pond");
    EXPECT_EQ(typed(c, pim::ENTITY_PHONE),
              (QStringList{"+44 20 7946 0000/1", "+44 7700 900123/2"}));
    EXPECT_EQ(typed(c, pim::ENTITY_EMAIL),
              (QStringList{"amy@example.org/1", "amy@work.example/2"}));
    // An escaped line break inside an address part is a line break.
    EXPECT_EQ(c.entities.value(pim::ENTITY_ADDR).value(0).text("data4"),
              "1 Leadworth Lane\nFlat 2");
    EXPECT_EQ(dates(c), (QStringList{"1989-01-31/3", "2010-06-26/1"}));
    EXPECT_EQ(typed(c, pim::ENTITY_IM, "data5"), (QStringList{"amy@jabber.example/8"}));
    EXPECT_EQ(c.entities.value(pim::ENTITY_NOTES).value(0).text("data1"), "Raggedy, Doctor");
    EXPECT_EQ(skipped, 0);
}

// vCard 2.1 as older phones and Outlook write it: "\n" inside an address part is a line break
// there too, and "\," a comma; a backslash before anything else is text, as in the standard
// ("C:\temp"). Read as KContacts reads it.
TEST(VCardProducers, Version21AddressLineBreak) {
    const QByteArray card =
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Home\\Office;Hal\r\nORG:Smith\\, Jones;R\\&D\r\n"
        "ADR;HOME:;;123 Home St\\nHome City;C:\\temp;;;\r\nEND:VCARD\r\n";
    EXPECT_EQ(againstKContacts(card), QStringList{});
    const pim::_Contact c = one(card);
    EXPECT_EQ(c.entities.value(pim::ENTITY_ADDR).value(0).text("data4"), "123 Home St\nHome City");
    EXPECT_EQ(c.entities.value(pim::ENTITY_ADDR).value(0).text("data7"), "C:\\temp");
    EXPECT_EQ(c.fullName, "Hal Home\\Office");
}

// Some phones export UTF-16 without a byte-order mark.
TEST(VCardProducers, Utf16WithoutMark) {
    const QString card = QString::fromUtf8(
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Šimková;Zoë;;;\r\nTEL;TYPE=CELL:+420 1\r\nEND:VCARD\r\n");
    for (const char* codec : {"UTF-16LE", "UTF-16BE"}) {
        const pim::_Contact c = one(QTextCodec::codecForName(codec)->fromUnicode(card));
        EXPECT_EQ(c.fullName, QString::fromUtf8("Zoë Šimková")) << codec;
    }
}

// KaiOS and SOGo: TYPE lists in one quoted parameter, lower-case names.
TEST(VCardProducers, QuotedTypeListsAndLowerCase) {
    const QByteArray card =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nn:Kai;Os;;;\r\nfn:Os Kai\r\n"
        "tel;type=\"work,voice\":+1 1\r\nemail;type=\"internet,home\":o@k.example\r\n"
        "END:VCARD\r\n";
    EXPECT_EQ(againstKContacts(card), QStringList{});
    EXPECT_EQ(typed(one(card), pim::ENTITY_PHONE), (QStringList{"+1 1/3"}));
}

// Evolution and KDE keep anniversaries, partners and messengers in X- properties of their own.
TEST(VCardProducers, EvolutionAndKdeXProperties) {
    const pim::_Contact c =
        one("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Evo;Eve;;;\r\nX-EVOLUTION-ANNIVERSARY:2001-02-03\r\n"
            "X-EVOLUTION-SPOUSE:Adam\r\nX-KADDRESSBOOK-X-ManagersName:Boss\r\n"
            "X-JABBER;TYPE=HOME:eve@jabber.example\r\nX-AIM:eve.aim\r\nEND:VCARD\r\n");
    EXPECT_EQ(dates(c), (QStringList{"2001-02-03/1"}));
    EXPECT_EQ(typed(c, pim::ENTITY_REL), (QStringList{"Adam/14", "Boss/7"}));
    EXPECT_EQ(typed(c, pim::ENTITY_IM, "data5"),
              (QStringList{"eve.aim/1", "eve@jabber.example/8"}));
}

// Quoted-printable soft breaks as producers write them: Outlook's "=0D=0A=" after each line of a
// note, writers that escape every space ("=20="), the same in 8-bit sets, Lotus Notes' 3.0 in
// Windows-1252 without a CHARSET, and Sony Ericsson's escapes split at the break, which join
// only in values that name UTF-8 where the text reading breaks a character, and whose line goes
// on after the digits. Each file imported whole and read in small pieces; each contact as its
// name, address parts and note. Where KContacts reads the file as written, it is asked too.
TEST(VCardProducers, QuotedPrintableSoftBreaks) {
    const QStringList splitComponents{
        "Irina Sokolova|ul. Lenina 12;Z\u00FCrich;;630004;Russia|Gr\u00FC\u00DFe",
        "\u0418\u0432\u0430\u043D \u041F\u0435\u0442\u0440\u043E\u0432|"
        "\u0443\u043B. \u041B\u0435\u043D\u0438\u043D\u0430 12;"
        "\u041D\u043E\u0432\u043E\u0441\u0438\u0431\u0438\u0440\u0441\u043A;;630004;"
        "\u0420\u043E\u0441\u0441\u0438\u044F|Gr\u00FC\u00DFe",
        "\u592A\u90CE \u5C71\u7530|\u5343\u4EE3\u75301-1;\u6771\u4EAC;;100-0001;"
        "\u65E5\u672C|Gr\u00FC\u00DFe"};
    const struct {
        const char* file;
        QStringList texts;
        bool kcontactsReadsIt;
    } rows[] = {
        {"qp-soft-break-utf8.vcf",
         {"Marta Ruiz||Pendiente:\r\nFa\u00E7ade del edificio\r\nBE\r\nEd called",
          "Luc\u00EDa Ca\u00F1a|Calle Pr\u00EDncipe de Vergara 12;Madrid;;28006;Espa\u00F1a|"
          "Vuelo BA 2490 con Ed y Bea"},
         true},
        // In an 8-bit set every byte is a character: shapes that a UTF-8 value would join
        // ("=DF=" then "AB") stay text.
        {"qp-soft-break-8bit.vcf",
         {"Marta Ruiz||Pendiente:\r\nFa\u00E7ade del edificio\r\nBE\r\nEd called",
          "J\u00F6rg Gro\u00DF||Ma\u00DFAB\r\nBox \u00D0B1"},
         true},
        // No CHARSET in 2.1: the file's set, found from its values (KContacts reads UTF-8).
        {"qp-soft-break-legacy.vcf",
         {"Luc\u00EDa Ca\u00F1a|Calle Pr\u00EDncipe de Vergara 12;Madrid;;28006;Espa\u00F1a|"
          "Fa\u00E7ade \u00D0B1\r\nBE\r\nEd dijo que s\u00ED"},
         false},
        {"qp-escape-split-utf8.vcf",
         {"Anna Petrova||\u0426\u0435\u043D\u0430: 5 \u20AC\r\n\u0421\u043A\u0438\u0434\u043A"
          "\u0430 \u2014 10%\r\nDE\r\n\u0418\u0432\u0430\u043D"},
         false},
        {"qp-escape-split-at-break.vcf", {"\u041F\u041E\u0420\u041A\u0421 - PRIMA||"}, false},
        {"qp-escape-open-at-break.vcf", {"\u041F\u041E\u0420\u041A\u0421 - PRIMA||"}, false},
        // "CD=92s" ("CD\u2019s") after the break stays text: the note names no set, and the
        // file's is Windows-1252, also where "\u2019" is its only other character.
        {"qp-soft-break-cp1252-unnamed.vcf",
         {"J\u00FCrgen Br\u00E4ndle|Gartenstra\u00DFe 4;K\u00F6ln;;50667;Deutschland|"
          "Bitte vor Freitag anrufen.\r\nCD\u2019s abholen, Rechnung an B\u00FCro\r\n"
          "Schl\u00FCssel beim Nachbarn"},
         false},
        {"qp-soft-break-cp1252-quote-only.vcf",
         {"Anna Keller||Termin am Montag\r\nCD\u2019s abholen"},
         false},
        // The line after the split goes on with text and further address parts.
        {"qp-escape-open-components.vcf", splitComponents, true},
        {"qp-escape-split-components.vcf", splitComponents, false},
    };
    auto shown = [](const pim::_Contact& c) {
        const pim::Entity a = c.entities.value(pim::ENTITY_ADDR).value(0);
        QStringList parts;
        for (const char* key : {"data4", "data7", "data8", "data9", "data10"})
            parts << a.text(key);
        while (!parts.isEmpty() && parts.last().isEmpty())
            parts.removeLast();
        return c.fullName + "|" + parts.join(";") + "|" +
               c.entities.value(pim::ENTITY_NOTES).value(0).text("data1");
    };
    auto str = [](const QStringList& texts) { return texts.join("\n--\n").toStdString(); };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        QFile f(QStringLiteral(TW_IMPORT_DATA "/") + row.file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QStringList whole;
        for (const pim::_Contact& c : importBytes(bytes).contacts)
            whole << shown(c);
        EXPECT_EQ(str(whole), str(row.texts));
        for (int piece : {1, 2, 3, 7}) {
            VCardStream cards(bytes, piece);
            VCardFileCharset charset(std::make_shared<CardSource>(bytes));
            QStringList read;
            for (QVCardParser::Card card; cards.next(card);)
                read << shown(VCardImport::cardToContact(card, nullptr, &charset));
            EXPECT_EQ(str(read), str(row.texts)) << piece << "-byte pieces";
        }
        if (row.kcontactsReadsIt) {
            EXPECT_EQ(againstKContacts(bytes), QStringList{});
        }
    }
}

}  // namespace
