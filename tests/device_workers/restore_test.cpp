// A restore large enough to be written as one transaction of savepoints, its pages reaching the
// mirror's file as it goes, against the simulated iPhone: whatever ends it (the phone failing at
// some batch, a cancel), the mirror file holds exactly the batches the phone took, committed,
// with its whole schema.
#include <QElapsedTimer>
#include <QSet>
#include <QThread>

#include <set>

#include "device/workers/iossynctodevicethread.h"
#include "tests/timing.h"
#include "workers_fixture.h"

namespace {

const int kContacts = 600;  // 60 batches; large next to an empty mirror

// 20 KB that differ from contact to contact: the photos of every other contact are three times
// the restore's page cache, so its pages reach the mirror's file before its batches end.
QByteArray photoOf(int i) {
    QByteArray bytes(20000, '\0');
    quint32 x = 2654435761u * quint32(i + 1);
    for (char& c : bytes) {
        x = x * 1664525u + 1013904223u;
        c = char(x >> 24);
    }
    return bytes;
}

QList<pim::_Contact> people(int n) {
    QList<pim::_Contact> out;
    for (int i = 0; i < n; ++i) {
        pim::Entity name;
        name.fields["data2"] = QString("Given%1").arg(i);
        name.fields["data3"] = QString("Family%1").arg(i);
        name.fields["data1"] = name.fullName();
        pim::_Contact c(0, QString(), name.fullName());
        c.entities[pim::ENTITY_NAME] = {name};
        pim::Entity p;
        p.fields["data1"] = QString("+46 70 %1").arg(i);
        p.fields["data2"] = 2;
        c.entities[pim::ENTITY_PHONE] = {p};
        if (i % 2) {
            pim::Entity day;
            day.fields["data1"] = QString("%1-05-06T00:00:00").arg(1604 + i);
            day.fields["data2"] = 3;
            c.entities[pim::ENTITY_EVENT] = {day};
        } else {
            pim::Entity photo;
            photo.fields["data15"] = photoOf(i);
            c.entities[pim::ENTITY_PHOTO] = {photo};
        }
        out << c;
    }
    return out;
}

QSet<QString> phoneIds(fakedevice::Phone& p, const char* kind) {
    QSet<QString> out;
    for (const std::string& id : p.recordIds(kind)) {
        out.insert(QString::fromStdString(id));
    }
    return out;
}

struct MirrorIds {
    QSet<QString> contacts, phones;
    int indexes = 0;
};

// Read through a connection of its own: only what was committed counts.
MirrorIds committed(const QString& path) {
    LocalDb db(path, QSharedPointer<AbsContactCombineRule>(new IOSContactCombineRule));
    MirrorIds m;
    for (const pim::_Contact& listed : db.contacts()) {
        const pim::_Contact c = db.contact(listed._id);
        m.contacts.insert(c.srcId);
        for (const pim::Entity& e : c.entities.value(pim::ENTITY_PHONE)) {
            m.phones.insert(e.srcId);
        }
    }
    Sqlite3Cursor cur = db.db().queryThrow(
        "select count(*) from sqlite_master where type='index' and name like 'index_%'");
    m.indexes = cur.moveNext() ? cur.getInt(0) : -1;
    return m;
}

class RestoreTest : public WorkersTest {
protected:
    void SetUp() override {
        WorkersTest::SetUp();
        mirror = readPhone();
        mirror->open_check();
        Sqlite3Cursor cur = mirror->db().queryThrow(
            "select count(*) from sqlite_master where type='index' and name like 'index_%'");
        indexes = cur.moveNext() ? cur.getInt(0) : -1;
    }
    int restore(const std::function<void(ProgressForm&)>& onTick = nullptr) {
        return runUnderForm(
            [&](ProgressForm* f) {
                return new IOSSyncToDeviceThread(udid, mirror.data(), people(kContacts), f);
            },
            onTick);
    }
    // The mirror's committed contacts and phone numbers are the phone's, all of them, and
    // come in whole batches of 10.
    void expectMirrorIsWhatThePhoneTook(int atLeast, int below) {
        EXPECT_FALSE(mirror->db().inTransaction());
        const MirrorIds m = committed(mirror->path());
        EXPECT_EQ(m.contacts, phoneIds(*phone, "com.apple.contacts.Contact"));
        EXPECT_EQ(m.phones, phoneIds(*phone, "com.apple.contacts.Phone Number"));
        EXPECT_EQ(m.contacts.size() % 10, 0);
        EXPECT_GE(m.contacts.size(), atLeast);
        EXPECT_LT(m.contacts.size(), below);
        EXPECT_EQ(m.indexes, indexes);
    }
    int indexes = 0;
};

}  // namespace

