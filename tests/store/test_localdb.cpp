#include "store_test_util.h"

#include "store/entitycolumns.h"

#include <sqlite3.h>

#include "tests/export/small_disk.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

// Columns each type stores, by key number.
const std::map<int, std::vector<int> > kColumns = {
    {1, {1, 2, 3, 4, 5, 6, 7, 8}},
    {2, {4, 15}},
    {3, {1, 2, 3}},
    {4, {1, 2, 3}},
    {5, {1, 2, 3}},
    {6, {1, 2, 3}},
    {7, {1, 2}},
    {8, {1, 2, 3, 5, 6}},
    {9, {1}},
    {10, {1, 2, 3, 4, 5, 6, 7, 9}},
    {11, {1, 2, 3}},
    {12, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
    {13, {1, 2, 3}},
};

QString key(int n) {
    return QStringLiteral("data%1").arg(n);
}

TEST(LocalDbTemplate, CreateGivesEmptySchemaWith0600) {
    TempDb t;
    EXPECT_EQ(QFileInfo(t.path).size(), 12288);
    EXPECT_EQ(QFile::permissions(t.path) & 0x7777,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                  QFileDevice::WriteUser);
    Sqlite3DB raw;
    raw.openThrow(t.path, SQLITE_OPEN_READONLY);
    Sqlite3Cursor c = raw.queryThrow(
        "select group_concat(name, ',') from (select name from sqlite_master order by name)");
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getText(0),
              "contact,contact_group,data,index_contacts_full_name,index_contacts_src_id,"
              "index_data_contact,index_data_data,index_data_src_id,sqlite_sequence");
    Sqlite3Cursor p = raw.queryThrow(
        "select (select page_size from pragma_page_size), (select page_count from "
        "pragma_page_count), (select user_version from pragma_user_version), (select encoding "
        "from pragma_encoding)");
    ASSERT_TRUE(p.moveNext());
    EXPECT_EQ(p.getInt(0), 1024);
    EXPECT_EQ(p.getInt(1), 12);
    EXPECT_EQ(p.getInt(2), 0);
    EXPECT_EQ(p.getText(3), "UTF-8");
    Sqlite3Cursor cols =
        raw.queryThrow("select group_concat(name, ',') from pragma_table_info('data')");
    ASSERT_TRUE(cols.moveNext());
    EXPECT_EQ(cols.getText(0),
              "_id,type,contact_id,src_id,data1,data2,data3,data4,data5,data6,data7,data8,data9,"
              "data10,data11,data12,data13,data14,data15");

    // Declarations (type, not null, default, key) and each index's table, columns and order.
    QStringList decl;
    for (const char* table : {"contact", "data", "contact_group"}) {
        Sqlite3Cursor ti = raw.queryThrow(QString("select name,type,\"notnull\",dflt_value,pk from "
                                                  "pragma_table_info('%1') order by cid")
                                              .arg(table));
        while (ti.moveNext()) {
            if (ti.getText(0).startsWith("data") && ti.getText(0) != "data15" &&
                ti.getText(0) != "data1")
                continue;  // data2..data14 are declared as data1 is
            decl << QString("%1.%2 %3 %4 %5 %6")
                        .arg(table, ti.getText(0), ti.getText(1), ti.getText(2), ti.getText(3),
                             ti.getText(4));
        }
    }
    EXPECT_EQ(decl, QStringList({"contact._id INTEGER 1  1", "contact.src_id TEXT 0  0",
                                 "contact.full_name TEXT 0  0", "data._id INTEGER 1  1",
                                 "data.type INTEGER 1  0", "data.contact_id INTEGER 1  0",
                                 "data.src_id TEXT 0  0", "data.data1 TEXT 0 '' 0",
                                 "data.data15 BLOB 0  0", "contact_group._id INTEGER 1  1",
                                 "contact_group.name TEXT 1  0"}));
    Sqlite3Cursor dflt = raw.queryThrow(
        "select count(*) from pragma_table_info('data') where name glob 'data[0-9]*' and "
        "name<>'data15' and type='TEXT' and dflt_value=''''''");
    ASSERT_TRUE(dflt.moveNext());
    EXPECT_EQ(dflt.getInt(0), 14);
    Sqlite3Cursor autoinc = raw.queryThrow(
        "select count(*) from sqlite_master where type='table' and sql like '%AUTOINCREMENT%'");
    ASSERT_TRUE(autoinc.moveNext());
    EXPECT_EQ(autoinc.getInt(0), 3);
    QStringList indexes;
    Sqlite3Cursor ix = raw.queryThrow(
        "select m.name, m.tbl_name, (select group_concat(c, ',') from (select name || (case "
        "desc when 0 then ' asc' else ' desc' end) c from pragma_index_xinfo(m.name) where "
        "key=1 order by seqno)) from sqlite_master m where m.type='index' order by m.name");
    while (ix.moveNext())
        indexes << ix.getText(0) + " " + ix.getText(1) + "(" + ix.getText(2) + ")";
    EXPECT_EQ(indexes, QStringList({"index_contacts_full_name contact(full_name asc)",
                                    "index_contacts_src_id contact(src_id asc)",
                                    "index_data_contact data(contact_id asc,type asc)",
                                    "index_data_data data(type asc,data1 asc)",
                                    "index_data_src_id data(src_id asc)"}));
}

