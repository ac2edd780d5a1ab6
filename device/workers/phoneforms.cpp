#include "device/workers/phoneforms.h"

#include <QThread>
#include <stdexcept>

#include "device/workers/contactrecords.h"

namespace {

// Forms per hand-over, and hand-overs made ahead of the one in use.
const int kChunk = 50;
const size_t kChunksAhead = 8;

}  // namespace

PhoneForms::PhoneForms(QList<pim::_Contact> contacts)
    : m_contacts(std::move(contacts)), m_maker(QThread::create([this] { make(); })) {
    m_maker->start(QThread::IdlePriority);
}

PhoneForms::~PhoneForms() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        if (!m_current.isEmpty()) {
            m_spent.push_back(std::move(m_current));
        }
    }
    m_changed.notify_all();
    m_maker->wait();
}

void PhoneForms::make() {
    std::unique_lock<std::mutex> lock(m_mutex);
    int from = 0;
    for (;;) {
        m_changed.wait(lock, [&] {
            return m_stop || !m_spent.empty() ||
                   (from < m_contacts.size() && m_ready.size() < kChunksAhead);
        });
        std::vector<QList<pim::_Contact>> spent;
        spent.swap(m_spent);
        if (!spent.empty()) {
            lock.unlock();
            spent.clear();
            lock.lock();
            continue;
        }
        if (m_stop) {
            return;
        }
        lock.unlock();
        QList<pim::_Contact> forms;
        try {
            const int to = std::min(m_contacts.size(), from + kChunk);
            forms.reserve(to - from);
            for (int i = from; i < to; ++i) {
                forms.append(contactrecords::phoneForm(m_contacts.at(i)));
            }
            from = to;
        } catch (...) {
            lock.lock();
            m_failure = std::current_exception();
            m_changed.notify_all();
            // Waits to be stopped, freeing nothing more: the taker gives up on the failure.
            m_changed.wait(lock, [&] { return m_stop; });
            return;
        }
        lock.lock();
        m_ready.push_back(std::move(forms));
        m_changed.notify_all();
    }
}

const pim::_Contact& PhoneForms::at(int i) {
    if (i < m_currentFrom || i >= m_contacts.size()) {
        throw std::runtime_error("PhoneForms: no contact at this position.");
    }
    while (i >= m_currentFrom + m_current.size()) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_currentFrom += m_current.size();
        if (!m_current.isEmpty()) {
            m_spent.push_back(std::move(m_current));
            m_current = QList<pim::_Contact>();
        }
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return !m_ready.empty() || m_failure; });
        if (m_ready.empty()) {
            std::rethrow_exception(m_failure);
        }
        m_current = std::move(m_ready.front());
        m_ready.pop_front();
        m_changed.notify_all();
    }
    return m_current.at(i - m_currentFrom);
}
