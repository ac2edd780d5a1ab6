// The mirror reader: how device records become rows (codes, odd values, record order), and how
// a whole read ends against the simulated iPhone when the device fails part-way.
#include <QSharedPointer>
#include <QTemporaryDir>
#include <sqlite3.h>

#include "device/mobiledevice_sync.h"
#include "device/plistcftype.h"
#include "store/edittransaction.h"
#include "store/mirrorfile.h"
#include "workers_fixture.h"

namespace {

PlistCFType str(const char* s) {
    return PlistCFType::createCFString(QString::fromUtf8(s));
}

// A record of the given kind with string values; "contact" (when given) names its owners.
PlistCFType record(const char* kind, std::initializer_list<std::pair<const char*, PlistCFType>> kv,
                   QStringList owners = QStringList()) {
    PlistCFType r = PlistCFType::createCFDictionary();
    r.put(QStringLiteral("com.apple.syncservices.RecordEntityName"), str(kind));
    for (const auto& p : kv) {
        r.put(QString::fromUtf8(p.first), p.second);
    }
    if (!owners.isEmpty()) {
        PlistCFType a = PlistCFType::createCFArray();
        for (const QString& o : owners) {
            a.append(PlistCFType::createCFString(o));
        }
        r.put(QStringLiteral("contact"), a);
    }
    return r;
}

const char* const kContact = "com.apple.contacts.Contact";
const char* const kPhone = "com.apple.contacts.Phone Number";

// The entities of one type of the contact stored under a device record id.
QList<pim::Entity> entitiesOf(LocalDb& db, const QString& srcId, int type) {
    for (const pim::_Contact& listed : db.contacts()) {
        const pim::_Contact c = db.contact(listed._id);
        if (c.srcId == srcId) {
            return c.entities.value(type);
        }
    }
    ADD_FAILURE() << "no contact " << srcId.toStdString();
    return {};
}

}  // namespace

