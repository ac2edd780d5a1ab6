// Device contact records: what the writers put on the wire, and what the mirror reader makes
// of it again.
#include <gtest/gtest.h>

#include <QSharedPointer>
#include <QTemporaryDir>

#include "device/plistcftype.h"
#include "device/workers/contactrecords.h"
#include "device/workers/iossynctodevicethread.h"
#include "device/workers/iossynctopcthread.h"
#include "device/workers/remapreply.h"
#include "store/combinerule.h"
#include "store/localdb.h"

namespace {

pim::Entity ent(std::initializer_list<std::pair<const char*, QVariant>> cols,
                unsigned long long id = 0, QString src = QString()) {
    pim::Entity e(id, src);
    for (const auto& c : cols) {
        e.fields.insert(QString::fromLatin1(c.first), c.second);
    }
    return e;
}

QString s(const PlistCFType& rec, const char* key) {
    return rec.get(QString::fromLatin1(key)).CFStringQString();
}

QStringList keys(const PlistCFType& dict) {
    QStringList out;
    for (const PlistCFType& k : dict.dict_keys()) {
        out << k.CFStringQString();
    }
    return out;
}

// The one child record that one entity produces ("" id when none).
std::pair<QString, PlistCFType> child(int type, const pim::Entity& e, QString contactId = "456",
                                      long long newId = -42) {
    PlistCFType records = PlistCFType::createCFDictionary();
    contactrecords::addEntity(records, contactId, type, newId, e);
    const QStringList k = keys(records);
    if (k.isEmpty()) {
        return {QString(), PlistCFType()};
    }
    EXPECT_EQ(k.size(), 1);
    return {k.first(), PlistCFType::clone(records.get(k.first()))};
}

}  // namespace

TEST(DeviceRecords, ContactRecordIdsAndKeys) {
    PlistCFType records = PlistCFType::createCFDictionary();
    contactrecords::addContact(records, pim::_Contact(5, "", "x"));
    ASSERT_EQ(keys(records), QStringList{"-5"});
    EXPECT_EQ(keys(records.get("-5")),
              (QStringList{"com.apple.syncservices.RecordEntityName", "display as company"}));

    pim::_Contact c(9, "123", "Ann Lee");
    c.entities[pim::ENTITY_NAME] = {ent({{"data1", "ignored"}, {"data3", "Lee"}}),
                                    ent({{"data2", "Second"}})};
    c.entities[pim::ENTITY_NICKNAME] = {ent({{"data1", "Bee"}}), ent({{"data1", "Ace"}})};
    c.entities[pim::ENTITY_ORG] = {ent({{"data1", "Acme"}, {"data4", "Boss"}, {"data5", " "}})};
    c.entities[pim::ENTITY_EVENT] = {ent({{"data1", "1980-01-02"}, {"data2", 3}}),
                                     ent({{"data1", "1990-05-06T07:08:09"}, {"data2", "3"}}),
                                     ent({{"data1", "not a date"}, {"data2", 3}}),
                                     ent({{"data1", "2001-01-01"}, {"data2", 1}})};
    c.entities[pim::ENTITY_PHOTO] = {ent({{"data15", QByteArray("\0\1", 2)}, {"data4", "h"}})};
    c.entities[pim::ENTITY_NOTES] = {ent({{"data1", "note"}})};
    c.entities[pim::ENTITY_PHONE] = {ent({{"data1", "555"}})};
    records = PlistCFType::createCFDictionary();
    contactrecords::addContact(records, c);
    ASSERT_EQ(keys(records), QStringList{"123"});
    const PlistCFType rec = records.get("123");
    EXPECT_EQ(keys(rec),
              (QStringList{"com.apple.syncservices.RecordEntityName", "display as company",
                           "last name", "company name", "department", "job title", "nickname",
                           "birthday", "image", "notes"}));
    EXPECT_EQ(s(rec, "last name"), "Lee");
    EXPECT_EQ(s(rec, "department"), " ");  // blanks count as text
    EXPECT_EQ(s(rec, "nickname"), "Bee");
    EXPECT_EQ(rec.get("birthday").CFDateToDateTime(0),
              QDateTime(QDate(1990, 5, 6), QTime(7, 8, 9)));
    EXPECT_EQ(rec.get("image").CFDataBytes(), QByteArray("\0\1", 2));
}

