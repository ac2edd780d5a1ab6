// Deleting a list of contacts from one database, off the window's thread.
#pragma once

#include <QList>
#include <QThread>

class LocalDb;
class RunReporter;

// All of the list goes in one transaction: a failure or a cancel (polled between contacts, and
// confirmed once before the commit) leaves every contact where it was. The store is used by
// this worker alone while it runs.
class DeleteContactsThread : public QThread {
public:
    DeleteContactsThread(LocalDb* db, QList<unsigned long long> contactIds, RunReporter* reporter,
                         QObject* parent = nullptr);
    ~DeleteContactsThread() override;

    // The deletion itself. Reports exactly once: succeed with an empty text (the caller tells
    // the user once the list is shown again), error with the store's text, or nothing after a
    // cancel. True when the contacts are gone.
    static bool deleteContacts(LocalDb& db, const QList<unsigned long long>& contactIds,
                               RunReporter& reporter);

    bool deleted() const { return m_deleted; }

protected:
    void run() override;

private:
    LocalDb* m_db;
    QList<unsigned long long> m_ids;
    RunReporter* m_reporter;
    bool m_deleted = false;
};
