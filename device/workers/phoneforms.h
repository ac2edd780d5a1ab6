#pragma once

#include <QList>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "store/pim.h"

class QThread;

// The forms in which the phone will give a list of contacts back (contactrecords::phoneForm),
// made in order on one thread of their own, a bounded number ahead of the one taken last. They
// depend on the contacts alone, so they are made while the caller merges and waits for the phone.
// One long-lived thread at idle priority rather than a new one for every few contacts: a helper
// that shares the taker's processor must never keep the taker from running when the phone
// answers. The taker never waits for it either: a form not made yet (a busy machine leaves an
// idle thread little time) the taker makes itself. The forms are freed on the helper, which
// keeps the two threads' allocator caches apart.
class PhoneForms {
public:
    explicit PhoneForms(QList<pim::_Contact> contacts);
    ~PhoneForms();
    PhoneForms(const PhoneForms&) = delete;
    PhoneForms& operator=(const PhoneForms&) = delete;

    // The form of contact i, for i rising. A failure to make it is thrown here.
    const pim::_Contact& at(int i);

private:
    void make();
    // The forms of the hand-over from contact `from`; empty when `stop` is set meanwhile.
    QList<pim::_Contact> makeChunk(int from, const std::atomic<bool>* stop = nullptr) const;

    const QList<pim::_Contact> m_contacts;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<int, QList<pim::_Contact>> m_ready;  // by the position of their first contact
    std::vector<QList<pim::_Contact>> m_spent;    // to be freed by the helper
    int m_nextChunk = 0;                          // the first contact no one has started on
    int m_taken = 0;                              // the first contact the taker has no form for yet
    bool m_stop = false;
    std::atomic<bool> m_stopping{false};  // m_stop, for the helper between two forms
    QList<pim::_Contact> m_current;       // forms of the contacts from m_currentFrom on
    int m_currentFrom = 0;
    std::unique_ptr<QThread> m_maker;
};
