// Hands the record batches of a phone read to two threads of their own, one that makes each
// batch into rows and one that stores the rows, so that while the phone sends a batch the one
// before is being made into rows and the one before that stored. Each thread frees what it
// made: a batch goes back to the thread that pushed it, rows back to the preparing thread.
// (glibc gives each thread an arena of its own; a free from another thread takes the lock of
// that arena while its own thread is allocating in it.)
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
    // Stores the rows made of one batch, on the storing thread, in the order of the batches.
    using Store = std::function<void()>;
    // Makes a batch into the work of storing it, on the preparing thread, in batch order. It
    // must not touch what the storing thread writes to.
    using Prepare = std::function<Store(const PlistCFType& batch)>;

    explicit RecordPipe(Prepare prepare);
    // Stops both threads after the batch each is on and waits for them: whoever owns the
    // transaction may then roll it back.
    ~RecordPipe();
    RecordPipe(const RecordPipe&) = delete;
    RecordPipe& operator=(const RecordPipe&) = delete;

    // Queues a batch; waits while a few are queued already. Frees the batches prepared since
    // the last push. Throws what preparing or storing an earlier batch threw.
    void push(PlistCFType batch);
    // Waits until every queued batch is stored; throws what preparing or storing threw.
    void finish();

private:
    // Batches waiting to be prepared, and prepared ones waiting to be stored: few, as a batch
    // may carry megabytes of photos.
    enum { MAX_QUEUED = 2 };

    void prepareLoop();
    void storeLoop();
    // Both take the lock; false once the pipe stops or failed.
    bool takeBatch(PlistCFType& batch);
    bool takeStore(Store& store);
    void fail(std::exception_ptr error);
    void rethrow();

    Prepare m_prepare;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<PlistCFType> m_batches;
    std::deque<Store> m_stores;
    std::deque<PlistCFType> m_prepared;  // batches made into rows, for the pushing thread to free
    std::deque<Store> m_stored;          // rows stored, for the preparing thread to free
    int m_busy = 0;  // batches taken by a thread and not yet handed on or stored
    bool m_stopping = false;
    std::exception_ptr m_error;
    std::thread m_preparer;
    std::thread m_storer;
};
