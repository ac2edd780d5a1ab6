#include "backuparms.h"

#include "arms.h"
#include "benchbook.h"

#include "bench/benchphoto.h"
#include "tests/backup/backup_fixture.h"
#include "backup/backupmanifest.h"
#include "backup/importcontactsfromitunesthread.h"
#include "backup/keybag.h"
#include "store/combinerule.h"
#include "store/localdb.h"

#include <openssl/evp.h>
#include <sqlite3.h>

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <exception>
#include <memory>

namespace arms {

namespace {

const char* const kPassword = "bench-password";
const QString kBookPath = QStringLiteral("Library/AddressBook/AddressBook.sqlitedb");
const QString kImagesPath = QStringLiteral("Library/AddressBook/AddressBookImages.sqlitedb");

// Seconds from 2001-01-01 UTC, the phone's clock.
constexpr qint64 kPhoneEpoch = 978307200;

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using Db = std::unique_ptr<sqlite3, SqliteCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

Db openDb(const QString& path, int flags) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr);
    Db owned(db);
    if (rc != SQLITE_OK)
        owned.reset();
    return owned;
}

Statement prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    return Statement(st);
}

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void bindText(sqlite3_stmt* st, int i, const QByteArray& v) {
    if (v.isEmpty())
        sqlite3_bind_null(st, i);
    else
        sqlite3_bind_text(st, i, v.constData(), v.size(), SQLITE_TRANSIENT);
}

bool stepDone(sqlite3_stmt* st) {
    const bool ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_reset(st);
    return ok;
}

// The book's people in the phone's own tables: the name, company and job title, note and
// birthday on the person; the numbers, e-mail, web page and postal address (in its named
// parts) as multi-values with the phone's label markers.
bool writePhoneBook(const QString& path, int n, bool indexes) {
    QFile::remove(path);
    const Db db = openDb(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!db ||
        !exec(db.get(),
              "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last "
              "TEXT, Middle TEXT, Prefix TEXT, Suffix TEXT, Organization TEXT, Department TEXT, "
              "JobTitle TEXT, Note TEXT, Birthday TEXT, Nickname TEXT, Kind INTEGER, StoreID "
              "INTEGER, PersonLink INTEGER DEFAULT -1);"
              "CREATE TABLE ABPersonLink (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
              "PreferredImagePersonID INTEGER DEFAULT -1, PreferredNamePersonID INTEGER DEFAULT "
              "-1);"
              "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property "
              "INTEGER, identifier INTEGER, label INTEGER, value TEXT);"
              "CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value));"
              "CREATE TABLE ABMultiValueEntry (parent_id INTEGER, key INTEGER, value TEXT);"
              "CREATE TABLE ABMultiValueEntryKey (value TEXT, UNIQUE(value));"
              "INSERT INTO ABMultiValueLabel(rowid,value) VALUES (1,'_$!<Mobile>!$_'),"
              "(2,'_$!<Home>!$_'),(3,'_$!<Work>!$_'),(4,'_$!<HomePage>!$_');"
              "INSERT INTO ABMultiValueEntryKey(rowid,value) VALUES (1,'Street'),(2,'City'),"
              "(3,'ZIP'),(4,'Country');"))
        return false;
    if (indexes &&
        !exec(db.get(),
              "CREATE INDEX ABMultiValueRecordIDIndex ON ABMultiValue(record_id);"
              "CREATE INDEX ABMultiValueEntryParentIndex ON ABMultiValueEntry(parent_id);"))
        return false;
    exec(db.get(), "BEGIN");
    const Statement person = prepare(
        db.get(),
        "insert into ABPerson(ROWID,First,Last,Organization,JobTitle,Note,Birthday,Kind,StoreID) "
        "values(?,?,?,?,?,?,?,0,0)");
    const Statement value = prepare(db.get(), "insert into ABMultiValue values(?,?,?,0,?,?)");
    const Statement entry = prepare(db.get(), "insert into ABMultiValueEntry values(?,?,?)");
    if (!person || !value || !entry)
        return false;
    sqlite3_int64 uid = 1;
    bool ok = true;
    auto addValue = [&](int id, int property, int label, const QByteArray& text) {
        sqlite3_bind_int64(value.get(), 1, uid);
        sqlite3_bind_int(value.get(), 2, id);
        sqlite3_bind_int(value.get(), 3, property);
        sqlite3_bind_int(value.get(), 4, label);
        bindText(value.get(), 5, text);
        ok = stepDone(value.get()) && ok;
        return uid++;
    };
    auto addEntry = [&](sqlite3_int64 parent, int key, const QByteArray& text) {
        sqlite3_bind_int64(entry.get(), 1, parent);
        sqlite3_bind_int(entry.get(), 2, key);
        bindText(entry.get(), 3, text);
        ok = stepDone(entry.get()) && ok;
    };
    for (int i = 0; i < n && ok; ++i) {
        const benchbook::Person p = benchbook::person(i);
        const int id = i + 1;
        QByteArray birthday;
        if (!p.birthday.isEmpty()) {
            const QDateTime at(QDate::fromString(QString::fromLatin1(p.birthday), Qt::ISODate),
                               QTime(12, 0), Qt::UTC);
            birthday = QByteArray::number(at.toSecsSinceEpoch() - kPhoneEpoch) + ".000000";
        }
        sqlite3_bind_int(person.get(), 1, id);
        bindText(person.get(), 2, p.first);
        bindText(person.get(), 3, p.last);
        bindText(person.get(), 4, p.company);
        bindText(person.get(), 5, p.title);
        bindText(person.get(), 6, p.note);
        bindText(person.get(), 7, birthday);
        ok = stepDone(person.get()) && ok;
        addValue(id, 3, 1, p.mobile);
        addValue(id, 3, 3, p.work);
        addValue(id, 4, 3, p.email);
        const sqlite3_int64 address = addValue(id, 5, 2, QByteArray());
        addEntry(address, 1, p.street);
        addEntry(address, 2, p.city);
        addEntry(address, 3, p.zip);
        addEntry(address, 4, p.country);
        addValue(id, 22, 4, p.url);
    }
    return ok && exec(db.get(), "COMMIT");
}

