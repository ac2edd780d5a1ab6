// Broken and hostile device behaviour: the client must fail cleanly and never hang.
#include "harness.h"

#include <libimobiledevice/afc.h>
#include <libimobiledevice/mobilesync.h>

using namespace fdtest;
using fakedevice::Fault;
using fakedevice::FaultKind;

namespace {

const std::vector<std::pair<FaultKind, const char*>> kHostile = {
    {FaultKind::Drop, "drop"},
    {FaultKind::HugeLength, "huge length"},
    {FaultKind::Garbage, "garbage"},
    {FaultKind::WrongNodeType, "wrong node type"},
    {FaultKind::MissingKeys, "missing keys"},
};

Fault fault(const char* service, const char* request, FaultKind kind, int delayMs = 0) {
    Fault f;
    f.service = service;
    f.request = request;
    f.kind = kind;
    f.delayMs = delayMs;
    return f;
}

}  // namespace

TEST_F(SimTest, HostileLockdownRepliesFailCleanly) {
    for (const auto& hostile : kHostile) {
        // Plain names: lambdas cannot capture structured bindings in C++17.
        const FaultKind kind = hostile.first;
        const char* what = hostile.second;
        SCOPED_TRACE(what);
        fakedevice::Scenario s = fakedevice::scenarioFor(12);
        s.faults.push_back(fault(fakedevice::kServiceLockdown, "GetValue", kind));
        phone->setScenario(s);
        auto took = timed([&] {
            Lockdown ld(phone->udid());
            // The handshake itself reads ProductVersion, so it already meets the fault.
            plist_t v = nullptr;
            lockdownd_error_t e =
                ld.client ? lockdownd_get_value(ld.client, nullptr, "DeviceName", &v) : ld.err;
            EXPECT_NE(e, LOCKDOWN_E_SUCCESS);
            if (v)
                plist_free(v);
        });
        EXPECT_LT(took, kFailsWithin);
    }
}

TEST_F(SimTest, SlowRepliesAndOneShotFaults) {
    fakedevice::Scenario s = fakedevice::scenarioFor(12);
    s.faults.push_back(fault(fakedevice::kServiceLockdown, "GetValue", FaultKind::Delay, 300));
    phone->setScenario(s);
    auto took = timed([&] {
        Lockdown ld(phone->udid());
        EXPECT_EQ(ld.err, LOCKDOWN_E_SUCCESS);
    });
    EXPECT_GE(took, 300ms);

    // A fault limited to one firing: the first service start fails, the next one works.
    s.faults = {fault(fakedevice::kServiceLockdown, "StartService", FaultKind::Drop)};
    s.faults[0].times = 1;
    phone->setScenario(s);
    for (int attempt = 0; attempt < 2; ++attempt) {
        idevice_t dev = openDevice(phone->udid());
        ASSERT_NE(dev, nullptr);
        afc_client_t afc = nullptr;
        afc_error_t e = afc_client_start_service(dev, &afc, kLabel);
        EXPECT_EQ(e == AFC_E_SUCCESS, attempt == 1) << "attempt " << attempt;
        if (afc)
            afc_client_free(afc);
        idevice_free(dev);
    }

    // A changed fault list counts afresh, also through updateScenario; an unchanged one is
    // re-armed on request.
    phone->updateScenario([](fakedevice::Scenario& sc) {
        sc.faults = {fault(fakedevice::kServiceLockdown, "StartService", FaultKind::Garbage)};
        sc.faults[0].times = 1;
    });
    for (int round = 0; round < 2; ++round) {
        if (round == 1) {
            phone->updateScenario([](fakedevice::Scenario& sc) { sc.batchSize = 3; });
            phone->rearmFaults();
        }
        idevice_t dev = openDevice(phone->udid());
        afc_client_t afc = nullptr;
        EXPECT_NE(afc_client_start_service(dev, &afc, kLabel), AFC_E_SUCCESS);
        if (afc)
            afc_client_free(afc);
        idevice_free(dev);
    }

    // The nth message of a connection: the second ProcessChanges batch is slow.
    phone->generateContacts(6);
    s.faults = {fault(fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice",
                      FaultKind::Delay, 3000)};
    s.faults[0].nth = 1;
    s.batchSize = 2;
    phone->setScenario(s);
    idevice_t dev = openDevice(phone->udid());
    mobilesync_client_t sync = nullptr;
    ASSERT_EQ(mobilesync_client_start_service(dev, &sync, kLabel), MOBILESYNC_E_SUCCESS);
    mobilesync_anchors_t anchors = mobilesync_anchors_new("---", "now");
    mobilesync_sync_type_t type;
    uint64_t ver = 0;
    char* desc = nullptr;
    ASSERT_EQ(mobilesync_start(sync, "com.apple.Contacts", anchors, 106, &type, &ver, &desc),
              MOBILESYNC_E_SUCCESS);
    mobilesync_anchors_free(anchors);
    free(desc);
    ASSERT_EQ(mobilesync_get_all_records_from_device(sync), MOBILESYNC_E_SUCCESS);
    std::vector<std::chrono::milliseconds> waits;
    for (uint8_t last = 0; !last;) {
        plist_t ents = nullptr, actions = nullptr;
        waits.push_back(timed([&] {
            ASSERT_EQ(mobilesync_receive_changes(sync, &ents, &last, &actions),
                      MOBILESYNC_E_SUCCESS);
        }));
        plist_free(ents);
        if (actions)
            plist_free(actions);
        ASSERT_EQ(mobilesync_acknowledge_changes_from_device(sync), MOBILESYNC_E_SUCCESS);
    }
    ASSERT_GE(waits.size(), 3u);
    EXPECT_GE(waits[1], 3000ms);
    EXPECT_LT(waits[2], 1000ms);
    mobilesync_client_free(sync);
    idevice_free(dev);
}