TEST(LocalDbTemplate, CreateReplacesOpenFileAndStaleJournal) {
    TempDb t;
    pim::_Contact c = makeContact("Old");
    t.db->insertContactBase(c);
    pim::Entity n = makeEntity({{"data1", "Old"}});
    t.db->insertEntity(c._id, pim::ENTITY_NAME, n);
    // A leftover journal from a crashed run must not be replayed into the new file.
    QFile j(t.path + "-journal");
    ASSERT_TRUE(j.open(QIODevice::WriteOnly));
    j.write(QByteArray(2048, '\x42'));
    j.close();
    t.db->create();  // handle still open: must be closed first
    EXPECT_FALSE(QFile::exists(t.path + "-journal"));
    EXPECT_TRUE(t.db->contacts().isEmpty());
    EXPECT_EQ(t.db->contact(c._id)._id, 0u);
}

// A database whose folder takes no new file, or whose disk is full, is not replaced: the old
// file stays byte for byte and the message says why.
TEST(LocalDbTemplate, CreateKeepsTheOldFileOnAReadOnlyOrFullFolder) {
    const qint64 templateSize = QFile(LocalDb::templatePath()).size();
    ASSERT_GT(templateSize, 0);
    // Room for the old database and not for a second copy beside it.
    SmallDisk disk(int(templateSize / 1024) + 12);
    const QString path = disk.filePath("old.db");
    LocalDb db(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    pim::_Contact c = makeContact("Kept");
    db.insertContactBase(c);
    db.close();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray old = f.readAll();
    f.close();

    // Full disk; without a tmpfs, a file-size limit below the template's size.
    SmallDisk limit(int(templateSize / 2048), false);
    SmallDisk& full = disk.mounted() ? disk : limit;
    full.arm();
    try {
        db.create();
        ADD_FAILURE() << "create on a full disk succeeded";
    } catch (const std::exception& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), full.errorText());
    }
    full.disarm();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), old);
    f.close();
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"old.db"}));

    // Read-only folder (a read-only mount; a root process ignores folder permissions).
    if (!disk.mounted())
        GTEST_SKIP() << "no tmpfs: the read-only folder needs one";
    ASSERT_EQ(::mount(nullptr, QFile::encodeName(disk.path()).constData(), nullptr,
                      MS_REMOUNT | MS_RDONLY, nullptr),
              0);
    try {
        db.create();
        ADD_FAILURE() << "create in a read-only folder succeeded";
    } catch (const std::exception& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("The data folder %1 is read-only: %2")
                      .arg(disk.path(), QString::fromLocal8Bit(std::strerror(EROFS))));
    }
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), old);
    EXPECT_EQ(db.contact(c._id).fullName, "Kept");
    db.close();
    // A database folder that does not exist yet and cannot be made there.
    LocalDb fresh(disk.filePath("ios_cache/phone"),
                  QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    try {
        fresh.create();
        ADD_FAILURE() << "create below a read-only folder succeeded";
    } catch (const std::exception& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("The data folder %1 is read-only: %2")
                      .arg(disk.path(), QString::fromLocal8Bit(std::strerror(EROFS))));
    }
}