TEST(MirrorReader, RecordRowsCodesAndOddValues) {
    QTemporaryDir tmp;
    QSharedPointer<LocalDb> db(new LocalDb(
        tmp.filePath("m"), QSharedPointer<AbsContactCombineRule>(new IOSContactCombineRule)));
    db->create();

    PlistCFType batch = PlistCFType::createCFDictionary();
    // A child ahead of its contact (kept until the contact arrives).
    batch.put("3/1/9", record(kPhone, {{"value", str("999")}, {"type", str("pager")}}, {"1"}));
    batch.put("1", record(kContact, {{"job title", str("Boss")},
                                     {"birthday", str("not a date")},
                                     {"image", str("not data")}}));
    batch.put("2", record(kContact, {{"first name", str("Bo")}}));
    // Type words match exactly; "home" means 4 for web addresses.
    struct Row {
        const char* id;
        const char* kind;
        const char* type;
        int entityType;
        const char* data2;  // "" = unset
    } rows[] = {
        {"3/1/0", kPhone, "Mobile", pim::ENTITY_PHONE, ""},
        {"3/1/1", kPhone, "main", pim::ENTITY_PHONE, "12"},
        {"3/1/2", kPhone, "other", pim::ENTITY_PHONE, "0"},
        {"4/1/0", "com.apple.contacts.Email Address", "home", pim::ENTITY_EMAIL, "1"},
        {"22/1/0", "com.apple.contacts.URL", "home", pim::ENTITY_URL, "4"},
        {"22/1/1", "com.apple.contacts.URL", "home page", pim::ENTITY_URL, "1"},
        {"23/1/0", "com.apple.contacts.Related Name", "spouse", pim::ENTITY_REL, "14"},
        {"12/1/0", "com.apple.contacts.Date", "anniversary", pim::ENTITY_EVENT, "1"},
    };
    for (const Row& r : rows) {
        batch.put(r.id, record(r.kind, {{"value", str("v")}, {"type", str(r.type)}}, {"1"}));
    }
    batch.put(
        "13/1/0",
        record("com.apple.contacts.IM",
               {{"user", str("me")}, {"type", str("work")}, {"service", str("skype")}}, {"1"}));
    batch.put("13/1/1", record("com.apple.contacts.IM",
                               {{"user", str("me2")}, {"service", str("Skype")}}, {"1"}));
    // One detail shared by two contacts; one naming nobody known; kinds the reader skips.
    batch.put("3/1/7", record(kPhone, {{"value", str("777")}}, {"1", "2"}));
    batch.put("3/5/0", record(kPhone, {{"value", str("555")}}, {"5"}));
    batch.put("g1", record("com.apple.contacts.Group", {{"name", str("G")}}, {"1"}));
    batch.put("s1", str("not a record"));

    db->beginEdit();
    {
        IOSSyncToPCThread::RecordWriter writer(db.data());
        writer.addBatch(batch);
        writer.addBatch(str("not a batch"));
        EXPECT_EQ(writer.orphanCount(), 1);  // "3/5/0"
    }
    db->endEdit(true);

    ASSERT_EQ(db->contacts().size(), 2);
    // No name keys: an empty full name and a name entity of empty texts.
    const QList<pim::Entity> name1 = entitiesOf(*db, "1", pim::ENTITY_NAME);
    ASSERT_EQ(name1.size(), 1);
    EXPECT_EQ(name1[0].text("data1"), "");
    EXPECT_EQ(name1[0].text("data2"), "");
    // Only a job title: an organisation with empty company and department.
    const QList<pim::Entity> org = entitiesOf(*db, "1", pim::ENTITY_ORG);
    ASSERT_EQ(org.size(), 1);
    EXPECT_EQ(org[0].text("data4"), "Boss");
    EXPECT_EQ(org[0].text("data1"), "");
    EXPECT_EQ(org[0].text("data2"), "1");
    // Values of the wrong kind still make their entity, with empty content.
    QList<pim::Entity> events = entitiesOf(*db, "1", pim::ENTITY_EVENT);
    QStringList eventRows;
    for (const pim::Entity& e : events) {
        eventRows << e.srcId + "|" + e.text("data1") + "|" + e.text("data2");
    }
    eventRows.sort();
    EXPECT_EQ(eventRows, (QStringList{"12/1/0||1", "1||3"}));
    const QList<pim::Entity> photo = entitiesOf(*db, "1", pim::ENTITY_PHOTO);
    ASSERT_EQ(photo.size(), 1);
    EXPECT_TRUE(photo[0].fields.value("data15").toByteArray().isEmpty());

    auto bySrc = [&](const QString& contact, int type, const QString& src) {
        for (const pim::Entity& e : entitiesOf(*db, contact, type)) {
            if (e.srcId == src) {
                return e;
            }
        }
        ADD_FAILURE() << "missing " << src.toStdString();
        return pim::Entity();
    };
    for (const Row& r : rows) {
        EXPECT_EQ(bySrc("1", r.entityType, r.id).text("data2"), QString(r.data2)) << r.id;
    }
    EXPECT_EQ(bySrc("1", pim::ENTITY_PHONE, "3/1/9").text("data2"), "6");
    EXPECT_EQ(bySrc("1", pim::ENTITY_IM, "13/1/0").text("data5"), "4");
    EXPECT_EQ(bySrc("1", pim::ENTITY_IM, "13/1/0").text("data2"), "2");
    // A service without a code of its own is kept by name, to go back as it came.
    EXPECT_EQ(bySrc("1", pim::ENTITY_IM, "13/1/1").text("data5"), "0");
    EXPECT_EQ(bySrc("1", pim::ENTITY_IM, "13/1/1").text("data6"), "Skype");
    EXPECT_EQ(bySrc("1", pim::ENTITY_PHONE, "3/1/7").text("data1"), "777");
    EXPECT_EQ(bySrc("2", pim::ENTITY_PHONE, "3/1/7").text("data1"), "777");
    EXPECT_EQ(entitiesOf(*db, "2", pim::ENTITY_PHONE).size(), 1);
    EXPECT_EQ(entitiesOf(*db, "1", pim::ENTITY_GROUP).size(), 0);
}

