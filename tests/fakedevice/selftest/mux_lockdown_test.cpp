// Device discovery, events and lockdown through the real libimobiledevice client.
#include "harness.h"

#include <atomic>
#include <mutex>
#include <vector>

using namespace fdtest;
using fakedevice::Connection;
using fakedevice::Phone;
using fakedevice::Plist;

namespace {

std::vector<std::string> usbDeviceList() {
    char** list = nullptr;
    int count = 0;
    std::vector<std::string> out;
    if (idevice_get_device_list(&list, &count) == IDEVICE_E_SUCCESS) {
        for (int i = 0; i < count; ++i)
            out.push_back(list[i]);
        idevice_device_list_free(list);
    }
    return out;
}

struct Events {
    std::mutex mu;
    std::vector<std::tuple<int, std::string, int>> seen;  // event, udid, connection type
    static void cb(const idevice_event_t* e, void* user) {
        auto* self = static_cast<Events*>(user);
        std::lock_guard<std::mutex> lock(self->mu);
        self->seen.emplace_back(e->event, e->udid, e->conn_type);
    }
    size_t count(int event, const std::string& udid, int conn) {
        std::lock_guard<std::mutex> lock(mu);
        return std::count(seen.begin(), seen.end(), std::make_tuple(event, udid, conn));
    }
};

}  // namespace

TEST_F(SimTest, SeveralDevicesAreFoundOnlyOverUsb) {
    auto second = std::make_shared<Phone>(fakedevice::makeUdid(2), "Second");
    auto wireless = std::make_shared<Phone>(fakedevice::makeUdid(3), "Wireless");
    server->attach(second);
    server->attach(wireless, Connection::Network);

    auto list = usbDeviceList();
    EXPECT_EQ(list.size(), 2u);
    EXPECT_NE(std::find(list.begin(), list.end(), phone->udid()), list.end());
    EXPECT_NE(std::find(list.begin(), list.end(), second->udid()), list.end());

    idevice_t dev = openDevice(wireless->udid());
    EXPECT_EQ(dev, nullptr) << "a network device must not be found by a USB lookup";
    if (dev)
        idevice_free(dev);

    // Each phone answers with its own values.
    Lockdown a(phone->udid()), b(second->udid());
    ASSERT_EQ(a.err, LOCKDOWN_E_SUCCESS);
    ASSERT_EQ(b.err, LOCKDOWN_E_SUCCESS);
    plist_t name = nullptr;
    ASSERT_EQ(lockdownd_get_value(b.client, nullptr, "DeviceName", &name), LOCKDOWN_E_SUCCESS);
    Plist owned(name);
    EXPECT_EQ(fakedevice::plistString(name), "Second");

    EXPECT_TRUE(server->detach(second->udid()));
    EXPECT_FALSE(server->detach(second->udid()));
    EXPECT_EQ(usbDeviceList().size(), 1u);
}

TEST_F(SimTest, AttachAndDetachReachSubscribers) {
    Events ev;
    ASSERT_EQ(idevice_event_subscribe(&Events::cb, &ev), IDEVICE_E_SUCCESS);
    ASSERT_TRUE(server->waitForListeners(1, 5s));
    const std::string u1 = phone->udid();
    EXPECT_TRUE(
        fakedevice::waitUntil([&] { return ev.count(IDEVICE_DEVICE_ADD, u1, 1) == 1; }, 5s));

    auto second = std::make_shared<Phone>(fakedevice::makeUdid(2));
    auto wireless = std::make_shared<Phone>(fakedevice::makeUdid(3));
    server->attach(second);
    server->attach(wireless, Connection::Network);
    EXPECT_TRUE(fakedevice::waitUntil(
        [&] { return ev.count(IDEVICE_DEVICE_ADD, second->udid(), 1) == 1; }, 5s));
    // The client reports network devices with their own connection type, never as USB.
    EXPECT_TRUE(fakedevice::waitUntil(
        [&] { return ev.count(IDEVICE_DEVICE_ADD, wireless->udid(), 2) == 1; }, 5s));
    EXPECT_EQ(ev.count(IDEVICE_DEVICE_ADD, wireless->udid(), 1), 0u);

    server->detach(second->udid());
    EXPECT_TRUE(fakedevice::waitUntil(
        [&] { return ev.count(IDEVICE_DEVICE_REMOVE, second->udid(), 1) == 1; }, 5s));

    // A malformed event makes the client drop every device and listen again.
    server->sendMalformedEvent();
    EXPECT_TRUE(
        fakedevice::waitUntil([&] { return ev.count(IDEVICE_DEVICE_REMOVE, u1, 1) == 1; }, 5s));
    EXPECT_TRUE(
        fakedevice::waitUntil([&] { return ev.count(IDEVICE_DEVICE_ADD, u1, 1) == 2; }, 5s));

    idevice_event_unsubscribe();
}

