// The transfer and send-changes workers against the simulated iPhone: what reaches the phone,
// what ids come back into the mirror, and how cancels and device failures end.
#include <QSet>

#include "device/workers/backupcontactstolocalthread.h"
#include "device/workers/iossendchangesthread.h"
#include "device/workers/iossynctodevicethread.h"
#include "editor/editcontactform.h"
#include "workers_fixture.h"

namespace {

pim::_Contact person(const QString& first, const QString& last, const QString& phone = QString(),
                     const QString& email = QString()) {
    pim::_Contact c(0, QString(), (first + " " + last).trimmed());
    pim::Entity name;
    name.fields["data1"] = c.fullName;
    name.fields["data2"] = first;
    name.fields["data3"] = last;
    c.entities[pim::ENTITY_NAME] = {name};
    if (!phone.isEmpty()) {
        pim::Entity p;
        p.fields["data1"] = phone;
        p.fields["data2"] = 2;
        c.entities[pim::ENTITY_PHONE] = {p};
    }
    if (!email.isEmpty()) {
        pim::Entity e;
        e.fields["data1"] = email;
        e.fields["data2"] = 1;
        c.entities[pim::ENTITY_EMAIL] = {e};
    }
    return c;
}

QSet<QString> phoneIds(fakedevice::Phone& p) {
    QSet<QString> out;
    for (const std::string& id : p.recordIds()) {
        out.insert(QString::fromStdString(id));
    }
    return out;
}

QStringList names(LocalDb& db) {
    QStringList out;
    for (const pim::_Contact& c : db.contacts()) {
        out << c.fullName;
    }
    out.sort();
    return out;
}

// Every contact and detail of the mirror carries an id the phone knows.
void expectMirrorMatchesPhone(LocalDb& db, fakedevice::Phone& p) {
    const QSet<QString> ids = phoneIds(p);
    for (const pim::_Contact& listed : db.contacts()) {
        const pim::_Contact c = db.contact(listed._id);
        EXPECT_TRUE(ids.contains(c.srcId))
            << c.fullName.toStdString() << " " << c.srcId.toStdString();
        for (int type : {pim::ENTITY_PHONE, pim::ENTITY_EMAIL}) {
            for (const pim::Entity& e : c.entities.value(type)) {
                EXPECT_TRUE(ids.contains(e.srcId)) << e.srcId.toStdString();
            }
        }
    }
}

}  // namespace

using Change = EditContactForm::_ChangeData;

TEST_F(WorkersTest, TransferMergesDuplicatesInBatchesAndWritesIdsBack) {
    phone->generateContacts(3);
    mirror = readPhone();
    const pim::_Contact existing = mirror->contact(mirror->contacts().first()._id);

    // 25 contacts: 22 new ones, two repeats of each other, one repeat of a phone contact with a
    // new phone number.
    QList<pim::_Contact> list;
    for (int i = 0; i < 22; ++i) {
        list << person(QString("New%1").arg(i), "Person", QString("100%1").arg(i),
                       i % 3 == 0 ? QString("n%1@x.org").arg(i) : QString());
    }
    // The repeat is the same person: it shares the first one's number.
    pim::_Contact twinAgain = person("Twin", "Same", "111");
    twinAgain.entities[pim::ENTITY_PHONE] +=
        person("Twin", "Same", "222").entities.value(pim::ENTITY_PHONE);
    list << person("Twin", "Same", "111") << twinAgain;
    pim::_Contact dup = existing;
    dup._id = 0;
    dup.srcId.clear();
    pim::Entity extra;
    extra.fields["data1"] = "999-000";
    extra.fields["data2"] = 3;
    dup.entities[pim::ENTITY_PHONE] = {extra};
    list << dup;
    const size_t before = phone->recordIds("com.apple.contacts.Contact").size();

    const int rc = runUnderForm(
        [&](ProgressForm* f) { return new IOSSyncToDeviceThread(udid, mirror.data(), list, f); });
    ASSERT_EQ(rc, 1) << boxes.errors.join("\n").toStdString();
    ASSERT_EQ(boxes.infos.size(), 1);
    EXPECT_TRUE(boxes.errors.isEmpty());

    // Batches of 10, 10 and 5 (a transaction each) in one session, finished once.
    ASSERT_TRUE(phone->waitForSyncEnd(5s, 2));
    const auto all = phone->syncSessions();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_TRUE(all[1].finished);
    EXPECT_TRUE(all[1].pingReceived);
    EXPECT_EQ(all[1].computerAnchor.size(), 19u);
    // The last batch: the twin repeat merged, the repeat of a phone contact sends only its
    // new phone number under the contact's existing id.
    const fakedevice::Plist& lastChildren = all[1].changesReceived.back();
    const QString lastXml = QString::fromStdString(lastChildren.toXml());
    EXPECT_TRUE(lastXml.contains("999-000"));
    EXPECT_TRUE(lastXml.contains(QString("<string>%1</string>").arg(existing.srcId)));

    EXPECT_EQ(phone->recordIds("com.apple.contacts.Contact").size(), before + 23);
    EXPECT_EQ(names(*mirror).size(), 3 + 23);
    expectMirrorMatchesPhone(*mirror, *phone);

    // A fresh read of the phone gives the same contacts.
    QSharedPointer<LocalDb> again = readPhone("again");
    EXPECT_EQ(names(*again), names(*mirror));
    const pim::_Contact twin = again->contact(again->contacts(0, "Twin").value(0)._id);
    EXPECT_EQ(twin.entities.value(pim::ENTITY_PHONE).size(), 2);
}

