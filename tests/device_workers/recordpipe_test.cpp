// The hand-over of a phone read's batches to the preparing and storing threads: every batch
// stored in order, a failure of either reported to the reading side, and a stop that never
// hangs.
#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "device/plistcftype.h"
#include "device/workers/recordpipe.h"
#include "tests/timing.h"

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

TEST(RecordPipe, StoresEveryBatchInOrderAndReportsAFailureOfEitherStage) {
    // Rows made on one thread, stored on another: each batch's rows in the phone's order.
    std::vector<int> stored;
    std::thread::id preparer, storer;
    {
        RecordPipe pipe([&](const PlistCFType& b) -> RecordPipe::Store {
            preparer = std::this_thread::get_id();
            const int n = numberOf(b);
            std::this_thread::sleep_for(std::chrono::microseconds(100 * (n % 3)));
            return [&, n] {
                storer = std::this_thread::get_id();
                std::this_thread::sleep_for(std::chrono::microseconds(100 * (n % 2)));
                stored.push_back(n);
            };
        });
        for (int i = 0; i < 50; ++i)
            pipe.push(batch(i));
        pipe.finish();
        ASSERT_EQ(stored.size(), 50u);
    }
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(stored[i], i);
    EXPECT_NE(preparer, storer);
    EXPECT_NE(preparer, std::this_thread::get_id());

    // A disk that fills at the fourth batch, or a batch that cannot be read at the fourth: the
    // reader learns it at its next push or at the end, with the failing stage's own text, and
    // nothing after the failing batch is stored.
    for (const bool inStore : {true, false}) {
        std::vector<int> kept;
        RecordPipe failing([&](const PlistCFType& b) -> RecordPipe::Store {
            const int n = numberOf(b);
            if (!inStore && n == 3)
                throw std::runtime_error("not a record dictionary");
            return [&, n] {
                if (inStore && n == 3)
                    throw std::runtime_error("database or disk is full");
                kept.push_back(n);
            };
        });
        std::string seen;
        try {
            for (int i = 0; i < 40; ++i)
                failing.push(batch(i));
            failing.finish();
        } catch (const std::runtime_error& e) {
            seen = e.what();
        }
        EXPECT_EQ(seen, inStore ? "database or disk is full" : "not a record dictionary");
        EXPECT_EQ(kept, (std::vector<int>{0, 1, 2}));
    }
}

TEST(RecordPipe, StoppingWithBatchesQueuedWaitsOnlyForTheBatchesInHand) {
    std::atomic<int> prepared{0};
    std::atomic<int> stored{0};
    const auto start = std::chrono::steady_clock::now();
    {
        RecordPipe pipe([&](const PlistCFType&) -> RecordPipe::Store {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            ++prepared;
            return [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                ++stored;
            };
        });
        for (int i = 0; i < 3; ++i)
            pipe.push(batch(i));
        // A cancel: the pipe goes while batches are still queued.
    }
    // The counts tell what was waited for; the time only that nothing hung.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kMarginMs));
    EXPECT_LE(prepared.load(), 2);
    EXPECT_LE(stored.load(), 1);
}

TEST(RecordPipe, RowsAreFreedByTheThreadThatMadeThemAndNeverPileUp) {
    // Rows that note the thread that frees them.
    struct Rows {
        std::atomic<int>& live;
        std::vector<std::thread::id>& freedOn;
        std::mutex& mutex;
        Rows(std::atomic<int>& l, std::vector<std::thread::id>& f, std::mutex& m)
            : live(l), freedOn(f), mutex(m) {
            ++live;
        }
        ~Rows() {
            --live;
            std::lock_guard<std::mutex> lock(mutex);
            freedOn.push_back(std::this_thread::get_id());
        }
    };
    std::atomic<int> live{0};
    int mostAlive = 0;
    std::vector<std::thread::id> freedOn;
    std::mutex mutex;
    std::thread::id preparer, storer;
    {
        RecordPipe pipe([&](const PlistCFType& b) -> RecordPipe::Store {
            preparer = std::this_thread::get_id();
            auto rows = std::make_shared<Rows>(live, freedOn, mutex);
            mostAlive = std::max(mostAlive, live.load());
            const int n = numberOf(b);
            return [&, rows, n] {
                storer = std::this_thread::get_id();
                std::this_thread::sleep_for(std::chrono::microseconds(200 * (n % 3)));
            };
        });
        for (int i = 0; i < 60; ++i)
            pipe.push(batch(i));
        pipe.finish();
    }
    EXPECT_EQ(live.load(), 0);
    ASSERT_EQ(freedOn.size(), 60u);
    // The last few wait for the pipe's end, on the thread that ends it.
    size_t onPreparer = 0;
    for (const std::thread::id& id : freedOn) {
        EXPECT_NE(id, storer);
        if (id == preparer)
            ++onPreparer;
        else
            EXPECT_EQ(id, std::this_thread::get_id());
    }
    EXPECT_GE(onPreparer, 50u);
    // Queued, in hand and waiting to be freed: a handful at any time, however long the read.
    EXPECT_LE(mostAlive, 8);
}