TEST_F(SimTest, LockdownValuesReadAndWrite) {
    Lockdown ld(phone->udid());
    ASSERT_EQ(ld.err, LOCKDOWN_E_SUCCESS);

    plist_t all = nullptr;
    ASSERT_EQ(lockdownd_get_value(ld.client, nullptr, nullptr, &all), LOCKDOWN_E_SUCCESS);
    Plist whole(all);
    ASSERT_EQ(whole.type(), PLIST_DICT);
    EXPECT_EQ(whole.stringAt("DeviceName"), "Test Phone");
    EXPECT_EQ(whole.stringAt("UniqueDeviceID"), phone->udid());
    EXPECT_EQ(whole.stringAt("ProductVersion"), "17.5.1");

    plist_t missing = nullptr;
    EXPECT_EQ(lockdownd_get_value(ld.client, nullptr, "NoSuchKey", &missing),
              LOCKDOWN_E_MISSING_VALUE);
    EXPECT_EQ(missing, nullptr);

    plist_t classes = nullptr;
    ASSERT_EQ(
        lockdownd_get_value(ld.client, "com.apple.mobile.iTunes", "SyncDataClasses", &classes),
        LOCKDOWN_E_SUCCESS);
    Plist c(classes);
    EXPECT_EQ(c.type(), PLIST_ARRAY);

    // The tethered-sync write the program makes, read back through a fresh connection.
    plist_t v = plist_new_dict();
    plist_dict_set_item(v, "DisableTethered", plist_new_bool(0));
    ASSERT_EQ(lockdownd_set_value(ld.client, "com.apple.mobile.tethered_sync", "Contacts", v),
              LOCKDOWN_E_SUCCESS);
    auto calls = phone->setValueCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].domain, "com.apple.mobile.tethered_sync");
    EXPECT_EQ(calls[0].key, "Contacts");
    uint8_t flag = 1;
    plist_get_bool_val(plist_dict_get_item(calls[0].value.get(), "DisableTethered"), &flag);
    EXPECT_EQ(flag, 0);

    Lockdown again(phone->udid());
    plist_t back = nullptr;
    ASSERT_EQ(
        lockdownd_get_value(again.client, "com.apple.mobile.tethered_sync", "Contacts", &back),
        LOCKDOWN_E_SUCCESS);
    Plist b(back);
    plist_get_bool_val(plist_dict_get_item(back, "DisableTethered"), &flag);
    EXPECT_EQ(flag, 0);

    EXPECT_TRUE(phone->waitForRequest(fakedevice::kServiceLockdown, "StartSession", 1s, 2));
    EXPECT_GE(phone->countRequests(fakedevice::kServiceLockdown, "QueryType"), 2u);
}

TEST_F(SimTest, LockdownRefusalsReachTheClient) {
    struct Case {
        const char* what;
        std::function<void(fakedevice::Scenario&)> set;
        lockdownd_error_t expected;
    };
    const std::vector<Case> cases = {
        {"untrusted computer", [](auto& s) { s.lockdownErrors["StartSession"] = "InvalidHostID"; },
         LOCKDOWN_E_INVALID_HOST_ID},
        {"pair record without HostID", [](auto& s) { s.pairRecordWithoutHostId = true; },
         LOCKDOWN_E_INVALID_CONF},
        // The client then asks to pair; the phone waits for the user to trust the computer.
        {"no pair record", [](auto& s) { s.noPairRecord = true; },
         LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING},
        {"session without TLS", [](auto& s) { s.sessionSsl = false; }, LOCKDOWN_E_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fakedevice::Scenario s;
        c.set(s);
        phone->setScenario(s);
        auto took = timed([&] {
            Lockdown ld(phone->udid());
            EXPECT_EQ(ld.err, c.expected);
        });
        EXPECT_LT(took, kFailsWithin);
    }

    fakedevice::Scenario s;
    s.queryTypeWithoutType = true;
    phone->setScenario(s);
    {
        Lockdown ld(phone->udid());
        EXPECT_NE(ld.err, LOCKDOWN_E_SUCCESS);
    }
    s = {};
    s.startServiceWithoutPort = true;
    phone->setScenario(s);
    {
        Lockdown ld(phone->udid());
        ASSERT_EQ(ld.err, LOCKDOWN_E_SUCCESS);
        lockdownd_service_descriptor_t svc = nullptr;
        lockdownd_start_service(ld.client, "com.apple.afc", &svc);
        EXPECT_TRUE(svc == nullptr || svc->port == 0);
        if (svc)
            lockdownd_service_descriptor_free(svc);
    }

    s = {};
    s.lockdownErrors["SetValue"] = "SetProhibited";
    s.lockdownErrors["StartService"] = "InvalidService";
    phone->setScenario(s);
    Lockdown ld(phone->udid());
    ASSERT_EQ(ld.err, LOCKDOWN_E_SUCCESS);
    EXPECT_EQ(lockdownd_set_value(ld.client, nullptr, "DeviceName", plist_new_string("x")),
              LOCKDOWN_E_SET_PROHIBITED);
    EXPECT_EQ(phone->deviceName(), "Test Phone");
    lockdownd_service_descriptor_t svc = nullptr;
    EXPECT_EQ(lockdownd_start_service(ld.client, "com.apple.afc", &svc),
              LOCKDOWN_E_INVALID_SERVICE);
    if (svc)
        lockdownd_service_descriptor_free(svc);
}

TEST_F(SimTest, ServerStopsWithClientsConnected) {
    Lockdown ld(phone->udid());
    ASSERT_EQ(ld.err, LOCKDOWN_E_SUCCESS);
    auto took = timed([&] { server.reset(); });
    EXPECT_LT(took, 2s);
    // The client sees a dead connection, not a hang.
    plist_t v = nullptr;
    EXPECT_NE(lockdownd_get_value(ld.client, nullptr, "DeviceName", &v), LOCKDOWN_E_SUCCESS);
    if (v)
        plist_free(v);
}