TEST(DeviceRecords, ChildRecordsLabelsTypesAndIds) {
    // Label rule and type tables.
    auto phone = child(pim::ENTITY_PHONE, ent({{"data1", "555"}, {"data2", 12}}));
    EXPECT_EQ(phone.first, "3/456/-42");
    EXPECT_EQ(keys(phone.second),
              (QStringList{"com.apple.syncservices.RecordEntityName", "value", "type", "contact"}));
    EXPECT_EQ(s(phone.second, "type"), "main");
    EXPECT_EQ(phone.second.get("contact").at(0).CFStringQString(), "456");
    EXPECT_EQ(s(child(pim::ENTITY_PHONE, ent({{"data1", "5"}, {"data2", 9}})).second, "type"),
              "other");
    phone = child(pim::ENTITY_PHONE, ent({{"data1", "5"}, {"data2", 2}, {"data3", "Boat"}}));
    EXPECT_EQ(s(phone.second, "label"), "Boat");
    EXPECT_EQ(s(phone.second, "type"), "other");
    EXPECT_TRUE(child(pim::ENTITY_PHONE, ent({{"data2", 2}, {"data3", "x"}})).first.isEmpty());

    // A stored detail goes under its own id; a new one's contact part is taken verbatim.
    EXPECT_EQ(child(pim::ENTITY_EMAIL, ent({{"data1", "a@b"}}, 3, "4/9/1")).first, "4/9/1");
    EXPECT_EQ(child(pim::ENTITY_URL, ent({{"data1", "u"}}), "%1", -7).first, "22/%1/-7");
    EXPECT_EQ(child(pim::ENTITY_PHONE, ent({{"data1", "5"}}), "", -42).first, "3//-42");
    EXPECT_EQ(s(child(pim::ENTITY_URL, ent({{"data1", "u"}, {"data2", 1}})).second, "type"),
              "home page");
    EXPECT_EQ(s(child(pim::ENTITY_URL, ent({{"data1", "u"}, {"data2", 2}})).second, "type"),
              "other");

    // IM service words; a service without a word goes by its name, to come back as itself.
    auto im = child(pim::ENTITY_IM, ent({{"data1", "me"}, {"data5", 9}}));
    EXPECT_EQ(s(im.second, "service"), "Net Meeting");
    EXPECT_EQ(s(im.second, "user"), "me");
    EXPECT_EQ(s(child(pim::ENTITY_IM, ent({{"data1", "me"}, {"data5", 6}})).second, "service"),
              "googletalk");

    // Addresses: no "value"; a postal code and country code alone make no record.
    EXPECT_TRUE(
        child(pim::ENTITY_ADDR, ent({{"data9", "12345"}, {"data11", "de"}})).first.isEmpty());
    auto addr = child(pim::ENTITY_ADDR, ent({{"data4", "Main St"}}));
    EXPECT_EQ(addr.first, "5/456/-42");
    EXPECT_EQ(keys(addr.second), (QStringList{"com.apple.syncservices.RecordEntityName", "street",
                                              "type", "contact"}));

    // Dates: the birthday belongs to the contact record, labelled or not (the phone keeps it
    // there); any other date goes under an id of its own kind, never under its contact's id.
    EXPECT_TRUE(
        child(pim::ENTITY_EVENT, ent({{"data1", "2000-01-01"}, {"data2", 3}})).first.isEmpty());
    EXPECT_TRUE(child(pim::ENTITY_EVENT,
                      ent({{"data1", "2000-01-01"}, {"data2", 3}, {"data3", "Name day"}}))
                    .first.isEmpty());
    auto turned = child(pim::ENTITY_EVENT, ent({{"data1", "2000-01-01"}, {"data2", 1}}, 42, "456"));
    EXPECT_EQ(turned.first, "12/456/-42");
    EXPECT_EQ(s(turned.second, "type"), "anniversary");
    EXPECT_EQ(child(pim::ENTITY_PHONE, ent({{"data1", "5"}}, 42, "4/456/3")).first, "3/456/-42");
    EXPECT_TRUE(child(pim::ENTITY_EVENT, ent({{"data1", "soon"}, {"data2", 1}})).first.isEmpty());
    EXPECT_EQ(
        s(child(pim::ENTITY_EVENT, ent({{"data1", "2000-01-01"}, {"data2", 0}})).second, "type"),
        "other");

    // Kinds without a record of their own.
    for (int type : {0, 1, 2, 5, 7, 9, 10, 14}) {
        EXPECT_TRUE(child(type, ent({{"data1", "x"}, {"data15", QByteArray("y")}})).first.isEmpty())
            << type;
    }
}

TEST(DeviceRecords, ProvisionalChildIds) {
    EXPECT_EQ(remapreply::childRowIdOf("3/456/-77"), 77u);
    EXPECT_EQ(remapreply::childRowIdOf("3/-17/-77"), 77u);  // contact not remapped
    EXPECT_EQ(remapreply::childRowIdOf("3/456/77"), 0u);
    EXPECT_EQ(remapreply::childRowIdOf("-77"), 0u);
    EXPECT_EQ(remapreply::childRowIdOf("3/4/-99999999999999999999999"), 0u);
}

