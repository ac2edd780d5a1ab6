// The device layer driven through the real libimobiledevice client against the simulated
// iPhone: device events, lockdown values, sync sessions (receive and send), their error texts
// and a device that misbehaves.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "device_fixture.h"
#include "device/mobiledevice.h"
#include "device/mobiledevice_sync.h"
#include "tests/timing.h"

namespace {

const char kEntity[] = "com.apple.syncservices.RecordEntityName";

bool waitFor(const std::function<bool()>& pred, int ms = kMarginMs) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// The text of the std::runtime_error that f throws, or "no error".
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

PlistCFType contactRecord(const QString& first, const QString& last) {
    PlistCFType r = PlistCFType::createCFDictionary();
    r.put(kEntity, PlistCFType::createCFString("com.apple.contacts.Contact"));
    r.put("first name", PlistCFType::createCFString(first));
    r.put("last name", PlistCFType::createCFString(last));
    return r;
}

PlistCFType phoneRecord(const QString& contactId, const QString& number) {
    PlistCFType r = PlistCFType::createCFDictionary();
    r.put(kEntity, PlistCFType::createCFString("com.apple.contacts.Phone Number"));
    r.put("value", PlistCFType::createCFString(number));
    r.put("type", PlistCFType::createCFString("mobile"));
    r.put("contact", PlistCFType::createCFArray({PlistCFType::createCFString(contactId)}));
    return r;
}

// Receives every batch of an all-records session; returns the records per batch.
QList<int> receiveAll(const QString& udid, int* total, QStringList* kinds = nullptr) {
    mobiledevice_sync_client client;
    mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_recv_all_records_throw(client);
    QList<int> sizes;
    *total = 0;
    bool more = true;
    while (more) {
        PlistCFType records;
        more = mobiledevice_sync_record_next_throw(client, records, nullptr);
        sizes << records.dict_size();
        *total += records.dict_size();
        if (kinds)
            records.dict_foreach([&](const char*, const PlistCFType& rec) {
                *kinds << rec.get(kEntity).CFStringQString();
            });
    }
    return sizes;
}

}  // namespace

// ---- device events ----

TEST_F(DeviceTest, UsbAttachAndDetachReachTheGuiThreadNetworkDevicesDoNot) {
    QStringList added, removed;
    bool offGuiThread = false;
    QObject receiver;
    MobiledeviceSubscribe sub;
    QObject::connect(&sub, &MobiledeviceSubscribe::newDevice, &receiver, [&](QString id) {
        offGuiThread |= QThread::currentThread() != qApp->thread();
        added << id;
    });
    QObject::connect(&sub, &MobiledeviceSubscribe::kickDevice, &receiver, [&](QString id) {
        offGuiThread |= QThread::currentThread() != qApp->thread();
        removed << id;
    });
    ASSERT_TRUE(sub.start());

    // The phone attached before the subscription is announced first.
    ASSERT_TRUE(waitFor([&] { return added.size() == 1; }));
    EXPECT_EQ(added.first(), udid);

    auto second = std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(2), "Second");
    auto wifi = std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(3), "Over the air");
    server->attach(wifi, fakedevice::Connection::Network);
    server->attach(second);
    ASSERT_TRUE(waitFor([&] { return added.size() == 2; }));
    EXPECT_EQ(added.last(), QString::fromStdString(second->udid()));
    EXPECT_TRUE(server->detach(second->udid()));
    EXPECT_TRUE(server->detach(wifi->udid()));
    ASSERT_TRUE(waitFor([&] { return removed.size() == 1; }));
    EXPECT_EQ(removed, QStringList({QString::fromStdString(second->udid())}));

    // Give a stray network event time to show up: none may.
    QElapsedTimer t;
    t.start();
    waitFor([] { return false; }, 300);
    EXPECT_EQ(added.size(), 2);
    EXPECT_EQ(removed.size(), 1);
    EXPECT_EQ(sub.deviceCount(), 1);
    EXPECT_FALSE(offGuiThread);
    // A network-only device cannot be opened either: lookups are USB only.
    EXPECT_TRUE(mobiledevice_info(QString::fromStdString(wifi->udid()), "", "").isNull());
}

