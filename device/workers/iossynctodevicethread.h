#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QThread>
#include <memory>

#include "store/pim.h"

struct mobiledevice_sync_client;
class LocalDb;
class PhoneForms;
class PlistCFType;
class ProgressForm;

// Writes a list of contacts to a connected iPhone. Every contact is first merged into the
// device's mirror database with the mirror's rule; only what the merge added or changed goes to
// the device, in batches of 10 contacts, all in one sync session. The mirror is written in one
// transaction, each batch a savepoint of it kept once the device has taken the batch. The record
// ids the device assigns to new records are written back into the mirror. A cancel (the form's
// `rejected` flag) takes effect between batches; a failure rolls back the open batch only, and the
// batches the device took are committed.
class IOSSyncToDeviceThread : public QThread {
    Q_OBJECT
public:
    IOSSyncToDeviceThread(QString udid, LocalDb* db, QList<pim::_Contact> contacts,
                          ProgressForm* form);
    ~IOSSyncToDeviceThread() override;

    // Adds the contact record of the contact (name, organisation, nickname, birthday, photo,
    // note) to the records dictionary, under the contact's record id.
    static void addPlistDataFromContact(PlistCFType& records, const pim::_Contact& contact);
    // Adds the child record of one detail (phone, e-mail, address, date, IM, URL, related name)
    // to the records dictionary, or nothing for a detail that has no record of its own or is
    // empty. contactId names the owning contact on the device; newId is the last component of a
    // new record's provisional id (minus the entity's row id).
    static void addPlistDataFromEntity(PlistCFType& records, QString contactId, int type,
                                       long long newId, const pim::Entity& entity);

    // The record id of a contact: its source id, or "-<row id>" while the device has none.
    static QString contactRecordId(const pim::_Contact& contact);
    // Whether the detail travels inside the contact record rather than as a record of its own.
    static bool isContactLevel(int type, const pim::Entity& entity);
    // The mirror row id carried by a provisional child id in a device's remap answer, or 0.
    static unsigned long long childRowIdOf(const QString& recordId);

    // Throws when the phone's answer gives no id to a new record of the message: the mirror
    // could not keep such a record in step with the phone.
    static void checkNewIdsGiven(const PlistCFType& records, const PlistCFType& remap);

    int doneCount() const { return m_done; }
    int mergedCount() const { return m_merged; }

protected:
    void run() override;

private:
    void handleBatch(int start, int count);
    // The one sync session of the whole run, opened for the first batch that sends anything.
    mobiledevice_sync_client& session();
    PlistCFType send(const PlistCFType& records);
    void finishSession();
    void restoreSynchronous();
    void checkCancel() const;
    // After a cancel or a failure: undoes the open batch and commits the batches the phone took.
    void keepTakenBatches();

    QString m_udid;
    LocalDb* m_db;
    QList<pim::_Contact> m_contacts;
    ProgressForm* m_form;
    int m_total = 0;
    int m_done = 0;
    int m_merged = 0;
    bool m_editOpen = false;
    bool m_batchOpen = false;
    std::unique_ptr<mobiledevice_sync_client> m_session;
    // The form in which the phone will give each contact back, made ahead during the run.
    std::unique_ptr<PhoneForms> m_phoneForms;
    QElapsedTimer m_reported;
};