// A phone's remap answer written into a real mirror: only the rows the message offered take an
// id, and only from a text value; a malformed or foreign entry changes nothing.
TEST(DeviceRecords, RemapReplyWritesOnlyOfferedRows) {
    QTemporaryDir tmp;
    LocalDb db(tmp.filePath("m"), QSharedPointer<AbsContactCombineRule>(new IOSContactCombineRule));
    db.create();
    pim::_Contact a(0, "", "Ann"), b(0, "", "Bo"), c(0, "", "Cy");
    for (pim::_Contact* x : {&a, &b, &c}) {
        db.insertContactBase(*x);
    }
    pim::Entity pa = ent({{"data1", "1"}, {"data2", 2}}), pb = ent({{"data1", "2"}, {"data2", 2}}),
                pc = ent({{"data1", "3"}, {"data2", 2}});
    db.insertEntity(a._id, pim::ENTITY_PHONE, pa);
    db.insertEntity(b._id, pim::ENTITY_PHONE, pb);
    db.insertEntity(c._id, pim::ENTITY_PHONE, pc);
    auto key = [](const pim::_Contact& x) { return QStringLiteral("-%1").arg(x._id); };
    auto childKey = [](const QString& owner, const pim::Entity& e) {
        return QStringLiteral("3/%1/-%2").arg(owner).arg(e._id);
    };

    PlistCFType remap = PlistCFType::createCFDictionary();
    remap.put(key(a), PlistCFType::createCFString("501"));
    remap.put(key(b), PlistCFType::createCFNumberInt32(502));  // not a text: ignored
    remap.put(key(c), PlistCFType::createCFString("503"));     // not offered: ignored
    remap.put("-x1", PlistCFType::createCFString("504"));
    remap.put(childKey("501", pa), PlistCFType::createCFString("3/501/9"));
    remap.put(childKey(key(b), pb), PlistCFType::createCFString(""));        // empty: ignored
    remap.put(childKey("503", pc), PlistCFType::createCFString("3/503/9"));  // not offered

    const QMap<unsigned long long, QString> given =
        remapreply::applyContactIds(remap, {a._id, b._id}, db);
    EXPECT_EQ(given, (QMap<unsigned long long, QString>{{a._id, "501"}}));
    remapreply::applyEntityIds(remap, {pa._id, pb._id}, db);

    EXPECT_EQ(db.contact(a._id).srcId, "501");
    EXPECT_EQ(db.contact(b._id).srcId, "");
    EXPECT_EQ(db.contact(c._id).srcId, "");
    EXPECT_EQ(db.contact(a._id).entities.value(pim::ENTITY_PHONE).value(0).srcId, "3/501/9");
    EXPECT_EQ(db.contact(b._id).entities.value(pim::ENTITY_PHONE).value(0).srcId, "");
    EXPECT_EQ(db.contact(c._id).entities.value(pim::ENTITY_PHONE).value(0).srcId, "");

    // The same answer lacks ids for b and its phone: a message with them is refused whole.
    PlistCFType sent = PlistCFType::createCFDictionary();
    contactrecords::addContact(sent, a);
    contactrecords::addContact(sent, b);
    contactrecords::addEntity(sent, key(b), pim::ENTITY_PHONE, -static_cast<long long>(pb._id), pb);
    try {
        remapreply::checkNewIdsGiven(sent, remap);
        ADD_FAILURE() << "missing ids accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains("2 new record")) << e.what();
    }

    // A one-contact message: its own key first, else the first key the phone gave.
    PlistCFType own = PlistCFType::createCFDictionary();
    own.put("-77", PlistCFType::createCFString("600"));
    EXPECT_EQ(remapreply::applyOwnContactId(own, key(c), c._id, db), "600");
    EXPECT_EQ(db.contact(c._id).srcId, "600");
    EXPECT_EQ(remapreply::applyOwnContactId(PlistCFType::createCFDictionary(), "600", c._id, db),
              "");
    EXPECT_EQ(db.contact(c._id).srcId, "600");
}

