#pragma once

#include <QList>
#include <QThread>

#include "store/pim.h"

class LocalDb;
class RunReporter;

// Copies a list of contacts into a local database, merging each with a stored contact of the
// same full name, in one transaction, reporting to a progress dialog. A cancel or a failure leaves
// the database as it was.
class BackupContactsToLocalThread : public QThread {
    Q_OBJECT
public:
    BackupContactsToLocalThread(const QList<pim::_Contact>& contacts, LocalDb* db,
                                RunReporter* reporter, QObject* parent);
    ~BackupContactsToLocalThread() override;

protected:
    void run() override;

private:
    QList<pim::_Contact> m_contacts;
    LocalDb* m_db;
    RunReporter* m_reporter;
};
