#include "phoneforms.h"

#include <QThread>
#include <stdexcept>

#include "contactrecords.h"

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
        m_stopping = true;
        if (!m_current.isEmpty()) {
            m_spent.push_back(std::move(m_current));
        }
    }
    m_changed.notify_all();
    m_maker->wait();
}

QList<pim::_Contact> PhoneForms::makeChunk(int from, const std::atomic<bool>* stop) const {
    QList<pim::_Contact> forms;
    const int to = std::min(m_contacts.size(), from + kChunk);
    forms.reserve(to - from);
    for (int i = from; i < to; ++i) {
        // An idle helper on a busy machine may take long over a whole hand-over.
        if (stop && stop->load(std::memory_order_relaxed)) {
            return QList<pim::_Contact>();
        }
        forms.append(contactrecords::phoneForm(m_contacts.at(i)));
    }
    return forms;
}

void PhoneForms::make() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] {
            return m_stop || !m_spent.empty() ||
                   (m_nextChunk < m_contacts.size() && m_ready.size() < kChunksAhead);
        });
        if (!m_spent.empty()) {
            std::vector<QList<pim::_Contact>> spent;
            spent.swap(m_spent);
            lock.unlock();
            spent.clear();
            lock.lock();
            continue;
        }
        if (m_stop) {
            return;
        }
        const int from = m_nextChunk;
        m_nextChunk += kChunk;
        lock.unlock();
        QList<pim::_Contact> forms;
        try {
            forms = makeChunk(from, &m_stopping);
        } catch (...) {
            // The taker makes this chunk itself and meets the failure there.
            lock.lock();
            m_changed.wait(lock, [&] { return m_stop; });
            return;
        }
        lock.lock();
        if (from < m_taken) {
            m_spent.push_back(std::move(forms));  // the taker made them meanwhile
        } else {
            m_ready.emplace(from, std::move(forms));
            m_changed.notify_all();
        }
    }
}

const pim::_Contact& PhoneForms::at(int i) {
    if (i < m_currentFrom || i >= m_contacts.size()) {
        throw std::runtime_error("PhoneForms: no contact at this position.");
    }
    while (i >= m_currentFrom + m_current.size()) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_current.isEmpty()) {
            m_currentFrom += m_current.size();
            m_spent.push_back(std::move(m_current));
            m_current = QList<pim::_Contact>();
        }
        m_taken = m_currentFrom + kChunk;
        const auto ready = m_ready.find(m_currentFrom);
        if (ready != m_ready.end()) {
            m_current = std::move(ready->second);
            m_ready.erase(ready);
            m_changed.notify_all();
            continue;
        }
        if (m_nextChunk == m_currentFrom) {
            m_nextChunk += kChunk;
        }
        m_changed.notify_all();
        lock.unlock();
        m_current = makeChunk(m_currentFrom);
    }
    return m_current.at(i - m_currentFrom);
}
