// Imports the contacts of a backup's address-book database into a local contact database.
#pragma once

#include "backupmanifest.h"
#include "privatetempdir.h"

#include <pim.h>
#include <sqlite3db.h>

#include <QHash>
#include <QList>
#include <QPair>
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

    // The parts of an address or IM account (read once per import, see loadLookupTables).
    void readAddr(unsigned long long uid, pim::Entity& entity);
    void readIM(unsigned long long uid, pim::Entity& entity);

    // ISO 8601 local date-time of a count of seconds from 2001-01-01 00:00:00 UTC.
    static QString dateText(long long seconds);

protected:
    void run() override;

private:
    // Rows of one table in ascending person id (column 0), walked in step with the persons.
    class RowsByPerson {
    public:
        RowsByPerson() = default;
        explicit RowsByPerson(Sqlite3Cursor cursor) : m_cursor(std::move(cursor)) { step(); }
        // True while the current row belongs to the person; rows of lower ids (persons that
        // do not exist) are passed over.
        bool at(long long personId) {
            while (m_has && m_id < personId)
                step();
            return m_has && m_id == personId;
        }
        const Sqlite3Cursor& row() const { return m_cursor; }
        void step() {
            m_has = m_cursor.moveNext();
            if (m_has)
                m_id = m_cursor.getInt64(0);
        }

    private:
        Sqlite3Cursor m_cursor;
        bool m_has = false;
        long long m_id = 0;
    };

    // Reads every person of the address book; false when cancelled.
    bool readPersons(QList<pim::_Contact>& contacts);
    bool readAddressBook(QList<pim::_Contact>& contacts);
    void loadLookupTables();
    void readMultiValue(const Sqlite3Cursor& row, pim::_Contact& contact);
    void openImages();
    void readPhoto(long long personId, pim::_Contact& contact);
    static void nameFromDetails(pim::_Contact& contact);
    void fillComparedFields(pim::_Contact& contact);
    void storeUnnamed(pim::_Contact contact);
    void closeAndRemoveCopies();

    BackupManifest& backup;
    LocalDb* db;
    RunReporter* progress;
    Sqlite3DB addressBook;
    Sqlite3DB images;
    std::unique_ptr<BackupTempDir> workDir;
    QString addressBookCopy;
    QString imagesCopy;
    // Label texts and entry-key names by row id; the named parts of each multi-value by UID.
    QHash<long long, QString> labels;
    QHash<long long, QList<QPair<QString, QString> > > entries;
    RowsByPerson fullImages;
    RowsByPerson thumbnails;
    // The fields the target's merge rule compares, by entity type.
    QHash<int, QStringList> comparedKeys;
    // Why the photos could not be read; empty when they could.
    QString photoError;
};