TEST_F(SimTest, HostileSyncRepliesFailCleanly) {
    phone->generateContacts(4);
    for (const auto& hostile : kHostile) {
        // Plain names: lambdas cannot capture structured bindings in C++17.
        const FaultKind kind = hostile.first;
        const char* what = hostile.second;
        SCOPED_TRACE(what);
        fakedevice::Scenario s = fakedevice::scenarioFor(12);
        s.batchSize = 1;
        s.faults.push_back(
            fault(fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice", kind));
        phone->setScenario(s);
        idevice_t dev = openDevice(phone->udid());
        ASSERT_NE(dev, nullptr);
        mobilesync_client_t sync = nullptr;
        ASSERT_EQ(mobilesync_client_start_service(dev, &sync, kLabel), MOBILESYNC_E_SUCCESS);
        mobilesync_anchors_t anchors = mobilesync_anchors_new("---", "now");
        mobilesync_sync_type_t type;
        uint64_t ver = 0;
        char* desc = nullptr;
        ASSERT_EQ(mobilesync_start(sync, "com.apple.Contacts", anchors, 106, &type, &ver, &desc),
                  MOBILESYNC_E_SUCCESS);
        mobilesync_anchors_free(anchors);
        free(desc);
        ASSERT_EQ(mobilesync_get_all_records_from_device(sync), MOBILESYNC_E_SUCCESS);
        plist_t ents = nullptr, actions = nullptr;
        uint8_t last = 0;
        ASSERT_EQ(mobilesync_receive_changes(sync, &ents, &last, &actions), MOBILESYNC_E_SUCCESS);
        plist_free(ents);
        if (actions)
            plist_free(actions);
        mobilesync_acknowledge_changes_from_device(sync);
        auto took = timed([&] {
            ents = actions = nullptr;
            last = 0;
            mobilesync_error_t e = mobilesync_receive_changes(sync, &ents, &last, &actions);
            if (kind == FaultKind::MissingKeys) {
                // The 1.3 client takes a ProcessChanges without records as a last, empty batch:
                // success with no entities node at all.
                EXPECT_EQ(e, MOBILESYNC_E_SUCCESS);
                EXPECT_EQ(ents, nullptr);
                EXPECT_TRUE(last);
            } else {
                EXPECT_NE(e, MOBILESYNC_E_SUCCESS);
            }
            if (ents)
                plist_free(ents);
            if (actions)
                plist_free(actions);
        });
        EXPECT_LT(took, kFailsWithin);
        mobilesync_client_free(sync);
        idevice_free(dev);
    }
}

TEST_F(SimTest, HostileAfcRepliesFailCleanly) {
    for (const auto& hostile : kHostile) {
        // Plain names: lambdas cannot capture structured bindings in C++17.
        const FaultKind kind = hostile.first;
        const char* what = hostile.second;
        SCOPED_TRACE(what);
        fakedevice::Scenario s = fakedevice::scenarioFor(12);
        s.faults.push_back(fault(fakedevice::kServiceAfc, "READ_DIR", kind));
        phone->setScenario(s);
        idevice_t dev = openDevice(phone->udid());
        ASSERT_NE(dev, nullptr);
        afc_client_t afc = nullptr;
        ASSERT_EQ(afc_client_start_service(dev, &afc, kLabel), AFC_E_SUCCESS);
        auto took = timed([&] {
            char** names = nullptr;
            EXPECT_NE(afc_read_directory(afc, "/", &names), AFC_E_SUCCESS);
            if (names)
                afc_dictionary_free(names);
        });
        EXPECT_LT(took, kFailsWithin);
        afc_client_free(afc);
        idevice_free(dev);
    }
}

TEST_F(SimTest, HostileUsbmuxRepliesFailCleanly) {
    for (const auto& hostile : kHostile) {
        // Plain names: lambdas cannot capture structured bindings in C++17.
        const FaultKind kind = hostile.first;
        const char* what = hostile.second;
        SCOPED_TRACE(what);
        // The client falls back from ListDevices to Listen, so both answer badly.
        server->setMuxFaults({fault(fakedevice::kServiceMux, "ListDevices", kind),
                              fault(fakedevice::kServiceMux, "Listen", kind)});
        auto took = timed([&] {
            idevice_t dev = openDevice(phone->udid());
            EXPECT_EQ(dev, nullptr);
            if (dev)
                idevice_free(dev);
        });
        EXPECT_LT(took, kFailsWithin);
    }
    // Device-bound requests: a refused Connect and a broken pair-record read.
    server->setMuxFaults({});
    fakedevice::Scenario s = fakedevice::scenarioFor(12);
    s.refuseConnect = true;
    phone->setScenario(s);
    {
        Lockdown ld(phone->udid());
        EXPECT_EQ(ld.err, LOCKDOWN_E_MUX_ERROR);
    }
    s = {};
    s.faults.push_back(fault(fakedevice::kServiceMux, "ReadPairRecord", FaultKind::Garbage));
    phone->setScenario(s);
    auto took = timed([&] {
        Lockdown ld(phone->udid());
        EXPECT_NE(ld.err, LOCKDOWN_E_SUCCESS);
    });
    EXPECT_LT(took, kFailsWithin);
    auto journal = server->muxJournal();
    EXPECT_TRUE(std::any_of(journal.begin(), journal.end(), [](auto& e) {
        return e.name == "ReadBUID" || e.name == "ReadPairRecord";
    }));
}
