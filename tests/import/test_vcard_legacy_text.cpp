// Values as old phones and the standard's own examples write them, read through the importer:
// quoted-printable broken inside an escape (Sony Ericsson), 8-bit quoted-printable without a
// CHARSET (vCard 2.1 notes), and a quoted list of types (RFC 6350). Each case names its source.
#include "vcardcharset.h"
#include "vcardimport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QList<pim::_Contact> importBytes(const QByteArray& bytes) {
    QTemporaryDir dir;
    QFile f(dir.filePath("cards.vcf"));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    VCardImport importer;
    importer.initialize(f.fileName());
    QList<pim::_Contact> out;
    while (importer.hasNext())
        out << importer.nextContact();
    return out;
}

QString field(const pim::_Contact& c, int type, const char* key, int index = 0) {
    return c.entities.value(type).value(index).text(QLatin1String(key));
}

bool holdsReplacementChar(const pim::_Contact& c) {
    for (const QList<pim::Entity>& list : c.entities) {
        for (const pim::Entity& e : list) {
            for (const QVariant& v : e.fields) {
                if (v.type() == QVariant::String && v.toString().contains(QChar(0xFFFD)))
                    return true;
            }
        }
    }
    return c.fullName.contains(QChar(0xFFFD));
}

}  // namespace

// Sony Ericsson's exports (as Gammu keeps them, tests/vcards/se-*.vcf) break quoted-printable
// lines at a fixed width; the case of the issue breaks between "=" and its digits.
TEST(SonyEricssonQuotedPrintable, EscapeSplitAcrossTheLineJoins) {
    const QByteArray split =
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=D0=9F=D0=9E=D0=A0=D0=9A=\r\nD0=A1;\r\n"
        "TEL;CELL:+380984437285\r\nEND:VCARD\r\n";
    const QList<pim::_Contact> c = importBytes(split);
    ASSERT_EQ(c.size(), 1);
    EXPECT_EQ(c[0].fullName, QString::fromUtf8("ПОРКС"));

    // Gammu's se-3.vcf as the phone wrote most lines: the break after a whole escape, and a
    // break right before ";" ("=D0=A0=D0=B0=D1=82=D0=B0=D0=B9;=" then "=D0=90...").
    const QList<pim::_Contact> se3 = importBytes(
        "BEGIN:VCARD\nVERSION:2.1\n"
        "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=D0=A0=D0=B0=D1=82=D0=B0=D0=B9;=\n"
        "=D0=90=D0=BB=D0=B5=D0=BA=D1=81=D0=B0=D0=BD=D0=B4=D1=80=D0=B0\n"
        "ADR;HOME;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;;=D0=9C=D0=BE=D1=81=D0=\n"
        "=BA=D0=B2=D0=B0;;;\nEND:VCARD\n");
    ASSERT_EQ(se3.size(), 1);
    EXPECT_EQ(se3[0].fullName, QString::fromUtf8("Александра Ратай"));
    EXPECT_EQ(field(se3[0], pim::ENTITY_ADDR, "data7"), QString::fromUtf8("Москва"));
}

TEST(SonyEricssonQuotedPrintable, TextAfterASoftBreakStaysText) {
    // A soft break after an encoded line break, the next line beginning with what could be
    // hex digits ("AB", "DE"): Outlook's and KAddressBook's 2.1 notes break lines this way.
    const QList<pim::_Contact> c = importBytes(
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;Jane\r\n"
        "NOTE;ENCODING=QUOTED-PRINTABLE:Unit 4=0D=0A=\r\nAB Street=0D=0A=\r\nDE 80331=\r\n\r\n"
        "END:VCARD\r\n");
    ASSERT_EQ(c.size(), 1);
    EXPECT_EQ(field(c[0], pim::ENTITY_NOTES, "data1"), "Unit 4\r\nAB Street\r\nDE 80331");
}

TEST(SonyEricssonQuotedPrintable, SplitEscapeAcrossTheStreamsStretches) {
    // The importer parses a stretch of lines at a time: the digits are found on the next line
    // wherever a stretch ends.
    QByteArray file;
    for (int i = 0; i < 40; ++i) {
        file +=
            "BEGIN:VCARD\r\nVERSION:2.1\r\n"
            "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=D0=9F=D0=9E=D0=A0=D0=9A=\r\nD0=A1;" +
            QByteArray::number(i) + "\r\nEND:VCARD\r\n";
    }
    for (int stretch : {1, 7, 64, 100}) {
        VCardStream stream(file, stretch);
        QVCardParser::Card card;
        int n = 0;
        while (stream.next(card)) {
            ASSERT_EQ(card.size(), 2);
            EXPECT_EQ(card[1].toString(), QString::fromUtf8("ПОРКС;%1").arg(n)) << stretch;
            ++n;
        }
        EXPECT_EQ(n, 40);
    }
}

