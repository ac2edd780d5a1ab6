// vCard export: the exact card bytes, and cards read back through our own vCard import.
#include "export_test_util.h"
#include "import/qvcardparser.h"
#include "export/vcardexport.h"
#include "import/vcardimport.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace exporttest;

namespace {

QByteArray card(const pim::_Contact& c) {
    VCardExport exporter;
    return exporter.ct2Bytes(c);
}

pim::_Contact readBack(const QByteArray& bytes) {
    const QList<QVCardParser::Card> cards = QVCardParser::parse(bytes);
    EXPECT_EQ(cards.size(), 1);
    return cards.isEmpty() ? pim::_Contact() : VCardImport::cardToContact(cards.first());
}

QString field(const pim::_Contact& c, int type, const char* key, int index = 0) {
    const QList<pim::Entity> list = c.entities.value(type);
    return index < list.size() ? list.at(index).text(QLatin1String(key)) : QStringLiteral("<none>");
}

}  // namespace

TEST(VCardExport, CardBytes) {
    VCardExport exporter;
    EXPECT_TRUE(exporter.initialize({}).isEmpty());
    EXPECT_TRUE(exporter.uninitialize().isEmpty());
    EXPECT_EQ(card(contact("A;B", {})),
              QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nFN;CHARSET=UTF-8:A;B\r\nEND:VCARD\r\n"));

    QByteArray photo(100, '\x7f');
    const QByteArray b64 = photo.toBase64();
    ASSERT_EQ(b64.size(), 136);
    // Entities given out of type order come out in type order.
    const pim::_Contact c = contact(
        "Jo", {{pim::ENTITY_URL, ent({{"data1", "http://x.org"}, {"data2", "0"}})},
               {pim::ENTITY_NOTES, ent({{"data1", "a b\r\nc=;"}})},
               {pim::ENTITY_NAME, ent({{"data2", "Jo;e"}, {"data3", "D\\x"}, {"data6", "III"}})},
               {pim::ENTITY_PHOTO, ent({{"data15", photo}})},
               {pim::ENTITY_PHOTO, ent({})},
               {pim::ENTITY_PHONE, ent({{"data1", "111"}, {"data2", 2}})},
               {pim::ENTITY_PHONE, ent({{"data1", "222"}, {"data2", "12"}})},
               {pim::ENTITY_PHONE, ent({{"data1", "333"}, {"data2", "4"}})},
               {pim::ENTITY_EMAIL, ent({{"data1", "j@x.org"}, {"data2", "2"}})},
               {pim::ENTITY_NICKNAME, ent({{"data1", "J"}})},
               {pim::ENTITY_EVENT, ent({{"data1", "1990-02-03T00:00:00"}, {"data2", "3"}})},
               {pim::ENTITY_EVENT, ent({{"data1", "2000-01-01T00:00:00"}, {"data2", "1"}})},
               {pim::ENTITY_EVENT, ent({{"data1", "2010-05-05T00:00:00"}, {"data2", "7"}})},
               {pim::ENTITY_GROUP, ent({{"data2", "G1"}})},
               {pim::ENTITY_IM, ent({{"data1", "h1"}, {"data5", "9"}})},
               {pim::ENTITY_IM, ent({{"data1", "h2"}, {"data5", "0"}})},
               {pim::ENTITY_ORG, ent({{"data1", "A;B"}, {"data5", "C"}})},
               {pim::ENTITY_ORG, ent({{"data4", "Boss"}})},
               {pim::ENTITY_REL, ent({{"data1", "Kid"}, {"data2", "4"}})},
               {pim::ENTITY_REL, ent({{"data1", "X"}, {"data2", "0"}})},
               {pim::ENTITY_ADDR, ent({{"data2", "0"}, {"data4", "1 St"}, {"data10", "NZ"}})},
               {pim::ENTITY_ADDR, ent({{"data2", "2"}})},
               {99, ent({{"data1", "ignored"}})}});
    const QByteArray expected =
        "BEGIN:VCARD\r\n"
        "VERSION:3.0\r\n"
        "FN;CHARSET=UTF-8:Jo\r\n"
        "N;CHARSET=UTF-8:D\\\\x;Jo\\;e;;;III\r\n"
        "PHOTO;ENCODING=B;TYPE=JPEG:" +
        b64.left(75) + "\r\n " + b64.mid(75) +
        "\r\n"
        "PHOTO;ENCODING=B;TYPE=JPEG:\r\n"
        "TEL;TYPE=cell:111\r\n"
        // Main has no TYPE word: it travels as Apple's label, and so do anniversaries, related
        // names and other dates (X-ABDATE, X-ABRELATEDNAMES) and messengers (IMPP).
        "item1.TEL:222\r\n"
        "item1.X-ABLabel;CHARSET=UTF-8:_$!<Main>!$_\r\n"
        "TEL;TYPE=work,fax:333\r\n"
        "EMAIL;TYPE=internet,work:j@x.org\r\n"
        "NICKNAME;CHARSET=UTF-8:J\r\n"
        "BDAY:1990-02-03T00:00:00\r\n"
        "item2.X-ABDATE:2000-01-01\r\n"
        "item2.X-ABLabel;CHARSET=UTF-8:_$!<Anniversary>!$_\r\n"
        "item3.X-ABDATE:2010-05-05\r\n"
        "item3.X-ABLabel;CHARSET=UTF-8:_$!<Other>!$_\r\n"
        "CATEGORIES;CHARSET=UTF-8:G1\r\n"
        "IMPP;CHARSET=UTF-8;X-SERVICE-TYPE=NetMeeting:x-apple:h1\r\n"
        "IMPP;CHARSET=UTF-8;X-SERVICE-TYPE=Other:x-apple:h2\r\n"
        "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:a=20b=0D\\nc=3D;\r\n"
        "TITLE;CHARSET=UTF-8:\r\n"
        "ORG;CHARSET=UTF-8:A\\;B;C;;\r\n"
        "TITLE;CHARSET=UTF-8:Boss\r\n"
        "ORG;CHARSET=UTF-8:;;;\r\n"
        "item4.X-ABRELATEDNAMES;CHARSET=UTF-8:Kid\r\n"
        "item4.X-ABLabel;CHARSET=UTF-8:Domestic Partner\r\n"
        "item5.X-ABRELATEDNAMES;CHARSET=UTF-8:X\r\n"
        "item5.X-ABLabel;CHARSET=UTF-8:_$!<Other>!$_\r\n"
        "ADR;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE;TYPE=intl:;;1=20St;;;;NZ\r\n"
        "ADR;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE;TYPE=work:;;;;;;\r\n"
        "URL;TYPE=other:http://x.org\r\n"
        "END:VCARD\r\n";
    EXPECT_EQ(card(c).toStdString(), expected.toStdString());
}

// Text taken from a contact can never end a property line: a line break in any value travels
// quoted-printable, so a crafted name cannot add cards or properties.
TEST(VCardExport, LineBreaksCannotBreakTheCard) {
    const QString evil = QStringLiteral("x\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:evil");
    const pim::_Contact c =
        contact(evil, {{pim::ENTITY_NAME, ent({{"data2", "a\nb"}})},
                       {pim::ENTITY_PHONE, ent({{"data1", "1\n2"}, {"data2", "2"}})},
                       {pim::ENTITY_ORG, ent({{"data4", "t1\nt2"}, {"data1", "co\r\nrp"}})},
                       {pim::ENTITY_GROUP, ent({{"data2", "g\nh"}})}});
    const QByteArray bytes = card(c);
    EXPECT_EQ(bytes.count("\nBEGIN:VCARD") + bytes.count("\nEND:VCARD"), 1);
    EXPECT_TRUE(bytes.contains("FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:x=0D\\nEND:VCARD"));
    const pim::_Contact back = readBack(bytes);
    EXPECT_EQ(field(back, pim::ENTITY_NAME, "data2"), "a\nb");
    EXPECT_EQ(field(back, pim::ENTITY_PHONE, "data1"), "1\n2");
    EXPECT_EQ(field(back, pim::ENTITY_ORG, "data4"), "t1\nt2");
    EXPECT_EQ(field(back, pim::ENTITY_ORG, "data1"), "co\r\nrp");
    EXPECT_EQ(field(back, pim::ENTITY_GROUP, "data2"), "g\nh");
}

// Contacts stored in a real database, exported, and read back by the vCard import.
TEST(VCardExport, RoundTripThroughDatabaseAndImport) {
    TempDb t;
    pim::_Contact plain =
        contact("Zed", {{pim::ENTITY_PHONE, ent({{"data1", "9"}, {"data2", "3"}})}});
    const QList<pim::_Contact> stored = t.storeAndReload({everyType("Ann"), plain});
    ASSERT_EQ(stored.size(), 2);

    VCardExport exporter;
    QByteArray file = exporter.initialize(stored);
    for (const pim::_Contact& c : stored)
        file += exporter.ct2Bytes(c);
    file += exporter.uninitialize();
    const QList<QVCardParser::Card> cards = QVCardParser::parse(file);
    ASSERT_EQ(cards.size(), 2);

    const pim::_Contact& src = stored.at(0);
    const pim::_Contact back = VCardImport::cardToContact(cards.at(0));
    using namespace pim;
    expectSameDetails(
        back, src,
        {{ENTITY_NAME, "data2", 0},  {ENTITY_NAME, "data3", 0},     {ENTITY_NAME, "data4", 0},
         {ENTITY_NAME, "data5", 0},  {ENTITY_NAME, "data6", 0},     {ENTITY_PHONE, "data1", 0},
         {ENTITY_PHONE, "data2", 0}, {ENTITY_PHONE, "data1", 1},    {ENTITY_PHONE, "data2", 1},
         {ENTITY_EMAIL, "data1", 0}, {ENTITY_NICKNAME, "data1", 0}, {ENTITY_EVENT, "data1", 0},
         {ENTITY_EVENT, "data2", 0}, {ENTITY_EVENT, "data2", 1},    {ENTITY_GROUP, "data2", 0},
         {ENTITY_IM, "data1", 0},    {ENTITY_IM, "data5", 0},       {ENTITY_NOTES, "data1", 0},
         {ENTITY_ORG, "data1", 0},   {ENTITY_ORG, "data4", 0},      {ENTITY_ORG, "data5", 0},
         {ENTITY_REL, "data1", 0},   {ENTITY_REL, "data2", 0},      {ENTITY_ADDR, "data2", 0},
         {ENTITY_ADDR, "data4", 0},  {ENTITY_ADDR, "data7", 0},     {ENTITY_ADDR, "data8", 0},
         {ENTITY_ADDR, "data9", 0},  {ENTITY_ADDR, "data10", 0},    {ENTITY_URL, "data1", 0},
         {ENTITY_URL, "data2", 0}});
    EXPECT_EQ(back.entities.value(ENTITY_PHOTO).value(0).fields.value("data15").toByteArray(),
              src.entities.value(ENTITY_PHOTO).value(0).fields.value("data15").toByteArray());

    const pim::_Contact zed = VCardImport::cardToContact(cards.at(1));
    EXPECT_EQ(field(zed, pim::ENTITY_PHONE, "data1"), "9");
    EXPECT_EQ(field(zed, pim::ENTITY_PHONE, "data2"), "3");
}

// Non-ASCII text in the values that go out in the local encoding survives whatever that
// encoding is.
TEST(VCardExport, LocalEncodingNeverLosesCharacters) {
    const QString mail = QString::fromUtf8("\xe5\xbc\xa0@\xe4\xbe\x8b\xe5\xad\x90.cn");
    const pim::_Contact c = contact("X", {{pim::ENTITY_EMAIL, ent({{"data1", mail}})}});
    EXPECT_EQ(field(readBack(card(c)), pim::ENTITY_EMAIL, "data1"), mail);
}

// Backslashes, semicolons and commas in every text the card carries come back unchanged through
// our own import, whether the property is structured (escaped) or not (written as it stands).
TEST(VCardExport, SpecialCharactersRoundTrip) {
    const QString s = QStringLiteral("a\\b;c,d\\;e\\");
    const pim::_Contact c = contact(
        s, {{pim::ENTITY_NAME, ent({{"data2", s}, {"data3", s}, {"data6", s}})},
            {pim::ENTITY_PHONE, ent({{"data1", s}, {"data2", "2"}})},
            {pim::ENTITY_EMAIL, ent({{"data1", s}})},
            {pim::ENTITY_NICKNAME, ent({{"data1", s}})},
            {pim::ENTITY_GROUP, ent({{"data2", s}})},
            {pim::ENTITY_IM, ent({{"data1", s}, {"data5", "4"}})},
            {pim::ENTITY_NOTES, ent({{"data1", s}})},
            {pim::ENTITY_ORG, ent({{"data1", s}, {"data4", s}, {"data5", s}})},
            {pim::ENTITY_REL, ent({{"data1", s}, {"data2", "6"}})},
            {pim::ENTITY_ADDR, ent({{"data2", "1"}, {"data4", s}, {"data7", s}, {"data10", s}})},
            {pim::ENTITY_URL, ent({{"data1", s}, {"data2", "1"}})}});
    const pim::_Contact back = readBack(card(c));
    EXPECT_EQ(readBack(card(contact(s, {}))).fullName, s);  // FN alone (N would rebuild it)
    using namespace pim;
    for (const Detail& d : std::initializer_list<Detail>{{ENTITY_NAME, "data2", 0},
                                                         {ENTITY_NAME, "data3", 0},
                                                         {ENTITY_NAME, "data6", 0},
                                                         {ENTITY_PHONE, "data1", 0},
                                                         {ENTITY_EMAIL, "data1", 0},
                                                         {ENTITY_NICKNAME, "data1", 0},
                                                         {ENTITY_GROUP, "data2", 0},
                                                         {ENTITY_IM, "data1", 0},
                                                         {ENTITY_NOTES, "data1", 0},
                                                         {ENTITY_ORG, "data1", 0},
                                                         {ENTITY_ORG, "data4", 0},
                                                         {ENTITY_ORG, "data5", 0},
                                                         {ENTITY_REL, "data1", 0},
                                                         {ENTITY_ADDR, "data4", 0},
                                                         {ENTITY_ADDR, "data7", 0},
                                                         {ENTITY_ADDR, "data10", 0},
                                                         {ENTITY_URL, "data1", 0}})
        EXPECT_EQ(detail(back, d), s) << "type " << d.type << " " << d.key;
}

// Kinds and custom labels travel as Apple writes them (grouped X-ABLabel lines, X-ABDATE,
// X-ABRELATEDNAMES, IMPP), so Apple Contacts and iCloud read them, and so does our import.
TEST(VCardExport, LabelsTravelAsAppleWritesThem) {
    const pim::_Contact c = contact(
        "Lab", {{pim::ENTITY_NAME, ent({{"data2", "Lab"}})},
                {pim::ENTITY_PHONE, ent({{"data1", "1"}, {"data2", 0}})},
                {pim::ENTITY_PHONE, ent({{"data1", "2"}, {"data2", 17}})},
                {pim::ENTITY_PHONE, ent({{"data1", "3"}, {"data2", 0}, {"data3", "Boat"}})},
                {pim::ENTITY_PHONE, ent({{"data1", "4"}, {"data2", 5}})},
                {pim::ENTITY_EMAIL, ent({{"data1", "s@x"}, {"data2", 0}, {"data3", "School"}})},
                {pim::ENTITY_EVENT,
                 ent({{"data1", QDateTime(QDate(1604, 3, 15), QTime(0, 0))}, {"data2", 1}})},
                {pim::ENTITY_EVENT, ent({{"data1", QDateTime(QDate(2010, 1, 2), QTime(0, 0))},
                                         {"data2", 0},
                                         {"data3", "Adopted"}})},
                {pim::ENTITY_REL, ent({{"data1", "Jane"}, {"data2", 14}})},
                {pim::ENTITY_REL, ent({{"data1", "Sam"}, {"data2", 0}, {"data3", "Coach"}})},
                {pim::ENTITY_IM, ent({{"data1", "jo"}, {"data2", 2}, {"data5", 4}})},
                {pim::ENTITY_IM, ent({{"data1", "+1"}, {"data2", 0}, {"data6", "Signal"}})},
                {pim::ENTITY_URL, ent({{"data1", "http://t"}, {"data2", 0}, {"data3", "Twitter"}})},
                {pim::ENTITY_ADDR, ent({{"data4", "1 St"}, {"data2", 0}, {"data3", "Cabin"}})}});
    const QByteArray bytes = card(c);
    EXPECT_TRUE(bytes.contains("item1.TEL:1\r\nitem1.X-ABLabel;CHARSET=UTF-8:_$!<Other>!$_\r\n"))
        << bytes.constData();
    EXPECT_TRUE(bytes.contains("X-ABLabel;CHARSET=UTF-8:_$!<Spouse>!$_"));
    EXPECT_TRUE(bytes.contains("X-ABDATE;X-APPLE-OMIT-YEAR=1604:1604-03-15"));
    EXPECT_TRUE(bytes.contains("IMPP;CHARSET=UTF-8;TYPE=WORK;X-SERVICE-TYPE=Skype:skype:jo"));
    const pim::_Contact back = readBack(bytes);
    for (int type : {pim::ENTITY_PHONE, pim::ENTITY_EMAIL, pim::ENTITY_EVENT, pim::ENTITY_REL,
                     pim::ENTITY_IM, pim::ENTITY_URL, pim::ENTITY_ADDR}) {
        const QList<pim::Entity> want = c.entities.value(type), got = back.entities.value(type);
        ASSERT_EQ(got.size(), want.size()) << type;
        for (int i = 0; i < want.size(); ++i) {
            for (const char* key : {"data1", "data2", "data3", "data4", "data5", "data6"}) {
                if (want[i].fields.contains(key)) {
                    EXPECT_EQ(got[i].text(key), want[i].text(key)) << type << " " << i << key;
                }
            }
        }
    }
}