// A whole read against the phone: one transaction, so a device failure in a later batch leaves
// the mirror as empty as it was, and the error text is the session's own.
TEST_F(WorkersTest, ReadFailsPartWayAndLeavesTheMirrorEmpty) {
    fakedevice::GenerateOptions options;
    options.order = fakedevice::GenerateOptions::Order::ChildrenFirst;
    phone->generateContacts(12, options);
    phone->updateScenario([](fakedevice::Scenario& s) { s.batchSize = 10; });

    // First a clean read: every record arrives, children ahead of contacts included.
    QSharedPointer<LocalDb> db = readPhone("ok");
    EXPECT_EQ(db->contacts().size(), 12);
    int details = 0;
    for (const pim::_Contact& listed : db->contacts()) {
        const pim::_Contact c = db->contact(listed._id);
        for (int type : {pim::ENTITY_PHONE, pim::ENTITY_EMAIL, pim::ENTITY_ADDR, pim::ENTITY_URL,
                         pim::ENTITY_IM, pim::ENTITY_REL}) {
            details += c.entities.value(type).size();
        }
        for (const pim::Entity& e : c.entities.value(pim::ENTITY_EVENT)) {
            details += e.srcId != c.srcId ? 1 : 0;  // Date records, not the birthday
        }
    }
    EXPECT_EQ(details, int(phone->recordCount() - phone->recordIds(kContact).size()));
    // The tethered-sync value goes first, on the one lockdown session of the read, and the
    // session ends without a finish.
    const std::vector<fakedevice::SetValueCall> calls = phone->setValueCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front().domain, "com.apple.mobile.tethered_sync");
    EXPECT_EQ(calls.front().key, "Contacts");
    EXPECT_EQ(phone->countRequests(fakedevice::kServiceLockdown, "StartSession"), 1u);
    ASSERT_TRUE(phone->waitForSyncEnd(5s));
    EXPECT_FALSE(phone->syncSessions().back().finished);

    struct Case {
        std::function<void(fakedevice::Scenario&)> set;
        const char* error;
    } cases[] = {
        {[](fakedevice::Scenario& s) { s.dropAtBatch = 2; },
         "mobilesync_receive_changes failed. return -256."},
        {[](fakedevice::Scenario& s) { s.cancelAtBatch = 2; },
         "mobilesync_receive_changes failed. return -8."},
        // A phone that hangs up or sends a malformed batch mid-read ends it with an error.
        {[](fakedevice::Scenario& s) { s.disconnectAtBatch = 2; },
         "mobilesync_receive_changes failed. return -8. The phone ended the session"},
        {[](fakedevice::Scenario& s) { s.malformedAtBatch = 2; },
         "mobilesync_receive_changes failed. return -2. The phone sent an invalid message"},
        {[](fakedevice::Scenario& s) {
             s.faults = {{fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice", 2,
                          fakedevice::FaultKind::Drop}};
         },
         "mobilesync_"},
    };
    int n = 0;
    for (const Case& c : cases) {
        fakedevice::Scenario s;
        s.batchSize = 10;
        c.set(s);
        phone->setScenario(s);
        boxes.clear();
        QSharedPointer<LocalDb> failed = newDb(tmp.filePath(QString("bad%1").arg(n++)), true);
        const int rc = runUnderForm(
            [&](ProgressForm* f) { return new IOSSyncToPCThread(udid, failed.data(), f); });
        EXPECT_EQ(rc, 0) << c.error;
        ASSERT_EQ(boxes.errors.size(), 1) << c.error;
        // The cause in words first, then the failing call on a line of its own.
        EXPECT_TRUE(boxes.errors[0].contains(QString("<br/>") + c.error))
            << boxes.errors[0].toStdString();
        EXPECT_TRUE(failed->contacts().isEmpty()) << c.error;
    }
}

namespace {

// Every row of a mirror, in row order, photo bytes by their hash: two mirrors with the same
// dump hold the same rows under the same ids.
QStringList dumpRows(LocalDb& db) {
    QStringList out;
    for (const char* sql : {"select * from contact order by _id", "select * from data order by _id",
                            "select * from device_record_keys order by src_id"}) {
        Sqlite3Cursor cur = db.db().queryThrow(sql);
        while (cur.moveNext()) {
            QStringList row;
            for (int i = 0; i < cur.columnCount(); ++i) {
                const QByteArray bytes = cur.getBlob(i);
                row << (bytes.size() > 64 ? pim::Entity::photoHash(bytes) : QString(bytes));
            }
            out << row.join('|');
        }
    }
    return out;
}

}  // namespace

