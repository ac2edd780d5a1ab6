#include "localdb.h"

#include "data_path_util.h"
#include "contactlistread.h"
#include "entitycolumns.h"
#include "photofetch.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopedPointer>
#include <QVector>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <stdexcept>

// The template database lives in a static library; register it before first use.
static void initTemplateResource() {
    Q_INIT_RESOURCE(tw_res_db);
}

using entitycolumns::TypeInfo;
using entitycolumns::typeInfo;

namespace {

void ensureTemplateResource() {
    static const bool done = (initTemplateResource(), true);
    (void)done;
}

// Registered at start-up too, so ":res/db.db" is there in every program that links the store.
const bool g_templateRegistered = (ensureTemplateResource(), true);

const QString K_DATA15 = QStringLiteral("data15");

[[noreturn]] void throwText(const QString& text) {
    throw std::runtime_error(text.toUtf8().toStdString());
}

QString systemText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// The text of a failed file operation; Qt leaves "Unknown error" where errno still tells.
QString fileErrorText(const QFileDevice& file) {
    const int e = errno;
    const QString text = file.errorString();
    if (text.isEmpty() || text == QLatin1String("Unknown error"))
        return systemText(e ? e : EIO);
    return text;
}

// Why no new file can be made in `folder`: the errno of a real attempt (0 when it can).
int createErrno(const QString& folder) {
    const QByteArray probe =
        QFile::encodeName(folder + QStringLiteral("/.tellwick-probe-%1").arg(::getpid()));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    ::unlink(probe.constData());
    return 0;
}

bool _contactSortCompare(const pim::_Contact& a, const pim::_Contact& b) {
    return a.fullName < b.fullName;  // ordinal UTF-16 comparison
}

const QString COL_ID = QStringLiteral("_id");
const QString COL_TYPE = QStringLiteral("type");
const QString COL_SRC_ID = QStringLiteral("src_id");
const QString COL_FULL_NAME = QStringLiteral("full_name");
const QString COL_NAME = QStringLiteral("name");

}  // namespace

LocalDb::LocalDb(QString path, QSharedPointer<AbsContactCombineRule> rule)
    : m_combineRule(std::move(rule)), m_path(std::move(path)) {}

LocalDb::~LocalDb() = default;

QString LocalDb::templatePath() {
    ensureTemplateResource();
    return QStringLiteral(":res/db.db");
}

QDir LocalDb::dbDir() {
    const QString path = g_dataSaveDir().absoluteFilePath(QStringLiteral("data"));
    if (!QFileInfo(path).isDir())
        QDir().mkpath(path);
    return QDir(path);
}

QStringList LocalDb::columnsOfType(int type) {
    const TypeInfo* ti = typeInfo(type);
    return ti ? ti->cols : QStringList();
}

// ---------------------------------------------------------------------------------------------
// File and transactions

namespace {

// The pattern of the temporary file that create() makes in `folder` for `fileName`: a hidden
// name that tells whose it is, shortened (at a character boundary) so that a legal database
// name never fails for the letters added to it; the random part keeps it unique.
QString createTempPattern(const QString& folder, const QString& fileName) {
    const QLatin1String tail(".XXXXXX");
    const long max = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    const int room = int(max > 0 ? max : 255) - 1 - tail.size();
    QString stem = fileName;
    while (!stem.isEmpty() && QFile::encodeName(stem).size() > room) {
        stem.chop(1);
        if (!stem.isEmpty() && stem.at(stem.size() - 1).isHighSurrogate())
            stem.chop(1);
    }
    return folder + QLatin1String("/.") + stem + tail;
}

}  // namespace

