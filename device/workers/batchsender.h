#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batchonphone.h"
#include "store/pim.h"

struct mobiledevice_sync_client;

// What one batch of a restore sends: by mirror contact row id, the contact's record id (its
// source id, empty for a contact the phone does not know yet) and what the merges changed; the
// merged contacts that need their contact record, in the order of the batch; and the keys the
// mirror keeps unshown for the records sent under their source ids.
struct OutgoingBatch {
    using ChangeMap = QMap<int, QList<pim::Entity>>;
    QMap<unsigned long long, QString> ids;
    QMap<unsigned long long, ChangeMap> changes;
    QList<pim::_Contact> contactRecords;
    QHash<QString, QByteArray> keptKeys;

    bool isEmpty() const { return changes.isEmpty() && contactRecords.isEmpty(); }
};

// The ids the phone gave to the new records of one batch, for the mirror.
struct BatchReply {
    QList<QPair<unsigned long long, QString>> contactIds;  // mirror contact row -> record id
    QList<QPair<unsigned long long, QString>> entityIds;   // mirror data row -> record id
};

// Sends a restore's batches to the phone on a thread of its own, in the order handed, so that
// the next batches are merged into the mirror while the phone takes these: each batch's contact
// records first (the phone gives new contacts their ids), then the child records naming those
// ids. It touches no database: the ids the phone gave come back to the caller. The one sync
// session of the run opens at the first batch that sends anything. Once a batch failed, or the
// run was cancelled, the batches after it are not sent.
class BatchSender {
public:
    // Batches handed and not yet replied to, at most: one for the phone to take while the
    // caller takes the reply of another, so that the phone never waits for the caller.
    enum { kMostOnItsWay = 2 };
    // What reply() throws for a batch that was not sent (a cancel, a batch before it failed).
    struct NotSent {};

    // A set cancel flag ends a wait for the phone once an answer already due has had graceMs
    // to come, and sends no batch after it.
    BatchSender(QString udid, const std::atomic<bool>* cancelFlag, int graceMs);
    // Waits for a batch being sent (sending no other); a session still open ends without its
    // finish.
    ~BatchSender();
    BatchSender(const BatchSender&) = delete;
    BatchSender& operator=(const BatchSender&) = delete;

    // Hands a batch on; fewer than kMostOnItsWay may be on their way.
    void hand(OutgoingBatch batch);
    int onItsWay() const { return m_onItsWay; }
    // Waits for the oldest batch on its way and gives what the phone answered, or throws what
    // sending it threw (NotSent when it was not sent). What the reply holds is made on the
    // caller's thread, and the batch is freed there, where it was made: memory the sending
    // thread kept past a batch would sit between the large blocks of its messages.
    BatchReply reply();
    // What the phone may hold of the batch that failed (batches after it are not sent):
    // NotWritten while none failed.
    BatchOnPhone endedOnPhone() const { return m_endedOnPhone; }
    // Whether the phone itself ended the session while the batch that failed was being sent
    // (its cancel, its goodbye, a connection it closed): what it kept is then not known.
    bool endedByPhone() const { return m_endedByPhone; }

    // With no batch on its way. Finishes the session, when one is open, so that the phone
    // keeps what it took; false when none was open.
    bool finish();
    // Ends the session without its finish.
    void abandon();

private:
    // The ids given by the phone, in memory the sending thread keeps from batch to batch.
    struct GivenIds {
        struct Given {
            unsigned long long row;
            size_t at, size;  // the id's UTF-8 bytes in `text`
        };
        std::vector<Given> contacts, entities;
        std::string text;
        void clear();
        void add(std::vector<Given>& to, unsigned long long row, const QString& id);
        QString idOf(const Given& given) const;
        QList<QPair<unsigned long long, QString>> list(const std::vector<Given>& given) const;
    };
    struct Slot {
        enum State { FREE, WAITING, SENDING, DONE };
        State state = FREE;
        OutgoingBatch batch;
        GivenIds given;
        bool sent = false;
        SentLedger ledger;
        bool endedByPhone = false;
        std::exception_ptr failure;
    };

    void run();
    void send(Slot& slot);
    void sendContactRecords(Slot& slot);
    void sendChildRecords(Slot& slot);
    mobiledevice_sync_client& session();

    const QString m_udid;
    const std::atomic<bool>* const m_cancelFlag;
    const int m_graceMs;
    // The session, used by the sending thread while a batch is on its way and by the caller
    // otherwise.
    std::unique_ptr<mobiledevice_sync_client> m_session;
    // The caller's side: the oldest slot on its way and how many are.
    int m_oldest = 0;
    int m_onItsWay = 0;
    BatchOnPhone m_endedOnPhone = BatchOnPhone::NotWritten;
    bool m_endedByPhone = false;
    // The sending thread's side: the next slot to send, and whether to send no more.
    int m_next = 0;
    bool m_sendNoMore = false;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stop = false;
    Slot m_slots[kMostOnItsWay];
    std::thread m_thread;
};
