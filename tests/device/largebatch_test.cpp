// A batch of 40 contacts with camera photos of 2 MB each: one message of about 80 MB, beyond
// the 64 MiB that every other property list may have. In a process of its own, so that its
// memory does not count against the hostile-frame tests' bound on peak memory.
#include <gtest/gtest.h>

#include "device_fixture.h"
#include "device/mobiledevice_sync.h"

TEST_F(DeviceTest, ABatchOfFortyLargePhotosIsRead) {
    fakedevice::GenerateOptions big;
    big.photoEvery = 1;
    big.photoBytes = 2u << 20;
    phone->generateContacts(40, big);
    phone->updateScenario([](fakedevice::Scenario& s) { s.batchSize = 0; });  // one batch
    mobiledevice_sync_client client;
    mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_recv_all_records_throw(client);
    PlistCFType records;
    EXPECT_FALSE(mobiledevice_sync_record_next_throw(client, records, nullptr));
    EXPECT_EQ(records.dict_size(), int(phone->recordCount()));
    EXPECT_GE(records.get(QString("1")).get(QString("image")).CFDataLength(), 2 << 20);
}