void LocalDb::create() {
    // A handle on the old file would keep writing into a deleted inode.
    close();
    const QFileInfo target(m_path);
    const QString folder = target.absolutePath();

    QFile tmpl(templatePath());
    if (!tmpl.open(QIODevice::ReadOnly))
        throwText(tmpl.errorString());
    const QByteArray bytes = tmpl.readAll();

    // The new file is made complete beside the old one, which it replaces in one rename: the
    // old database stays as it was on any failure.
    QTemporaryFile temp(createTempPattern(folder, target.fileName()));
    if (!temp.open()) {
        // A missing folder that cannot be made is read-only where its nearest ancestor is.
        QString readOnly = folder;
        int e = createErrno(folder);
        while (e == ENOENT && !QFileInfo::exists(readOnly) &&
               QFileInfo(readOnly).path() != readOnly) {
            readOnly = QFileInfo(readOnly).path();
            if (QFileInfo::exists(readOnly)) {
                const int up = createErrno(readOnly);
                if (up == EACCES || up == EPERM || up == EROFS)
                    e = up;
                break;
            }
        }
        if (e == EACCES || e == EPERM || e == EROFS)
            throwText(QStringLiteral("The data folder %1 is read-only: %2")
                          .arg(QDir::toNativeSeparators(readOnly), systemText(e)));
        throwText(systemText(e ? e : EIO));
    }
    if (temp.write(bytes) != bytes.size() || !temp.flush())
        throwText(fileErrorText(temp));
    if (::fsync(temp.handle()) != 0 || ::fchmod(temp.handle(), 0600) != 0)
        throwText(systemText(errno));
    temp.close();

    // A stale journal beside the new file would be replayed into it.
    static const char* const sidecars[] = {"-journal", "-wal", "-shm"};
    for (const char* s : sidecars) {
        const QString p = m_path + QLatin1String(s);
        if (QFileInfo(p).exists() || QFileInfo(p).isSymLink()) {
            QFile sidecar(p);
            if (!sidecar.remove())
                throwText(fileErrorText(sidecar));
        }
    }
    if (::rename(QFile::encodeName(temp.fileName()).constData(),
                 QFile::encodeName(m_path).constData()) != 0)
        throwText(systemText(errno));
    temp.setAutoRemove(false);
}

void LocalDb::open_check() {
    if (m_db.isOpen())
        return;
    m_db.openThrow(m_path, 2);
    tuneConnection();
}

void LocalDb::tuneConnection() {
    // Best effort, a read-only or busy file simply goes without:
    // - merges read stored contacts at random and an import writes tens of megabytes in one
    //   transaction; a page cache that holds it all keeps both off the disk (SQLite only
    //   takes the memory as pages are used);
    // - the merge looks contacts up by exact, ASCII case-insensitive name, and without this
    //   index that look-up scans the table.
    static const char* const tuning[] = {
        "pragma cache_size=-65536",
        "create index if not exists index_contacts_full_name_nocase on contact(full_name "
        "collate nocase)"};
    for (const char* sql : tuning) {
        try {
            m_db.executeThrow(sql);
        } catch (const std::exception&) {
        }
    }
}

void LocalDb::beginEdit() {
    open_check();
    m_db.beginTran();
}