TEST_F(DeviceTest, MalformedEventReannouncesTheDevice) {
    QStringList events;
    QObject receiver;
    MobiledeviceSubscribe sub;
    QObject::connect(&sub, &MobiledeviceSubscribe::newDevice, &receiver,
                     [&](QString id) { events << "+" + id; });
    QObject::connect(&sub, &MobiledeviceSubscribe::kickDevice, &receiver,
                     [&](QString id) { events << "-" + id; });
    ASSERT_TRUE(sub.start());
    ASSERT_TRUE(waitFor([&] { return events.size() == 1; }));
    // The library drops a listen connection that sends garbage, reports every device gone
    // and listens again.
    server->sendMalformedEvent();
    ASSERT_TRUE(waitFor([&] { return events.size() == 3; }, 5000));
    EXPECT_EQ(events, QStringList({"+" + udid, "-" + udid, "+" + udid}));
    EXPECT_EQ(sub.deviceCount(), 1);
}

// The library ends its event thread by cancelling it, and a thread cancelled while it greets
// usbmuxd leaves that greeting behind (found by the leak checker at the process's end). Windows
// come and go while the program runs, each with a subscriber.
TEST_F(DeviceTest, SubscribersThatComeAndGoEachHearTheAttachedPhones) {
    for (int i = 0; i < 200; ++i) {
        MobiledeviceSubscribe quick;
        ASSERT_TRUE(quick.start());
        // Gone at every point of the library's greeting, up to a few hundred microseconds.
        QThread::usleep((i % 10) * 40);
    }
    for (int i = 0; i < 5; ++i) {
        QStringList added;
        QObject receiver;
        auto sub = std::make_unique<MobiledeviceSubscribe>();
        QObject::connect(sub.get(), &MobiledeviceSubscribe::newDevice, &receiver,
                         [&](QString id) { added << id; });
        ASSERT_TRUE(sub->start());
        ASSERT_TRUE(waitFor([&] { return !added.isEmpty(); }));
        EXPECT_EQ(added, QStringList({udid}));
        EXPECT_EQ(sub->deviceCount(), 1);
    }

    // A phone that comes while no one listens is announced to the next subscriber; one that
    // left is not.
    auto second = std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(2), "Second");
    server->attach(second);
    EXPECT_TRUE(server->detach(phone->udid()));
    QThread::msleep(200);
    QStringList events;
    QObject receiver;
    MobiledeviceSubscribe last;
    QObject::connect(&last, &MobiledeviceSubscribe::newDevice, &receiver,
                     [&](QString id) { events << "+" + id; });
    QObject::connect(&last, &MobiledeviceSubscribe::kickDevice, &receiver,
                     [&](QString id) { events << "-" + id; });
    ASSERT_TRUE(last.start());
    ASSERT_TRUE(waitFor([&] { return events.size() == 1; }));
    const QString secondId = QString::fromStdString(second->udid());
    EXPECT_EQ(events, QStringList({"+" + secondId}));
    EXPECT_TRUE(server->detach(second->udid()));
    ASSERT_TRUE(waitFor([&] { return events.size() == 2; }));
    EXPECT_EQ(events.last(), "-" + secondId);
    EXPECT_EQ(last.deviceCount(), 0);
}

// Moving to another usbmuxd ends the library's subscription, which must not land in the
// thread's greeting of the usbmuxd it had just reached (a leak the checker finds at the end).
TEST_F(DeviceTest, ASubscriberHearsTheUsbmuxdItIsStartedAgainst) {
    fakedevice::TempDir otherDir;
    fakedevice::Server other(otherDir.socketPath());
    auto elsewhere = std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(4), "Elsewhere");
    other.attach(elsewhere);
    fakedevice::TempDir emptyDir;
    fakedevice::Server empty(emptyDir.socketPath());
    for (int i = 0; i < 21; ++i) {
        const fakedevice::Server& at = i == 20 ? empty : i % 2 ? other : *server;
        fakedevice::ScopedMuxAddress address(at.socketAddress());
        MobiledeviceSubscribe quick;
        ASSERT_TRUE(quick.start());
        QThread::usleep((i % 10) * 40);
    }
    fakedevice::ScopedMuxAddress address(other.socketAddress());
    QStringList added;
    QObject receiver;
    MobiledeviceSubscribe sub;
    QObject::connect(&sub, &MobiledeviceSubscribe::newDevice, &receiver,
                     [&](QString id) { added << id; });
    ASSERT_TRUE(sub.start());
    ASSERT_TRUE(waitFor([&] { return !added.isEmpty(); }));
    waitFor([] { return false; }, 200);
    EXPECT_EQ(added, QStringList({QString::fromStdString(elsewhere->udid())}));
}