// The photos of the people who have one, in the phone's images database. Its UNIQUE record id
// is the images' record-id index.
bool writePhoneImages(const QString& path, int n, bool indexes) {
    QFile::remove(path);
    const Db db = openDb(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    const QByteArray schema =
        QByteArray(
            "CREATE TABLE ABFullSizeImage (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
            "record_id INTEGER, crop_x INTEGER, crop_y INTEGER, crop_width INTEGER, "
            "crop_height INTEGER, data BLOB") +
        (indexes ? ", UNIQUE(record_id));" : ");") +
        "CREATE TABLE ABThumbnailImage (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, record_id "
        "INTEGER, format INTEGER, derived_from_format INTEGER, data BLOB" +
        (indexes ? ", UNIQUE(record_id, format));" : ");");
    if (!db || !exec(db.get(), schema.constData()))
        return false;
    exec(db.get(), "BEGIN");
    const Statement insert =
        prepare(db.get(), "insert into ABFullSizeImage(record_id,data) values(?,?)");
    if (!insert)
        return false;
    for (int i = 0; i < n; ++i) {
        if (!benchphoto::hasPhoto(i))
            continue;
        const QByteArray photo = benchphoto::forContact(i);
        sqlite3_bind_int(insert.get(), 1, i + 1);
        sqlite3_bind_blob(insert.get(), 2, photo.constData(), photo.size(), SQLITE_TRANSIENT);
        if (!stepDone(insert.get()))
            return false;
    }
    return exec(db.get(), "COMMIT");
}

// The backup as the user points the program at it: its manifest read and unlocked, its file
// index parsed. Both arms start from here, so neither times the unlock.
bool openBackup(BackupManifest& bm) {
    try {
        bm.readManifestInfo();
        if (!bm.setPasscodeNoUIThrow(QString::fromLatin1(kPassword)))
            return false;
        bm.parseInfo();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "backup: %s\n", e.what());
        return false;
    }
    return bm.addressBookDb && bm.addressBookImagesDb;
}