TEST_F(WorkersTest, TransferOfNothingNewOpensNoSession) {
    phone->generateContacts(4);
    mirror = readPhone();
    QList<pim::_Contact> same = mirror->contacts();
    for (pim::_Contact& c : same) {
        c = mirror->contact(c._id);
    }
    phone->clearJournal();

    ASSERT_EQ(runUnderForm([&](ProgressForm* f) {
                  return new IOSSyncToDeviceThread(udid, mirror.data(), same, f);
              }),
              1);
    ASSERT_EQ(runUnderForm([&](ProgressForm* f) {
                  return new IOSSyncToDeviceThread(udid, mirror.data(), QList<pim::_Contact>(), f);
              }),
              1);
    EXPECT_TRUE(phone->syncSessions().empty());
    ASSERT_EQ(boxes.infos.size(), 2);
    EXPECT_TRUE(boxes.infos[0].contains("4")) << boxes.infos[0].toStdString();
    EXPECT_TRUE(boxes.infos[1].contains("0")) << boxes.infos[1].toStdString();
}

// A cancel takes effect between batches: the batches the phone took stay in the mirror, the
// session is finished so that the phone keeps them, and nothing of a later batch is sent.
TEST_F(WorkersTest, TransferCancelledTakesEffectBetweenBatches) {
    mirror = readPhone();
    phone->clearJournal();
    // Every message waits a little, so that the cancel lands inside the second batch.
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults.push_back({fakedevice::kServiceSync, "SDMessageProcessChanges", 0,
                            fakedevice::FaultKind::Delay, 150, 0});
        s.commitOnFinish = true;
    });
    QList<pim::_Contact> list;
    for (int i = 0; i < 25; ++i) {
        list << person(QString("C%1").arg(i, 2, 10, QChar('0')), "X", QString("5%1").arg(i));
    }
    const int rc = runUnderForm(
        [&](ProgressForm* f) { return new IOSSyncToDeviceThread(udid, mirror.data(), list, f); },
        [&](ProgressForm& form) {
            const auto s = phone->syncSessions();
            if (s.size() == 1 && s[0].changesReceived.size() == 3 && form.isVisible()) {
                form.done(0);  // the user's confirmed cancel
            }
        });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(lastRejected);
    EXPECT_TRUE(boxes.infos.isEmpty());
    EXPECT_TRUE(boxes.errors.isEmpty());
    ASSERT_TRUE(phone->waitForSyncEnd(5s, 1));
    const auto s = phone->syncSessions();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_TRUE(s[0].finished);
    EXPECT_EQ(s[0].changesReceived.size(), 4u);  // contacts and children of two batches
    EXPECT_EQ(mirror->contacts().size(), 20);
    expectMirrorMatchesPhone(*mirror, *phone);
    EXPECT_EQ(phone->recordIds("com.apple.contacts.Contact").size(), 20u);
}

