// The write of an edit's change records and the mirror's table of unshown record keys, through
// a real database made from the template.
#include "store_test_util.h"

#include "store/contactchanges.h"
#include "store/devicerecordkeys.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace contactchanges;

namespace {

pim::Entity nameEntity(const char* given, const char* family) {
    return makeEntity({{"data2", given}, {"data3", family}});
}

TEST(WriteChanges, NewContactThenUpdateAndDelete) {
    TempDb t;
    pim::_Contact c;
    QList<_ChangeData> add = {
        _ChangeData(pim::ENTITY_NAME, ACTION_ADDED, nameEntity("Ada", "Lovelace")),
        _ChangeData(pim::ENTITY_PHONE, ACTION_ADDED,
                    makeEntity({{"data1", "+44 20 1234"}, {"data2", "2"}})),
    };
    g_writeChanges(*t.db, c, add);
    ASSERT_NE(c._id, 0u);
    EXPECT_EQ(c.fullName, "Ada Lovelace");
    // Added records carry the row ids they got, as the device worker needs them.
    ASSERT_NE(add[0].entity._id, 0u);
    ASSERT_NE(add[1].entity._id, 0u);

    pim::_Contact stored = t.db->contact(c._id);
    EXPECT_EQ(stored.fullName, "Ada Lovelace");
    ASSERT_EQ(stored.entities[pim::ENTITY_PHONE].size(), 1);
    EXPECT_EQ(stored.entities[pim::ENTITY_PHONE][0]._id, add[1].entity._id);

    pim::Entity renamed = add[0].entity;
    renamed.fields["data2"] = "Augusta";
    QList<_ChangeData> edit = {
        _ChangeData(pim::ENTITY_NAME, ACTION_UPDATED, renamed),
        _ChangeData(pim::ENTITY_PHONE, ACTION_DELETED, add[1].entity),
    };
    g_writeChanges(*t.db, c, edit);
    stored = t.db->contact(c._id);
    EXPECT_EQ(stored.fullName, "Augusta Lovelace");
    EXPECT_TRUE(stored.entities.value(pim::ENTITY_PHONE).isEmpty());
    EXPECT_EQ(t.count("select count(*) from contact"), 1);
}

TEST(WriteChanges, FailureInTheMiddleKeepsNothing) {
    TempDb t;
    pim::_Contact kept = makeContact("Kept");
    t.db->insertContactBase(kept);
    // A row that breaks the data table's insert half-way through the batch.
    t.db->db().executeThrow(
        Sqlite3Sql("create trigger refuse before insert on data when new.data1='refused' begin "
                   "select raise(abort, 'disk refused the row'); end"));
    pim::_Contact c;
    QList<_ChangeData> add = {
        _ChangeData(pim::ENTITY_NAME, ACTION_ADDED, nameEntity("Grace", "Hopper")),
        _ChangeData(pim::ENTITY_EMAIL, ACTION_ADDED, makeEntity({{"data1", "refused"}})),
    };
    try {
        g_writeChanges(*t.db, c, add);
        FAIL() << "the refused row was written";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("disk refused the row"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(t.count("select count(*) from contact"), 1);
    EXPECT_EQ(t.count("select count(*) from data"), 0);
    // The database takes the next edit as usual.
    pim::_Contact next;
    QList<_ChangeData> again = {
        _ChangeData(pim::ENTITY_NAME, ACTION_ADDED, nameEntity("Grace", "Hopper"))};
    g_writeChanges(*t.db, next, again);
    EXPECT_EQ(t.count("select count(*) from contact"), 2);
}

TEST(DeviceRecordKeys, DatabaseWithoutTheTableStillWorks) {
    TempDb t;
    t.db->open_check();
    // The template has no such table; a look-up makes it and finds nothing.
    EXPECT_EQ(t.count("select count(*) from sqlite_master where name='device_record_keys'"), 0);
    EXPECT_TRUE(devicerecordkeys::of(*t.db, QStringLiteral("3/17")).isEmpty());
    EXPECT_EQ(t.count("select count(*) from sqlite_master where name='device_record_keys'"), 1);

    devicerecordkeys::prepare(*t.db);  // twice is harmless
    devicerecordkeys::keep(*t.db, QStringLiteral("3/17"), QByteArray("one\0two", 7));
    devicerecordkeys::keep(*t.db, QStringLiteral("3/18"), QByteArray("other"));
    devicerecordkeys::keep(*t.db, QStringLiteral("3/17"), QByteArray("replaced"));
    t.db->close();
    EXPECT_EQ(devicerecordkeys::of(*t.db, QStringLiteral("3/17")), QByteArray("replaced"));
    EXPECT_EQ(devicerecordkeys::of(*t.db, QStringLiteral("3/18")), QByteArray("other"));
    EXPECT_TRUE(devicerecordkeys::of(*t.db, QString()).isEmpty());
}

}  // namespace
