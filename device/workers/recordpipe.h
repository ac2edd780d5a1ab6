// Hands the record batches of a phone read to a thread of its own that stores them, so that the
// rows of one batch are written while the phone sends the next.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "device/plistcftype.h"

class RecordPipe {
public:
    using Store = std::function<void(const PlistCFType& batch)>;

    explicit RecordPipe(Store store);
    // Stops the storing thread after the batch it is on and waits for it: whoever owns the
    // transaction may then roll it back.
    ~RecordPipe();
    RecordPipe(const RecordPipe&) = delete;
    RecordPipe& operator=(const RecordPipe&) = delete;

    // Queues a batch; waits while a few are queued already. Throws what storing an earlier
    // batch threw.
    void push(PlistCFType batch);
    // Waits until every queued batch is stored; throws what storing threw.
    void finish();

private:
    enum { MAX_QUEUED = 4 };

    void run();
    void rethrow();

    Store m_store;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<PlistCFType> m_queue;
    bool m_busy = false;  // the thread is storing a batch
    bool m_stopping = false;
    std::exception_ptr m_error;
    std::thread m_thread;
};