TEST_F(RestoreTest, WholeRestoreIsCommittedWithItsIds) {
    EXPECT_EQ(restore(), 1) << boxes.errors.join("\n").toStdString();
    expectMirrorIsWhatThePhoneTook(kContacts, kContacts + 1);
    // The mirror's phone form of a birthday without a year is the phone's own: a read of the
    // phone adds nothing and a second restore sends nothing.
    QSharedPointer<LocalDb> again = readPhone("again");
    EXPECT_EQ(again->contacts().size(), kContacts);
    phone->clearJournal();
    EXPECT_EQ(restore(), 1);
    EXPECT_TRUE(phone->syncSessions().empty());
}

// The phone fails at the contact message of batch 31, at the child message of batch 44 (its
// contacts are on the phone then, yet the batch is not kept), or answers with a reply that is
// no reply. The error is shown; the mirror keeps the batches before, committed.
TEST_F(RestoreTest, PhoneFailureAtSomeBatchKeepsTheBatchesItTook) {
    struct Case {
        int nth;  // ProcessChanges message, 1-based: batch b sends 2b+1 and 2b+2
        fakedevice::FaultKind kind;
        int keptContacts;
    };
    const Case cases[] = {{63, fakedevice::FaultKind::Drop, 310},
                          {90, fakedevice::FaultKind::Drop, 440},
                          {101, fakedevice::FaultKind::MissingKeys, 500}};
    const int halfSent = 90;  // the batch's contacts went, their details did not
    int before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nth);
        boxes.clear();
        phone->clearRecords();
        mirror = readPhone(QString("mirror%1").arg(c.nth));
        phone->updateScenario([&](fakedevice::Scenario& s) {
            s = fakedevice::Scenario();
            s.faults.push_back(
                {fakedevice::kServiceSync, "SDMessageProcessChanges", c.nth, c.kind, 0, 0});
        });
        EXPECT_EQ(restore(), 0);
        ASSERT_EQ(boxes.errors.size(), 1);
        // The user reads how far the restore came, and whether a batch went out half; never
        // what a phone that closed the session itself kept.
        const QString text = boxes.errors.first();
        EXPECT_TRUE(
            text.contains(QString("%1 of the %2 contacts").arg(c.keptContacts).arg(kContacts)))
            << text.toStdString();
        EXPECT_FALSE(text.contains("stays on it")) << text.toStdString();
        EXPECT_EQ(text.contains("restoring again completes them"), c.nth == halfSent)
            << text.toStdString();
        const MirrorIds m = committed(mirror->path());
        EXPECT_EQ(m.contacts.size(), c.keptContacts);
        EXPECT_EQ(m.indexes, indexes);
        EXPECT_FALSE(mirror->db().inTransaction());
        // Every committed id is on the phone; the phone may hold the contacts of the batch
        // that failed at its child message, the mirror never.
        EXPECT_TRUE(phoneIds(*phone, "com.apple.contacts.Contact").contains(m.contacts));
        EXPECT_TRUE(phoneIds(*phone, "com.apple.contacts.Phone Number").contains(m.phones));
        EXPECT_EQ(m.phones.size(), m.contacts.size());
        // Nothing goes to the phone after the message that failed (the phone notes those it
        // answered), though the batches merged meanwhile were ready.
        const auto sessions = phone->syncSessions();
        ASSERT_FALSE(sessions.empty());
        EXPECT_EQ(int(sessions.back().changesReceived.size()), c.nth - 1);
        before = m.contacts.size();
    }
    EXPECT_GT(before, 0);
}

