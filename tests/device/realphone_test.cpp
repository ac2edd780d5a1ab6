// Phones as people have them: iCloud Contacts on, locked, "Trust" not yet tapped or declined, a
// pairing the phone forgot, a refused TLS handshake, a pulled cable, a cancel while the phone is
// silent, and a batch of large photos. Each failure is one kind, named in words, with the
// failing call and its code below.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <functional>
#include <thread>

#include "device_fixture.h"
#include "seen.h"
#include "device/mobiledevice.h"
#include "device/mobiledevice_sync.h"

using devicetest::failureOf;
using devicetest::Seen;

namespace {

// Reads every batch; returns the number of records.
int readAll(const QString& udid, mobiledevice_sync_client& client) {
    mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_recv_all_records_throw(client);
    int total = 0;
    for (bool more = true; more;) {
        PlistCFType records;
        more = mobiledevice_sync_record_next_throw(client, records, nullptr);
        total += records.dict_size();
    }
    return total;
}

int readAll(const QString& udid, int timeoutMs = devicelink::kDefaultTimeoutMs) {
    mobiledevice_sync_client client;
    client.receiveTimeoutMs = timeoutMs;
    return readAll(udid, client);
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST_F(DeviceTest, ICloudContactsRefusedOrEmptyAreToldAsSuch) {
    phone->generateContacts(3);
    phone->emulateICloudContacts(true);
    const Seen f = failureOf([&] { readAll(udid); });
    EXPECT_EQ(f.kind, DeviceFailure::SyncRefused);
    EXPECT_TRUE(contains(f.text, "iCloud")) << f.text;
    EXPECT_EQ(f.detail,
              "mobiledevice_sync_start_throw: start failed. return -7. No Data Store available "
              "for data class");

    // The other kind of iCloud phone syncs, with nothing in its own store; its tethered value
    // says so, and that value keeps its keys when the flag is written.
    phone->emulateICloudContacts(false);
    bool wasDisabled = false;
    ASSERT_TRUE(mobiledevice_sync_set_tethered_throw(udid, "Contacts", false, &wasDisabled));
    EXPECT_TRUE(wasDisabled);
    const PlistCFType now = mobiledevice_info(udid, "com.apple.mobile.tethered_sync", "Contacts");
    EXPECT_EQ(now.get("SyncingOS").CFStringQString(), "iOS");
    EXPECT_FALSE(now.get("DisableTethered").CFNumberBool(true));
    EXPECT_EQ(readAll(udid), 0);

    // Older phones keep the flag as a number: it stays one.
    PlistCFType numeric = PlistCFType::createCFDictionary();
    numeric.put("DisableTethered", PlistCFType::createCFNumberInt64(1));
    numeric.put("SyncingOS", PlistCFType::createCFString("iPhone OS"));
    phone->setLockdownValue("com.apple.mobile.tethered_sync", "Contacts",
                            fakedevice::Plist(plist_copy(static_cast<plist_t>(numeric.ref()))));
    ASSERT_TRUE(mobiledevice_sync_set_tethered_throw(udid, "Contacts", false, &wasDisabled));
    EXPECT_TRUE(wasDisabled);
    const PlistCFType back = mobiledevice_info(udid, "com.apple.mobile.tethered_sync", "Contacts");
    EXPECT_TRUE(back.get("DisableTethered").isCFNumber());
    EXPECT_EQ(back.get("DisableTethered").CFNumberInt64(-1), 0);
    EXPECT_EQ(back.get("SyncingOS").CFStringQString(), "iPhone OS");
}

TEST_F(DeviceTest, LockedUntrustedAndForgottenPhonesAreNamed) {
    phone->generateContacts(3);
    struct Case {
        std::function<void()> set;
        DeviceFailure kind;
        const char* words;
        const char* detail;
    } cases[] = {
        {[&] { phone->updateScenario([](fakedevice::Scenario& s) { s.locked = true; }); },
         DeviceFailure::Locked, "Unlock it with its passcode",
         "mobiledevice_sync_start_throw: start service failed. return -17. lockdown StartService: "
         "return -17."},
        {[&] { phone->setTrust(fakedevice::Trust::Pending); }, DeviceFailure::TrustPending,
         "Tap \"Trust\" on the phone",
         "mobiledevice_sync_start_throw: start service failed. return -19. lockdown handshake: "
         "return -19."},
        {[&] { phone->setTrust(fakedevice::Trust::Declined); }, DeviceFailure::TrustDeclined,
         "plug it in again and tap \"Trust\"",
         "mobiledevice_sync_start_throw: start service failed. return -18. lockdown handshake: "
         "return -18."},
        {[&] {
             phone->updateScenario([](fakedevice::Scenario& s) {
                 s.lockdownErrors["StartSession"] = "InvalidHostID";
             });
         },
         DeviceFailure::PairingInvalid, "no longer knows this computer",
         "mobiledevice_sync_start_throw: start service failed. return -21. lockdown handshake: "
         "return -21."},
        // A refused handshake is -5 from lockdown: an SSL error there, never a time-out.
        {[&] { phone->updateScenario([](fakedevice::Scenario& s) { s.tlsRefused = true; }); },
         DeviceFailure::SecurityRefused, "refused the secure connection",
         "mobiledevice_sync_start_throw: start service failed. return -5. lockdown handshake: "
         "return -5."},
    };
    for (const Case& c : cases) {
        phone->setScenario(fakedevice::scenarioFor(phone->iosMajor()));
        phone->setTrust(fakedevice::Trust::Trusted);
        c.set();
        QElapsedTimer t;
        t.start();
        const Seen f = failureOf([&] { readAll(udid); });
        EXPECT_LT(t.elapsed(), 10000) << f.text;
        EXPECT_EQ(f.kind, c.kind) << f.text;
        EXPECT_TRUE(contains(f.text, c.words)) << f.text;
        EXPECT_EQ(f.detail, c.detail);
    }

    // Trust tapped later: the same attached phone is read without a re-plug.
    phone->setScenario(fakedevice::scenarioFor(phone->iosMajor()));
    phone->setTrust(fakedevice::Trust::Pending);
    EXPECT_EQ(failureOf([&] { readAll(udid); }).kind, DeviceFailure::TrustPending);
    phone->setTrust(fakedevice::Trust::Trusted);
    EXPECT_EQ(readAll(udid), int(phone->recordCount()));
}

TEST_F(DeviceTest, APulledCableIsADisconnectionNotASilentPhone) {
    phone->generateContacts(30);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 10;
        s.faults = {{fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice", 1,
                     fakedevice::FaultKind::Unplug, 0, 1}};
    });
    QElapsedTimer t;
    t.start();
    const Seen f = failureOf([&] { readAll(udid); });
    EXPECT_LT(t.elapsed(), 5000);  // a silent phone is given up on after 30 s
    EXPECT_EQ(f.kind, DeviceFailure::Disconnected) << f.text;
    EXPECT_TRUE(contains(f.text, "The phone was disconnected. Nothing of this read was kept."))
        << f.text;

