// What a failing phone is said to have done, from evidence only: lockdown's answer to the
// service start, the phone's own words for a refusal, a cancel or a hang-up, whether the phone
// is still attached, and what it accepted of a write. Each case ends within seconds in words
// that name the true cause, or say that none is known.
#include <gtest/gtest.h>

#include "device_fixture.h"
#include "seen.h"
#include "device/mobiledevice.h"
#include "device/mobiledevice_sync.h"

using namespace devicetest;

TEST_F(DeviceTest, ACodeMeansWhatItsStepSays) {
    // A reason lockdown names is told with its name, never as none; "MissingValue" means a phone
    // not unlocked since it restarted only from StartService (the window's suite has the other
    // answers of the service start). A managed phone answers Pair with "MCProtected".
    phone->generateContacts(3);
    const size_t before = phone->recordCount();
    const struct {
        const char* request;
        const char* error;
        DeviceFailure kind;
        const char* words;
        const char* detail;
    } cases[] = {
        {"StartService", "MissingValue", DeviceFailure::NotUnlockedSinceRestart,
         "has not been unlocked since it was restarted",
         "start service failed. return -12. lockdown StartService: return -12."},
        {"StartService", "SessionInactive", DeviceFailure::ServiceRefused,
         "The phone refused to start its contacts sync service (SessionInactive). Unplug the phone",
         "return -23. lockdown StartService: return -23."},
        {"StartSession", "MissingValue", DeviceFailure::SessionRefused,
         "The phone refused the connection with this computer (MissingValue). Unplug the phone",
         "return -12. lockdown handshake: return -12."},
        {"Pair", "MCProtected", DeviceFailure::SessionRefused,
         "The phone refused the connection with this computer (MCProtected).",
         "return -38. lockdown handshake: return -38."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        phone->setScenario(fakedevice::scenarioFor(phone->iosMajor()));
        phone->updateScenario(
            [&](fakedevice::Scenario& s) { s.lockdownErrors[c.request] = c.error; });
        // Pair is asked for only when this computer holds no pairing with the phone.
        if (std::string(c.request) == "Pair")
            phone->setTrust(fakedevice::Trust::Pending);
        const Seen f = failureOf([&] { readAll(udid); });
        EXPECT_EQ(f.kind, c.kind) << f.text;
        EXPECT_TRUE(has(f.text, c.words)) << f.text;
        EXPECT_FALSE(has(f.text, "without saying why")) << f.text;
        EXPECT_TRUE(has(f.detail, c.detail)) << f.detail;
        EXPECT_LT(f.ms, 10000);
    }
    // Refused before the session: nothing went to the phone.
    EXPECT_TRUE(phone->syncSessions().empty());
    EXPECT_EQ(phone->recordCount(), before);
}

TEST_F(DeviceTest, RefusalsCancelsAndHangUpsQuoteThePhone) {
    phone->generateContacts(30);
    // A refusal without words is not given one (the window's suite quotes one with words).
    phone->updateScenario([](fakedevice::Scenario& s) { s.refuseSync = true; });
    Seen f = failureOf([&] { readAll(udid); });
    EXPECT_EQ(f.kind, DeviceFailure::SyncRefused);
    EXPECT_TRUE(has(f.text, "did not say why")) << f.text;
    EXPECT_FALSE(has(f.text, "iCloud")) << f.text;

    // A cancel in the middle of a read, and a goodbye with a reason.
    phone->setScenario(fakedevice::scenarioFor(phone->iosMajor()));
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 10;
        s.cancelAtBatch = 1;
        s.cancelReason = "Sync cancelled by the user";
    });
    f = failureOf([&] { readAll(udid); });
    EXPECT_EQ(f.kind, DeviceFailure::EndedByPhone);
    EXPECT_TRUE(has(f.text,
                    "It said: \"Sync cancelled by the user\". Nothing of this read was "
                    "kept."))
        << f.text;
    EXPECT_FALSE(has(f.text, "Unlock")) << f.text;
    phone->setScenario(fakedevice::scenarioFor(phone->iosMajor()));
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 10;
        s.disconnectAtBatch = 1;
    });
    f = failureOf([&] { readAll(udid); });
    EXPECT_EQ(f.kind, DeviceFailure::EndedByPhone);
    EXPECT_TRUE(has(f.text, "It said: \"The device is locked\"")) << f.text;

    // The phone closes the connection without a word and stays attached: not "disconnected".
    phone->setScenario(fakedevice::scenarioFor(phone->iosMajor()));
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 10;
        s.dropAtBatch = 1;
    });
    f = failureOf([&] { readAll(udid); });
    EXPECT_EQ(f.kind, DeviceFailure::EndedByPhone) << f.text;
    EXPECT_TRUE(has(f.text,
                    "The phone ended the sync without saying why. Nothing of this read "
                    "was kept."))
        << f.text;
    EXPECT_LT(f.ms, 10000);
}

TEST_F(DeviceTest, AttachedOrNotIsAskedOfUsbmuxdBeforeDisconnectedIsSaid) {
    phone->generateContacts(3);
    // A damaged pair record on this computer: the phone stays attached and ends the TLS
    // handshake, every time.
    phone->updateScenario([](fakedevice::Scenario& s) { s.damagedPairRecord = true; });
    for (int run = 0; run < 4; ++run) {
        const Seen f = failureOf([&] { readAll(udid); });
        EXPECT_EQ(f.kind, DeviceFailure::SecurityRefused) << f.text << " / " << f.detail;
        EXPECT_TRUE(has(f.text, "pairing with the phone is damaged")) << f.text;
        EXPECT_FALSE(has(f.text, "disconnected")) << f.text;
        EXPECT_LT(f.ms, 10000);
    }
    EXPECT_TRUE(mobiledevice_attached(udid));

    // The cable pulled while lockdown starts the service: gone, so disconnected.
    phone->setScenario(fakedevice::scenarioFor(phone->iosMajor()));
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults = {
            {fakedevice::kServiceLockdown, "StartService", 1, fakedevice::FaultKind::Unplug, 0, 1}};
    });
    const Seen pulled = failureOf([&] { readAll(udid); });
    EXPECT_EQ(pulled.kind, DeviceFailure::Disconnected) << pulled.text << " / " << pulled.detail;
    EXPECT_TRUE(has(pulled.text, "The phone was disconnected.")) << pulled.text;
    EXPECT_FALSE(mobiledevice_attached(udid));
}

TEST_F(DeviceTest, AFinishThePhoneCannotCommitKeepsNothingAndSaysSo) {
    phone->generateContacts(2);
    const size_t before = phone->recordCount();
    phone->updateScenario(
        [](fakedevice::Scenario& s) { s.finishRefusal = "Couldn't commit changes on device"; });
    mobiledevice_sync_client client;
    mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_send_to_device_throw(client);
    // The change is acknowledged with its new id...
    const PlistCFType remap =
        mobiledevice_sync_send_throw(client, newContact("Kept?"), false, PlistCFType());
    EXPECT_EQ(remap.dict_size(), 1);
    // ...and the finish refused in the phone's words: nothing of the session stays on it.
    const Seen f = failureOf([&] { mobiledevice_sync_send_finish_throw(client); });
    EXPECT_EQ(f.kind, DeviceFailure::EndedByPhone);
    EXPECT_TRUE(has(f.text, "It said: \"Couldn't commit changes on device\".")) << f.text;
    EXPECT_FALSE(has(f.text, "stays on it")) << f.text;
    EXPECT_EQ(f.detail, "mobilesync_finish failed. return -8. Couldn't commit changes on device");
    client.free();
    EXPECT_EQ(phone->recordCount(), before);
}