void LocalDb::beginBulkEdit(int expectedContacts) {
    beginEdit();
    if (m_db.tranDepth() != 1 || !m_deferredIndexes.isEmpty())
        return;  // inside someone else's batch: theirs to shape
    // Small batches are not worth the rebuild; nor are batches small next to the rows already
    // stored, which the rebuild would sort again (a contact is about eight rows).
    enum { MIN_CONTACTS = 500, ROWS_PER_CONTACT = 8 };
    if (expectedContacts < MIN_CONTACTS)
        return;
    // Best effort: the batch is open and stays correct with the indexes in place, so a
    // failure here only costs speed. What was dropped is rebuilt all the same.
    try {
        long long storedRows = 0;
        {
            Sqlite3Cursor cur = m_db.queryThrow("select max(_id) from data");
            if (cur.moveNext())
                storedRows = cur.getInt64(0);
        }
        if (storedRows > static_cast<long long>(expectedContacts) * ROWS_PER_CONTACT)
            return;
        // Only indexes that merges never read: they look contacts up through the NOCASE
        // name index and read a stored contact's rows through the data-to-contact index, so
        // those two stay.
        QList<QPair<QString, QString> > found;
        {
            Sqlite3Cursor cur = m_db.queryThrow(
                "select name,sql from sqlite_master where type='index' and "
                "tbl_name in ('contact','data') and name in ('index_data_data','index_data_src_id',"
                "'index_contacts_full_name','index_contacts_src_id') and sql is not null "
                "order by name");
            while (cur.moveNext())
                found << qMakePair(cur.getText(0), cur.getText(1));
        }
        for (const auto& index : found) {
            QString quoted = index.first;
            quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            m_db.executeThrow(QStringLiteral("drop index \"") + quoted + QLatin1Char('"'));
            m_deferredIndexes << index;
        }
    } catch (const std::exception&) {
        // An I/O error, a full disk, running out of memory or an interrupt makes SQLite roll
        // the whole transaction back (the dropped indexes with it). Nothing of the batch has
        // been written yet, so begin it again: left without one, every merge would commit on
        // its own and the caller's rollback could no longer take the batch back.
        if (!m_db.inTransaction()) {
            m_deferredIndexes.clear();
            m_db.beginTran();
        }
    }
}

void LocalDb::restoreDeferredIndexes() {
    // A rollback (here or inside a failed merge) has brought them back already.
    if (!m_db.inTransaction()) {
        m_deferredIndexes.clear();
        return;
    }
    while (!m_deferredIndexes.isEmpty()) {
        // Present already when a rollback restored it and a new batch began since.
        bool present = false;
        {
            Sqlite3Sql sql(
                QStringLiteral("select count(*) from sqlite_master where type='index' and name=?"));
            sql.addTextParam(m_deferredIndexes.first().first);
            Sqlite3Cursor cur = m_db.queryThrow(sql);
            present = cur.moveNext() && cur.getInt(0) > 0;
        }
        if (!present)
            m_db.executeThrow(m_deferredIndexes.first().second);
        m_deferredIndexes.removeFirst();
    }
}

void LocalDb::endEdit(bool commit) {
    if (commit) {
        open_check();
        // Only the outermost commit ends the batch; the indexes must be whole before it.
        if (m_db.tranDepth() <= 1)
            restoreDeferredIndexes();
        m_db.commitTran();
        return;
    }
    m_deferredIndexes.clear();
    // Rolling back runs in callers' error paths, so it must not throw: a closed handle has
    // no transaction to discard (and opening a missing or damaged file would only fail), and
    // a connection whose ROLLBACK fails is closed, which discards the transaction as well.
    if (!m_db.isOpen())
        return;
    try {
        m_db.rollbackTran();
    } catch (const std::exception&) {
        m_rows.clear();
        m_db.close();
    }
}

void LocalDb::beginPart() {
    open_check();
    if (!m_db.inTransaction())
        throwText(QStringLiteral("beginPart: no edit is open"));
    m_db.executeThrow(Sqlite3Sql("savepoint edit_part"));
}

void LocalDb::endPart(bool keep) {
    if (keep) {
        open_check();
        m_db.executeThrow(Sqlite3Sql("release savepoint edit_part"));
        return;
    }
    // Some failures (a full disk, an I/O error) end the whole transaction in SQLite already.
    if (!m_db.isOpen() || !m_db.inTransaction())
        return;
    try {
        m_db.executeThrow(Sqlite3Sql("rollback to savepoint edit_part"));
        m_db.executeThrow(Sqlite3Sql("release savepoint edit_part"));
    } catch (const std::exception&) {
        endEdit(false);
    }
}

