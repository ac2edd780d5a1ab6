#pragma once

#include <QList>
#include <QString>
#include <QThread>

#include "batchonphone.h"
#include "store/contactchanges.h"
#include "store/pim.h"

class LocalDb;
class RunReporter;

// Sends one edit made on a device's mirror (the change records of one contact) or one deletion
// (whole contacts) to the device, in one sync session. The mirror has been written already;
// record ids the device gives to new records go back into the mirror (and into the caller's
// contact) as source ids. Not cancellable.
class IOSSendChangesThread : public QThread {
    Q_OBJECT
public:
    // contact may be null only when changes is empty.
    IOSSendChangesThread(RunReporter* reporter, QString udid, LocalDb* db, pim::_Contact* contact,
                         const QList<contactchanges::_ChangeData>& changes,
                         const QList<pim::_Contact>& contactsToDelete, QObject* parent = nullptr);
    ~IOSSendChangesThread() override;

protected:
    void run() override;

private:
    void send();
    // What the user is told of the edit beside the cause of a failure.
    QString keptText() const;

    QString m_udid;
    LocalDb* m_db;
    pim::_Contact* m_contact;
    QList<contactchanges::_ChangeData> m_changes;
    QList<pim::_Contact> m_toDelete;
    RunReporter* m_reporter;
    // The changes went out and the session was being finished when it failed.
    bool m_finishing = false;
    // What of the edit left this computer and what the phone answered for.
    SentLedger m_ledger;
};
