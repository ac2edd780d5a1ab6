// The contacts sync service through the real mobilesync client.
#include "harness.h"

#include <libimobiledevice/mobilesync.h>

using namespace fdtest;
using fakedevice::Plist;

namespace {

constexpr const char* kDc = "com.apple.Contacts";

// A started sync session; the device handle lives as long as the client.
struct Sync {
    idevice_t dev = nullptr;
    mobilesync_client_t client = nullptr;
    mobilesync_error_t startErr = MOBILESYNC_E_UNKNOWN_ERROR;
    mobilesync_error_t serviceErr = MOBILESYNC_E_UNKNOWN_ERROR;
    mobilesync_sync_type_t type = MOBILESYNC_SYNC_TYPE_FAST;
    uint64_t deviceVersion = 0;
    std::string errorDescription;

    explicit Sync(const std::string& udid) {
        if (idevice_new_with_options(&dev, udid.c_str(), IDEVICE_LOOKUP_USBMUX) !=
            IDEVICE_E_SUCCESS)
            return;
        serviceErr = mobilesync_client_start_service(dev, &client, kLabel);
        if (serviceErr != MOBILESYNC_E_SUCCESS)
            return;
        mobilesync_anchors_t anchors = mobilesync_anchors_new("---", "2026-12-08T12:00:00");
        char* desc = nullptr;
        startErr = mobilesync_start(client, kDc, anchors, 106, &type, &deviceVersion, &desc);
        mobilesync_anchors_free(anchors);
        if (desc) {
            errorDescription = desc;
            free(desc);
        }
    }
    ~Sync() {
        if (client)
            mobilesync_client_free(client);
        if (dev)
            idevice_free(dev);
    }

    // Receives batches until the last one; returns every record id in order and the batch count.
    mobilesync_error_t receiveAll(std::vector<std::string>* ids, int* batches) {
        if (mobilesync_get_all_records_from_device(client) != MOBILESYNC_E_SUCCESS)
            return MOBILESYNC_E_UNKNOWN_ERROR;
        for (;;) {
            plist_t ents = nullptr, actions = nullptr;
            uint8_t last = 0;
            mobilesync_error_t e = mobilesync_receive_changes(client, &ents, &last, &actions);
            if (e != MOBILESYNC_E_SUCCESS)
                return e;
            Plist owned(ents), ownedActions(actions);
            ++*batches;
            for (const std::string& k : owned.keys())
                ids->push_back(k);
            e = mobilesync_acknowledge_changes_from_device(client);
            if (e != MOBILESYNC_E_SUCCESS)
                return e;
            if (last)
                return MOBILESYNC_E_SUCCESS;
        }
    }

    // The program's no-wait write: a ping, then hand-built ProcessChanges / remap pairs.
    void ping() {
        Plist p = Plist::array();
        p.append(Plist::string("DLMessagePing"));
        p.append(Plist::string("Preparing to get changes for device"));
        ASSERT_EQ(mobilesync_send(client, p.get()), MOBILESYNC_E_SUCCESS);
    }
    Plist sendChanges(const Plist& records) {
        Plist msg = Plist::array();
        msg.append(Plist::string("SDMessageProcessChanges"));
        msg.append(Plist::string(kDc));
        msg.append(records);
        msg.append(Plist(plist_new_bool(1)));
        msg.append(Plist::string(fakedevice::kEmptyParameter));
        EXPECT_EQ(mobilesync_send(client, msg.get()), MOBILESYNC_E_SUCCESS);
        plist_t answer = nullptr;
        EXPECT_EQ(mobilesync_receive(client, &answer), MOBILESYNC_E_SUCCESS);
        return Plist(answer);
    }
};

Plist contactRecord(const std::string& first) {
    Plist r = Plist::dict();
    r.set(fakedevice::kEntityNameKey, Plist::string("com.apple.contacts.Contact"));
    r.set("first name", Plist::string(first));
    return r;
}

Plist phoneRecord(const std::string& value, const std::string& contactId) {
    Plist r = Plist::dict();
    r.set(fakedevice::kEntityNameKey, Plist::string("com.apple.contacts.Phone Number"));
    r.set("value", Plist::string(value));
    r.set("type", Plist::string("mobile"));
    Plist a = Plist::array();
    a.append(Plist::string(contactId));
    r.set("contact", a);
    return r;
}

std::string remapOf(const Plist& answer, const std::string& id) {
    plist_t map = plist_array_get_item(answer.get(), 2);
    return fakedevice::plistString(plist_dict_get_item(map, id.c_str()));
}

// The installed library's own sync client speaks device-link 300 only, so these self-tests of
// the sync service run against an iOS 12 phone.
class OldPhoneTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        phone->emulateIos(12);
    }
};

}  // namespace