    // Pulled while changes go out: what the phone took stays, the rest is said not written.
    server->attach(phone);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults = {{fakedevice::kServiceSync, "SDMessageProcessChanges", 2,
                     fakedevice::FaultKind::Unplug, 0, 1}};
    });
    mobiledevice_sync_client client;
    mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_send_to_device_throw(client);
    PlistCFType records = PlistCFType::createCFDictionary();
    PlistCFType contact = PlistCFType::createCFDictionary();
    contact.put("com.apple.syncservices.RecordEntityName",
                PlistCFType::createCFString("com.apple.contacts.Contact"));
    contact.put("first name", PlistCFType::createCFString("Ada"));
    records.put("-1", contact);
    mobiledevice_sync_send_throw(client, records, false, PlistCFType());
    const Seen w =
        failureOf([&] { mobiledevice_sync_send_throw(client, records, false, PlistCFType()); });
    EXPECT_EQ(w.kind, DeviceFailure::Disconnected) << w.text;
    EXPECT_TRUE(contains(w.text, "What the phone had taken before stays on it")) << w.text;
}

TEST_F(DeviceTest, ACancelEndsTheWaitForASilentPhoneAtOnce) {
    phone->generateContacts(20);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 5;
        // Silent until the computer closes the connection: only the cancel ends the wait
        // before the phone's 30 s of silence are up.
        s.faults = {{fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice", 1,
                     fakedevice::FaultKind::Stall, 0, 1}};
    });
    std::atomic<bool> cancel{false};
    QElapsedTimer sinceCancel;
    std::thread user([&] {
        phone->waitForRequest(fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice",
                              5s);
        std::this_thread::sleep_for(300ms);
        sinceCancel.start();
        cancel = true;
    });
    mobiledevice_sync_client client;
    client.cancelFlag = &cancel;
    const Seen f = failureOf([&] { readAll(udid, client); });
    const qint64 toEnd = sinceCancel.elapsed();
    user.join();
    EXPECT_EQ(f.kind, DeviceFailure::Cancelled) << f.text;
    EXPECT_LT(toEnd, 5000);
    client.free();
    EXPECT_TRUE(phone->waitForSyncEnd(5s));
}