LocalDb::CacheWrites::CacheWrites(LocalDb& db, Pages pages) : m_db(db) {
    // A file made afresh for the edit and opened here gets the edit's settings before the
    // open's own tuning writes to it (an index), which then does not wait for the disk either.
    const bool freshlyOpened = pages == SpilledAsWritten && !m_db.isOpen();
    if (freshlyOpened)
        m_db.m_db.openThrow(m_db.m_path, 2);
    else
        m_db.open_check();
    m_db.m_db.executeThrow(Sqlite3Sql("pragma synchronous=off"));
    if (pages != SpilledWithJournal)
        m_db.m_db.executeThrow(Sqlite3Sql("pragma journal_mode=memory"));
    if (freshlyOpened)
        m_db.tuneConnection();
    if (pages == HeldUntilCommit) {
        m_db.m_db.executeThrow(Sqlite3Sql("pragma cache_spill=off"));
        return;
    }
    // Pages spill once the cache holds more than its size: a few megabytes keep the pages
    // being filled and the indexes in use, while finished pages (a photo's above all) go to
    // the file as the edit goes on instead of all at the commit.
    {
        Sqlite3Cursor cur = m_db.m_db.queryThrow("pragma cache_size");
        if (cur.moveNext())
            m_cacheSize = QString::number(cur.getInt64(0));
    }
    m_db.m_db.executeThrow(Sqlite3Sql("pragma cache_spill=on"));
    m_db.m_db.executeThrow(Sqlite3Sql("pragma cache_size=-4096"));
}

LocalDb::CacheWrites::~CacheWrites() {
    if (!m_db.isOpen())
        return;
    QStringList restore = {"pragma journal_mode=delete", "pragma synchronous=full",
                           "pragma cache_spill=on"};
    if (!m_cacheSize.isEmpty())
        restore << QStringLiteral("pragma cache_size=") + m_cacheSize;
    // Each on its own: one that fails leaves the others to be restored.
    for (const QString& sql : restore) {
        try {
            m_db.m_db.executeThrow(Sqlite3Sql(sql));
        } catch (const std::exception&) {
        }
    }
}

void LocalDb::close() {
    m_rows.clear();
    m_db.close();  // an open batch is discarded, deferred indexes included
    m_deferredIndexes.clear();
}

void LocalDb::removeDB() {
    close();
    QFile::remove(m_path);
    static const char* const sidecars[] = {"-journal", "-wal", "-shm"};
    for (const char* s : sidecars) {
        const QString p = m_path + QLatin1String(s);
        if (QFileInfo(p).isFile())
            QFile::remove(p);
    }
}

// ---------------------------------------------------------------------------------------------
// Entity rows

void LocalDb::insertEntity(unsigned long long contactId, int type, pim::Entity& entity) {
    insertRow(contactId, type, entity, nullptr);
}

void LocalDb::insertPhoto(unsigned long long contactId, pim::Entity& photo, const QString& hash) {
    insertRow(contactId, pim::ENTITY_PHOTO, photo, &hash);
}

void LocalDb::insertRow(unsigned long long contactId, int type, pim::Entity& entity,
                        const QString* photoHash) {
    const TypeInfo* ti = typeInfo(type);
    if (!ti)
        throwText(QStringLiteral("insertEntity: unknown entity type %1").arg(type));
    open_check();
    if (!photoHash && type == pim::ENTITY_PHOTO && !m_knownPhotoHashes.isEmpty()) {
        const QByteArray bytes = entity.fields.value(K_DATA15).toByteArray();
        for (const auto& known : m_knownPhotoHashes) {
            if (known.first.constData() == bytes.constData() &&
                known.first.size() == bytes.size()) {
                photoHash = &known.second;
                break;
            }
        }
    }
    // The entity ends up holding the keys it was written with (as null values when it lacked
    // them), which is what callers compare against later.
    entity._id = static_cast<unsigned long long>(
        m_rows.insert(m_db.handle(), type, *ti, contactId, entity, photoHash));
}

// Positions of each type's columns in one result set, in field-map order; -1 where the
// query did not select the column.
struct LocalDb::RowColumns {
    explicit RowColumns(const Sqlite3Cursor& cursor) : byType(pim::ENTITY_URL + 1) {
        for (int type = pim::ENTITY_NAME; type <= pim::ENTITY_URL; ++type) {
            for (const QString& col : typeInfo(type)->sortedCols)
                byType[type] << cursor.columnIndex(col);
        }
    }
    QVector<QVector<int> > byType;
};