// ---- lockdown values ----

TEST_F(DeviceTest, LockdownValuesWholeDictionaryAndSingleKeys) {
    const PlistCFType all = mobiledevice_info(udid, "", "");
    ASSERT_TRUE(all.isCFDictionary());
    EXPECT_EQ(all.get("DeviceName").CFStringQString(), "Test Phone");
    EXPECT_EQ(all.get("UniqueDeviceID").CFStringQString(), udid);
    EXPECT_GT(all.dict_size(), 3);

    const PlistCFType name = mobiledevice_info(udid, "", "DeviceName");
    EXPECT_TRUE(name.isCFString());
    EXPECT_EQ(name.CFStringQString(), "Test Phone");
    EXPECT_TRUE(mobiledevice_info(udid, "", "NoSuchKey").isNull());

    // Every lockdown request names the program.
    const auto sessions = phone->requests(fakedevice::kServiceLockdown, "StartSession");
    ASSERT_FALSE(sessions.empty());
    EXPECT_NE(sessions.back().xml.find("QUORVANTELI"), std::string::npos);

    // A device that is not attached gives empty results, no message.
    EXPECT_TRUE(mobiledevice_info(QString(fakedevice::makeUdid(9).c_str()), "", "").isNull());
    EXPECT_FALSE(mobiledevice_set(QString(fakedevice::makeUdid(9).c_str()), "d", "k",
                                  PlistCFType::createCFBoolean(true)));
    EXPECT_FALSE(mobiledevice_set(static_cast<iDevice*>(nullptr), "d", "k",
                                  PlistCFType::createCFBoolean(true)));
}

TEST_F(DeviceTest, UntrustedDeviceGivesEmptyValuesAndFalse) {
    phone->updateScenario(
        [](fakedevice::Scenario& s) { s.lockdownErrors["StartSession"] = "InvalidHostID"; });
    EXPECT_TRUE(mobiledevice_info(udid, "", "").isNull());
    EXPECT_FALSE(mobiledevice_sync_set_tethered_throw(udid, "Contacts", false));
    iDevice dev(udid);
    EXPECT_EQ(dev.newDevice(), 0);
    EXPECT_NE(dev.lockdowndWithHandshake(), 0);
    EXPECT_FALSE(dev.open());
}

TEST_F(DeviceTest, TetheredSyncValueIsWrittenAsADictionary) {
    PlistCFType value = PlistCFType::createCFDictionary();
    bool wasDisabled = false;
    ASSERT_TRUE(mobiledevice_sync_set_tethered_throw(udid, "Contacts", false, &wasDisabled));
    EXPECT_TRUE(wasDisabled);
    const auto calls = phone->setValueCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].domain, "com.apple.mobile.tethered_sync");
    EXPECT_EQ(calls[0].key, "Contacts");
    const PlistCFType written(plist_copy(calls[0].value.get()), true);
    ASSERT_TRUE(written.isCFDictionary());
    // The phone's other keys stay as they were.
    EXPECT_EQ(written.dict_size(), 2);
    EXPECT_EQ(written.get("SyncingOS").CFStringQString(), "Mac OS X");
    EXPECT_FALSE(written.get("DisableTethered").CFNumberBool(true));
    // Read back through the device layer.
    EXPECT_FALSE(mobiledevice_info(udid, "com.apple.mobile.tethered_sync", "Contacts")
                     .get("DisableTethered")
                     .CFNumberBool(true));

    // The caller's value is copied, not handed over.
    PlistCFType mine = PlistCFType::createCFString("kept");
    iDevice dev(udid);
    ASSERT_TRUE(dev.open());
    EXPECT_TRUE(mobiledevice_set(&dev, "com.example", "Key", mine));
    EXPECT_TRUE(mine.isOwned());
    EXPECT_EQ(mine.CFStringQString(), "kept");

    phone->updateScenario(
        [](fakedevice::Scenario& s) { s.lockdownErrors["SetValue"] = "SetProhibited"; });
    EXPECT_FALSE(mobiledevice_sync_set_tethered_throw(udid, "Contacts", true));
}

