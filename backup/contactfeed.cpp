#include "contactfeed.h"

#include "store/entitycolumns.h"
#include "store/runreporter.h"

#include <exception>
#include <stdexcept>

ContactFeed::ContactFeed(AddressBookReader& reader, std::function<bool()> cancelled)
    : m_reader(reader), m_cancelled(std::move(cancelled)) {
    m_thread = std::thread([this] { readAll(); });
}

ContactFeed::~ContactFeed() {
    stop();
}

void ContactFeed::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
}

void ContactFeed::readAll() {
    State end = FAILED;
    QString failure;
    try {
        end = m_reader.read(*this) ? WHOLE : STOPPED;
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    } catch (...) {
        failure = QStringLiteral(
            "The address book could not be read: an unexpected failure "
            "stopped the reading.");
    }
    // The decrypted copies go as soon as they are read, and the reader's memory goes back on
    // the thread that took it, while the merges go on.
    m_reader.close();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = end;
        m_failure = failure;
        m_changed.notify_all();
    }
    freeSpent();
}

void ContactFeed::freeSpent() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_spent.size() >= SPENT_BATCH || m_stop; });
        if (m_spent.empty())
            return;
        std::deque<pim::_Contact> spent;
        spent.swap(m_spent);
        lock.unlock();
        spent.clear();
        lock.lock();
    }
}

void ContactFeed::expect(int contacts) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_total = contacts;
    m_changed.notify_all();
}

void ContactFeed::take(pim::_Contact&& contact) {
    // Here rather than in the merge: its new rows then share these maps.
    entitycolumns::holdRowKeys(contact);
    std::deque<pim::_Contact> spent;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ready.push_back(std::move(contact));
        spent.swap(m_spent);
        m_changed.notify_all();
    }
    // Freed here, outside the lock.
}

bool ContactFeed::stopped() const {
    return m_stop || (m_cancelled && m_cancelled());
}

int ContactFeed::total() const {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_total >= 0 || m_state != READING; });
    return m_total >= 0 ? m_total : 0;
}

const pim::_Contact* ContactFeed::next() {
    std::unique_lock<std::mutex> lock(m_mutex);
    // The one handed out before goes back to the reading thread, a few hundred at a time.
    m_spent.push_back(std::move(m_current));
    m_current = pim::_Contact();
    if (m_spent.size() >= SPENT_BATCH)
        m_changed.notify_all();
    m_changed.wait(lock, [this] { return !m_ready.empty() || m_state != READING; });
    if (!m_ready.empty()) {
        m_current = std::move(m_ready.front());
        m_ready.pop_front();
        return &m_current;
    }
    switch (m_state) {
        case WHOLE:
            return nullptr;
        case STOPPED:
            throw RunCancelled();
        default:
            throw std::runtime_error(m_failure.toUtf8().toStdString());
    }
}
