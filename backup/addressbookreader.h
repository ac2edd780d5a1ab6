// Reads the contacts of a backup's address book: copies the address book and its images, with
// their write-ahead logs and rollback journals, into a private folder, reads every person with
// its details and photo, and joins the cards the phone links into one contact.
#pragma once

#include "backupmanifest.h"
#include "datetext.h"
#include "privatetempdir.h"

#include "store/combinerule.h"
#include "store/pim.h"
#include "platform/sqlite/sqlite3db.h"

#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSharedPointer>
#include <QVector>

#include <functional>
#include <memory>
#include <stdexcept>

class AddressBookReader {
    Q_DECLARE_TR_FUNCTIONS(ImportContactsFromiTunesThread)
public:
    // Where the contacts go: in address-book order, each as soon as it is whole.
    class Sink {
    public:
        virtual ~Sink() = default;
        // Once, before the first contact: how many will come.
        virtual void expect(int contacts) = 0;
        virtual void take(pim::_Contact&& contact) = 0;
        // Polled between persons: true stops the reading.
        virtual bool stopped() const = 0;
    };

    // `rule` decides which details of linked cards are the same one.
    AddressBookReader(const BackupManifest& backup, QSharedPointer<AbsContactCombineRule> rule);
    // Closes the databases and removes the copies.
    ~AddressBookReader();
    AddressBookReader(const AddressBookReader&) = delete;
    AddressBookReader& operator=(const AddressBookReader&) = delete;

    // Reads every person of the address book into `sink`; false when it stopped the reading.
    // Throws std::runtime_error naming the file of the backup that cannot be read.
    bool read(Sink& sink);
    // Closes the databases and removes the copies now.
    void close();
    // Why the photos could not be read; empty when they could.
    QString photoError() const { return m_photoError; }
    // What was left out because the backup lost the address book's log; empty when nothing.
    QString lostChanges() const { return m_lostChanges; }

    // The parts of an address or IM account (read once per import, see loadLookupTables).
    void readAddr(unsigned long long uid, pim::Entity& entity) const;
    void readIM(unsigned long long uid, pim::Entity& entity) const;
    // The stored date text of a count of seconds from 2001-01-01 00:00:00 UTC (DateText).
    static QString dateText(long long seconds);

private:
    // An address book without persons: said as it is, not as a failure to read.
    class NoContact : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };
    [[noreturn]] static void throwUnfinished(const QString& detail);

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

    bool readAddressBook(Sink& sink);
    void loadLookupTables();
    // The person's own columns: name, company, note, birthday, nickname.
    pim::_Contact personFromRow(const Sqlite3Cursor& row) const;
    void readMultiValue(const Sqlite3Cursor& row, pim::_Contact& contact);
    void openImages();
    void readPhoto(long long personId, pim::_Contact& contact);
    // The bytes of the image in row `rowId` of the images database, by `query`.
    QByteArray imageData(const char* query, long long rowId);
    static void nameFromDetails(pim::_Contact& contact);

    const BackupManifest& backup;
    QSharedPointer<AbsContactCombineRule> rule;
    Sqlite3DB addressBook;
    Sqlite3DB images;
    std::unique_ptr<BackupTempDir> workDir;
    QString addressBookCopy;
    QString imagesCopy;
    // Label texts and entry-key names by row id; the named parts of each multi-value by UID
    // (held while the multi-values are read).
    QHash<long long, QString> labels;
    QHash<long long, QVector<QPair<QString, QString> > > entries;
    RowsByPerson fullImages;
    RowsByPerson thumbnails;
    const DateText dates;
    QString m_photoError;
    QString m_lostChanges;
};
