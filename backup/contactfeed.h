// The contacts of an address book for a merge run while they are being read: the reader works on
// a thread of its own and hands each contact over in address-book order, so reading and merging
// overlap. The reader is closed (its copies removed) when its reading ends; its thread then frees
// the contacts merged, until stop().
#pragma once

#include "addressbookreader.h"

#include "store/mergerun.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class ContactFeed : public MergeSource, private AddressBookReader::Sink {
public:
    // Starts `reader` at once. `cancelled` is polled by the reader between persons.
    ContactFeed(AddressBookReader& reader, std::function<bool()> cancelled);
    // Stops the reading and waits for it.
    ~ContactFeed() override;
    ContactFeed(const ContactFeed&) = delete;
    ContactFeed& operator=(const ContactFeed&) = delete;

    // Wait for the reader. next() throws the reader's failure (std::runtime_error) and
    // RunCancelled when the reading stopped on a cancel.
    int total() const override;
    const pim::_Contact* next() override;

    // Stops the reading (when it still runs) and waits until the reader is done; its databases
    // and copies may go then.
    void stop();

private:
    void expect(int contacts) override;
    void take(pim::_Contact&& contact) override;
    bool stopped() const override;
    void readAll();
    // After the reading: frees the merged contacts until stopped.
    void freeSpent();

    enum State { READING, WHOLE, STOPPED, FAILED };
    enum { SPENT_BATCH = 256 };

    AddressBookReader& m_reader;
    std::function<bool()> m_cancelled;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<pim::_Contact> m_ready;
    // Contacts merged, for the reading thread to free: it took their memory, and giving it
    // back there is cheap, while from here it holds up the merges.
    std::deque<pim::_Contact> m_spent;
    int m_total = -1;
    State m_state = READING;
    QString m_failure;
    // The contact handed out last; it lives until the next call.
    pim::_Contact m_current;
    std::thread m_thread;
};
