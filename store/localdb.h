// One contact database file (made from the template resource) with its merge rule.
#pragma once

#include "combinerule.h"
#include "contactlistread.h"
#include "pim.h"
#include "rowinserts.h"

#include "platform/sqlite/sqlite3db.h"

#include <QDir>
#include <QList>
#include <QMap>
#include <QSet>
#include <QSharedPointer>
#include <QString>
#include <QVector>

class LocalDb {
public:
    LocalDb(QString path, QSharedPointer<AbsContactCombineRule> rule);
    virtual ~LocalDb();
    LocalDb(const LocalDb&) = delete;
    LocalDb& operator=(const LocalDb&) = delete;

    // The local-database folder ("data" under the data root), created when missing.
    static QDir dbDir();
    // Resource path of the template database.
    static QString templatePath();  // ":res/db.db"

    // Replaces the file at the path with a fresh copy of the template (mode 0600). Closes an
    // open handle first and removes a stale "-journal", "-wal" and "-shm" beside the path.
    void create();
    // Opens the file (existing file only, read/write) unless it is open already.
    void open_check();
    // Transactions nest: the outermost endEdit decides for the whole batch. A failed commit
    // throws (the transaction stays open for endEdit(false)); endEdit(false) never throws.
    void beginEdit();
    // beginEdit for a batch of about `expectedContacts` merges (a file import). When the batch
    // is large next to what is stored, the data indexes that merges never read are dropped for
    // the batch and rebuilt from their own definitions by the committing endEdit: one sorted
    // build instead of a random insert per row. A rollback brings them back with the rest.
    void beginBulkEdit(int expectedContacts);
    void endEdit(bool commit);
    // A part of the open edit (a savepoint) that can be undone alone while the rest of the edit
    // stays open for its own endEdit. Parts nest: endPart ends the innermost one, and undoing a
    // part undoes the parts inside it. endPart(false) never throws: when the
    // part cannot be undone, the whole edit is rolled back instead.
    void beginPart();
    void endPart(bool keep);

    // For the length of the scope, writes to a file that is only a cache (a phone's mirror,
    // which every connection of the phone rebuilds) go without waiting for the disk, the
    // rollback journal in memory unless the pages say otherwise, so a crash loses only cache.
    // The usual settings come back when the scope ends.
    class CacheWrites {
    public:
        // Where the pages an edit writes wait for its commit.
        enum Pages {
            // All in memory: a crash mid-edit never leaves the file half-written, for a cache
            // that stays listed.
            HeldUntilCommit,
            // Into the file once a small page cache is full, so that the commit has little left
            // to write: only for a file made afresh for the edit and not read before it
            // commits, which a crash mid-edit may leave unreadable. A rollback still undoes
            // them.
            SpilledAsWritten,
            // Into the file once a small page cache is full, the rollback journal kept in a
            // file: memory stays small for an edit of any size, and an edit that a crash cut
            // short is rolled back when the file is next opened. Other connections cannot read
            // the file from the first spill until the commit.
            SpilledWithJournal
        };
        explicit CacheWrites(LocalDb& db, Pages pages = HeldUntilCommit);
        ~CacheWrites();
        CacheWrites(const CacheWrites&) = delete;
        CacheWrites& operator=(const CacheWrites&) = delete;

    private:
        LocalDb& m_db;
        QString m_cacheSize;  // the setting to restore, when changed
    };
    void close();
    // Closes the handle and deletes the file.
    void removeDB();

    QString path() const { return m_path; }
    bool isOpen() const { return m_db.isOpen(); }
    QSharedPointer<AbsContactCombineRule> combineRule() const { return m_combineRule; }
    Sqlite3DB& db() { return m_db; }

    // Entity rows.
    void insertEntity(unsigned long long contactId, int type, pim::Entity& entity);
    // insertEntity for a photo whose hash (pim::Entity::photoHash) the caller has worked out
    // already: a phone read hashes its photos on another thread than the one that writes.
    void insertPhoto(unsigned long long contactId, pim::Entity& photo, const QString& hash);
    // Hashes of photo bytes worked out ahead, on another thread, for the merges that follow: a
    // photo row written with exactly these bytes (the same shared data) takes its hash from
    // here instead of hashing them again. Replaces the ones given before.
    using KnownPhotoHashes = QVector<QPair<QByteArray, QString> >;
    void setKnownPhotoHashes(const KnownPhotoHashes& hashes) { m_knownPhotoHashes = hashes; }
    // Reads the type's columns of the cursor's current row into the entity. A row read
    // without "data15" gives a photo entity without that key: listed, its bytes not loaded.
    void fill_entity(Sqlite3Cursor& cursor, int type, pim::Entity& entity);