TEST_F(OldPhoneTest, ReadSessionServesEveryRecordInBatches) {
    phone->generateContacts(40);
    const auto expected = phone->recordIds();
    phone->updateScenario([](auto& s) { s.batchSize = 7; });
    {
        Sync s(phone->udid());
        ASSERT_EQ(s.startErr, MOBILESYNC_E_SUCCESS);
        EXPECT_EQ(s.type, MOBILESYNC_SYNC_TYPE_SLOW);
        EXPECT_EQ(s.deviceVersion, 106u);
        std::vector<std::string> ids;
        int batches = 0;
        ASSERT_EQ(s.receiveAll(&ids, &batches), MOBILESYNC_E_SUCCESS);
        EXPECT_EQ(ids, expected) << "records keep the store's order";
        EXPECT_EQ(batches, static_cast<int>((expected.size() + 6) / 7));
    }
    ASSERT_TRUE(phone->waitForSyncEnd(5s));
    auto sessions = phone->syncSessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].dataClass, kDc);
    EXPECT_EQ(sessions[0].deviceAnchor, "---");
    EXPECT_EQ(sessions[0].version, 106u);
    EXPECT_EQ(sessions[0].acknowledgements, sessions[0].batchesSent);
    EXPECT_TRUE(sessions[0].disconnected);
    EXPECT_FALSE(sessions[0].finished);

    // No records: one empty batch flagged last.
    phone->clearRecords();
    Sync s(phone->udid());
    std::vector<std::string> ids;
    int batches = 0;
    ASSERT_EQ(s.receiveAll(&ids, &batches), MOBILESYNC_E_SUCCESS);
    EXPECT_EQ(batches, 1);
    EXPECT_TRUE(ids.empty());
}

TEST_F(OldPhoneTest, WriteSessionRemapsNewRecordsAndDeletes) {
    fakedevice::GenerateOptions shared;
    shared.childNamingTwoContacts = true;  // "3/1/97" names contacts 1 and 2
    phone->generateContacts(3, shared);
    {
        Sync s(phone->udid());
        ASSERT_EQ(s.startErr, MOBILESYNC_E_SUCCESS);
        s.ping();

        Plist m1 = Plist::dict();
        m1.set("-17", contactRecord("Neu"));
        m1.set("4/-17/-3", phoneRecord("same message", "-17"));
        Plist a1 = s.sendChanges(m1);
        EXPECT_EQ(fakedevice::plistString(plist_array_get_item(a1.get(), 0)),
                  "SDMessageRemapRecordIdentifiers");
        const std::string newId = remapOf(a1, "-17");
        ASSERT_FALSE(newId.empty());
        EXPECT_TRUE(std::all_of(newId.begin(), newId.end(), ::isdigit)) << newId;
        // A child in the same message as its new contact follows the contact's new id.
        const std::string childId = remapOf(a1, "4/-17/-3");
        EXPECT_EQ(childId, "4/" + newId + "/0");
        Plist owner = phone->record(childId).item("contact");
        EXPECT_EQ(fakedevice::plistString(plist_array_get_item(owner.get(), 0)), newId);

        Plist m2 = Plist::dict();
        m2.set("3/" + newId + "/-42", phoneRecord("+1 555 1234", newId));
        m2.set("22/" + newId + "/-7", phoneRecord("unused", newId));
        Plist a2 = s.sendChanges(m2);
        EXPECT_EQ(remapOf(a2, "3/" + newId + "/-42"), "3/" + newId + "/0");
        EXPECT_EQ(remapOf(a2, "22/" + newId + "/-7"), "22/" + newId + "/0");

        // A replace of an existing record and a deletion need no remap.
        Plist m3 = Plist::dict();
        m3.set("2", contactRecord("Replaced"));
        m3.set("1", Plist::string(fakedevice::kEmptyParameter));
        Plist a3 = s.sendChanges(m3);
        EXPECT_EQ(fakedevice::plistString(plist_array_get_item(a3.get(), 2)),
                  fakedevice::kEmptyParameter);
        EXPECT_EQ(mobilesync_finish(s.client), MOBILESYNC_E_SUCCESS);
    }
    ASSERT_TRUE(phone->waitForSyncEnd(5s));
    EXPECT_FALSE(phone->record("1"));
    for (const std::string& id : phone->recordIds()) {
        if (id != "3/1/97") {
            EXPECT_NE(id.rfind("3/1/", 0), 0u)
                << "children of a deleted contact go with it: " << id;
        }
    }
    // A child shared with another contact stays, linked to that one only.
    Plist shared97 = phone->record("3/1/97").item("contact");
    ASSERT_EQ(plist_array_get_size(shared97.get()), 1u);
    EXPECT_EQ(fakedevice::plistString(plist_array_get_item(shared97.get(), 0)), "2");
    EXPECT_EQ(phone->record("2").stringAt("first name"), "Replaced");
    EXPECT_FALSE(phone->record("2").item("last name")) << "a resent record replaces, not merges";
    auto s = phone->syncSessions().back();
    EXPECT_TRUE(s.pingReceived);
    EXPECT_TRUE(s.finished);
    EXPECT_EQ(s.changesReceived.size(), 3u);
    EXPECT_NE(std::find(s.deleted.begin(), s.deleted.end(), "1"), s.deleted.end());
}

