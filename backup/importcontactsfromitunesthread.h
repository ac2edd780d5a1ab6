// Imports the contacts of a backup's address-book database into a local contact database.
#pragma once

#include "addressbookreader.h"
#include "backupmanifest.h"

#include "store/pim.h"

#include <QThread>

#include <memory>

class LocalDb;
class RunReporter;

class ImportContactsFromiTunesThread : public QThread {
    Q_OBJECT
public:
    ImportContactsFromiTunesThread(BackupManifest& backup, LocalDb* db, RunReporter* progress,
                                   QObject* parent = nullptr);
    ~ImportContactsFromiTunesThread() override;

    // The parts of an address or IM account, while the address book is being read.
    void readAddr(unsigned long long uid, pim::Entity& entity);
    void readIM(unsigned long long uid, pim::Entity& entity);

    // ISO 8601 local date-time of a count of seconds from 2001-01-01 00:00:00 UTC.
    static QString dateText(long long seconds);

protected:
    void run() override;

private:
    void storeUnnamed(pim::_Contact contact);
    void closeAndRemoveCopies();

    BackupManifest& backup;
    LocalDb* db;
    RunReporter* progress;
    // Reads the address book out of the backup; holds its private copies while it lives.
    std::unique_ptr<AddressBookReader> reader;
    // Why the photos could not be read; empty when they could.
    QString photoError;
};