// The read looks the phone up once (usbmuxd's list, then the list libimobiledevice asks for to make
// the handle, and none of the set-up's own) and sets the tethered-sync flag on the lockdown session
// that starts the sync service, so one handshake serves both; when the phone does not take the
// value, or its session broke meanwhile, the service starts on a session of its own, as it would
// without the flag. The same with the set-up on a thread of its own (a cancel flag that stays
// clear).
TEST_F(DeviceTest, AStartLooksThePhoneUpOnceAndSetsTheTetheredFlagOnItsLockdownSession) {
    using fakedevice::FaultKind;
    using fakedevice::kServiceLockdown;
    const auto faultAt = [](const char* request, FaultKind kind) {
        return [=](fakedevice::Scenario& s) {
            s.faults = {fakedevice::Fault{kServiceLockdown, request, 1, kind, 0, 0}};
        };
    };
    // The handshake reads a value of its own first.
    const char* const kValueRead = "GetValue com.apple.mobile.tethered_sync";
    const struct {
        const char* what;
        std::function<void(fakedevice::Scenario&)> make;
        bool written;
        size_t handshakes;
    } cases[] = {
        {"taken", [](fakedevice::Scenario&) {}, true, 1},
        {"refused", [](fakedevice::Scenario& s) { s.lockdownErrors["SetValue"] = "SetProhibited"; },
         false, 2},
        {"the write's connection dropped", faultAt("SetValue", FaultKind::Drop), false, 2},
        {"garbage for the value read", faultAt(kValueRead, FaultKind::Garbage), false, 2},
        // An answer without the value: the flag is written into a value of its own.
        {"the value read stripped", faultAt(kValueRead, FaultKind::MissingKeys), true, 1},
    };
    const auto lookUps = [this] {
        size_t n = 0;
        for (const fakedevice::JournalEntry& e : server->muxJournal())
            n += e.name == "ListDevices" ? 1 : 0;
        return n;
    };
    phone->generateContacts(4);
    const std::atomic<bool> clear{false};
    for (const std::atomic<bool>* flag : {static_cast<const std::atomic<bool>*>(nullptr), &clear}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (flag ? ", with a cancel flag" : ""));
            phone->updateScenario([&](fakedevice::Scenario& s) {
                s.faults.clear();
                s.lockdownErrors.clear();
                c.make(s);
            });
            phone->clearJournal();
            const size_t lookUpsBefore = lookUps();
            mobiledevice_sync_client client;
            client.cancelFlag = flag;
            client.tethered = TetheredSync("Contacts", false);
            mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
            mobiledevice_sync_start_recv_all_records_throw(client);
            int records = 0;
            for (bool more = true; more;) {
                PlistCFType batch;
                more = mobiledevice_sync_record_next_throw(client, batch, nullptr);
                records += batch.dict_size();
            }
            client.free();
            EXPECT_EQ(records, int(phone->recordCount()));
            EXPECT_EQ(lookUps() - lookUpsBefore, 2u);
            EXPECT_EQ(client.tethered->written, c.written);
            EXPECT_EQ(phone->countRequests(kServiceLockdown, "StartSession"), c.handshakes);
            // The flag goes first, and the service starts on the last session.
            const auto starts = phone->requests(kServiceLockdown, "StartService");
            ASSERT_EQ(starts.size(), 1u);
            for (const fakedevice::JournalEntry& set :
                 phone->requests(kServiceLockdown, "SetValue"))
                EXPECT_LT(set.when, starts.front().when);
            EXPECT_EQ(starts.front().connection,
                      phone->requests(kServiceLockdown, "StartSession").back().connection);
        }
    }
}

// ---- receiving ----

TEST_F(DeviceTest, ReceiveSessionInBatchesWithOneAcknowledgementEach) {
    fakedevice::GenerateOptions opt;
    phone->generateContacts(12, opt);
    phone->updateScenario([](fakedevice::Scenario& s) { s.batchSize = 10; });
    const int expected = int(phone->recordCount());
    ASSERT_GT(expected, 20);

    int total = 0;
    QStringList kinds;
    const QList<int> sizes = receiveAll(udid, &total, &kinds);
    EXPECT_EQ(total, expected);
    EXPECT_EQ(sizes.size(), (expected + 9) / 10);
    EXPECT_EQ(sizes.last(), expected % 10 == 0 ? 10 : expected % 10);  // the last batch is filled
    EXPECT_TRUE(kinds.contains("com.apple.contacts.Contact"));
    EXPECT_TRUE(kinds.contains("com.apple.contacts.Phone Number"));

    ASSERT_TRUE(phone->waitForSyncEnd(3s));
    const auto sessions = phone->syncSessions();
    ASSERT_EQ(sessions.size(), 1u);
    const fakedevice::SyncSession& s = sessions[0];
    EXPECT_EQ(s.dataClass, "com.apple.Contacts");
    EXPECT_EQ(s.deviceAnchor, "---");
    EXPECT_EQ(
        QDateTime::fromString(QString::fromStdString(s.computerAnchor), Qt::ISODate).isValid(),
        true);
    EXPECT_EQ(s.version, 106u);
    EXPECT_EQ(s.batchesSent, sizes.size());
    EXPECT_EQ(s.acknowledgements, sizes.size());
    EXPECT_FALSE(s.finished);  // a read session ends without finishing
    EXPECT_TRUE(s.disconnected);
}

