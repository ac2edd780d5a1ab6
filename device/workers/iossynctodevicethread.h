#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QThread>
#include <memory>

#include "store/mergerun.h"
#include "store/pim.h"

struct mobiledevice_sync_client;
class LocalDb;
class PhoneForms;
class PlistCFType;
class RunReporter;

// Writes a list of contacts to a connected iPhone. Every contact is first merged into the
// device's mirror database with the mirror's rule; only what the merge added or changed goes to
// the device, in batches of 10 contacts, all in one sync session. The mirror is written in one
// transaction, each batch a part of it kept once the device has taken the batch. The record ids
// the device assigns to new records are written back into the mirror. A cancel takes effect
// between contacts and between messages; a cancel or a failure undoes the open batch only, and
// the batches the device took are committed (after a cancel the session is finished so that the
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
    // A cancel gave up on an answer the phone kept back: the batch then on its way may be on
    // the phone too.
    bool batchInDoubt() const { return m_abandoned; }
    // The phone did not accept the end of the session (it cancelled it, or the session broke
    // while it was ending): a phone that cannot commit the changes keeps none of them, so what
    // it acknowledged may not be on it.
    bool finishFailed() const { return m_finishFailed; }

protected:
    void run() override;

private:
    using ChangeMap = QMap<int, QList<pim::Entity>>;

    // Merges the contact at `index` into the mirror and notes what the merge changed for the
    // open batch.
    MergeRun::Result mergeIntoBatch(int index);
    // Sends what the open batch changed: contact records first (the phone gives new contacts
    // their ids), then the child records naming those ids.
    void sendBatch();
    void sendContactRecords();
    void sendChildRecords();
    // The one sync session of the whole run, opened for the first batch that sends anything.
    mobiledevice_sync_client& session();
    PlistCFType send(const PlistCFType& records);
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
    bool m_halfSent = false;  // the open batch's contacts were sent, their details not yet
    bool m_abandoned = false;
    bool m_finishFailed = false;
    std::unique_ptr<mobiledevice_sync_client> m_session;
    // The form in which the phone will give each contact back, made ahead during the run.
    std::unique_ptr<PhoneForms> m_phoneForms;

    // The open batch, by mirror contact row id: the contact's record id (its source id, then
    // what the phone gave it), what the merges changed, and the merged contacts that need their
    // contact record, in the order of the batch.
    QMap<unsigned long long, QString> m_idMap;
    QMap<unsigned long long, ChangeMap> m_changeMap;
    QList<pim::_Contact> m_contactRecords;
};
