// What a phone of today does to a sync session: device-link 400 over TLS (which the installed
// library's own client refuses), reads cut short by the phone, hostile frames and a phone that
// goes quiet. Runs against the default simulated phone and, as a second test, against iOS 12.
#include <gtest/gtest.h>
#include <libimobiledevice/mobilesync.h>
#include <sys/resource.h>

#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <stdexcept>

#include "device_fixture.h"
#include "device/mobiledevice_sync.h"
#include "tests/timing.h"

namespace {

// The detail line of a device failure: the failing call, its code and the phone's words (the
// cause in words above it is checked by the failure tests).
std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const DeviceError& e) {
        return e.detail();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

// Reads every batch; returns the records read before the session ended.
int readAll(const QString& udid, int timeoutMs = devicelink::kDefaultTimeoutMs) {
    mobiledevice_sync_client client;
    client.receiveTimeoutMs = timeoutMs;
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

[[maybe_unused]] long peakRssMb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss / 1024;
}

}  // namespace

TEST_F(DeviceTest, TheLibrarysOwnClientFailsOnACurrentPhoneOurSessionReadsIt) {
    phone->generateContacts(30);
    idevice_t dev = nullptr;
    ASSERT_EQ(idevice_new_with_options(&dev, phone->udid().c_str(), IDEVICE_LOOKUP_USBMUX), 0);
    mobilesync_client_t library = nullptr;
    const mobilesync_error_t rc = mobilesync_client_start_service(dev, &library, "QUORVANTELI");
    if (library)
        mobilesync_client_free(library);
    idevice_free(dev);
    if (phone->iosMajor() >= 14)
        EXPECT_EQ(rc, MOBILESYNC_E_BAD_VERSION);
    else
        EXPECT_EQ(rc, MOBILESYNC_E_SUCCESS);

    EXPECT_EQ(readAll(udid), int(phone->recordCount()));
    // The session ran over TLS on a current phone: the service start asked for it.
    const auto starts = phone->requests(fakedevice::kServiceLockdown, "StartService");
    ASSERT_FALSE(starts.empty());
    const auto sessions = phone->syncSessions();
    ASSERT_FALSE(sessions.empty());
    EXPECT_TRUE(sessions.back().recordsRequested);
    EXPECT_EQ(phone->scenario().serviceSsl, phone->iosMajor() >= 13);
}

TEST_F(DeviceTest, AReadEndsOnlyOnThePhonesLastBatch) {
    phone->generateContacts(20);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 10;
        s.disconnectAtBatch = 1;
    });
    EXPECT_EQ(errorOf([&] { readAll(udid); }),
              "mobilesync_receive_changes failed. return -8. The phone ended the session: The "
              "device is locked");

    phone->updateScenario([](fakedevice::Scenario& s) {
        s.disconnectAtBatch = -1;
        s.malformedAtBatch = 1;
    });
    EXPECT_EQ(errorOf([&] { readAll(udid); }),
              "mobilesync_receive_changes failed. return -2. The phone sent an invalid message (a "
              "batch that is not a record dictionary).");

    // A batch whose records are not dictionaries is malformed too.
    phone->updateScenario([](fakedevice::Scenario& s) { s.malformedAtBatch = -1; });
    phone->addRecord("999", fakedevice::Plist::string("not a record"));
    EXPECT_NE(errorOf([&] { readAll(udid); }).find("return -2. The phone sent an invalid"),
              std::string::npos);
}