    // Contacts and groups.
    void insertContactBase(pim::_Contact& contact);
    // The whole contact, photo bytes included.
    pim::_Contact contact(unsigned long long contactId);
    // groupId 0: no group filter; empty keyword: no keyword filter. Sorted by full name.
    // Photos come without their bytes (no "data15" key; g_photoBytesHeld tells): whoever
    // shows or writes a photo reads it with photo() or loadPhotos().
    QList<pim::_Contact> contacts(unsigned long long groupId = 0, QString keyword = QString());
    // The same contacts in the same order, held as their rows' bytes: for a window that shows
    // many and opens few.
    ContactListing listing(unsigned long long groupId = 0, QString keyword = QString());
    // The stored bytes of one photo entity; empty when no photo row has that id.
    QByteArray photo(unsigned long long photoEntityId);
    // Gives every photo entity of the contacts that lacks its bytes the stored ones.
    void loadPhotos(pim::_Contact& contact);
    void loadPhotos(QList<pim::_Contact>& contacts);
    // The row ids of the contacts that contacts() lists for the same group and keyword,
    // without reading their details.
    QSet<unsigned long long> contactIds(unsigned long long groupId, QString keyword);
    QList<pim::_Group> groups();
    // Group of exactly that name (ASCII case-insensitive), created when missing.
    unsigned long long getGroupIdOrAdd(QString name);
    pim::Entity setGroup(unsigned long long contactId, unsigned long long groupId,
                         QString groupName);
    void ungroup(unsigned long long contactId);
    void removeEntity(unsigned long long entityId);
    void removeContact(unsigned long long contactId);
    void removeGroupOnly(unsigned long long groupId);

    // Row updates.
    void updateEntity(int type, const pim::Entity& entity);
    void updateContactBase(const pim::_Contact& contact);
    void updateContactBaseSrcId(unsigned long long contactId, QString srcId);
    void updateContactBaseSrcId(QString oldSrcId, QString newSrcId);
    void updateEntitySrcId(unsigned long long entityId, QString srcId);
    void updateEntitySrcId(QString oldSrcId, QString newSrcId);

    // Merge.
    // Row id of a stored contact with exactly this full name (ASCII case-insensitive), or 0.
    unsigned long long isContactBaseExist(QString fullName);
    // Row id of the stored contact known by this name that is the same person as the incoming
    // one (PersonMarks), or 0: the first that shares a number or e-mail address with it, else
    // the first that does not contradict it.
    unsigned long long isContactBaseExist(const QString& knownAs, const pim::_Contact& incoming);
    // The name a merge looks an incoming contact up by (full_name, ASCII case-insensitive): its
    // full name, else its company, first e-mail address or number; empty for a contact known by
    // nothing, which is never merged into another.
    static QString knownAs(const pim::_Contact& incoming);
    // Merges one incoming contact under this database's rule; returns the entities inserted
    // or updated, by type. Throws std::runtime_error after rolling the transaction back.
    QMap<int, QList<pim::Entity> > combineContact(const pim::_Contact& incoming, pim::_Contact& out,
                                                  bool& existed);
    // How a field that an incoming entity lacks compares with a stored one. Stored fields
    // without a value read back as empty text; a source that leaves out what it has no value
    // for would otherwise never equal what it stored before.
    enum AbsentField { ABSENT_IS_MISSING, ABSENT_IS_EMPTY_TEXT };
    // The same merge for a caller that needs only whether the contact was stored already.
    bool mergeContact(const pim::_Contact& incoming, AbsentField absent = ABSENT_IS_MISSING);

    // Column keys stored for an entity type (empty for codes outside 1..13).
    static QStringList columnsOfType(int type);

private:
    struct RowColumns;
    // The list query of contacts() and listing().
    Sqlite3Cursor queryListed(unsigned long long groupId, const QString& keyword);
    static void fill_entity(Sqlite3Cursor& cursor, const RowColumns& columns, int type,
                            pim::Entity& entity);

    QSharedPointer<AbsContactCombineRule> m_combineRule;
    Sqlite3DB m_db;
    // After m_db: its statements go before the connection closes.
    RowInserts m_rows;
    KnownPhotoHashes m_knownPhotoHashes;
    QString m_path;
    // Name and definition ("create index ...") of each index dropped by beginBulkEdit.
    QList<QPair<QString, QString> > m_deferredIndexes;

    // The settings and the index every connection gets once it is opened (open_check).
    void tuneConnection();
    void restoreDeferredIndexes();
    // insertEntity; `photoHash`, when given, is the hash of the entity's photo bytes.
    void insertRow(unsigned long long contactId, int type, pim::Entity& entity,
                   const QString* photoHash);
    // combineContact; the rows written go to `written` when it is given.
    void combine(const pim::_Contact& incoming, pim::_Contact& out, bool& existed,
                 QMap<int, QList<pim::Entity> >* written, AbsentField absent);
};