TEST(LocalDbFile, LazyOpenAndRemove) {
    QTemporaryDir dir;
    const QString path = dir.filePath("none.db");
    LocalDb db(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    EXPECT_FALSE(db.isOpen());
    EXPECT_THROW(db.contacts(), std::runtime_error);
    EXPECT_FALSE(QFile::exists(path));
    db.close();  // closed: nothing

    db.create();
    EXPECT_FALSE(db.isOpen());
    db.endEdit(true);  // opens, nothing to commit
    EXPECT_TRUE(db.isOpen());
    db.removeDB();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_THROW(db.groups(), std::runtime_error);
    EXPECT_NO_THROW(db.endEdit(false));  // error paths call it; nothing to roll back
    EXPECT_THROW(db.endEdit(true), std::runtime_error);
    EXPECT_FALSE(QFile::exists(path));
}

// Every type stores exactly its columns and reads them back as text (photo bytes as bytes).
TEST(LocalDbEntities, EachTypeRoundTripsItsColumns) {
    TempDb t;
    pim::_Contact c = makeContact("Round Trip");
    t.db->insertContactBase(c);
    std::map<int, pim::Entity> written;
    for (const auto& tc : kColumns) {
        pim::Entity e(0, QStringLiteral("src-%1").arg(tc.first));
        for (int k = 1; k <= 15; ++k) {
            if (k == 15) {
                e.fields[key(k)] = QByteArray("\0\x89PNG-", 6) + QByteArray::number(tc.first);
            } else {
                e.fields[key(k)] = QStringLiteral("t%1-k%2").arg(tc.first).arg(k);
            }
        }
        e._id = 999999;  // overwritten by the insert
        t.db->insertEntity(c._id, tc.first, e);
        EXPECT_NE(e._id, 999999u);
        written[tc.first] = e;
    }
    const pim::_Contact back = t.db->contact(c._id);
    EXPECT_EQ(back.fullName, "Round Trip");
    for (const auto& tc : kColumns) {
        SCOPED_TRACE(tc.first);
        ASSERT_EQ(back.entities.value(tc.first).size(), 1);
        const pim::Entity& r = back.entities.value(tc.first).first();
        EXPECT_EQ(r._id, written[tc.first]._id);
        EXPECT_EQ(r.srcId, QStringLiteral("src-%1").arg(tc.first));
        QStringList keys;
        for (int k : tc.second)
            keys << key(k);
        keys.sort();
        EXPECT_EQ(r.fields.keys(), keys);
        for (int k : tc.second) {
            if (k == 15) {
                EXPECT_EQ(r.fields.value(key(k)).userType(), QMetaType::QByteArray);
                EXPECT_EQ(r.fields.value(key(k)), written[tc.first].fields.value(key(k)));
            } else if (tc.first == pim::ENTITY_PHOTO && k == 4) {
                EXPECT_EQ(r.fields.value(key(k)).toString(), written[2].photoHash());
            } else {
                EXPECT_EQ(r.fields.value(key(k)).userType(), QMetaType::QString);
                EXPECT_EQ(r.fields.value(key(k)).toString(),
                          QStringLiteral("t%1-k%2").arg(tc.first).arg(k));
            }
        }
    }
    // The photo in memory keeps its own data4; the row has the computed hash.
    EXPECT_EQ(written[2].fields.value("data4").toString(), "t2-k4");
    // The list reads every column but the photo bytes; with those loaded it is the contact.
    QList<pim::_Contact> listed = t.db->contacts();
    EXPECT_FALSE(
        listed.first().entities.value(pim::ENTITY_PHOTO).first().fields.contains("data15"));
    t.db->loadPhotos(listed);
    EXPECT_EQ(listed.first().entities, back.entities);
}

TEST(LocalDbEntities, PartialEntitiesAndValueForms) {
    TempDb t;
    pim::_Contact c = makeContact("P");
    t.db->insertContactBase(c);
    pim::Entity phone = makeEntity({{"data1", "+1 555"}, {"data2", 2}});
    t.db->insertEntity(c._id, pim::ENTITY_PHONE, phone);
    EXPECT_TRUE(phone.fields.contains("data3"));  // gained, empty
    pim::Entity photo;                            // no data4, no data15
    t.db->insertEntity(c._id, pim::ENTITY_PHOTO, photo);
    EXPECT_FALSE(photo.fields.contains("data4"));
    EXPECT_TRUE(photo.fields.contains("data15"));
    pim::Entity date =
        makeEntity({{"data1", QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6, 789))}, {"data2", 3}});
    t.db->insertEntity(c._id, pim::ENTITY_EVENT, date);
    t.db->insertEntity(c._id, pim::ENTITY_EVENT, date);  // twice: two rows, second id kept
    const pim::_Contact back = t.db->contact(c._id);
    const pim::Entity& p = back.entities.value(pim::ENTITY_PHONE).first();
    EXPECT_EQ(p.fields.value("data2"), QVariant(QString("2")));
    EXPECT_EQ(p.fields.value("data3").toString(), "");
    EXPECT_EQ(back.entities.value(pim::ENTITY_PHOTO).first().fields.value("data4").toString(),
              pim::Entity::photoHash(QByteArray()));
    ASSERT_EQ(back.entities.value(pim::ENTITY_EVENT).size(), 2);
    EXPECT_EQ(back.entities.value(pim::ENTITY_EVENT).last()._id, date._id);
    EXPECT_EQ(back.entities.value(pim::ENTITY_EVENT).first().fields.value("data1").toString(),
              "2001-02-03T04:05:06");
    // A row of an unknown type reads back empty under its code; writing one is refused.
    t.db->db().executeThrow(
        QStringLiteral("insert into data(type,contact_id,src_id,data1) values(42,%1,'s','x')")
            .arg(c._id));
    const pim::_Contact again = t.db->contact(c._id);
    ASSERT_EQ(again.entities.value(42).size(), 1);
    EXPECT_TRUE(again.entities.value(42).first().fields.isEmpty());
    EXPECT_EQ(again.entities.value(42).first().srcId, "s");
    // Damaged type codes (negative, first row of a contact) come back too, in the list as well.
    t.db->db().executeThrow(
        QStringLiteral("insert into data(type,contact_id) values(-1,%1)").arg(c._id + 1000));
    t.db->db().executeThrow(
        QStringLiteral("insert into contact(_id,full_name) values(%1,'damaged')")
            .arg(c._id + 1000));
    const QList<pim::_Contact> all = t.db->contacts();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all.last().entities.value(-1).size(), 1);
    EXPECT_EQ(all.first().entities.value(42).size(), 1);
    pim::Entity bad;
    EXPECT_THROW(t.db->insertEntity(c._id, 0, bad), std::runtime_error);
    EXPECT_EQ(bad._id, 0u);
}

