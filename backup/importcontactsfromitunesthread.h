// Imports the contacts of a backup's address-book database into a local contact database.
#pragma once

#include "backupmanifest.h"

#include <pim.h>
#include <sqlite3db.h>

#include <QThread>

class LocalDb;
class ProgressForm;

class ImportContactsFromiTunesThread : public QThread {
    Q_OBJECT
public:
    ImportContactsFromiTunesThread(BackupManifest& backup, LocalDb* db, ProgressForm* progress,
                                   QObject* parent = nullptr);
    ~ImportContactsFromiTunesThread() override;

    void readAddr(unsigned long long uid, pim::Entity& entity);
    void readIM(unsigned long long uid, pim::Entity& entity);

    // ISO 8601 local date-time of a count of seconds from 2001-01-01 00:00:00 UTC.
    static QString dateText(long long seconds);

protected:
    void run() override;

private:
    // Reads every person of the address book; false when cancelled.
    bool readPersons(QList<pim::_Contact>& contacts);
    void readMultiValues(unsigned long long personId, pim::_Contact& contact);
    void closeAndRemoveCopies();

    BackupManifest& backup;
    LocalDb* db;
    ProgressForm* progress;
    Sqlite3DB addressBook;
    Sqlite3DB images;
    QString addressBookCopy;
    QString imagesCopy;
};