// vCard 2.1 notes of old desktop address books: 8-bit quoted-printable without a CHARSET, in the
// file's one Windows character set.
TEST(LegacyCharsetQuotedPrintable, BytesWithoutCharsetReadInTheFilesSet) {
    const QList<pim::_Contact> c = importBytes(
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN:M=FCller;J=FCrgen\r\n"
        "NOTE;ENCODING=QUOTED-PRINTABLE:speci=E4l\r\n"
        "ADR;HOME;ENCODING=QUOTED-PRINTABLE:;;Stra=DFe 1;M=FCnchen;;;Deutschland\r\n"
        "END:VCARD\r\n"
        // Raw 8-bit, as Outlook's 2.1 export writes it without any encoding.
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN:G\xF6tz;Bj\xF6rn\r\nORG:B\xE4"
        "ckerei\r\n"
        "END:VCARD\r\n");
    ASSERT_EQ(c.size(), 2);
    EXPECT_EQ(field(c[0], pim::ENTITY_NOTES, "data1"), QString::fromUtf8("speciäl"));
    EXPECT_EQ(field(c[0], pim::ENTITY_ADDR, "data4"), QString::fromUtf8("Straße 1"));
    EXPECT_EQ(field(c[0], pim::ENTITY_ADDR, "data7"), QString::fromUtf8("München"));
    EXPECT_EQ(field(c[1], pim::ENTITY_ORG, "data1"), QString::fromUtf8("Bäckerei"));
    EXPECT_EQ(c[1].fullName, QString::fromUtf8("Björn Götz"));
    for (const pim::_Contact& one : c)
        EXPECT_FALSE(holdsReplacementChar(one)) << one.fullName.toStdString();

    // The issue's own card: one byte of the whole file is not UTF-8.
    const QList<pim::_Contact> alone = importBytes(
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;Jane\r\n"
        "NOTE;ENCODING=QUOTED-PRINTABLE:speci=E4l\r\nEND:VCARD\r\n");
    ASSERT_EQ(alone.size(), 1);
    EXPECT_EQ(field(alone[0], pim::ENTITY_NOTES, "data1"), QString::fromUtf8("speciäl"));

    // A Russian phone's 2.1 export in Windows-1251, quoted-printable without a CHARSET.
    const QList<pim::_Contact> ru = importBytes(
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "N;ENCODING=QUOTED-PRINTABLE:=C8=E2=E0=ED=EE=E2;=CF=E5=F2=F0\r\n"
        "NOTE;ENCODING=QUOTED-PRINTABLE:=CF=F0=E8=E2=E5=F2 =E8=E7 =CC=EE=F1=EA=E2=FB, "
        "=EF=EE=E7=E2=EE=ED=E8=F2=E5 =E2=E5=F7=E5=F0=EE=EC\r\nEND:VCARD\r\n");
    ASSERT_EQ(ru.size(), 1);
    EXPECT_EQ(ru[0].fullName, QString::fromUtf8("Петр Иванов"));
    EXPECT_EQ(field(ru[0], pim::ENTITY_NOTES, "data1"),
              QString::fromUtf8("Привет из Москвы, позвоните вечером"));
}

TEST(LegacyCharsetQuotedPrintable, UnicodeAndNamedCharsetsAreLeftAlone) {
    // Valid UTF-8 without a CHARSET (Android), a CHARSET that names a set (Gammu's
    // quoted-printable-02.vcf), and a photo whose bytes are no text: the file's set is asked
    // about none of them.
    const QByteArray file =
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Bc. Zden=C4=9Bk =C5=BD=C3=A1k\r\n"
        "NOTE;ENCODING=QUOTED-PRINTABLE:=E2=82=AC 5\r\n"
        "TITLE;CHARSET=ISO-8859-2;ENCODING=QUOTED-PRINTABLE:=AE=E1k\r\n"
        "PHOTO;ENCODING=BASE64;TYPE=JPEG:/9j/4AAQSkZJRgABAQ==\r\n\r\nEND:VCARD\r\n";
    EXPECT_TRUE(VCardFileCharset::legacyValues(file).isEmpty());
    const QList<pim::_Contact> c = importBytes(file);
    ASSERT_EQ(c.size(), 1);
    EXPECT_EQ(c[0].fullName, QString::fromUtf8("Bc. Zdeněk Žák"));
    EXPECT_EQ(field(c[0], pim::ENTITY_NOTES, "data1"), QString::fromUtf8("€ 5"));
    EXPECT_EQ(field(c[0], pim::ENTITY_ORG, "data4"), QString::fromUtf8("Žák"));
}

// RFC 6350, section 6.4.1 (TEL): the standard's own examples quote their type lists.
TEST(Rfc6350TypeLists, QuotedListReadsLikeAnUnquotedOne) {
    const QList<pim::_Contact> c = importBytes(
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Simon Perreault\r\n"
        "TEL;VALUE=uri;PREF=1;TYPE=\"voice,home\":tel:+1-555-555-5555;ext=5555\r\n"
        "TEL;VALUE=uri;TYPE=\"work,cell,voice,video,text\":tel:+1-418-262-6501\r\n"
        "TEL;TYPE=work,cell,voice:+1-418-262-6502\r\n"
        "TEL;TYPE=\"work,pager\":+1-418-262-6503\r\nEND:VCARD\r\n");
    ASSERT_EQ(c.size(), 1);
    const QList<pim::Entity> phones = c[0].entities.value(pim::ENTITY_PHONE);
    ASSERT_EQ(phones.size(), 4);
    EXPECT_EQ(phones[0].text("data1"), "+1-555-555-5555;ext=5555");
    EXPECT_EQ(phones[0].fields.value("data2").toInt(), 1);  // Home
    EXPECT_EQ(phones[1].text("data1"), "+1-418-262-6501");
    EXPECT_EQ(phones[1].fields.value("data2").toInt(), 17);  // Work Mobile
    EXPECT_EQ(phones[2].fields.value("data2").toInt(), 17);
    EXPECT_EQ(phones[3].fields.value("data2").toInt(), 18);  // Work Pager
}