// A cancel while a batch is on its way: that batch completes, the session is finished so that
// the phone keeps what it took, and the mirror holds the same.
TEST_F(RestoreTest, CancelKeepsWhatThePhoneTook) {
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults.push_back({fakedevice::kServiceSync, "SDMessageProcessChanges", 41,
                            fakedevice::FaultKind::Delay, 300, 1});
        s.faults.push_back({fakedevice::kServiceSync, "SDMessageProcessChanges", 42,
                            fakedevice::FaultKind::Delay, 300, 1});
    });
    phone->clearJournal();
    const int rc = restore([&](ProgressForm& form) {
        const auto s = phone->syncSessions();
        if (s.size() == 1 && s[0].changesReceived.size() >= 40 && form.isVisible()) {
            form.done(0);  // the user's confirmed cancel
        }
    });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(lastRejected);
    EXPECT_TRUE(boxes.errors.isEmpty());
    ASSERT_TRUE(phone->waitForSyncEnd(5s, 1));
    EXPECT_TRUE(phone->syncSessions()[0].finished);
    expectMirrorIsWhatThePhoneTook(200, 300);
}

// Cut between a batch's contact message and its detail message, the phone holds contacts
// without their numbers. As the window does, the phone is read again; a second restore then
// completes those contacts instead of adding them once more.
TEST_F(RestoreTest, RestoringAgainCompletesAHalfSentBatch) {
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults.push_back({fakedevice::kServiceSync, "SDMessageProcessChanges", 90,
                            fakedevice::FaultKind::Drop, 0, 0});
    });
    EXPECT_EQ(restore(), 0);
    phone->updateScenario([](fakedevice::Scenario& s) { s = fakedevice::Scenario(); });
    const int contactsAfterCut = int(phoneIds(*phone, "com.apple.contacts.Contact").size());
    EXPECT_GT(contactsAfterCut, 440);  // the half-sent batch is on the phone
    EXPECT_LT(int(phoneIds(*phone, "com.apple.contacts.Phone Number").size()), contactsAfterCut);

    boxes.clear();
    mirror = readPhone("reread");
    EXPECT_EQ(restore(), 1) << boxes.errors.join("\n").toStdString();
    EXPECT_EQ(phoneIds(*phone, "com.apple.contacts.Contact").size(), size_t(kContacts));
    EXPECT_EQ(phoneIds(*phone, "com.apple.contacts.Phone Number").size(), size_t(kContacts));
}

// A phone that keeps its answer back until the test ends: a confirmed cancel gives the window
// back instead of waiting for the phone, and the batches it answered for stay in the mirror.
TEST_F(RestoreTest, CancelDoesNotWaitForAStalledPhone) {
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults.push_back({fakedevice::kServiceSync, "SDMessageProcessChanges", 41,
                            fakedevice::FaultKind::Delay, kStallMs, 1});
    });
    phone->clearJournal();
    // What the worker knew at its end (the run deletes it).
    struct Outcome {
        bool cancelled = false, inDoubt = false;
        int taken = -1;
    } outcome;
    struct Watched : IOSSyncToDeviceThread {
        Watched(QString udid, LocalDb* db, RunReporter* r, Outcome& o)
            : IOSSyncToDeviceThread(udid, db, people(kContacts), r), out(o) {}
        ~Watched() override {
            wait();
            out = {wasCancelled(), batchInDoubt(), takenCount()};
        }
        Outcome& out;
    };
    QElapsedTimer sinceCancel;
    const int rc = runUnderForm(
        [&](ProgressForm* f) { return new Watched(udid, mirror.data(), f, outcome); },
        [&](ProgressForm& form) {
            const auto s = phone->syncSessions();
            // The phone notes a message once it has answered it: message 41 is held back once
            // message 40 is noted.
            if (s.size() == 1 && s[0].changesReceived.size() >= 40 && form.isVisible()) {
                QThread::msleep(300);
                sinceCancel.start();
                form.done(0);
            }
        });
    EXPECT_EQ(rc, 0);
    ASSERT_TRUE(sinceCancel.isValid());
    // A restore that waited would wait out the phone's 30 s of silence.
    EXPECT_LT(sinceCancel.elapsed(), 5000 * kTimeScale);
    EXPECT_TRUE(boxes.errors.isEmpty()) << boxes.errors.join("\n").toStdString();
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_TRUE(outcome.inDoubt);
    EXPECT_EQ(outcome.taken, 200);
    const MirrorIds m = committed(mirror->path());
    EXPECT_EQ(m.contacts.size(), 200);
    EXPECT_FALSE(mirror->db().inTransaction());
}

