// Every kind of every detail, with and without a custom label, through a real database, our
// vCard export and our vCard import into a second database: each stored column comes back as
// it was, so importing our own file into the database it came from finds nothing new.
#include "export_test_util.h"
#include "import/qvcardparser.h"
#include "export/vcardexport.h"
#include "import/vcardimport.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace exporttest;

namespace {

// Every stored column of every entity, in a stable order.
QStringList columnsOf(const pim::_Contact& c) {
    QStringList out;
    for (auto type = c.entities.constBegin(); type != c.entities.constEnd(); ++type) {
        QStringList entities;
        for (const pim::Entity& e : type.value()) {
            QStringList cols;
            for (const QString& key : LocalDb::columnsOfType(type.key())) {
                const QString v = key == QLatin1String("data15")
                                      ? pim::Entity::photoHash(e.fields.value(key).toByteArray())
                                      : e.text(key);
                cols << key + "=" + v;
            }
            entities << QString::number(type.key()) + ": " + cols.join(' ');
        }
        entities.sort();
        out += entities;
    }
    return out;
}

// One contact per kind of detail: its full name says which.
QList<pim::_Contact> everyKind() {
    using namespace pim;
    QList<_Contact> out;
    const auto add = [&](const QString& name, int type, const Entity& e) {
        _Contact c = contact(name, {{ENTITY_NAME, ent({{"data1", name}, {"data2", name}})}});
        c.entities[type].append(e);
        out << c;
    };
    for (int code : phoneTypeMap().keys())
        add(QString("Phone %1").arg(code), ENTITY_PHONE,
            ent({{"data1", QString("+1 555 %1").arg(code)}, {"data2", code}}));
    for (int code : emailTypeMap().keys())
        add(QString("Mail %1").arg(code), ENTITY_EMAIL,
            ent({{"data1", QString("m%1@example.org").arg(code)}, {"data2", code}}));
    for (int code : eventTypeMap().keys()) {
        for (int year : {1987, 1604})
            add(QString("Date %1 %2").arg(code).arg(year), ENTITY_EVENT,
                ent({{"data1", QDateTime(QDate(year, 7, 9), QTime(0, 0))}, {"data2", code}}));
    }
    for (int kind : imTypeMap().keys()) {
        for (int service : imProtocolMap().keys())
            add(QString("Im %1 %2").arg(kind).arg(service), ENTITY_IM,
                ent({{"data1", QString("handle%1").arg(service)},
                     {"data2", kind},
                     {"data5", service}}));
        // A service the phone did not know is stored without one.
        add(QString("Im %1 none").arg(kind), ENTITY_IM,
            ent({{"data1", "nobody"}, {"data2", kind}}));
        add(QString("Im %1 custom").arg(kind), ENTITY_IM,
            ent({{"data1", "+1 555 0100"}, {"data2", kind}, {"data5", 0}, {"data6", "Signal"}}));
    }
    for (int code : relTypeMap().keys())
        add(QString("Rel %1").arg(code), ENTITY_REL,
            ent({{"data1", QString("Someone %1").arg(code)}, {"data2", code}}));
    for (int code : urlTypeMap().keys())
        add(QString("Url %1").arg(code), ENTITY_URL,
            ent({{"data1", QString("https://example.org/%1").arg(code)}, {"data2", code}}));
    for (int code : addrTypeMap().keys())
        add(QString("Addr %1").arg(code), ENTITY_ADDR,
            ent({{"data2", code},
                 {"data4", "Elm Road 42\nFlat 3"},
                 {"data7", "Leeds"},
                 {"data8", "West Yorkshire"},
                 {"data9", "LS1 4AP"},
                 {"data10", "United Kingdom"},
                 {"data11", "gb"}}));
    // Custom labels on every kind that has them.
    const QList<QPair<int, Entity> > labelled = {
        {ENTITY_PHONE, ent({{"data1", "+1 555 0199"}, {"data2", 0}, {"data3", "Boat"}})},
        {ENTITY_EMAIL, ent({{"data1", "s@example.org"}, {"data2", 0}, {"data3", "School"}})},
        {ENTITY_EVENT, ent({{"data1", QDateTime(QDate(2001, 2, 3), QTime(0, 0))},
                            {"data2", 0},
                            {"data3", "Adopted, \"home\"; day"}})},
        {ENTITY_IM, ent({{"data1", "jo"}, {"data2", 0}, {"data3", "Chess club"}, {"data5", 4}})},
        {ENTITY_REL, ent({{"data1", "Sam"}, {"data2", 0}, {"data3", "Coach"}})},
        {ENTITY_URL, ent({{"data1", "https://t.example"}, {"data2", 0}, {"data3", "Feed"}})},
        {ENTITY_ADDR, ent({{"data2", 0},
                           {"data3", "Holiday home"},
                           {"data4", "1 Beach Rd"},
                           {"data10", "Japan"},
                           {"data11", "jp"}})}};
    for (const auto& l : labelled)
        add(QString("Label %1").arg(l.first), l.first, l.second);
    // Names with every part and phonetic names; an organisation with its department and title.
    out << contact("Dr. Anna Maria Rossi Jr.",
                   {{ENTITY_NAME, ent({{"data1", "Dr. Anna Maria Rossi Jr."},
                                       {"data2", "Anna"},
                                       {"data3", "Rossi"},
                                       {"data4", "Maria"},
                                       {"data5", "Dr."},
                                       {"data6", "Jr."},
                                       {"data7", "あんな"},
                                       {"data8", "ろっし"}})},
                    {ENTITY_NICKNAME, ent({{"data1", "Annie"}})},
                    {ENTITY_ORG,
                     ent({{"data1", "Initech; Ltd"}, {"data4", "Engineer"}, {"data5", "Support"}})},
                    {ENTITY_NOTES, ent({{"data1", "Line one\nline two, \\ and ;"}})},
                    {ENTITY_PHOTO, ent({{"data15", imageBytes("JPEG")}})}});
    out << contact("Kenji", {{ENTITY_NAME,
                              ent({{"data1", "Kenji"}, {"data2", "Kenji"}, {"data7", "けんじ"}})}});
    // The formatted address is made from its parts, as the store keeps it.
    for (pim::_Contact& c : out) {
        for (pim::Entity& a : c.entities[ENTITY_ADDR])
            a.fields["data1"] = a.formattedAddr();
    }
    return out;
}

}  // namespace