TEST_F(DeviceTest, EmptyPhoneGivesOneEmptyLastBatch) {
    phone->clearRecords();
    int total = -1;
    const QList<int> sizes = receiveAll(udid, &total);
    EXPECT_EQ(sizes, QList<int>({0}));
    EXPECT_EQ(total, 0);
}

// ---- sending ----

TEST_F(DeviceTest, SendSessionWithRemapAndFinish) {
    phone->generateContacts(3);
    const size_t before = phone->recordCount();
    mobiledevice_sync_client client;
    mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_send_to_device_throw(client);

    PlistCFType contacts = PlistCFType::createCFDictionary();
    contacts.put("-1", contactRecord("Ann", "Lee"));
    const PlistCFType remap1 = mobiledevice_sync_send_throw(client, contacts, false, PlistCFType());
    const QString newId = remap1.get("-1").CFStringQString();
    ASSERT_FALSE(newId.isEmpty());
    EXPECT_TRUE(QRegExp("\\d+").exactMatch(newId)) << newId.toStdString();

    PlistCFType children = PlistCFType::createCFDictionary();
    children.put(QString("3/%1/-1").arg(newId), phoneRecord(newId, "+1 555 0100"));
    const PlistCFType remap2 = mobiledevice_sync_send_throw(client, children, false, PlistCFType());
    const QString childId = remap2.get(QString("3/%1/-1").arg(newId)).CFStringQString();
    EXPECT_TRUE(QRegExp(QString("3/%1/\\d+").arg(newId)).exactMatch(childId))
        << childId.toStdString();

    // A deletion: the device has nothing to remap and says so.
    PlistCFType deletion = PlistCFType::createCFDictionary();
    deletion.put("1", PlistCFType::createCFString("___EmptyParameterString___"));
    EXPECT_TRUE(mobiledevice_sync_send_throw(client, deletion, false, PlistCFType()).isNull());

    mobiledevice_sync_send_finish_throw(client);
    client.free();

    ASSERT_TRUE(phone->waitForSyncEnd(3s));
    const fakedevice::SyncSession s = phone->syncSessions().back();
    EXPECT_TRUE(s.pingReceived);
    EXPECT_FALSE(s.recordsRequested);
    EXPECT_EQ(s.changesReceived.size(), 3u);
    EXPECT_TRUE(s.finished);
    EXPECT_TRUE(s.disconnected);
    EXPECT_EQ(std::count(s.deleted.begin(), s.deleted.end(), "1"), 1);

    const fakedevice::Plist stored = phone->record(newId.toStdString());
    ASSERT_TRUE(bool(stored));
    EXPECT_EQ(stored.stringAt("first name"), "Ann");
    EXPECT_TRUE(bool(phone->record(childId.toStdString())));
    EXPECT_FALSE(bool(phone->record("1")));
    EXPECT_LT(phone->recordCount(), before + 2);  // contact 1 went with its children
}

TEST_F(DeviceTest, SendSkipsAStrayReadyMessageAndSendsActions) {
    phone->updateScenario([](fakedevice::Scenario& s) { s.readyToReceiveInWriteSession = true; });
    mobiledevice_sync_client client;
    mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_send_to_device_throw(client);
    PlistCFType records = PlistCFType::createCFDictionary();
    records.put("-7", contactRecord("Bo", "Ek"));
    PlistCFType actions = PlistCFType::createCFDictionary();
    actions.put("SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey",
                PlistCFType::createCFBoolean(true));
    const PlistCFType remap = mobiledevice_sync_send_throw(client, records, true, actions);
    EXPECT_FALSE(remap.get("-7").CFStringQString().isEmpty());
    // The caller's values are whole after the send: the records went into the message as they
    // were, and their handle keeps that message now.
    EXPECT_EQ(records.dict_size(), 1);
    EXPECT_FALSE(records.get("-7").isNull());
    EXPECT_TRUE(actions.isOwned());
    mobiledevice_sync_send_finish_throw(client);
}