TEST_F(DeviceTest, WaitsFitWhatThePhoneIsDoing) {
    phone->generateContacts(10);
    // Preparing a read takes a phone longer than sending its next batch.
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 5;
        s.faults = {{fakedevice::kServiceSync, "SDMessageGetAllRecordsFromDevice", 1,
                     fakedevice::FaultKind::Delay, 900, 1}};
    });
    EXPECT_EQ(readAll(udid, 500), int(phone->recordCount()));

    // A phone silent between two batches is given up on after the plain wait, in words.
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults = {{fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice", 1,
                     fakedevice::FaultKind::Delay, 3000, 1}};
    });
    const Seen f = failureOf([&] { readAll(udid, 500); });
    EXPECT_EQ(f.kind, DeviceFailure::Silent);
    EXPECT_TRUE(contains(f.text, "The phone stopped answering for 0.5 seconds.")) << f.text;
}

TEST(DeviceFailureKinds, OverlappingCodesMeanWhatTheirLayerSays) {
    // -5: an SSL error for lockdown, a start failure for the service layer.
    EXPECT_EQ(failureOfLockdown(-5), DeviceFailure::SecurityRefused);
    EXPECT_EQ(failureOfService(-5), DeviceFailure::Other);
    // -7: a lockdown time-out, a service time-out.
    EXPECT_EQ(failureOfLockdown(-7), DeviceFailure::Silent);
    EXPECT_EQ(failureOfService(-7), DeviceFailure::Silent);
    // -3: a lockdown plist error, a closed service connection, no such device.
    EXPECT_EQ(failureOfLockdown(-3), DeviceFailure::Other);
    EXPECT_EQ(failureOfService(-3), DeviceFailure::Disconnected);
    EXPECT_EQ(failureOfLookup(-3), DeviceFailure::NotFound);
    EXPECT_EQ(failureOfLockdown(-17), DeviceFailure::Locked);
    EXPECT_EQ(failureOfLockdown(-19), DeviceFailure::TrustPending);
    // Only the codes of the phone's named answers (-10 to -39) carry a name.
    EXPECT_STREQ(lockdownErrorName(-39), "MCChallengeRequired");
    EXPECT_EQ(lockdownErrorName(-9), nullptr);
    EXPECT_EQ(failureOfLockdown(-256), DeviceFailure::Other);

    const DeviceError e(DeviceFailure::Locked, "Words.", "call failed. return -17.");
    EXPECT_STREQ(e.what(), "Words.\ncall failed. return -17.");
    EXPECT_EQ(e.detail(), "call failed. return -17.");
}
