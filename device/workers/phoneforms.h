#pragma once

#include <QList>
#include <condition_variable>
#include <deque>
#include <exception>
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
// answers. The forms are freed on the thread that made them, which keeps the two threads'
// allocator caches apart.
class PhoneForms {
public:
    explicit PhoneForms(QList<pim::_Contact> contacts);
    ~PhoneForms();
    PhoneForms(const PhoneForms&) = delete;
    PhoneForms& operator=(const PhoneForms&) = delete;

    // The form of contact i, for i rising; waits until it is made. A failure to make it is
    // thrown here.
    const pim::_Contact& at(int i);

private:
    void make();

    const QList<pim::_Contact> m_contacts;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QList<pim::_Contact>> m_ready;
    std::vector<QList<pim::_Contact>> m_spent;
    std::exception_ptr m_failure;
    bool m_stop = false;
    QList<pim::_Contact> m_current;  // forms of the contacts from m_currentFrom on
    int m_currentFrom = 0;
    std::unique_ptr<QThread> m_maker;
};
