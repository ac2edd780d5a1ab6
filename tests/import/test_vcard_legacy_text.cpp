// Values as old phones and the standard's examples write them, read through the importer: 8-bit
// quoted-printable without a CHARSET, an escape split by a soft break (Sony Ericsson), a quoted
// list of types (RFC 6350). Each case names its source.
#include "import/vcardcharset.h"
#include "import/vcardimport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

QString writeCards(const QTemporaryDir& dir, const QByteArray& bytes) {
    QFile f(dir.filePath("cards.vcf"));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    EXPECT_EQ(f.write(bytes), bytes.size());
    f.close();
    return f.fileName();
}

pim::_Contact importOne(const QByteArray& bytes) {
    QTemporaryDir dir;
    VCardImport importer;
    importer.initialize(writeCards(dir, bytes));
    EXPECT_TRUE(importer.hasNext());
    return importer.nextContact();
}

QString field(const pim::_Contact& c, int type, const char* key) {
    return c.entities.value(type).value(0).text(QLatin1String(key));
}

}  // namespace

// Sony Ericsson breaks a quoted-printable line inside an escape, with the escape's "=" alone
// ("=9A=" then "D0=A1") or before the soft break's ("=9A==" then "D0=A1", as in Gammu's
// tests/vcards/quoted-printable-new-line.vcf). Each file as the phone wrote it (LF) and with
// CRLF; the tokenizer's cases feed the same breaks a byte at a time.
TEST(LegacyVCardText, SonyEricssonEscapeSplitByASoftBreak) {
    for (const char* file : {"qp-escape-split-at-break.vcf", "qp-escape-open-at-break.vcf"}) {
        QFile f(QStringLiteral(TW_IMPORT_DATA "/") + file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << file;
        const QByteArray lf = f.readAll();
        for (const QByteArray& bytes : {lf, QByteArray(lf).replace("\n", "\r\n")}) {
            SCOPED_TRACE(std::string(file) + (bytes.contains('\r') ? " CRLF" : " LF"));
            const pim::_Contact c = importOne(bytes);
            EXPECT_EQ(c.fullName, QString::fromUtf8("ПОРКС - PRIMA"));
            EXPECT_EQ(field(c, pim::ENTITY_PHONE, "data1"), "+380984437285");
        }
    }
}

// vCard 2.1 notes of Windows address books: 8-bit quoted-printable and raw bytes without a
// CHARSET, read in the set found for the file's values, never as U+FFFD.
TEST(LegacyVCardText, BytesWithoutCharsetReadInTheFilesSet) {
    const pim::_Contact alone = importOne(
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;Jane\r\n"
        "NOTE;ENCODING=QUOTED-PRINTABLE:speci=E4l\r\nEND:VCARD\r\n");
    EXPECT_EQ(field(alone, pim::ENTITY_NOTES, "data1"), QString::fromUtf8("speciäl"));

    const pim::_Contact de = importOne(
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN:G\xF6tz;Bj\xF6rn\r\nORG:B\xE4"
        "ckerei\r\nADR;HOME;ENCODING=QUOTED-PRINTABLE:;;Stra=DFe 1;M=FCnchen;;;\r\nEND:VCARD\r\n");
    EXPECT_EQ(de.fullName, QString::fromUtf8("Björn Götz"));
    EXPECT_EQ(field(de, pim::ENTITY_ORG, "data1"), QString::fromUtf8("Bäckerei"));
    EXPECT_EQ(field(de, pim::ENTITY_ADDR, "data4"), QString::fromUtf8("Straße 1"));

    // A CHARSET that names no set known here is as none named: the file's set.
    const pim::_Contact unknown = importOne(
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;Jane\r\n"
        "NOTE;CHARSET=NO-SUCH;ENCODING=QUOTED-PRINTABLE:Gr=FC=DFe\r\nEND:VCARD\r\n");
    EXPECT_EQ(field(unknown, pim::ENTITY_NOTES, "data1"), QString::fromUtf8("Grüße"));

    // A Russian phone's export in Windows-1251: the detector tells it from the Latin sets.
    const pim::_Contact ru = importOne(
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;ENCODING=QUOTED-PRINTABLE:=C8=E2=E0=ED=EE=E2;=CF=E5=F2="
        "F0\r\n"
        "NOTE;ENCODING=QUOTED-PRINTABLE:=CF=F0=E8=E2=E5=F2 =E8=E7 =CC=EE=F1=EA=E2=FB, "
        "=EF=EE=E7=E2=EE=ED=E8=F2=E5 =E2=E5=F7=E5=F0=EE=EC\r\nEND:VCARD\r\n");
    EXPECT_EQ(ru.fullName, QString::fromUtf8("Петр Иванов"));

    // UTF-8 without a CHARSET (Android), a named CHARSET (Gammu's quoted-printable-02.vcf) and a
    // photo are no legacy text: the detector is not asked about them.
    EXPECT_TRUE(VCardFileCharset::legacyValues(
                    "BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;ENCODING=QUOTED-PRINTABLE:=E2=82=AC 5\r\n"
                    "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Zden=C4=9Bk =C5=BD=C3=A1k\r\n"
                    "TITLE;CHARSET=ISO-8859-2;ENCODING=QUOTED-PRINTABLE:=AE=E1k\r\n"
                    "PHOTO;ENCODING=BASE64;TYPE=JPEG:/9j/4AAQSkZJRgABAQ==\r\n\r\nEND:VCARD\r\n")
                    .isEmpty());
}

// A big file is read in parts side by side: the parts ask for the file's set at once, find it
// once between them, and read every card as one reader of the whole file does.
TEST(LegacyVCardText, PartsReadSideBySideShareTheFilesSet) {
    const QByteArray photo = QByteArray(40000, '\x5a').toBase64();
    QByteArray folded;
    for (int at = 0; at < photo.size(); at += 76)
        folded += " " + photo.mid(at, 76) + "\r\n";
    QByteArray file;
    for (int i = 0; i < 120; ++i) {
        file += "BEGIN:VCARD\r\nVERSION:2.1\r\nN;ENCODING=QUOTED-PRINTABLE:=C8=E2=E0=ED=EE=E2" +
                QByteArray::number(i) +
                ";=CF=E5=F2=F0\r\nNOTE;ENCODING=QUOTED-PRINTABLE:=CF=F0=E8=E2=E5=F2\r\n"
                "PHOTO;ENCODING=BASE64:\r\n" +
                folded + "\r\nEND:VCARD\r\n";
    }
    QTemporaryDir dir;
    const QString path = writeCards(dir, file);
    VCardImport whole;
    whole.initialize(path);
    QList<pim::_Contact> expected;
    while (whole.hasNext())
        expected << whole.nextContact();
    ASSERT_EQ(expected.size(), 120);
    EXPECT_EQ(expected[7].fullName, QString::fromUtf8("Петр Иванов7"));

    VCardImport parted;
    parted.initialize(path);
    ASSERT_GT(parted.partCount(), 3);
    std::vector<QList<pim::_Contact> > read(size_t(parted.partCount()));
    std::vector<std::thread> readers;
    for (int k = 0; k < parted.partCount(); ++k) {
        readers.emplace_back([&parted, &read, k] {
            std::unique_ptr<ImportPart> part = parted.part(k);
            while (part->hasNext())
                read[size_t(k)] << part->nextContact();
        });
    }
    for (std::thread& t : readers)
        t.join();
    QList<pim::_Contact> got;
    for (const QList<pim::_Contact>& contacts : read)
        got += contacts;
    ASSERT_EQ(got.size(), expected.size());
    for (int i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].fullName, expected[i].fullName);
        EXPECT_EQ(field(got[i], pim::ENTITY_NOTES, "data1"), QString::fromUtf8("Привет"));
    }
}

// RFC 6350, section 6.4.1 (TEL): the standard's own examples quote their type lists.
TEST(LegacyVCardText, Rfc6350QuotedTypeList) {
    const pim::_Contact c = importOne(
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Simon Perreault\r\n"
        "TEL;VALUE=uri;PREF=1;TYPE=\"voice,home\":tel:+1-555-555-5555;ext=5555\r\n"
        "TEL;VALUE=uri;TYPE=\"work,cell,voice,video,text\":tel:+1-418-262-6501\r\n"
        "TEL;TYPE=\"work,pager\":+1-418-262-6503\r\nEND:VCARD\r\n");
    QStringList phones;
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_PHONE))
        phones << e.text("data1") + "/" + e.text("data2");
    // Home; Work Mobile, not Mobile; Work Pager.
    EXPECT_EQ(phones, (QStringList{"+1-555-555-5555;ext=5555/1", "+1-418-262-6501/17",
                                   "+1-418-262-6503/18"}));
}