// The step: the program's backup import worker into a new local database.
int importArm(const QString& folder, const QString& target) {
    BackupManifest bm(folder);
    if (!openBackup(bm))
        return 1;
    QFile::remove(target);
    LocalDb db(target, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    QuietReporter r;
    ImportContactsFromiTunesThread worker(bm, &db, &r);
    QElapsedTimer t;
    t.start();
    worker.start();
    worker.wait();
    const double s = t.nsecsElapsed() / 1e9;
    if (r.failed || r.result.isEmpty()) {
        std::fprintf(stderr, "backup import failed: %s\n", qPrintable(r.result));
        return 1;
    }
    report(s);
    return 0;
}

// A backup file decrypted with OpenSSL alone (AES-256-CBC, zero IV, PKCS#7) into `dest`, in
// blocks of 1 MB: the file key unwrapped with the unlocked class key as any reader must.
bool decrypt(const BackupManifest& bm, const BackupManifest::_FileNode* node, const QString& dest) {
    const MBDBParser::_MBDBItem& item = node->item;
    const QByteArray key =
        unwrapKeyForClass(bm.keybag, int(item.protectionClass), item.encryptionKey.val.mid(4));
    QFile in(MBDBParser::getBKFilePath(bm.dir, item.backupFileName(), false));
    QFile out(dest);
    if (key.size() != 32 || !in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(),
                                                                   EVP_CIPHER_CTX_free);
    const unsigned char iv[16] = {0};
    if (!ctx ||
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr,
                           reinterpret_cast<const unsigned char*>(key.constData()), iv) != 1)
        return false;
    QByteArray plain(1 << 20, '\0'), buffer(plain.size() + 32, '\0');
    for (;;) {
        const qint64 n = in.read(plain.data(), plain.size());
        if (n < 0)
            return false;
        if (n == 0)
            break;
        int length = 0;
        if (EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(buffer.data()), &length,
                              reinterpret_cast<const unsigned char*>(plain.constData()),
                              int(n)) != 1 ||
            out.write(buffer.constData(), length) != length)
            return false;
    }
    int length = 0;
    return EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(buffer.data()),
                               &length) == 1 &&
           out.write(buffer.constData(), length) == length && out.flush();
}

// One pass over each table of a database: every text taken out as a QString, every blob as
// bytes of their own. Returns what it took out, so that nothing is skipped.
qint64 readOnce(const QString& path, const std::initializer_list<const char*>& queries) {
    const Db db = openDb(path, SQLITE_OPEN_READONLY);
    if (!db)
        return 0;
    qint64 taken = 0;
    for (const char* sql : queries) {
        const Statement st = prepare(db.get(), sql);
        if (!st)
            return 0;
        const int columns = sqlite3_column_count(st.get());
        while (sqlite3_step(st.get()) == SQLITE_ROW) {
            for (int c = 0; c < columns; ++c) {
                switch (sqlite3_column_type(st.get(), c)) {
                    case SQLITE_TEXT:
                        taken +=
                            QString::fromUtf8(
                                reinterpret_cast<const char*>(sqlite3_column_text(st.get(), c)),
                                sqlite3_column_bytes(st.get(), c))
                                .size();
                        break;
                    case SQLITE_BLOB:
                        taken +=
                            QByteArray(static_cast<const char*>(sqlite3_column_blob(st.get(), c)),
                                       sqlite3_column_bytes(st.get(), c))
                                .size();
                        break;
                    default:
                        taken += sqlite3_column_int64(st.get(), c) & 1;
                }
            }
        }
    }
    return taken;
}