TEST_F(WorkersTest, TransferDeviceFailuresRollBackTheOpenBatchAndShowTheText) {
    mirror = readPhone();
    QList<pim::_Contact> list;
    for (int i = 0; i < 15; ++i) {
        list << person(QString("R%1").arg(i, 2, 10, QChar('0')), "Y", QString("7%1").arg(i));
    }
    // The connection drops at the second batch's contact message.
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults.push_back({fakedevice::kServiceSync, "SDMessageProcessChanges", 3,
                            fakedevice::FaultKind::Drop, 0, 0});
    });
    int rc = runUnderForm(
        [&](ProgressForm* f) { return new IOSSyncToDeviceThread(udid, mirror.data(), list, f); });
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(boxes.errors.size(), 1);
    EXPECT_TRUE(boxes.errors[0].contains("failed. return")) << boxes.errors[0].toStdString();
    EXPECT_EQ(mirror->contacts().size(), 10);
    expectMirrorMatchesPhone(*mirror, *phone);

    // The phone refuses the session.
    boxes.clear();
    phone->updateScenario([](fakedevice::Scenario& s) {
        s = fakedevice::Scenario();
        s.refuseSync = true;
        s.refuseDescription = "Phone says no";
    });
    rc = runUnderForm([&](ProgressForm* f) {
        return new IOSSyncToDeviceThread(udid, mirror.data(), list.mid(10), f);
    });
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(boxes.errors.size(), 1);
    EXPECT_TRUE(boxes.errors[0].contains("start failed. return -7. Phone says no"))
        << boxes.errors[0].toStdString();
    EXPECT_EQ(mirror->contacts().size(), 10);

    // A connection dropped instead of the remap answer of the child message.
    boxes.clear();
    phone->updateScenario([](fakedevice::Scenario& s) {
        s = fakedevice::Scenario();
        s.faults.push_back({fakedevice::kServiceSync, "SDMessageProcessChanges", 2,
                            fakedevice::FaultKind::Drop, 0, 0});
    });
    rc = runUnderForm([&](ProgressForm* f) {
        return new IOSSyncToDeviceThread(udid, mirror.data(), list.mid(10), f);
    });
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(boxes.errors.size(), 1);
    EXPECT_TRUE(boxes.errors[0].contains("failed. return")) << boxes.errors[0].toStdString();
    EXPECT_EQ(mirror->contacts().size(), 10);

    // Garbage in place of an answer.
    boxes.clear();
    phone->updateScenario([](fakedevice::Scenario& s) {
        s = fakedevice::Scenario();
        s.faults.push_back({fakedevice::kServiceSync, "SDMessageProcessChanges", 1,
                            fakedevice::FaultKind::Garbage, 0, 0});
    });
    rc = runUnderForm([&](ProgressForm* f) {
        return new IOSSyncToDeviceThread(udid, mirror.data(), list.mid(10), f);
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(boxes.errors.size(), 1);
    EXPECT_EQ(mirror->contacts().size(), 10);
}

TEST_F(WorkersTest, TransferOfAContactWithoutNameStillCreatesItsContact) {
    mirror = readPhone();
    pim::_Contact noName(0, QString(), "Only Phone");
    pim::Entity p;
    p.fields["data1"] = "321";
    noName.entities[pim::ENTITY_PHONE] = {p};
    ASSERT_EQ(runUnderForm([&](ProgressForm* f) {
                  return new IOSSyncToDeviceThread(udid, mirror.data(), {noName}, f);
              }),
              1);
    const std::vector<std::string> contacts = phone->recordIds("com.apple.contacts.Contact");
    const std::vector<std::string> phones = phone->recordIds("com.apple.contacts.Phone Number");
    ASSERT_EQ(contacts.size(), 1u);
    ASSERT_EQ(phones.size(), 1u);
    const fakedevice::Plist owner = phone->record(phones[0]).item("contact");
    ASSERT_TRUE(owner);
    EXPECT_EQ(fakedevice::plistString(plist_array_get_item(owner.get(), 0)), contacts[0]);
    expectMirrorMatchesPhone(*mirror, *phone);
}

// ---- sending edits -----------------------------------------------------------------------

class SendChangesTest : public WorkersTest {
protected:
    // Applies the change records to the mirror the way the main window does, then sends them.
    int edit(pim::_Contact& contact, QList<Change> changes) {
        g_writeChanges(*mirror, contact, changes);
        pim::_Contact stored = mirror->contact(contact._id);
        const int rc = runUnderForm([&](ProgressForm* f) {
            return new IOSSendChangesThread(f, udid, mirror.data(), &stored, changes,
                                            QList<pim::_Contact>());
        });
        contact = stored;
        return rc;
    }
    int remove(const QList<pim::_Contact>& contacts) {
        mirror->beginEdit();
        for (const pim::_Contact& c : contacts) {
            mirror->removeContact(c._id);
        }
        mirror->endEdit(true);
        return runUnderForm([&](ProgressForm* f) {
            return new IOSSendChangesThread(f, udid, mirror.data(), nullptr, QList<Change>(),
                                            contacts);
        });
    }
    pim::_Contact first() { return mirror->contact(mirror->contacts().first()._id); }
    fakedevice::SyncSession lastSession() {
        EXPECT_TRUE(fakedevice::waitUntil(
            [&] {
                const auto s = phone->syncSessions();
                return !s.empty() && s.back().ended;
            },
            5s));
        return phone->syncSessions().back();
    }
};

TEST_F(SendChangesTest, EditsReachThePhone) {
    phone->generateContacts(2);
    mirror = readPhone();
    pim::_Contact c = first();
    ASSERT_FALSE(c.entities.value(pim::ENTITY_PHONE).isEmpty());
    phone->clearJournal();

    // Only a phone number changes: no contact record, the child under its own id.
    pim::Entity ph = c.entities[pim::ENTITY_PHONE][0];
    ph.fields["data1"] = "+49 30 1234";
    ASSERT_EQ(edit(c, {Change(pim::ENTITY_PHONE, EditContactForm::ACTION_UPDATED, ph)}), 1);
    fakedevice::SyncSession s = lastSession();
    ASSERT_EQ(s.changesReceived.size(), 1u);
    EXPECT_TRUE(s.finished);
    EXPECT_EQ(phone->record(ph.srcId.toStdString()).stringAt("value"), "+49 30 1234");

    // A new e-mail and a deleted phone number in one message; the e-mail gets the phone's id.
    phone->clearJournal();
    pim::Entity mail;
    mail.fields["data1"] = "new@mail.example";
    mail.fields["data2"] = 2;
    ASSERT_EQ(edit(c, {Change(pim::ENTITY_EMAIL, EditContactForm::ACTION_ADDED, mail),
                       Change(pim::ENTITY_PHONE, EditContactForm::ACTION_DELETED, ph)}),
              1);
    EXPECT_FALSE(phone->record(ph.srcId.toStdString()));
    const pim::_Contact after = mirror->contact(c._id);
    QString mailId;
    for (const pim::Entity& e : after.entities.value(pim::ENTITY_EMAIL)) {
        if (e.text("data1") == "new@mail.example") {
            mailId = e.srcId;
        }
    }
    ASSERT_FALSE(mailId.isEmpty());
    EXPECT_EQ(phone->record(mailId.toStdString()).stringAt("value"), "new@mail.example");

    // Several contact-level changes make one contact record; a deleted nickname resends it.
    phone->clearJournal();
    pim::Entity note;
    note.fields["data1"] = "remember";
    pim::Entity nick = c.entities.value(pim::ENTITY_NICKNAME).value(0);
    nick.fields["data1"] = "Bee";
    ASSERT_EQ(
        edit(c, {Change(pim::ENTITY_NOTES, EditContactForm::ACTION_ADDED, note),
                 Change(pim::ENTITY_NICKNAME,
                        nick._id ? EditContactForm::ACTION_UPDATED : EditContactForm::ACTION_ADDED,
                        nick)}),
        1);
    s = lastSession();
    ASSERT_EQ(s.changesReceived.size(), 1u);
    EXPECT_EQ(fakedevice::Plist(s.changesReceived[0]).keys(),
              std::vector<std::string>{c.srcId.toStdString()});
    EXPECT_EQ(phone->record(c.srcId.toStdString()).stringAt("notes"), "remember");
    EXPECT_EQ(phone->record(c.srcId.toStdString()).stringAt("nickname"), "Bee");
}

TEST_F(SendChangesTest, NewContactGetsThePhonesIds) {
    mirror = readPhone();
    pim::_Contact c;
    pim::Entity name;
    name.fields["data2"] = "Neo";
    name.fields["data3"] = "Anderson";
    pim::Entity mail;
    mail.fields["data1"] = "neo@matrix.example";
    ASSERT_EQ(edit(c, {Change(pim::ENTITY_NAME, EditContactForm::ACTION_ADDED, name),
                       Change(pim::ENTITY_EMAIL, EditContactForm::ACTION_ADDED, mail)}),
              1);
    const fakedevice::SyncSession s = lastSession();
    ASSERT_EQ(s.changesReceived.size(), 2u);
    EXPECT_EQ(s.changesReceived[0].keys(), std::vector<std::string>{"-" + std::to_string(c._id)});
    ASSERT_FALSE(c.srcId.isEmpty());
    EXPECT_FALSE(c.srcId.startsWith('-'));
    EXPECT_EQ(mirror->contact(c._id).srcId, c.srcId);  // mirror and caller's object agree
    EXPECT_EQ(phone->record(c.srcId.toStdString()).stringAt("last name"), "Anderson");
    const pim::Entity stored = mirror->contact(c._id).entities.value(pim::ENTITY_EMAIL).value(0);
    ASSERT_TRUE(stored.srcId.startsWith("4/" + c.srcId + "/")) << stored.srcId.toStdString();
    EXPECT_EQ(phone->record(stored.srcId.toStdString()).stringAt("value"), "neo@matrix.example");

    // The mirror re-read from the phone holds the same contact.
    QSharedPointer<LocalDb> again = readPhone("again");
    EXPECT_EQ(names(*again), QStringList{"Neo Anderson"});
}

TEST_F(SendChangesTest, DeletionsAndEmptyEdits) {
    phone->generateContacts(5);
    mirror = readPhone();
    QList<pim::_Contact> three = mirror->contacts().mid(0, 3);
    phone->clearJournal();
    ASSERT_EQ(remove(three), 1);
    fakedevice::SyncSession s = lastSession();
    ASSERT_EQ(s.changesReceived.size(), 1u);
    EXPECT_EQ(s.changesReceived[0].keys().size(), 3u);
    EXPECT_EQ(phone->recordIds("com.apple.contacts.Contact").size(), 2u);
    for (const pim::_Contact& c : three) {
        EXPECT_FALSE(phone->record(c.srcId.toStdString()));
    }

    // A change without any record (a group membership) opens a session, sends nothing and
    // leaves out the finish; still a success.
    phone->clearJournal();
    pim::_Contact c = first();
    pim::Entity grp;
    grp.fields["data1"] = 1;
    pim::_Contact stored = c;
    const int rc = runUnderForm([&](ProgressForm* f) {
        return new IOSSendChangesThread(
            f, udid, mirror.data(), &stored,
            {Change(pim::ENTITY_GROUP, EditContactForm::ACTION_ADDED, grp)},
            QList<pim::_Contact>());
    });
    EXPECT_EQ(rc, 1);
    s = lastSession();
    EXPECT_TRUE(s.changesReceived.empty());
    EXPECT_FALSE(s.finished);
    EXPECT_TRUE(boxes.errors.isEmpty());
}

TEST_F(SendChangesTest, FailureOnSecondMessageKeepsTheContactId) {
    mirror = readPhone();
    phone->updateScenario([](fakedevice::Scenario& s) { s.cancelAtProcessChanges = 1; });
    pim::_Contact c;
    pim::Entity name;
    name.fields["data2"] = "Trin";
    pim::Entity ph;
    ph.fields["data1"] = "12";
    EXPECT_EQ(edit(c, {Change(pim::ENTITY_NAME, EditContactForm::ACTION_ADDED, name),
                       Change(pim::ENTITY_PHONE, EditContactForm::ACTION_ADDED, ph)}),
              0);
    ASSERT_EQ(boxes.errors.size(), 1);
    EXPECT_FALSE(c.srcId.isEmpty());
    EXPECT_EQ(mirror->contact(c._id).srcId, c.srcId);

    // A phone that cannot be reached at all.
    boxes.clear();
    server->detach(phone->udid());
    EXPECT_EQ(remove(mirror->contacts()), 0);
    ASSERT_EQ(boxes.errors.size(), 1);
    EXPECT_TRUE(boxes.errors[0].contains("open device failed")) << boxes.errors[0].toStdString();

    // Change records without a contact are refused, not dereferenced.
    boxes.clear();
    const int rc = runUnderForm([&](ProgressForm* f) {
        return new IOSSendChangesThread(
            f, udid, mirror.data(), nullptr,
            {Change(pim::ENTITY_PHONE, EditContactForm::ACTION_ADDED, ph)}, QList<pim::_Contact>());
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(boxes.errors.size(), 1);
}

// Contacts with neither a name nor a company, as phones hold many (a number or an address
// saved alone): each stays its own contact through a read, a backup to a local database and a
// restore of that database, which then changes nothing on the phone.
TEST_F(WorkersTest, ContactsWithoutANameStayApartThroughABackupAndARestore) {
    phone->generateContacts(2);
    auto contactRecord = [] {
        fakedevice::Plist r = fakedevice::Plist::dict();
        r.set(fakedevice::kEntityNameKey, fakedevice::Plist::string("com.apple.contacts.Contact"));
        return r;
    };
    auto child = [](const char* kind, const char* value, const char* type, const char* owner) {
        fakedevice::Plist r = fakedevice::Plist::dict();
        r.set(fakedevice::kEntityNameKey, fakedevice::Plist::string(kind));
        r.set("value", fakedevice::Plist::string(value));
        r.set("type", fakedevice::Plist::string(type));
        fakedevice::Plist owners = fakedevice::Plist::array();
        owners.append(fakedevice::Plist::string(owner));
        r.set("contact", owners);
        return r;
    };
    const char* const kNumber = "com.apple.contacts.Phone Number";
    for (const char* id : {"501", "502", "503"}) {
        phone->addRecord(id, contactRecord());
    }
    phone->addRecord("3/501/0", child(kNumber, "555 0101", "mobile", "501"));
    phone->addRecord("3/502/0", child(kNumber, "555 0102", "home", "502"));
    phone->addRecord("4/503/0",
                     child("com.apple.contacts.Email Address", "solo@example.org", "home", "503"));
    mirror = readPhone();
    const QStringList listed = names(*mirror);
    EXPECT_TRUE(listed.contains("555 0101") && listed.contains("555 0102") &&
                listed.contains("solo@example.org"))
        << listed.join(", ").toStdString();

    QList<pim::_Contact> contacts;
    for (const pim::_Contact& c : mirror->contacts()) {
        contacts << mirror->contact(c._id);
    }
    QSharedPointer<LocalDb> local = newDb(tmp.filePath("local"), false);
    ASSERT_EQ(runUnderForm([&](ProgressForm* f) {
                  return new BackupContactsToLocalThread(contacts, local.data(), f, nullptr);
              }),
              1);
    EXPECT_EQ(names(*local), listed);

    QList<pim::_Contact> backedUp;
    for (const pim::_Contact& c : local->contacts()) {
        backedUp << local->contact(c._id);
    }
    const std::string before = phone->records().toXml();
    phone->clearJournal();
    ASSERT_EQ(runUnderForm([&](ProgressForm* f) {
                  return new IOSSyncToDeviceThread(udid, mirror.data(), backedUp, f);
              }),
              1)
        << boxes.errors.join("\n").toStdString();
    EXPECT_EQ(phone->records().toXml(), before);
    for (const fakedevice::SyncSession& s : phone->syncSessions()) {
        for (const fakedevice::Plist& sent : s.changesReceived) {
            ADD_FAILURE() << "sent: " << sent.toXml().substr(0, 2000);
        }
    }
}
