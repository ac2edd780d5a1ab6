// A phone that stops answering at any point of its connection: the user's cancel ends the wait
// within a tenth of a second of the flag, and nothing is written to the phone.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "device_fixture.h"
#include "device/mobiledevice_sync.h"
#include "platform/mobilesync/phonecall.h"

namespace {

// The read of every record, as the phone read runs it (with the tethered-sync flag, when asked,
// set on the lockdown session that starts the service; afterStart once the session started);
// the kind it ended with.
DeviceFailure readAll(const QString& udid, const std::atomic<bool>& cancel, bool tethered = false,
                      const std::function<void()>& afterStart = nullptr) {
    mobiledevice_sync_client client;
    client.cancelFlag = &cancel;
    if (tethered)
        client.tethered = TetheredSync("Contacts", true);
    try {
        mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
        if (afterStart)
            afterStart();
        mobiledevice_sync_start_recv_all_records_throw(client);
        for (bool more = true; more;) {
            PlistCFType records;
            more = mobiledevice_sync_record_next_throw(client, records, nullptr);
        }
    } catch (const DeviceError& e) {
        return e.kind();
    }
    return DeviceFailure::None;
}

}  // namespace

TEST_F(DeviceTest, ACancelEndsEveryWaitOnAStalledPhoneWithinATenthOfASecond) {
    struct Stall {
        const char* where;
        std::function<void(fakedevice::Scenario&)> make;
        // A request the phone receives before it stalls.
        const char* service;
        const char* request;
        // Runs into the stall; true when it ended as cancelled.
        std::function<bool(const std::atomic<bool>&)> run;
    };
    const auto read = [this](const std::atomic<bool>& cancel) {
        return readAll(udid, cancel) == DeviceFailure::Cancelled;
    };
    const std::vector<Stall> stalls = {
        {"a batch the phone keeps back",
         [](fakedevice::Scenario& s) {
             s.batchSize = 5;
             s.faults = {{fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice", 1,
                          fakedevice::FaultKind::Stall, 0, 1}};
         },
         fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice", read},
        // The set-up's call (lockdown, StartService, the service's TLS) waits the same way.
        {"lockdown's TLS handshake",
         [](fakedevice::Scenario& s) { s.stallTlsOf = fakedevice::kServiceLockdown; },
         fakedevice::kServiceLockdown, "StartSession", read},
        // A value left behind is not written.
        {"the tethered-sync value on the service's lockdown session",
         [](fakedevice::Scenario& s) {
             s.faults = {{fakedevice::kServiceLockdown, "GetValue com.apple.mobile.tethered_sync",
                          1, fakedevice::FaultKind::Stall, 0, 1}};
         },
         fakedevice::kServiceLockdown, "GetValue",
         [this](const std::atomic<bool>& cancel) {
             return readAll(udid, cancel, true) == DeviceFailure::Cancelled;
         }},
        {"the tethered-sync value",
         [](fakedevice::Scenario& s) {
             s.faults = {{fakedevice::kServiceLockdown, "GetValue com.apple.mobile.tethered_sync",
                          1, fakedevice::FaultKind::Stall, 0, 1}};
         },
         fakedevice::kServiceLockdown, "GetValue",
         [this](const std::atomic<bool>& cancel) {
             return !mobiledevice_sync_set_tethered_throw(udid, "Contacts", true, nullptr, nullptr,
                                                          &cancel);
         }},
        // The phone closes the connection, and usbmuxd, asked whether it is still attached,
        // stops answering.
        {"usbmuxd's list after a closed connection",
         [](fakedevice::Scenario& s) {
             s.faults = {{fakedevice::kServiceSync, "SDMessageGetAllRecordsFromDevice", 1,
                          fakedevice::FaultKind::Drop, 0, 1}};
         },
         fakedevice::kServiceSync, "SDMessageGetAllRecordsFromDevice",
         [this](const std::atomic<bool>& cancel) {
             const bool cancelled =
                 readAll(udid, cancel, false, [this] {
                     server->setMuxFaults(
                         {{fakedevice::kServiceMux, "", 0, fakedevice::FaultKind::Stall, 0, 1}});
                 }) == DeviceFailure::Cancelled;
             server->setMuxFaults({});
             return cancelled;
         }},
    };
    phone->generateContacts(20);
    for (const Stall& stall : stalls) {
        SCOPED_TRACE(stall.where);
        phone->clearJournal();
        phone->updateScenario([&](fakedevice::Scenario& s) {
            s.faults.clear();
            s.stallTlsOf.clear();
            stall.make(s);
        });
        phone->rearmFaults();
        std::atomic<bool> cancel{false};
        std::atomic<int64_t> setAt{0};
        std::thread user([&] {
            EXPECT_TRUE(phone->waitForRequest(stall.service, stall.request, 5s));
            std::this_thread::sleep_for(300ms);
            setAt = phonecall::Wait::nowMs();
            cancel = true;
        });
        EXPECT_TRUE(stall.run(cancel));
        const int64_t afterFlag = phonecall::Wait::nowMs() - setAt;
        user.join();
        // A wait that missed the flag would last until the phone's silence is given up on.
        EXPECT_LT(afterFlag, 1000);
        EXPECT_EQ(phone->countRequests(fakedevice::kServiceLockdown, "SetValue"), 0u);
        // What the abandoned calls still hold goes with the phone's connections.
        server->detach(phone->udid());
        EXPECT_TRUE(phonecall::Running::waitForAll(10000));
        server->attach(phone);
    }
}

// A phone that answers the tethered-sync value only after the cancel: the set-up left behind
// neither writes the value nor starts the sync service.
TEST_F(DeviceTest, ASetUpLeftBehindWritesNothingWhenThePhoneAnswersLate) {
    phone->generateContacts(3);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults = {{fakedevice::kServiceLockdown, "GetValue com.apple.mobile.tethered_sync", 1,
                     fakedevice::FaultKind::Delay, 600, 1}};
    });
    std::atomic<bool> cancel{false};
    std::thread user([&] {
        EXPECT_TRUE(phone->waitForRequest(fakedevice::kServiceLockdown, "GetValue", 5s));
        std::this_thread::sleep_for(100ms);
        cancel = true;
    });
    EXPECT_EQ(readAll(udid, cancel, true), DeviceFailure::Cancelled);
    user.join();
    // The phone's late answer reaches the call left behind, which then ends on its own.
    EXPECT_TRUE(phonecall::Running::waitForAll(10000));
    EXPECT_EQ(phone->countRequests(fakedevice::kServiceLockdown, "SetValue"), 0u);
    EXPECT_EQ(phone->countRequests(fakedevice::kServiceLockdown, "StartService"), 0u);
}