TEST(LocalDbEntities, KeysHeldAheadStoreTheSameRowsAndLeaveTheMapShared) {
    // Details given their row's keys on another thread are written as they are: the same rows
    // as the plain details, and the maps are only read.
    TempDb plain, held;
    for (TempDb* t : {&plain, &held}) {
        pim::_Contact c = makeContact("Held");
        t->db->insertContactBase(c);
        for (const auto& tc : kColumns) {
            SCOPED_TRACE(tc.first);
            pim::Entity e(0, QStringLiteral("src-%1").arg(tc.first));
            e.fields[key(tc.second.front())] = QStringLiteral("v%1").arg(tc.first);
            if (tc.first == pim::ENTITY_PHOTO)
                e.fields[key(15)] = QByteArray("\xff\xd8photo", 7);
            if (t == &held) {
                entitycolumns::holdRowKeys(tc.first, e);
                const QMap<QString, QVariant> before = e.fields;
                t->db->insertEntity(c._id, tc.first, e);
                EXPECT_TRUE(e.fields.isSharedWith(before));
            } else {
                t->db->insertEntity(c._id, tc.first, e);
            }
        }
    }
    const QString all = QStringLiteral("select * from data order by _id");
    EXPECT_EQ(held.rows(all), plain.rows(all));
    EXPECT_EQ(plain.rows(all).size(), int(kColumns.size()));
}