TEST_F(OldPhoneTest, PublicReadyToSendAfterReading) {
    phone->generateContacts(2);
    Sync s(phone->udid());
    std::vector<std::string> ids;
    int batches = 0;
    ASSERT_EQ(s.receiveAll(&ids, &batches), MOBILESYNC_E_SUCCESS);
    ASSERT_EQ(mobilesync_ready_to_send_changes_from_computer(s.client), MOBILESYNC_E_SUCCESS);
    Plist m = Plist::dict();
    m.set("-1", contactRecord("Public"));
    ASSERT_EQ(mobilesync_send_changes(s.client, m.get(), 0, nullptr), MOBILESYNC_E_SUCCESS);
    plist_t map = nullptr;
    ASSERT_EQ(mobilesync_remap_identifiers(s.client, &map), MOBILESYNC_E_SUCCESS);
    Plist owned(map);
    ASSERT_EQ(owned.type(), PLIST_DICT);
    EXPECT_EQ(phone->record(owned.stringAt("-1")).stringAt("first name"), "Public");
    EXPECT_EQ(mobilesync_finish(s.client), MOBILESYNC_E_SUCCESS);
}

TEST_F(OldPhoneTest, SyncRefusalsAndCancels) {
    phone->generateContacts(10);
    {
        phone->updateScenario([](auto& s) { s.syncVersionMajor = 400; });
        Sync s(phone->udid());
        EXPECT_EQ(s.serviceErr, MOBILESYNC_E_BAD_VERSION);
    }
    {
        phone->setScenario(fakedevice::scenarioFor(12));
        phone->updateScenario([](auto& s) {
            s.refuseSync = true;
            s.refuseDescription = "Sync is disabled on this device";
        });
        Sync s(phone->udid());
        EXPECT_EQ(s.startErr, MOBILESYNC_E_SYNC_REFUSED);
        EXPECT_EQ(s.errorDescription, "Sync is disabled on this device");
    }
    {
        phone->setScenario(fakedevice::scenarioFor(12));
        phone->updateScenario([](auto& s) { s.cancelSyncAtStart = true; });
        Sync s(phone->udid());
        EXPECT_EQ(s.startErr, MOBILESYNC_E_CANCELLED);
    }
    {
        phone->setScenario(fakedevice::scenarioFor(12));
        phone->updateScenario([](auto& s) {
            s.batchSize = 3;
            s.cancelAtBatch = 2;
        });
        Sync s(phone->udid());
        std::vector<std::string> ids;
        int batches = 0;
        EXPECT_EQ(s.receiveAll(&ids, &batches), MOBILESYNC_E_CANCELLED);
        EXPECT_EQ(batches, 2);
    }
    {
        phone->setScenario(fakedevice::scenarioFor(12));
        phone->updateScenario([](auto& s) {
            s.batchSize = 3;
            s.dropAtBatch = 1;
        });
        Sync s(phone->udid());
        std::vector<std::string> ids;
        int batches = 0;
        auto took = timed([&] { EXPECT_NE(s.receiveAll(&ids, &batches), MOBILESYNC_E_SUCCESS); });
        EXPECT_EQ(batches, 1);
        EXPECT_LT(took, kFailsWithin);
    }
    {
        phone->setScenario(fakedevice::scenarioFor(12));
        phone->updateScenario([](auto& s) { s.cancelAtProcessChanges = 0; });
        Sync s(phone->udid());
        s.ping();
        Plist m = Plist::dict();
        m.set("-5", contactRecord("Cancelled"));
        Plist answer = s.sendChanges(m);
        EXPECT_EQ(fakedevice::plistString(plist_array_get_item(answer.get(), 0)),
                  "SDMessageCancelSession");
    }
    {
        phone->setScenario(fakedevice::scenarioFor(12));
        phone->updateScenario([](auto& s) { s.lockdownErrors["StartService"] = "InvalidService"; });
        Sync s(phone->udid());
        EXPECT_NE(s.serviceErr, MOBILESYNC_E_SUCCESS);
    }
}

