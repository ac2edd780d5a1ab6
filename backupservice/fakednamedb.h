// The received-file name database of a selective backup ("dname.sqlite"): one row per file
// the device sent, with the device's own name for it, whether it was written, its size and a
// time. Writes run inside one long transaction, committed every 10000 inserts and when the
// object goes away.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include "backup2toolhook.h"
#include "platform/sqlite/sqlite3db.h"

class FakeDNameDb : public Sqlite3DB {
public:
    FakeDNameDb();
    virtual ~FakeDNameDb();

    // Opens (or creates with its table) the file and begins the transaction. True also when a
    // connection is already open.
    bool open(QString path, QString* err);
    // Commits and closes; harmless when closed.
    void closeDb();

    void insert(QString f, QString d, bool incl, QDateTime lastm);
    void update(QString f, QDateTime lastm, qint64 size);
    void remove(QString f);
    QString getDName(QString f);
    // With an empty bucket: one folder entry per bucket, then the files without a bucket; with
    // a bucket: the files of that bucket.
    QList<Backup2ToolHook::DirItem> items(QString p);

private:
    quint64 m_inserts = 0;
};