// The anchor: the same two files decrypted into a private folder and read in one pass each
// (the address book's tables, then the photos), then the rows the import stored of this backup
// written with bare SQLite (bareWritesArm), the decrypted copies removed at the end.
int bareArm(const QString& folder, const QString& stored, const QString& target) {
    BackupManifest bm(folder);
    if (!openBackup(bm))
        return 1;
    std::unique_ptr<QTemporaryDir> work;
    auto read = [&]() {
        work.reset(new QTemporaryDir);
        const QString book = work->filePath(QStringLiteral("AddressBook.sqlitedb"));
        const QString images = work->filePath(QStringLiteral("AddressBookImages.sqlitedb"));
        if (!work->isValid() || !decrypt(bm, bm.addressBookDb, book) ||
            !decrypt(bm, bm.addressBookImagesDb, images)) {
            std::fprintf(stderr, "the anchor could not decrypt the address book\n");
            return false;
        }
        const qint64 taken =
            readOnce(book, {"select * from ABMultiValueLabel", "select * from ABMultiValueEntryKey",
                            "select * from ABMultiValueEntry", "select * from ABMultiValue",
                            "select * from ABPerson order by rowid"}) +
            readOnce(images, {"select record_id, data from ABFullSizeImage"});
        if (taken == 0)
            std::fprintf(stderr, "the anchor read nothing\n");
        return taken != 0;
    };
    const int rc = bareWritesArm(stored, target, [&]() {
        const bool ok = read();
        work.reset();
        return ok;
    });
    return rc;
}

QString storedPath(const QString& dir, bool indexes) {
    return refDbPath(dir, indexes ? "backup-idx" : "backup");
}

}  // namespace

QString backupPath(const QString& dir, bool indexes) {
    return dir + (indexes ? QStringLiteral("/backup-idx") : QStringLiteral("/backup"));
}

bool prepareBackups(const QString& dir, int n) {
    for (bool indexes : {false, true}) {
        const QString folder = backupPath(dir, indexes);
        QDir(folder).removeRecursively();
        const QString book = dir + QStringLiteral("/phone-book.sqlitedb");
        const QString images = dir + QStringLiteral("/phone-images.sqlitedb");
        if (!writePhoneBook(book, n, indexes) || !writePhoneImages(images, n, indexes)) {
            std::fprintf(stderr, "the phone's address book could not be written\n");
            return false;
        }
        try {
            fixture::BackupBuilder builder(folder, fixture::BackupBuilder::DB);
            builder.setEncrypted(QString::fromLatin1(kPassword), true);
            builder.setSnapshotState(QStringLiteral("finished"));
            builder.addFile({QStringLiteral("HomeDomain"), kBookPath, fixture::readFile(book)});
            builder.addFile({QStringLiteral("HomeDomain"), kImagesPath, fixture::readFile(images)});
            builder.build();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "the backup could not be written: %s\n", e.what());
            return false;
        }
        QFile::remove(book);
        QFile::remove(images);
        // What the import stores, for the anchor's writes.
        const QString stored = storedPath(dir, indexes);
        QFile::remove(stored);
        BackupManifest bm(folder);
        if (!openBackup(bm))
            return false;
        LocalDb db(stored, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.create();
        QuietReporter r;
        ImportContactsFromiTunesThread worker(bm, &db, &r);
        worker.start();
        worker.wait();
        if (r.failed || r.result.isEmpty()) {
            std::fprintf(stderr, "backup import failed: %s\n", qPrintable(r.result));
            return false;
        }
    }
    return true;
}

int runBackupArm(const QString& arm, const QString& dir) {
    const bool indexes = arm.endsWith(QLatin1String("-idx"));
    const QString name = indexes ? arm.chopped(4) : arm;
    const QString scratch = dir + QStringLiteral("/run-%1.db").arg(arm);
    if (name == QLatin1String("backup-import"))
        return importArm(backupPath(dir, indexes), scratch);
    if (name == QLatin1String("backup-bare"))
        return bareArm(backupPath(dir, indexes), storedPath(dir, indexes), scratch);
    return -1;
}

}  // namespace arms