// ---- error texts ----

TEST_F(DeviceTest, StartFailuresNameTheCallAndCode) {
    mobiledevice_sync_client client;
    const QString absent = QString::fromStdString(fakedevice::makeUdid(42));
    EXPECT_EQ(errorOf([&] {
                  mobiledevice_sync_start_throw(absent, _mobiledevice_sync_ctx::contacts(), client);
              }),
              "mobiledevice_sync_start_throw: open device failed. return -3.");

    phone->updateScenario([](fakedevice::Scenario& s) {
        s.refuseSync = true;
        s.refuseDescription = "Sync is off";
    });
    EXPECT_EQ(errorOf([&] {
                  mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
              }),
              "mobiledevice_sync_start_throw: start failed. return -7. Sync is off");
    client.free();

    phone->updateScenario([](fakedevice::Scenario& s) { s.refuseDescription.clear(); });
    EXPECT_EQ(errorOf([&] {
                  mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
              }),
              "mobiledevice_sync_start_throw: start failed. return -7. ");

    phone->updateScenario([](fakedevice::Scenario& s) {
        s.refuseSync = false;
        s.cancelSyncAtStart = true;
    });
    EXPECT_EQ(
        errorOf([&] {
            mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
        }),
        "mobiledevice_sync_start_throw: start failed. return -8. Sync cancelled by the device");

    // Current phones speak device-link 400; a version beyond it is refused in words.
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.cancelSyncAtStart = false;
        s.syncVersionMajor = 400;
    });
    EXPECT_EQ(errorOf([&] {
                  mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
              }),
              "no error");
    EXPECT_EQ(client.client->linkVersion(), 400u);
    client.free();
    phone->updateScenario([](fakedevice::Scenario& s) { s.syncVersionMajor = 500; });
    EXPECT_EQ(errorOf([&] {
                  mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
              }),
              "mobiledevice_sync_start_throw: start service failed. return -6. The phone speaks "
              "device-link version 500, newer than this program knows (400).");
}

TEST_F(DeviceTest, CancelAndDroppedConnectionDuringReceive) {
    phone->generateContacts(10);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 5;
        s.cancelAtBatch = 1;
    });
    int total = 0;
    EXPECT_EQ(errorOf([&] { receiveAll(udid, &total); }),
              "mobilesync_receive_changes failed. return -8. Sync cancelled by the device");
    EXPECT_EQ(total, 5);

    phone->updateScenario([](fakedevice::Scenario& s) {
        s.cancelAtBatch = -1;
        s.dropAtBatch = 2;
    });
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(errorOf([&] { receiveAll(udid, &total); }),
              "mobilesync_receive_changes failed. return -256.");
    EXPECT_LT(t.elapsed(), 10000);
}

TEST_F(DeviceTest, CancelDuringSendAndNullHolders) {
    phone->updateScenario([](fakedevice::Scenario& s) { s.cancelAtProcessChanges = 0; });
    mobiledevice_sync_client client;
    mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_send_to_device_throw(client);
    PlistCFType records = PlistCFType::createCFDictionary();
    records.put("-1", contactRecord("C", "D"));
    EXPECT_EQ(errorOf([&] { mobiledevice_sync_send_throw(client, records, false, PlistCFType()); }),
              "mobilesync_remap_identifiers failed. return -8. Sync cancelled by the device");

    // A send that is not a dictionary never reaches the device.
    EXPECT_EQ(errorOf([&] {
                  mobiledevice_sync_send_throw(client, PlistCFType::createCFArray(), false,
                                               PlistCFType());
              }),
              "mobilesync_send_changes failed. return -1.");

    mobiledevice_sync_client none;
    PlistCFType out;
    EXPECT_EQ(
        errorOf([&] {
            mobiledevice_sync_start_recv_all_records_throw(none);
            mobiledevice_sync_start_send_to_device_throw(none);
            EXPECT_FALSE(mobiledevice_sync_record_next_throw(none, out, &out));
            EXPECT_TRUE(mobiledevice_sync_send_throw(none, records, false, PlistCFType()).isNull());
            mobiledevice_sync_send_finish_throw(none);
        }),
        "no error");
}