TEST_F(OldPhoneTest, WriteSessionSwitches) {
    // Commit only on finish: an unfinished session leaves the store as it was.
    phone->updateScenario([](auto& s) { s.commitOnFinish = true; });
    {
        Sync s(phone->udid());
        s.ping();
        Plist m = Plist::dict();
        m.set("-1", contactRecord("Lost"));
        s.sendChanges(m);
    }
    ASSERT_TRUE(phone->waitForSyncEnd(5s));
    EXPECT_EQ(phone->recordCount(), 0u);
    {
        Sync s(phone->udid());
        s.ping();
        Plist m = Plist::dict();
        m.set("-1", contactRecord("Kept"));
        s.sendChanges(m);
        EXPECT_EQ(mobilesync_finish(s.client), MOBILESYNC_E_SUCCESS);
    }
    EXPECT_EQ(phone->recordCount(), 1u);

    // A volunteered ReadyToReceive arrives where the no-wait writer expects its remap.
    phone->setScenario(fakedevice::scenarioFor(12));
    phone->updateScenario([](auto& s) {
        s.readyToReceiveInWriteSession = true;
        s.remapAsEmptyParameter = true;
    });
    Sync s(phone->udid());
    s.ping();
    Plist m = Plist::dict();
    m.set("-1", contactRecord("Stray"));
    Plist first = s.sendChanges(m);
    EXPECT_EQ(fakedevice::plistString(plist_array_get_item(first.get(), 0)),
              "SDMessageDeviceReadyToReceiveChanges");
    plist_t next = nullptr;
    ASSERT_EQ(mobilesync_receive(s.client, &next), MOBILESYNC_E_SUCCESS);
    Plist remap(next);
    EXPECT_EQ(fakedevice::plistString(plist_array_get_item(next, 2)), fakedevice::kEmptyParameter);
}

TEST_F(OldPhoneTest, DetachDuringSyncBreaksTheSession) {
    phone->generateContacts(20);
    phone->updateScenario([](auto& s) { s.batchSize = 2; });
    Sync s(phone->udid());
    ASSERT_EQ(mobilesync_get_all_records_from_device(s.client), MOBILESYNC_E_SUCCESS);
    plist_t ents = nullptr, actions = nullptr;
    uint8_t last = 0;
    ASSERT_EQ(mobilesync_receive_changes(s.client, &ents, &last, &actions), MOBILESYNC_E_SUCCESS);
    plist_free(ents);
    if (actions)
        plist_free(actions);
    server->detach(phone->udid());
    mobilesync_acknowledge_changes_from_device(s.client);
    ents = actions = nullptr;
    EXPECT_NE(mobilesync_receive_changes(s.client, &ents, &last, &actions), MOBILESYNC_E_SUCCESS);
    if (ents)
        plist_free(ents);
    if (actions)
        plist_free(actions);
}
