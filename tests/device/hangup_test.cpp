// A phone that hangs up once the secure connection is made has a working pairing: whatever step
// it hangs up at, the words say that the phone ended the connection and at which step, and never
// advise removing the pairing. Only a failed TLS handshake does.
#include <gtest/gtest.h>

#include <functional>

#include "device_fixture.h"
#include "seen.h"
#include "device/mobiledevice.h"
#include "device/mobiledevice_sync.h"

using namespace devicetest;

namespace {

void writeOne(const QString& udid) {
    mobiledevice_sync_client client;
    mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_send_to_device_throw(client);
    mobiledevice_sync_send_throw(client, newContact("Never"), false, PlistCFType());
    mobiledevice_sync_send_finish_throw(client);
}

fakedevice::Fault dropAt(const char* service, const char* request) {
    return {service, request, 1, fakedevice::FaultKind::Drop, 0, 1};
}

}  // namespace

TEST_F(DeviceTest, AHangUpAfterTheHandshakeIsThePhoneEndingTheConnection) {
    phone->generateContacts(3);
    const size_t before = phone->recordCount();
    using fakedevice::Scenario;
    const char* const setUp = "while the sync service was being started";
    const char* const start = "when the sync session was started";
    const bool serviceTls = fakedevice::scenarioFor(phone->iosMajor()).serviceSsl;
    struct Case {
        const char* name;
        std::function<void(Scenario&)> set;
        bool write;
        DeviceFailure kind;
        const char* words;
    } cases[] = {
        // The pairing works: lockdown's or the service's handshake succeeded.
        {"after lockdown's handshake",
         [](Scenario& s) { s.hangUpAfterTlsOf = fakedevice::kServiceLockdown; }, false,
         DeviceFailure::EndedByPhone, setUp},
        {"at StartService",
         [](Scenario& s) { s.faults = {dropAt(fakedevice::kServiceLockdown, "StartService")}; },
         false, DeviceFailure::EndedByPhone, setUp},
        {"before the version exchange",
         serviceTls ? [](Scenario& s) { s.hangUpAfterTlsOf = fakedevice::kServiceSync; }
                    : std::function<void(Scenario&)>(),
         false, DeviceFailure::EndedByPhone, setUp},
        {"at the version exchange",
         [](Scenario& s) {
             s.faults = {dropAt(fakedevice::kServiceSync, "DLMessageVersionExchange")};
         },
         false, DeviceFailure::EndedByPhone, setUp},
        {"at the sync start",
         [](Scenario& s) {
             s.faults = {dropAt(fakedevice::kServiceSync, "SDMessageSyncDataClassWithDevice")};
         },
         false, DeviceFailure::EndedByPhone, start},
        {"at the request for every record",
         [](Scenario& s) {
             s.faults = {dropAt(fakedevice::kServiceSync, "SDMessageGetAllRecordsFromDevice")};
         },
         false, DeviceFailure::EndedByPhone, "Nothing of this read was kept."},
        {"at a batch of changes",
         [](Scenario& s) {
             s.faults = {dropAt(fakedevice::kServiceSync, "SDMessageProcessChanges")};
         },
         true, DeviceFailure::EndedByPhone, "ended the sync without saying why. Try again."},
        {"at the finish",
         [](Scenario& s) {
             s.commitOnFinish = true;
             s.faults = {dropAt(fakedevice::kServiceSync, "SDMessageFinishSessionOnDevice")};
         },
         true, DeviceFailure::EndedByPhone, "ended the sync without saying why"},
        // The handshake itself failed: only then is the pairing named.
        {"a refused handshake", [](Scenario& s) { s.tlsRefused = true; }, false,
         DeviceFailure::SecurityRefused, "idevicepair unpair"},
        {"a damaged pair record", [](Scenario& s) { s.damagedPairRecord = true; }, false,
         DeviceFailure::SecurityRefused, "idevicepair unpair"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Before iOS 13 the sync service runs without TLS: there is no handshake to hang up after.
        if (c.set == nullptr)
            continue;
        phone->setScenario(fakedevice::scenarioFor(phone->iosMajor()));
        phone->updateScenario(c.set);
        const Seen f = failureOf([&] { c.write ? writeOne(udid) : readAll(udid); });
        EXPECT_EQ(f.kind, c.kind) << f.text << " / " << f.detail;
        EXPECT_TRUE(has(f.text, c.words)) << f.text;
        if (c.kind != DeviceFailure::SecurityRefused) {
            EXPECT_FALSE(has(f.text, "pairing")) << f.text;
            EXPECT_FALSE(has(f.text, "secure connection")) << f.text;
        }
        EXPECT_FALSE(has(f.text, "disconnected")) << f.text;
        EXPECT_LT(f.ms, 10000);
        EXPECT_TRUE(mobiledevice_attached(udid));
        EXPECT_EQ(phone->recordCount(), before);
    }
    // Nothing came from the computer that the phone could keep.
    for (const fakedevice::SyncSession& s : phone->syncSessions())
        EXPECT_FALSE(s.finished);

    // The check before a read: lockdown's -8 is a connection the phone closed (or usbmuxd could
    // not open to it), its -5 the handshake itself.
    const struct {
        std::function<void(Scenario&)> set;
        DeviceFailure kind;
    } checks[] = {
        {[](Scenario& s) { s.faults = {dropAt(fakedevice::kServiceLockdown, "QueryType")}; },
         DeviceFailure::EndedByPhone},
        {[](Scenario& s) { s.refuseConnect = true; }, DeviceFailure::EndedByPhone},
        {[](Scenario& s) { s.tlsRefused = true; }, DeviceFailure::SecurityRefused},
    };
    for (const auto& c : checks) {
        phone->setScenario(fakedevice::scenarioFor(phone->iosMajor()));
        phone->updateScenario(c.set);
        EXPECT_EQ(mobiledevice_check(udid), c.kind);
    }
    EXPECT_TRUE(phone->setValueCalls().empty());
}
