#pragma once

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QThread>
#include <deque>
#include <memory>

#include "batchsender.h"
#include "store/mergerun.h"
#include "store/pim.h"

class LocalDb;
class PhoneForms;
class PlistCFType;
class RunReporter;

// Writes a list of contacts to a connected iPhone. Every contact is first merged into the
// device's mirror database with the mirror's rule; only what the merge added or changed goes to
// the device, in batches of 10 contacts, all in one sync session. The mirror is written in one
// transaction, each batch a part of it kept once the device has taken the batch. A batch goes
// to the device on a thread of its own while the next one is merged. The record ids the device
// assigns to new records are written back into the mirror. A cancel takes effect between
// contacts and between messages; a cancel or a failure undoes the batches the device did not
// take, and those it took are committed (after a cancel the session is finished so that the
// device keeps them).
class IOSSyncToDeviceThread : public QThread {
    Q_OBJECT
public:
    IOSSyncToDeviceThread(QString udid, LocalDb* db, QList<pim::_Contact> contacts,
                          RunReporter* reporter);
    ~IOSSyncToDeviceThread() override;

    // After the run: whether it was cancelled, and how many contacts the phone took (those of
    // the batches it answered for), so that a cancel can say what stays on the phone.
    bool wasCancelled() const { return m_cancelled; }
    int takenCount() const { return m_taken; }
    // What the phone may hold of the batch on its way when the run failed or was cancelled,
    // from what of it was sent and what the phone answered; and how many contacts that batch
    // holds when some may be on the phone.
    BatchOnPhone lastBatchOnPhone() const { return m_lastBatch; }
    bool batchInDoubt() const { return m_lastBatch != BatchOnPhone::NotWritten; }
    int inDoubtCount() const;
    // The phone did not accept the end of the session (it cancelled it, or the session broke
    // while it was ending): a phone that cannot commit the changes keeps none of them, so what
    // it acknowledged may not be on it.
    bool finishFailed() const { return m_finishFailed; }
    // The phone itself ended the session while changes went out: what it kept of them is known
    // only from a read of its contacts.
    bool endedByPhone() const { return m_endedByPhone; }

protected:
    void run() override;

private:
    using ChangeMap = QMap<int, QList<pim::Entity>>;

    // Merges the contact at `index` into the mirror and notes what the merge changed for the
    // open batch.
    MergeRun::Result mergeIntoBatch(int index);
    // The run's hand-over (MergeRun::Hand): the batch just merged goes to the phone behind
    // those on their way; returns how many batches the phone took.
    int hand(bool batchDone);
    // Waits for the oldest batch on its way and writes the ids the phone gave into the mirror;
    // takeReplies does so for all.
    void takeReply();
    void takeReplies();
    void writeIds(const BatchReply& reply);
    void finishSession();
    // The failure's text with what the phone took put beside its cause.
    QString failureText(const QString& cause) const;

    QString m_udid;
    LocalDb* m_db;
    QList<pim::_Contact> m_contacts;
    RunReporter* m_reporter;
    int m_done = 0;
    int m_merged = 0;
    int m_taken = 0;
    bool m_cancelled = false;
    bool m_finished = false;  // the phone acknowledged the end of the session
    BatchOnPhone m_lastBatch = BatchOnPhone::NotWritten;
    bool m_finishFailed = false;
    bool m_endedByPhone = false;
    std::unique_ptr<BatchSender> m_sender;
    int m_handedBatches = 0;
    int m_takenBatches = 0;
    // Folded names the batches on their way were merged under, oldest first: a contact that a
    // merge may find among their rows waits for the phone's ids of those batches first.
    std::deque<QSet<QString>> m_namesOnItsWay;
    QSet<QString> m_openBatchNames;
    // The ids written since the parts were last kept, written again after an undo.
    QList<BatchReply> m_idsSinceKept;
    // The form in which the phone will give each contact back, made ahead during the run.
    std::unique_ptr<PhoneForms> m_phoneForms;

    // The open batch, by mirror contact row id: the contact's record id (its source id), what
    // the merges changed, and the merged contacts that need their contact record, in the order
    // of the batch.
    QMap<unsigned long long, QString> m_idMap;
    QMap<unsigned long long, ChangeMap> m_changeMap;
    QList<pim::_Contact> m_contactRecords;
};