class LocalDbQueries : public ::testing::Test {
protected:
    unsigned long long add(const QString& name,
                           std::initializer_list<std::pair<int, pim::Entity> > es) {
        pim::_Contact c = makeContact(name, es);
        t.db->insertContactBase(c);
        for (auto it = c.entities.begin(); it != c.entities.end(); ++it) {
            for (pim::Entity& e : it.value())
                t.db->insertEntity(c._id, it.key(), e);
        }
        return c._id;
    }
    QStringList names(unsigned long long group, const QString& kw) {
        QStringList l;
        for (const pim::_Contact& c : t.db->contacts(group, kw))
            l << c.fullName;
        return l;
    }
    TempDb t;
};

TEST_F(LocalDbQueries, ListSearchAndGroups) {
    auto nm = [](const char* s) { return std::make_pair(1, makeEntity({{"data1", s}})); };
    const auto ann = add("Ann", {nm("Ann"), {3, makeEntity({{"data1", "555-0100"}})}});
    add("JOANNA", {nm("JOANNA")});
    const auto zoe =
        add("Zoe", {nm("Zoe"), {10, makeEntity({{"data1", "Acme"}, {"data4", "CTO"}})}});
    add("adam", {nm("adam"), {2, makeEntity({{"data15", QByteArray("zzphotozz")}})}});
    add("", {{9, makeEntity({{"data1", "note"}})}});
    const auto bare = add("NoRows", {});

    EXPECT_EQ(names(0, ""), QStringList({"", "Ann", "JOANNA", "Zoe", "adam"}));
    EXPECT_EQ(t.db->contact(bare).fullName, "NoRows");
    EXPECT_EQ(t.db->contact(123456)._id, 0u);
    EXPECT_EQ(names(0, "ann"), QStringList({"Ann", "JOANNA"}));
    EXPECT_EQ(names(0, "a_n"), QStringList({"Ann", "JOANNA"}));  // search keeps wildcards
    EXPECT_EQ(names(0, "0100"), QStringList({"Ann"}));
    EXPECT_EQ(names(0, "CTO"), QStringList());    // only data1 is searched
    EXPECT_EQ(names(0, "photo"), QStringList());  // photos are not searched
    EXPECT_EQ(names(0, " ann"), QStringList());
    EXPECT_EQ(t.db->contacts(0, "zoe").first().entities.value(10).size(), 1);  // whole contact

    const auto work = t.db->getGroupIdOrAdd("Work");
    const auto family = t.db->getGroupIdOrAdd("family");
    EXPECT_EQ(t.db->getGroupIdOrAdd("WORK"), work);
    EXPECT_EQ(t.db->groups().size(), 2);
    EXPECT_EQ(t.db->groups().first().name, "Work");
    EXPECT_EQ(names(0, "work"), QStringList());  // memberships are not searched

    t.db->setGroup(ann, family, "family");
    const pim::Entity m = t.db->setGroup(ann, work, "Work");
    EXPECT_EQ(m.fields.value("data1"), QVariant(qulonglong(work)));
    EXPECT_EQ(
        t.count(
            QStringLiteral("select count(*) from data where type=7 and contact_id=%1").arg(ann)),
        1);
    t.db->setGroup(zoe, work, "Work");
    EXPECT_EQ(names(work, ""), QStringList({"Ann", "Zoe"}));
    EXPECT_EQ(names(work, "zo"), QStringList({"Zoe"}));
    EXPECT_EQ(names(family, ""), QStringList());
    t.db->ungroup(zoe);
    t.db->ungroup(zoe);
    EXPECT_EQ(names(work, ""), QStringList({"Ann"}));

    t.db->removeGroupOnly(work);
    EXPECT_EQ(t.db->groups().size(), 1);
    EXPECT_EQ(names(work, ""), QStringList({"Ann"}));  // memberships stay
    t.db->removeContact(ann);
    t.db->removeContact(ann);
    EXPECT_EQ(t.count(QStringLiteral("select count(*) from data where contact_id=%1").arg(ann)), 0);
    EXPECT_EQ(t.db->contact(ann)._id, 0u);
}

