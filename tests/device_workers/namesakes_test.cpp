// Namesakes on the phone: two people of one full name stay two people through a backup to a
// local database, a restore of that backup to the same phone and to an empty one.
#include "workers_fixture.h"

#include <QMap>
#include <QSet>

#include "device/workers/backupcontactstolocalthread.h"
#include "device/workers/iossynctodevicethread.h"

namespace {

// A person as the user sees them: full name, numbers, e-mail addresses, birthday, company.
QString personOf(const pim::_Contact& c) {
    QStringList parts{c.fullName};
    for (int type : {pim::ENTITY_PHONE, pim::ENTITY_EMAIL}) {
        QStringList values;
        for (const pim::Entity& e : c.entities.value(type))
            values << e.text("data1");
        values.sort();
        parts << values.join(',');
    }
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_EVENT))
        parts << e.text("data1").left(10);
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_ORG))
        parts << e.text("data1");
    return parts.join('|');
}

QStringList peopleOf(LocalDb& db) {
    QStringList out;
    for (const pim::_Contact& c : db.contacts())
        out << personOf(db.contact(c._id));
    out.sort();
    return out;
}

QList<pim::_Contact> fullContacts(LocalDb& db) {
    QList<pim::_Contact> out;
    for (const pim::_Contact& c : db.contacts())
        out << db.contact(c._id);
    return out;
}

int namesShared(LocalDb& db) {
    QMap<QString, int> counts;
    for (const pim::_Contact& c : db.contacts())
        ++counts[c.fullName];
    int shared = 0;
    for (int n : counts)
        shared += n > 1;
    return shared;
}

class Namesakes : public WorkersTest {
protected:
    int backup(const QList<pim::_Contact>& contacts, LocalDb& local) {
        return runUnderForm([&](ProgressForm* f) {
            return new BackupContactsToLocalThread(contacts, &local, f, nullptr);
        });
    }
    int restore(const QList<pim::_Contact>& contacts) {
        return runUnderForm([&](ProgressForm* f) {
            return new IOSSyncToDeviceThread(udid, mirror.data(), contacts, f);
        });
    }
    int dataRows(LocalDb& db) {
        Sqlite3Cursor cur = db.db().queryThrow("select count(*) from data");
        return cur.moveNext() ? cur.getInt(0) : -1;
    }
    void expectNothingSent() {
        for (const fakedevice::SyncSession& s : phone->syncSessions()) {
            for (const fakedevice::Plist& sent : s.changesReceived)
                ADD_FAILURE() << "sent: " << sent.toXml().substr(0, 2000);
        }
    }
};

}  // namespace

TEST_F(Namesakes, BackupAndRestoresKeepEveryPerson) {
    phone->generateContacts(300);
    mirror = readPhone();
    const QStringList onPhone = peopleOf(*mirror);
    ASSERT_EQ(onPhone.size(), 300);
    ASSERT_GE(namesShared(*mirror), 20);  // the default phone holds namesakes

    // Backed up: 300 people, each with their own details; twice adds nothing.
    QSharedPointer<LocalDb> local = newDb(tmp.filePath("backup"), false);
    ASSERT_EQ(backup(fullContacts(*mirror), *local), 1) << boxes.errors.join("\n").toStdString();
    EXPECT_EQ(boxes.infos.value(0), "IDS_SUC_IMPORT_300_TO_LOCALDB");
    EXPECT_EQ(peopleOf(*local), onPhone);
    const int rows = dataRows(*local);
    boxes.clear();
    ASSERT_EQ(backup(fullContacts(*mirror), *local), 1);
    EXPECT_EQ(boxes.infos.value(0), "IDS_SUC_IMPORT_0_TO_LOCALDB_300_MERGED");
    EXPECT_EQ(dataRows(*local), rows);
    EXPECT_EQ(peopleOf(*local), onPhone);

    // Restored untouched to the same phone: nothing is sent, nothing changes.
    const QList<pim::_Contact> saved = fullContacts(*local);
    const std::string before = phone->records().toXml();
    phone->clearJournal();
    ASSERT_EQ(restore(saved), 1) << boxes.errors.join("\n").toStdString();
    expectNothingSent();
    EXPECT_EQ(phone->records().toXml(), before);
    EXPECT_EQ(peopleOf(*mirror), onPhone);

    // Restored to an empty phone: every person, with their own details, read back as they
    // were; a second restore sends nothing.
    phone->clearRecords();
    mirror = readPhone("empty");
    ASSERT_EQ(restore(saved), 1) << boxes.errors.join("\n").toStdString();
    mirror = readPhone("again");
    EXPECT_EQ(peopleOf(*mirror), onPhone);
    phone->clearJournal();
    ASSERT_EQ(restore(saved), 1) << boxes.errors.join("\n").toStdString();
    expectNothingSent();
    EXPECT_EQ(mirror->contacts().size(), 300);
}
