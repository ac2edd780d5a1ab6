#include "device/workers/recordpipe.h"

#include <utility>

RecordPipe::RecordPipe(Store store) : m_store(std::move(store)) {
    m_thread = std::thread([this] { run(); });
}

RecordPipe::~RecordPipe() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_cond.notify_all();
    m_thread.join();
}

void RecordPipe::push(PlistCFType batch) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait(lock, [this] { return m_error || m_queue.size() < MAX_QUEUED; });
    if (m_error)
        rethrow();
    m_queue.push_back(std::move(batch));
    lock.unlock();
    m_cond.notify_all();
}

void RecordPipe::finish() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait(lock, [this] { return m_error || (m_queue.empty() && !m_busy); });
    if (m_error)
        rethrow();
}

void RecordPipe::rethrow() {
    // Thrown once: a second call finds nothing more to report than the first.
    std::exception_ptr error = m_error;
    std::rethrow_exception(error);
}

void RecordPipe::run() {
    for (;;) {
        PlistCFType batch;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cond.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            batch = std::move(m_queue.front());
            m_queue.pop_front();
            m_busy = true;
        }
        std::exception_ptr error;
        try {
            m_store(batch);
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_busy = false;
            if (error) {
                m_error = error;
                m_queue.clear();
            }
        }
        m_cond.notify_all();
        if (error)
            return;
    }
}
