#include "recordpipe.h"

#include <utility>

RecordPipe::RecordPipe(Prepare prepare) : m_prepare(std::move(prepare)) {
    m_preparer = std::thread([this] { prepareLoop(); });
    m_storer = std::thread([this] { storeLoop(); });
}

RecordPipe::~RecordPipe() {
    // What is still queued is freed outside the lock.
    std::deque<PlistCFType> batches;
    std::deque<Store> stores;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        batches.swap(m_batches);
        stores.swap(m_stores);
    }
    m_cond.notify_all();
    m_preparer.join();
    m_storer.join();
    m_stored.clear();
    m_prepared.clear();
}

void RecordPipe::push(PlistCFType batch) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait(lock, [this] { return m_error || m_batches.size() < MAX_QUEUED; });
    if (m_error)
        rethrow();
    m_batches.push_back(std::move(batch));
    std::deque<PlistCFType> prepared;
    prepared.swap(m_prepared);
    lock.unlock();
    m_cond.notify_all();
}

void RecordPipe::finish() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait(
        lock, [this] { return m_error || (m_batches.empty() && m_stores.empty() && m_busy == 0); });
    if (m_error)
        rethrow();
}

void RecordPipe::rethrow() {
    // Thrown once: a second call finds nothing more to report than the first.
    std::exception_ptr error = m_error;
    std::rethrow_exception(error);
}

bool RecordPipe::takeBatch(PlistCFType& batch) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait(lock, [this] { return m_stopping || m_error || !m_batches.empty(); });
    if (m_stopping || m_error)
        return false;
    batch = std::move(m_batches.front());
    m_batches.pop_front();
    ++m_busy;
    return true;
}

bool RecordPipe::takeStore(Store& store) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait(lock, [this] { return m_stopping || m_error || !m_stores.empty(); });
    if (m_stopping || m_error)
        return false;
    store = std::move(m_stores.front());
    m_stores.pop_front();
    ++m_busy;
    return true;
}

void RecordPipe::fail(std::exception_ptr error) {
    std::deque<PlistCFType> batches;
    std::deque<Store> stores;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_error)
            m_error = error;
        --m_busy;
        batches.swap(m_batches);
        stores.swap(m_stores);
    }
    m_cond.notify_all();
}

void RecordPipe::prepareLoop() {
    for (;;) {
        PlistCFType batch;
        if (!takeBatch(batch))
            return;
        Store store;
        std::deque<Store> stored;  // freed after the lock is released, as the loop goes on
        bool failed = false;
        try {
            store = m_prepare(batch);
        } catch (...) {
            // Thrown by the storing thread in its turn, after the batches before this one.
            const std::exception_ptr error = std::current_exception();
            store = [error] { std::rethrow_exception(error); };
            failed = true;
        }
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_prepared.push_back(std::move(batch));
            m_cond.wait(lock,
                        [this] { return m_stopping || m_error || m_stores.size() < MAX_QUEUED; });
            stored.swap(m_stored);
            --m_busy;
            if (m_stopping || m_error)
                return;  // the rows are freed once the lock is released
            m_stores.push_back(std::move(store));
        }
        m_cond.notify_all();
        if (failed)
            return;
    }
}

void RecordPipe::storeLoop() {
    for (;;) {
        Store store;
        if (!takeStore(store))
            return;
        try {
            store();
        } catch (...) {
            fail(std::current_exception());
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stored.push_back(std::move(store));
            --m_busy;
        }
        m_cond.notify_all();
    }
}