// Repeats of people merged while the batches that brought them may still be on their way to a
// phone that answers late: each waits for the ids the phone gives its person, so the phone holds
// every person once, with the repeat's new detail, under the id the mirror keeps.
TEST_F(RestoreTest, RepeatsOfPeopleOnTheirWayMergeUnderThePhonesIds) {
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults.push_back({fakedevice::kServiceSync, "SDMessageProcessChanges", 0,
                            fakedevice::FaultKind::Delay, 30, 0});
    });
    // At these positions, the person this many contacts earlier again (one or two batches
    // back), the name in capitals and an e-mail address added.
    const QMap<int, int> repeats = {{10, 1},  {20, 1},  {30, 1},  {40, 1}, {50, 1},
                                    {21, 16}, {31, 13}, {41, 19}, {51, 12}};
    const QList<pim::_Contact> fresh = people(60);
    QList<pim::_Contact> list;
    for (int at = 0, next = 0; at < 60; ++at) {
        if (!repeats.contains(at)) {
            list << fresh.at(next++);
            continue;
        }
        pim::_Contact again = list.at(at - repeats.value(at));
        pim::Entity& name = again.entities[pim::ENTITY_NAME][0];
        for (const char* key : {"data1", "data2", "data3"})
            name.fields[key] = name.fields.value(key).toString().toUpper();
        again.fullName = again.fullName.toUpper();
        pim::Entity mail;
        mail.fields["data1"] = QString("repeat%1@example.org").arg(at);
        mail.fields["data2"] = 1;
        again.entities[pim::ENTITY_EMAIL] = {mail};
        list << again;
    }
    const int rc = runUnderForm(
        [&](ProgressForm* f) { return new IOSSyncToDeviceThread(udid, mirror.data(), list, f); });
    ASSERT_EQ(rc, 1) << boxes.errors.join("\n").toStdString();
    const MirrorIds m = committed(mirror->path());
    EXPECT_EQ(phoneIds(*phone, "com.apple.contacts.Contact").size(), 51u);
    EXPECT_EQ(m.contacts, phoneIds(*phone, "com.apple.contacts.Contact"));
    EXPECT_EQ(m.phones, phoneIds(*phone, "com.apple.contacts.Phone Number"));
    EXPECT_EQ(phoneIds(*phone, "com.apple.contacts.Email Address").size(), 9u);
    EXPECT_EQ(m.indexes, indexes);
    // A contact goes under its provisional id once: after that, under the id the phone gave.
    ASSERT_TRUE(phone->waitForSyncEnd(5s, 1));
    const auto sessions = phone->syncSessions();
    std::set<std::string> provisional;
    for (const fakedevice::Plist& records : sessions.back().changesReceived) {
        for (const std::string& id : records.keys()) {
            if (id.rfind('-', 0) == 0) {
                EXPECT_EQ(provisional.count(id), 0u) << id;
                provisional.insert(id);
            }
        }
    }
    EXPECT_EQ(provisional.size(), 51u);
}