TEST_F(DeviceTest, DroppedConnectionDuringSend) {
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults = {fakedevice::Fault{fakedevice::kServiceSync, "SDMessageProcessChanges", 2,
                                      fakedevice::FaultKind::Drop, 0, 0}};
    });
    mobiledevice_sync_client client;
    mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_send_to_device_throw(client);
    PlistCFType records = PlistCFType::createCFDictionary();
    records.put("-1", contactRecord("E", "F"));
    EXPECT_FALSE(mobiledevice_sync_send_throw(client, records, false, PlistCFType()).isNull());
    EXPECT_EQ(errorOf([&] { mobiledevice_sync_send_throw(client, records, false, PlistCFType()); }),
              "mobilesync_remap_identifiers failed. return -256.");
    EXPECT_EQ(errorOf([&] { mobiledevice_sync_send_throw(client, records, false, PlistCFType()); }),
              "mobilesync_send_changes failed. return -3.");
    EXPECT_EQ(errorOf([&] {
                  mobiledevice_sync_send_finish_throw(client);
              }).rfind("mobilesync_finish failed. return -", 0),
              0u);
}

// ---- a device that misbehaves ----

TEST_F(DeviceTest, HostileRepliesGiveErrorsNotCrashesOrHangs) {
    phone->generateContacts(6);
    phone->updateScenario([](fakedevice::Scenario& s) { s.batchSize = 4; });
    const fakedevice::FaultKind kinds[] = {
        fakedevice::FaultKind::Garbage, fakedevice::FaultKind::WrongNodeType,
        fakedevice::FaultKind::MissingKeys, fakedevice::FaultKind::HugeLength,
        fakedevice::FaultKind::Drop};
    for (fakedevice::FaultKind kind : kinds) {
        phone->updateScenario([&](fakedevice::Scenario& s) {
            s.faults = {fakedevice::Fault{fakedevice::kServiceSync,
                                          "SDMessageAcknowledgeChangesFromDevice", 1, kind, 0, 0}};
        });
        QElapsedTimer t;
        t.start();
        int total = 0;
        const std::string err = errorOf([&] { receiveAll(udid, &total); });
        // Even a reply stripped of its records is an error, never an empty last batch.
        EXPECT_EQ(err.rfind("mobilesync_receive_changes failed. return -", 0), 0u) << err;
        EXPECT_LT(t.elapsed(), 15000) << int(kind);
    }

    // Hostile lockdown replies to the value read.
    for (fakedevice::FaultKind kind : kinds) {
        phone->updateScenario([&](fakedevice::Scenario& s) {
            s.faults = {fakedevice::Fault{fakedevice::kServiceLockdown, "GetValue", 2, kind, 0, 0}};
        });
        const PlistCFType v = mobiledevice_info(udid, "", "");
        EXPECT_TRUE(v.isNull() || v.isCFDictionary() || v.isCFString()) << int(kind);
    }
}

// ---- pairing ----

TEST_F(DeviceTest, PairingTrustedUntrustedAndAbsentDevices) {
    mobiledevice_pair trusted(udid);
    EXPECT_TRUE(trusted.pair());
    EXPECT_TRUE(trusted.error().isEmpty());
    EXPECT_EQ(phone->countRequests(fakedevice::kServiceLockdown, "Pair"), 0u);

    const QString prefix =
        "Please launch iTunes (Finder if MacOS 10.15 or above) first and then re-connect your "
        "iPhone. Once your iPhone is visible in iTunes (Finder if MacOS 10.15 or above), please "
        "restart Quorvanteli software.<br/><br/>Error detail: ";
    mobiledevice_pair absent(QString::fromStdString(fakedevice::makeUdid(5)));
    EXPECT_FALSE(absent.pair());
    EXPECT_EQ(absent.error(), prefix + "No device found.");

    // A device without a pair record refuses to hand out its key: pairing fails.
    phone->updateScenario([](fakedevice::Scenario& s) { s.noPairRecord = true; });
    mobiledevice_pair untrusted(udid);
    EXPECT_FALSE(untrusted.pair());
    EXPECT_TRUE(untrusted.error().startsWith(prefix)) << untrusted.error().toStdString();
}