void LocalDb::fill_entity(Sqlite3Cursor& cursor, int type, pim::Entity& entity) {
    fill_entity(cursor, RowColumns(cursor), type, entity);
}

void LocalDb::fill_entity(Sqlite3Cursor& cursor, const RowColumns& columns, int type,
                          pim::Entity& entity) {
    const TypeInfo* ti = typeInfo(type);
    if (!ti)
        return;
    const QVector<int>& idx = columns.byType.at(type);
    for (int k = 0; k < idx.size(); ++k) {
        if (idx[k] < 0)
            continue;  // a photo listed without its bytes holds no "data15" key
        const QString& col = ti->sortedCols[k];
        // Keys come in map order, so each one is appended at the end of the map.
        if (col == K_DATA15) {
            entity.fields.insert(entity.fields.constEnd(), col, cursor.getBlob(idx[k]));
        } else {
            entity.fields.insert(entity.fields.constEnd(), col, cursor.getText(idx[k]));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Contacts and groups

void LocalDb::insertContactBase(pim::_Contact& contact) {
    open_check();
    Sqlite3Sql sql(QStringLiteral("insert into contact(src_id,full_name) values(?,?)"));
    sql.addTextParam(contact.srcId);
    sql.addTextParam(contact.fullName);
    m_db.executeThrow(sql);
    contact._id = static_cast<unsigned long long>(m_db.lastInsertId());
}

pim::_Contact LocalDb::contact(unsigned long long contactId) {
    open_check();
    pim::_Contact c;
    {
        Sqlite3Sql sql(QStringLiteral("select * from contact where _id=?"));
        sql.addInt64Param(static_cast<long long>(contactId));
        Sqlite3Cursor cur = m_db.queryThrow(sql);
        if (!cur.moveNext())
            return pim::_Contact();
        c = pim::_Contact(static_cast<unsigned long long>(cur.getInt64(COL_ID)),
                          cur.getText(COL_SRC_ID), cur.getText(COL_FULL_NAME));
    }
    Sqlite3Sql sql(QStringLiteral("select * from data where contact_id=?"));
    sql.addInt64Param(static_cast<long long>(contactId));
    Sqlite3Cursor cur = m_db.queryThrow(sql);
    // Column positions are looked up on the first row only: a merge reads every duplicate.
    int iType = -1, iId = -1, iSrc = -1;
    QScopedPointer<RowColumns> columns;
    while (cur.moveNext()) {
        if (iType < 0) {
            iType = cur.columnIndex(COL_TYPE);
            iId = cur.columnIndex(COL_ID);
            iSrc = cur.columnIndex(COL_SRC_ID);
            columns.reset(new RowColumns(cur));
        }
        const int type = cur.getInt(iType);
        pim::Entity e(static_cast<unsigned long long>(cur.getInt64(iId)), cur.getText(iSrc));
        fill_entity(cur, *columns, type, e);
        c.entities[type].append(e);
    }
    return c;
}

Sqlite3Cursor LocalDb::queryListed(unsigned long long groupId, const QString& keyword) {
    open_check();
    // Every column but the photo bytes: a list shows no photo at its stored size, and a row
    // whose bytes run into overflow pages is read without them. loadPhotos() adds them.
    Sqlite3Sql sql(
        "select d._id,d.type,d.contact_id,d.src_id,d.data1,d.data2,d.data3,d.data4,d.data5,"
        "d.data6,d.data7,d.data8,d.data9,d.data10,d.data11,d.data12,d.data13,d.data14,"
        "c.full_name,c.src_id as csrc_id from data as d inner join contact as c on "
        "d.contact_id=c._id");
    if (groupId != 0 || keyword.length() != 0) {
        sql.appendSql(QStringLiteral(" where 1=1"));
        if (groupId != 0) {
            sql.appendSql(QStringLiteral(
                " and contact_id in (select contact_id from data where type=? and data1=?)"));
            sql.addIntParam(pim::ENTITY_GROUP);
            sql.addTextParam(QString::number(groupId));
        }
        if (keyword.length() != 0) {
            // A search: '%' and '_' typed by the user keep their wildcard meaning.
            sql.appendSql(QStringLiteral(
                " and contact_id in (select contact_id from data where type not in (?,?) and "
                "data1 like ?)"));
            sql.addIntParam(pim::ENTITY_GROUP);
            sql.addIntParam(pim::ENTITY_PHOTO);
            sql.addTextParam(QLatin1Char('%') + keyword + QLatin1Char('%'));
        }
    }
    sql.appendSql(QStringLiteral(" order by contact_id asc"));

    return m_db.queryThrow(sql);
}

QList<pim::_Contact> LocalDb::contacts(unsigned long long groupId, QString keyword) {
    Sqlite3Cursor cur = queryListed(groupId, keyword);
    QList<pim::_Contact> result = contactlistread::readContacts(cur);
    if (!result.isEmpty())
        std::sort(result.begin(), result.end(), _contactSortCompare);
    return result;
}

ContactListing LocalDb::listing(unsigned long long groupId, QString keyword) {
    open_check();
    // The listing reads each page once, in one pass: a small cache recycles a few pages where
    // the large one kept for merges would take fresh memory for every page read, and grow the
    // program by the size of the file read.
    QString cacheSize;
    {
        Sqlite3Cursor cur = m_db.queryThrow("pragma cache_size");
        if (cur.moveNext())
            cacheSize = QString::number(cur.getInt64(0));
    }
    m_db.executeThrow(Sqlite3Sql("pragma cache_size=-2048"));
    struct Restore {
        Sqlite3DB& db;
        const QString& size;
        ~Restore() {
            try {
                if (!size.isEmpty())
                    db.executeThrow(Sqlite3Sql(QStringLiteral("pragma cache_size=") + size));
            } catch (const std::exception&) {
            }
        }
    } restore{m_db, cacheSize};
    Sqlite3Cursor cur = queryListed(groupId, keyword);
    return contactlistread::readListing(cur);
}

QByteArray LocalDb::photo(unsigned long long photoEntityId) {
    open_check();
    Sqlite3Sql sql(QStringLiteral("select data15 from data where _id=? and type=?"));
    sql.addInt64Param(static_cast<long long>(photoEntityId));
    sql.addIntParam(pim::ENTITY_PHOTO);
    Sqlite3Cursor cur = m_db.queryThrow(sql);
    return cur.moveNext() ? cur.getBlob(0) : QByteArray();
}

void LocalDb::loadPhotos(pim::_Contact& contact) {
    auto it = contact.entities.find(pim::ENTITY_PHOTO);
    if (it == contact.entities.end())
        return;
    for (pim::Entity& e : *it) {
        if (!g_photoBytesHeld(e))
            e.fields.insert(K_DATA15, photo(e._id));
    }
}

void LocalDb::loadPhotos(QList<pim::_Contact>& contacts) {
    QHash<unsigned long long, pim::Entity*> wanted;
    for (pim::_Contact& c : contacts) {
        auto it = c.entities.find(pim::ENTITY_PHOTO);
        if (it == c.entities.end())
            continue;
        for (pim::Entity& e : *it) {
            if (!g_photoBytesHeld(e))
                wanted.insert(e._id, &e);
        }
    }
    if (wanted.isEmpty())
        return;
    // A few are read one by one; many in one pass over the photo rows.
    enum { ONE_BY_ONE = 64 };
    if (wanted.size() <= ONE_BY_ONE) {
        for (auto it = wanted.begin(); it != wanted.end(); ++it)
            it.value()->fields.insert(K_DATA15, photo(it.key()));
        return;
    }
    open_check();
    Sqlite3Sql sql(QStringLiteral("select _id,data15 from data where type=?"));
    sql.addIntParam(pim::ENTITY_PHOTO);
    Sqlite3Cursor cur = m_db.queryThrow(sql);
    while (cur.moveNext()) {
        const auto found = wanted.find(static_cast<unsigned long long>(cur.getInt64(0)));
        if (found != wanted.end())
            found.value()->fields.insert(K_DATA15, cur.getBlob(1));
    }
    // Rows deleted since the listing leave their photos empty, as a missing row reads.
    for (pim::Entity* e : wanted) {
        if (!g_photoBytesHeld(*e))
            e->fields.insert(K_DATA15, QByteArray());
    }
}

QSet<unsigned long long> LocalDb::contactIds(unsigned long long groupId, QString keyword) {
    open_check();
    // The same filters as contacts(); a contact without any detail row is not listed there.
    Sqlite3Sql sql(QStringLiteral("select distinct contact_id from data where 1=1"));
    if (groupId != 0) {
        sql.appendSql(QStringLiteral(
            " and contact_id in (select contact_id from data where type=? and data1=?)"));
        sql.addIntParam(pim::ENTITY_GROUP);
        sql.addTextParam(QString::number(groupId));
    }
    if (keyword.length() != 0) {
        sql.appendSql(QStringLiteral(
            " and contact_id in (select contact_id from data where type not in (?,?) and "
            "data1 like ?)"));
        sql.addIntParam(pim::ENTITY_GROUP);
        sql.addIntParam(pim::ENTITY_PHOTO);
        sql.addTextParam(QLatin1Char('%') + keyword + QLatin1Char('%'));
    }
    sql.appendSql(QStringLiteral(" and contact_id in (select _id from contact)"));
    QSet<unsigned long long> ids;
    Sqlite3Cursor cur = m_db.queryThrow(sql);
    while (cur.moveNext())
        ids.insert(static_cast<unsigned long long>(cur.getInt64(0)));
    return ids;
}

QList<pim::_Group> LocalDb::groups() {
    open_check();
    QList<pim::_Group> result;
    Sqlite3Cursor cur = m_db.queryThrow("select * from contact_group order by name asc");
    while (cur.moveNext()) {
        result.append(pim::_Group(static_cast<unsigned long long>(cur.getInt64(COL_ID)),
                                  cur.getText(COL_NAME)));
    }
    return result;
}

unsigned long long LocalDb::getGroupIdOrAdd(QString name) {
    open_check();
    {
        // The name itself, not a pattern: '%' and '_' in a group name are ordinary characters.
        Sqlite3Sql sql(QStringLiteral("select _id from contact_group where name=? collate nocase"));
        sql.addTextParam(name);
        Sqlite3Cursor cur = m_db.queryThrow(sql);
        if (cur.moveNext())
            return static_cast<unsigned long long>(cur.getInt64(0));
    }
    Sqlite3Sql sql(QStringLiteral("insert into contact_group(name) values(?)"));
    sql.addTextParam(name);
    m_db.executeThrow(sql);
    return static_cast<unsigned long long>(m_db.lastInsertId());
}

pim::Entity LocalDb::setGroup(unsigned long long contactId, unsigned long long groupId,
                              QString groupName) {
    ungroup(contactId);
    Sqlite3Sql sql(QStringLiteral("insert into data(type,contact_id,data1,data2) values(?,?,?,?)"));
    sql.addIntParam(pim::ENTITY_GROUP);
    sql.addInt64Param(static_cast<long long>(contactId));
    sql.addTextParam(QString::number(groupId));
    sql.addTextParam(groupName);
    m_db.executeThrow(sql);
    pim::Entity e(static_cast<unsigned long long>(m_db.lastInsertId()), QString());
    e.fields.insert(QStringLiteral("data1"), QVariant(static_cast<qulonglong>(groupId)));
    e.fields.insert(QStringLiteral("data2"), groupName);
    return e;
}

void LocalDb::ungroup(unsigned long long contactId) {
    open_check();
    Sqlite3Sql sql(QStringLiteral("delete from data where type=? and contact_id=?"));
    sql.addIntParam(pim::ENTITY_GROUP);
    sql.addInt64Param(static_cast<long long>(contactId));
    m_db.executeThrow(sql);
}

void LocalDb::removeEntity(unsigned long long entityId) {
    open_check();
    Sqlite3Sql sql(QStringLiteral("delete from data where _id=?"));
    sql.addInt64Param(static_cast<long long>(entityId));
    m_db.executeThrow(sql);
}

void LocalDb::removeContact(unsigned long long contactId) {
    open_check();
    Sqlite3Sql rows("delete from data where contact_id=?");
    rows.addInt64Param(static_cast<long long>(contactId));
    m_db.executeThrow(rows);
    Sqlite3Sql base("delete from contact where _id=?");
    base.addInt64Param(static_cast<long long>(contactId));
    m_db.executeThrow(base);
}

void LocalDb::removeGroupOnly(unsigned long long groupId) {
    open_check();
    Sqlite3Sql sql(QStringLiteral("delete from contact_group where _id=?"));
    sql.addInt64Param(static_cast<long long>(groupId));
    m_db.executeThrow(sql);
}

// ---------------------------------------------------------------------------------------------
// Row updates

void LocalDb::updateEntity(int type, const pim::Entity& entity) {
    const TypeInfo* ti = typeInfo(type);
    if (!ti)
        throwText(QStringLiteral("updateEntity: unknown entity type %1").arg(type));
    open_check();
    Sqlite3Sql sql(ti->updateSql);
    sql.addTextParam(entity.srcId);
    for (int k = 0; k < ti->cols.size(); ++k) {
        const QVariant v = entity.fields.value(ti->cols[k]);
        switch (ti->kinds[k]) {
            case TypeInfo::BLOB:
                sql.addBlobParam(v.toByteArray());
                break;
            case TypeInfo::PHOTO_HASH:
                sql.addTextParam(entity.photoHash());
                break;
            case TypeInfo::TEXT:
                sql.addTextParam(pim::fieldText(v));
                break;
        }
    }
    sql.addInt64Param(static_cast<long long>(entity._id));
    m_db.executeThrow(sql);
}

void LocalDb::updateContactBase(const pim::_Contact& contact) {
    open_check();
    Sqlite3Sql sql(QStringLiteral("update contact set src_id=?, full_name=? where _id=?"));
    sql.addTextParam(contact.srcId);
    sql.addTextParam(contact.fullName);
    sql.addInt64Param(static_cast<long long>(contact._id));
    m_db.executeThrow(sql);
}

void LocalDb::updateContactBaseSrcId(unsigned long long contactId, QString srcId) {
    open_check();
    Sqlite3Sql sql(QStringLiteral("update contact set src_id=? where _id=?"));
    sql.addTextParam(srcId);
    sql.addInt64Param(static_cast<long long>(contactId));
    m_db.executeThrow(sql);
}

void LocalDb::updateContactBaseSrcId(QString oldSrcId, QString newSrcId) {
    open_check();
    Sqlite3Sql sql(QStringLiteral("update contact set src_id=? where src_id=?"));
    sql.addTextParam(newSrcId);
    sql.addTextParam(oldSrcId);
    m_db.executeThrow(sql);
}

void LocalDb::updateEntitySrcId(unsigned long long entityId, QString srcId) {
    open_check();
    Sqlite3Sql sql(QStringLiteral("update data set src_id=? where _id=?"));
    sql.addTextParam(srcId);
    sql.addInt64Param(static_cast<long long>(entityId));
    m_db.executeThrow(sql);
}

void LocalDb::updateEntitySrcId(QString oldSrcId, QString newSrcId) {
    open_check();
    Sqlite3Sql sql(QStringLiteral("update data set src_id=? where src_id=?"));
    sql.addTextParam(newSrcId);
    sql.addTextParam(oldSrcId);
    m_db.executeThrow(sql);
}
