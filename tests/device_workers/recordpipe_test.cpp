// The hand-over of a phone read's batches to the storing thread: every batch stored in order,
// a storing failure reported to the reading side, and a stop that never hangs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "device/plistcftype.h"
#include "device/workers/recordpipe.h"

namespace {

PlistCFType batch(int n) {
    PlistCFType b = PlistCFType::createCFDictionary();
    b.put(QStringLiteral("n"), PlistCFType::createCFNumberInt32(n));
    return b;
}

int numberOf(const PlistCFType& b) {
    return int(b.get(QStringLiteral("n")).CFNumberInt64(-1));
}

}  // namespace

TEST(RecordPipe, StoresEveryBatchInOrderAndReportsAStoringFailure) {
    std::vector<int> stored;
    {
        RecordPipe pipe([&](const PlistCFType& b) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            stored.push_back(numberOf(b));
        });
        for (int i = 0; i < 50; ++i)
            pipe.push(batch(i));
        pipe.finish();
        ASSERT_EQ(stored.size(), 50u);
    }
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(stored[i], i);

    // A disk that fills at the fourth batch: the reader learns it at its next push or at the
    // end, with the store's own text, and nothing after the failing batch is stored.
    std::vector<int> kept;
    RecordPipe failing([&](const PlistCFType& b) {
        if (numberOf(b) == 3)
            throw std::runtime_error("database or disk is full");
        kept.push_back(numberOf(b));
    });
    std::string seen;
    try {
        for (int i = 0; i < 40; ++i)
            failing.push(batch(i));
        failing.finish();
    } catch (const std::runtime_error& e) {
        seen = e.what();
    }
    EXPECT_EQ(seen, "database or disk is full");
    EXPECT_EQ(kept, (std::vector<int>{0, 1, 2}));
}

TEST(RecordPipe, StoppingWithBatchesQueuedWaitsOnlyForTheBatchInHand) {
    std::atomic<int> stored{0};
    const auto start = std::chrono::steady_clock::now();
    {
        RecordPipe pipe([&](const PlistCFType&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ++stored;
        });
        for (int i = 0; i < 4; ++i)
            pipe.push(batch(i));
        // A cancel: the pipe goes while batches are still queued.
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_LE(stored.load(), 2);
}