TEST_F(LocalDbQueries, GroupNamesAreNotPatterns) {
    const auto under = t.db->getGroupIdOrAdd("A_C");
    const auto pct = t.db->getGroupIdOrAdd("100%");
    EXPECT_NE(t.db->getGroupIdOrAdd("ABC"), under);
    EXPECT_NE(t.db->getGroupIdOrAdd("100"), pct);
    EXPECT_EQ(t.db->getGroupIdOrAdd("a_c"), under);
    EXPECT_EQ(t.db->getGroupIdOrAdd(QString()), t.db->getGroupIdOrAdd(""));
    EXPECT_EQ(t.db->groups().size(), 5);
}

TEST_F(LocalDbQueries, Updates) {
    pim::Entity org = makeEntity({{"data1", "Acme"}, {"data2", 1}, {"data4", "CTO"}});
    pim::Entity photo = makeEntity({{"data15", QByteArray("img1")}});
    pim::Entity addr = makeEntity({{"data1", "x"}});
    pim::_Contact c = makeContact("U");
    t.db->insertContactBase(c);
    t.db->insertEntity(c._id, pim::ENTITY_ORG, org);
    t.db->insertEntity(c._id, pim::ENTITY_PHOTO, photo);
    t.db->insertEntity(c._id, pim::ENTITY_ADDR, addr);
    t.db->updateEntitySrcId(org._id, "dev-1");
    t.db->db().executeThrow(
        QStringLiteral("update data set data8='keep', data12='keep' where _id=%1").arg(org._id));

    org.fields.remove("data4");  // a missing key clears its column
    org.fields["data1"] = "Acme Inc";
    org.srcId = "";  // the source id is always rewritten
    t.db->updateEntity(pim::ENTITY_ORG, org);
    pim::Entity date = makeEntity({{"data1", "1999-01-01T00:00:00"}});
    t.db->insertEntity(c._id, pim::ENTITY_EVENT, date);
    date.fields["data1"] = QDateTime(QDate(2004, 5, 6), QTime(7, 8, 9, 10));
    t.db->updateEntity(pim::ENTITY_EVENT, date);
    EXPECT_EQ(t.db->contact(c._id).entities.value(6).first().fields.value("data1").toString(),
              "2004-05-06T07:08:09");
    photo.fields["data15"] = QByteArray("img2");
    photo.fields["data4"] = "stale";
    t.db->updateEntity(pim::ENTITY_PHOTO, photo);
    EXPECT_THROW(t.db->updateEntity(99, addr), std::runtime_error);
    pim::Entity ghost = makeEntity({{"data1", "nobody"}});
    t.db->updateEntity(pim::ENTITY_NOTES, ghost);  // id 0: nothing

    Sqlite3Cursor r =
        t.db->db().queryThrow(QStringLiteral("select * from data where _id=%1").arg(org._id));
    ASSERT_TRUE(r.moveNext());
    EXPECT_EQ(r.getText("data1"), "Acme Inc");
    EXPECT_EQ(r.getText("data4"), "");
    EXPECT_EQ(r.getText("data8"), "keep");
    EXPECT_EQ(r.getText("data12"), "keep");
    EXPECT_EQ(r.getText("src_id"), "");
    const pim::_Contact back = t.db->contact(c._id);
    EXPECT_EQ(back.entities.value(2).first().fields.value("data4").toString(),
              pim::Entity::photoHash("img2"));
    EXPECT_EQ(back.entities.value(12).first().fields.value("data1").toString(), "x");
    EXPECT_EQ(t.count("select count(*) from data where data1='nobody'"), 0);

    c.fullName = "Renamed";
    c.srcId = "c-src";
    t.db->updateContactBase(c);
    t.db->updateEntitySrcId(QString(""), QString("bulk"));
    t.db->updateContactBaseSrcId(QString("c-src"), QString("c-new"));
    EXPECT_EQ(t.db->contact(c._id).fullName, "Renamed");
    EXPECT_EQ(t.db->contact(c._id).srcId, "c-new");
    EXPECT_EQ(t.count("select count(*) from data where src_id='bulk'"), 4);
    t.db->updateContactBaseSrcId(c._id, QString("by-id"));
    EXPECT_EQ(t.db->contact(c._id).srcId, "by-id");
}