// What the writers send comes back the same through the mirror reader.
TEST(DeviceRecords, RoundTripThroughMirrorReader) {
    QTemporaryDir tmp;
    QSharedPointer<LocalDb> db(new LocalDb(
        tmp.filePath("m"), QSharedPointer<AbsContactCombineRule>(new IOSContactCombineRule)));
    db->create();

    pim::_Contact c(17, "", "Dr. Ann Marie Lee Jr.");
    c.entities[pim::ENTITY_NAME] = {ent({{"data2", "Ann"},
                                         {"data3", "Lee"},
                                         {"data4", "Marie"},
                                         {"data5", "Dr."},
                                         {"data6", "Jr."},
                                         {"data7", "あん"},
                                         {"data8", "りー"}})};
    c.entities[pim::ENTITY_ORG] = {ent({{"data1", "Acme"}, {"data4", "Boss"}, {"data5", "IT"}})};
    c.entities[pim::ENTITY_EVENT] = {ent({{"data1", "1980-01-02T03:04:05"}, {"data2", 3}}),
                                     ent({{"data1", "2010-06-07T00:00:00"}, {"data2", 1}}, 31)};
    c.entities[pim::ENTITY_PHOTO] = {ent({{"data15", QByteArray("\x89PNG\0x", 6)}})};
    c.entities[pim::ENTITY_NOTES] = {ent({{"data1", "line1\nline2"}})};
    c.entities[pim::ENTITY_PHONE] = {ent({{"data1", "+1 555"}, {"data2", 2}}, 32),
                                     ent({{"data1", "777"}, {"data2", 1}, {"data3", "Boat"}}, 33)};
    c.entities[pim::ENTITY_IM] = {ent({{"data1", "ann"}, {"data2", 2}, {"data5", 4}}, 34)};
    c.entities[pim::ENTITY_ADDR] = {
        ent({{"data4", "Main 1"}, {"data7", "Town"}, {"data9", "123"}, {"data10", "Land"}}, 35)};
    c.entities[pim::ENTITY_REL] = {ent({{"data1", "Bob"}, {"data2", 14}}, 36)};
    c.entities[pim::ENTITY_URL] = {ent({{"data1", "http://x"}, {"data2", 5}}, 37)};
    c.entities[pim::ENTITY_EMAIL] = {ent({{"data1", "a@b.c"}, {"data2", 1}}, 38)};

    PlistCFType records = PlistCFType::createCFDictionary();
    contactrecords::addContact(records, c);
    const QString cid = contactrecords::contactRecordId(c);
    for (auto it = c.entities.constBegin(); it != c.entities.constEnd(); ++it) {
        for (const pim::Entity& e : it.value()) {
            contactrecords::addEntity(records, cid, it.key(), -static_cast<long long>(e._id), e);
        }
    }
    // Through the wire format and back.
    const PlistCFType wire = PlistCFType::createCFPropertyList(
        records.CFPropertyListToBytes(kCFPropertyListBinaryFormat_v1_0));
    db->beginEdit();
    {
        IOSSyncToPCThread::RecordWriter writer(db.data());
        writer.addBatch(wire);
        EXPECT_EQ(writer.orphanCount(), 0);
    }
    db->endEdit(true);

    const QList<pim::_Contact> all = db->contacts();
    ASSERT_EQ(all.size(), 1);
    const pim::_Contact back = db->contact(all[0]._id);
    EXPECT_EQ(back.srcId, "-17");
    EXPECT_EQ(back.fullName, "Dr. Ann Marie Lee Jr.");
    const pim::Entity name = back.entities.value(pim::ENTITY_NAME).value(0);
    for (const char* k : {"data2", "data3", "data4", "data5", "data6", "data7", "data8"}) {
        EXPECT_EQ(name.text(k), c.entities[pim::ENTITY_NAME][0].text(k)) << k;
    }
    auto only = [&](int type) { return back.entities.value(type).value(0); };
    EXPECT_EQ(only(pim::ENTITY_ORG).text("data5"), "IT");
    EXPECT_EQ(only(pim::ENTITY_PHOTO).fields.value("data15").toByteArray(),
              QByteArray("\x89PNG\0x", 6));
    EXPECT_EQ(only(pim::ENTITY_NOTES).text("data1"), "line1\nline2");
    EXPECT_EQ(only(pim::ENTITY_IM).text("data5"), "4");
    EXPECT_EQ(only(pim::ENTITY_IM).srcId, "13/-17/-34");
    EXPECT_EQ(only(pim::ENTITY_ADDR).text("data9"), "123");
    EXPECT_EQ(only(pim::ENTITY_REL).text("data2"), "14");
    EXPECT_EQ(only(pim::ENTITY_URL).text("data2"), "5");
    EXPECT_EQ(only(pim::ENTITY_EMAIL).text("data2"), "1");

    QStringList phones, events;
    for (const pim::Entity& e : back.entities.value(pim::ENTITY_PHONE)) {
        phones << e.text("data1") + "|" + e.text("data2") + "|" + e.text("data3");
    }
    for (const pim::Entity& e : back.entities.value(pim::ENTITY_EVENT)) {
        events << e.text("data1") + "|" + e.text("data2");
    }
    phones.sort();
    events.sort();
    EXPECT_EQ(phones, (QStringList{"+1 555|2|", "777|0|Boat"}));
    EXPECT_EQ(events, (QStringList{"1980-01-02T03:04:05|3", "2010-06-07T00:00:00|1"}));
}