// The read makes rows on one thread and stores them on another, its pages going to the file as
// they fill: it stores what storing each batch in turn on one thread stores, and a store that
// fails late keeps nothing of the read.
TEST_F(WorkersTest, ReadStoresWhatOneThreadStoresAndAFailedStoreKeepsNothing) {
    fakedevice::GenerateOptions options;
    options.order = fakedevice::GenerateOptions::Order::ChildrenFirst;
    options.photoEvery = 2;
    options.photoBytes = 40000;  // 6 MB of photos, more than the read's page cache
    options.childNamingTwoContacts = true;
    options.unknownKind = true;
    options.wrongValueTypes = true;
    phone->generateContacts(300, options);
    phone->updateScenario([](fakedevice::Scenario& s) { s.batchSize = 40; });
    QSharedPointer<LocalDb> piped = readPhone("piped");

    QSharedPointer<LocalDb> plain = newDb(tmp.filePath("plain"), true);
    {
        mobiledevice_sync_set_tethered_throw(udid, "Contacts", false);
        mobiledevice_sync_client client;
        mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
        mobiledevice_sync_start_recv_all_records_throw(client);
        EditTransaction edit(*plain);
        IOSSyncToPCThread::RecordWriter writer(plain.data());
        bool more = true;
        int batches = 0;
        while (more) {
            PlistCFType batch;
            more = mobiledevice_sync_record_next_throw(client, batch, nullptr);
            writer.addBatch(batch);
            ++batches;
        }
        writer.finish();
        edit.commit();
        EXPECT_GT(batches, 20);
    }
    const QStringList rows = dumpRows(*plain);
    EXPECT_GT(rows.size(), 2000);
    EXPECT_EQ(dumpRows(*piped), rows);
    // The read's mirror is written in larger pages than the template's; the rows are the same.
    auto pragma = [](LocalDb& db, const char* sql) {
        Sqlite3Cursor c = db.db().queryThrow(sql);
        return c.moveNext() ? c.getText(0) : QString();
    };
    EXPECT_EQ(pragma(*piped, "pragma page_size"), QString::number(mirrorfile::kPageSize));
    EXPECT_EQ(pragma(*piped, "pragma integrity_check"), "ok");
    EXPECT_EQ(pragma(*plain, "pragma page_size"), "1024");
    // A file that holds contacts already keeps its pages.
    mirrorfile::useLargePages(*plain);
    EXPECT_EQ(pragma(*plain, "pragma page_size"), "1024");
    EXPECT_EQ(dumpRows(*plain), rows);
    // A rewrite that cannot run (here inside an open edit) fails and leaves the file as it was.
    QSharedPointer<LocalDb> fresh = newDb(tmp.filePath("fresh"), true);
    fresh->open_check();
    const QString tables = pragma(*fresh, "select group_concat(sql, ';') from sqlite_master");
    fresh->beginEdit();
    EXPECT_THROW(mirrorfile::useLargePages(*fresh), std::exception);
    fresh->endEdit(false);
    EXPECT_EQ(pragma(*fresh, "pragma page_size"), "1024");
    mirrorfile::useLargePages(*fresh);
    EXPECT_EQ(pragma(*fresh, "pragma page_size"), QString::number(mirrorfile::kPageSize));
    EXPECT_EQ(pragma(*fresh, "select group_concat(sql, ';') from sqlite_master"), tables);
    EXPECT_EQ(pragma(*fresh, "pragma integrity_check"), "ok");
    // The read's small page cache keeps its few megabytes in the larger pages: 12 MB of photos
    // reach the file as the edit goes on, not at its commit.
    {
        QSharedPointer<LocalDb> cached = newDb(tmp.filePath("cached"), true);
        LocalDb::CacheWrites cacheWrites(*cached, LocalDb::CacheWrites::SpilledAsWritten);
        mirrorfile::useLargePages(*cached);
        EditTransaction edit(*cached);
        for (int i = 0; i < 400; ++i) {
            Sqlite3Sql insert("insert into data(type, contact_id, data15) values(2, 1, ?)");
            insert.addBlobParam(QByteArray(30000, char(i)));
            cached->db().executeThrow(insert);
        }
        int used = 0, highest = 0;
        sqlite3_db_status(cached->db().handle(), SQLITE_DBSTATUS_CACHE_USED, &used, &highest, 0);
        EXPECT_LT(used, 6 << 20);
    }
    // Photos hashed off the storing thread carry the hash of the bytes stored with them.
    int photos = 0;
    Sqlite3Cursor photo = piped->db().queryThrow(
        QString("select data4, data15 from data where type=%1").arg(pim::ENTITY_PHOTO));
    while (photo.moveNext()) {
        ++photos;
        EXPECT_EQ(photo.getText(0), pim::Entity::photoHash(photo.getBlob(1)));
    }
    EXPECT_GE(photos, 150);

    // A disk that fills near the end of the read, long after the first pages reached the file.
    QSharedPointer<LocalDb> full = newDb(tmp.filePath("full"), true);
    full->open_check();
    full->db().executeThrow(
        "create trigger fill after insert on data when new._id = 2000 begin "
        "select raise(abort, 'database or disk is full'); end");
    boxes.clear();
    const int rc =
        runUnderForm([&](ProgressForm* f) { return new IOSSyncToPCThread(udid, full.data(), f); });
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(boxes.errors.size(), 1);
    EXPECT_TRUE(boxes.errors[0].contains("database or disk is full"))
        << boxes.errors[0].toStdString();
    EXPECT_TRUE(full->contacts().isEmpty());
    Sqlite3Cursor check = full->db().queryThrow("pragma integrity_check");
    ASSERT_TRUE(check.moveNext());
    EXPECT_EQ(check.getText(0), "ok");
    Sqlite3Cursor journal = full->db().queryThrow("pragma journal_mode");
    ASSERT_TRUE(journal.moveNext());
    EXPECT_EQ(journal.getText(0), "delete");
}