TEST(VCardEveryKind, OurOwnFileReadsBackEveryStoredColumn) {
    TempDb from;
    // Listed contacts come without their photo bytes: the export flow loads them first.
    QList<pim::_Contact> stored = from.storeAndReload(everyKind());
    from.db->loadPhotos(stored);
    VCardExport exporter;
    QByteArray file = exporter.initialize(stored);
    for (const pim::_Contact& c : stored)
        file += exporter.ct2Bytes(c);
    file += exporter.uninitialize();

    QList<pim::_Contact> read;
    for (const QVCardParser::Card& card : QVCardParser::parse(file))
        read << VCardImport::cardToContact(card);
    ASSERT_EQ(read.size(), stored.size());
    TempDb into;
    const QList<pim::_Contact> back = into.storeAndReload(read);
    ASSERT_EQ(back.size(), stored.size());
    for (int i = 0; i < stored.size(); ++i) {
        const pim::_Contact want = from.db->contact(stored[i]._id);
        const pim::_Contact got = into.db->contact(back[i]._id);
        EXPECT_EQ(got.fullName, want.fullName);
        EXPECT_EQ(columnsOf(got), columnsOf(want)) << want.fullName.toStdString();
    }

    // Merged into the database the file came from: every contact is found, no detail is added
    // and no value changes.
    from.db->beginEdit();
    for (const pim::_Contact& incoming : read) {
        pim::_Contact merged;
        bool existed = false;
        from.db->combineContact(incoming, merged, existed);
        EXPECT_TRUE(existed) << incoming.fullName.toStdString();
    }
    from.db->endEdit(true);
    for (const pim::_Contact& s : stored) {
        const pim::_Contact again = from.db->contact(s._id);
        EXPECT_EQ(columnsOf(again), columnsOf(s)) << s.fullName.toStdString();
    }
}