// Bad files give std::runtime_error naming the call, and are left as they were.
TEST(LocalDbBadFiles, ThrowAndLeaveFile) {
    QTemporaryDir dir;
    auto rule = QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule);
    const QString junk = dir.filePath("junk.db");
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("SQLite format 2\0 this is no database", 37);
    f.close();
    LocalDb db(junk, rule);
    try {
        db.contacts();
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("sqlite3_"), std::string::npos) << e.what();
    }
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("SQLite format 2\0 this is no database", 37));

    {
        // Truncated: cut a filled database in half; nothing may be written to it.
        TempDb cut;
        Sqlite3DB raw;
        raw.openThrow(cut.path, SQLITE_OPEN_READWRITE);
        raw.executeScriptThrow(
            "begin; with recursive n(i) as (select 1 union all select i+1 from n where i<3000) "
            "insert into contact(full_name) select 'name'||i from n; insert into data(type,"
            "contact_id,data1) select 3, _id, hex(randomblob(40)) from contact; commit;");
        raw.close();
        QFile::resize(cut.path, QFileInfo(cut.path).size() / 2);
        QFile in(cut.path);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        const QByteArray before = in.readAll();
        in.close();
        LocalDb db(cut.path, rule);
        EXPECT_THROW(db.contacts(), std::runtime_error);
        EXPECT_THROW(db.isContactBaseExist("name7"), std::runtime_error);
        db.close();
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        EXPECT_EQ(in.readAll(), before);
        EXPECT_FALSE(QFile::exists(cut.path + "-journal"));
    }

    TempDb t;
    Sqlite3DB holder;
    holder.openThrow(t.path, SQLITE_OPEN_READWRITE);
    holder.executeScriptThrow("begin exclusive");
    EXPECT_THROW(t.db->contacts(), std::runtime_error);
    holder.executeScriptThrow("rollback");
    EXPECT_TRUE(t.db->contacts().isEmpty());  // the next operation tries again
}

TEST(LocalDbTransactions, FailedOuterCommitIsReported) {
    TempDb t;
    t.db->open_check();
    t.db->db().executeScriptThrow(
        "pragma foreign_keys=on; create table p(id integer primary key); create table c(pid "
        "integer references p(id) deferrable initially deferred)");
    t.db->beginEdit();
    pim::_Contact c = makeContact("Kept?");
    t.db->insertContactBase(c);
    t.db->db().executeThrow("insert into c values(7)");
    EXPECT_THROW(t.db->endEdit(true), std::runtime_error);
    t.db->endEdit(false);
    EXPECT_EQ(t.db->contact(c._id)._id, 0u);
    t.db->beginEdit();
    t.db->insertContactBase(c);
    t.db->endEdit(true);
    EXPECT_EQ(t.db->contact(c._id).fullName, "Kept?");
}

}  // namespace
