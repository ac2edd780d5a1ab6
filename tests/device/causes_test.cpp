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
    // "MissingValue" from StartService: a phone not unlocked since it restarted (the window's
    // suite has the other answers of the service start).
    phone->generateContacts(3);
    phone->updateScenario(
        [](fakedevice::Scenario& s) { s.lockdownErrors["StartService"] = "MissingValue"; });
    const Seen locked = failureOf([&] { readAll(udid); });
    EXPECT_EQ(locked.kind, DeviceFailure::NotUnlockedSinceRestart) << locked.text;
    EXPECT_EQ(locked.detail,
              "mobiledevice_sync_start_throw: start service failed. return -12. lockdown "
              "StartService: return -12.");

    // The same code from another step of lockdown means nothing of the kind: no cause is named.
    phone->setScenario(fakedevice::scenarioFor(phone->iosMajor()));
    phone->updateScenario(
        [](fakedevice::Scenario& s) { s.lockdownErrors["StartSession"] = "MissingValue"; });
    const Seen other = failureOf([&] { readAll(udid); });
    EXPECT_EQ(other.kind, DeviceFailure::Other) << other.text;
    EXPECT_TRUE(has(other.text, "without saying why")) << other.text;
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