TEST_F(DeviceTest, HostileFramesEndTheSessionWithinASecond) {
    phone->generateContacts(4);
    const fakedevice::HostileFrame kinds[] = {
        fakedevice::HostileFrame::Nested, fakedevice::HostileFrame::SharedReferences,
        fakedevice::HostileFrame::NulString, fakedevice::HostileFrame::Oversized};
    for (fakedevice::HostileFrame kind : kinds) {
        fakedevice::hostileFrameBytes(kind);  // the phone has it ready, as a hostile one would
        phone->updateScenario([&](fakedevice::Scenario& s) {
            s.hostileFrame = kind;
            s.hostileAtBatch = 0;
        });
        // Timed from the request for the records to the end of the session. The client waits
        // far longer than the margin for bytes that never come, so a frame it waits for instead
        // of refusing is caught.
        mobiledevice_sync_client client;
        client.receiveTimeoutMs = kStallMs;
        mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
        QElapsedTimer t;
        t.start();
        const std::string err = errorOf([&] {
            mobiledevice_sync_start_recv_all_records_throw(client);
            PlistCFType records;
            mobiledevice_sync_record_next_throw(client, records, nullptr);
        });
        EXPECT_LT(t.elapsed(), kMarginMs) << int(kind);
        EXPECT_EQ(err.rfind("mobilesync_receive_changes failed. return -2. The phone sent an "
                            "invalid message (",
                            0),
                  0u)
            << int(kind) << ": " << err;
    }
#if !defined(__SANITIZE_ADDRESS__)
    // (AddressSanitizer's shadow memory and quarantine make the figure meaningless there.)
    EXPECT_LT(peakRssMb(), 300);
#endif

    // The phone is readable again once it behaves.
    phone->updateScenario([](fakedevice::Scenario& s) { s.hostileFrame = {}; });
    EXPECT_EQ(readAll(udid), int(phone->recordCount()));
}

TEST_F(DeviceTest, APhoneThatGoesQuietIsGivenUpOn) {
    phone->generateContacts(10);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 5;
        s.faults = {fakedevice::Fault{fakedevice::kServiceSync,
                                      "SDMessageAcknowledgeChangesFromDevice", 1,
                                      fakedevice::FaultKind::Delay, kStallMs, 1}};
    });
    QElapsedTimer t;
    t.start();
    std::string words;
    try {
        readAll(udid, 500);
    } catch (const std::runtime_error& e) {
        words = e.what();
    }
    EXPECT_EQ(words,
              "The phone stopped answering for 0.5 seconds. Nothing of this read was kept. Unplug "
              "it, plug it in again and keep it unlocked.\n"
              "mobilesync_receive_changes failed. return -5.");
    EXPECT_LT(t.elapsed(), kMarginMs);
}

TEST_F(DeviceTest, AReadGivenUpBetweenBatchesIsCancelledBeforeTheGoodbye) {
    // Small batches without photos: the phone's next batch is on its way in one write, so it
    // goes on to read what the computer says instead of finding the connection closed.
    fakedevice::GenerateOptions small;
    small.photoEvery = 0;
    phone->generateContacts(20, small);
    phone->updateScenario([](fakedevice::Scenario& s) { s.batchSize = 5; });
    {
        mobiledevice_sync_client client;
        mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
        mobiledevice_sync_start_recv_all_records_throw(client);
        PlistCFType records;
        EXPECT_TRUE(mobiledevice_sync_record_next_throw(client, records, nullptr));
        // Let the next batch arrive: a connection closed with unread data is reset, and the
        // reset can take the cancel with it before the phone reads it.
        QElapsedTimer acked;
        acked.start();
        while (phone->syncSessions().back().acknowledgements < 1 && acked.elapsed() < 5000)
            QThread::msleep(10);
        QThread::msleep(300);
    }  // the worker stops here, as on a cancel between batches
    ASSERT_TRUE(phone->waitForSyncEnd(5s));
    EXPECT_TRUE(phone->syncSessions().back().cancelledByClient);
    EXPECT_TRUE(phone->syncSessions().back().disconnected);

    // A read that ran to its last batch ends with the goodbye alone.
    EXPECT_EQ(readAll(udid), int(phone->recordCount()));
    ASSERT_TRUE(phone->waitForSyncEnd(5s, 2));
    EXPECT_FALSE(phone->syncSessions().back().cancelledByClient);
    EXPECT_TRUE(phone->syncSessions().back().disconnected);
}
