// Fuzz: an address book built from the input, inside a generated backup, imported by the backup
// import worker into a contact database. Every input must end in a report, never a crash, hang
// or leak. The input is a list of rows: a table byte, then one typed value per column (a type
// byte: null, integer, real, text or blob, then its bytes), so that the fuzzer reaches odd
// values and types in each column the importer reads.
#include "backup_fixture.h"
#include "backup/backupmanifest.h"
#include "tests/fuzz/fuzz_support.h"
#include "backup/importcontactsfromitunesthread.h"

#include "ui/progressform.h"

#include "store/localdb.h"

#include <QDir>
#include <QFile>
#include <sqlite3.h>

#include <cstring>

namespace {

struct Table {
    const char* name;
    const char* columns;  // in insert order
    int count;
};

// The columns phones write in these tables (a subset; the importer reads no others).
const Table kTables[] = {
    {"ABPerson",
     "ROWID,First,Last,Middle,Prefix,Suffix,Organization,Department,JobTitle,Note,Birthday,"
     "Nickname,Kind,CreationDate,ModificationDate,StoreID,PersonLink",
     17},
    {"ABMultiValue", "UID,record_id,property,identifier,label,value", 6},
    {"ABMultiValueLabel", "ROWID,value", 2},
    {"ABMultiValueEntry", "parent_id,key,value", 3},
    {"ABMultiValueEntryKey", "ROWID,value", 2},
    {"ABPersonLink", "ROWID,PreferredImagePersonID,PreferredNamePersonID", 3},
    {"ABFullSizeImage", "ROWID,record_id,crop_x,crop_y,crop_width,crop_height,data", 7},
    {"ABThumbnailImage", "ROWID,record_id,format,derived_from_format,data", 5},
};
constexpr int kImageTables = 6;  // tables from this index on live in the images database

const char* const kAddressBookSchema =
    "create table ABPerson(ROWID integer primary key autoincrement, First text, Last text,"
    " Middle text, Prefix text, Suffix text, Organization text, Department text, JobTitle text,"
    " Note text, Birthday text, Nickname text, Kind integer, CreationDate integer,"
    " ModificationDate integer, StoreID integer, PersonLink integer default -1);"
    "create table ABPersonLink(ROWID integer primary key autoincrement,"
    " PreferredImagePersonID integer default -1, PreferredNamePersonID integer default -1);"
    "create table ABMultiValue(UID integer primary key, record_id integer, property integer,"
    " identifier integer, label integer, value text);"
    "create table ABMultiValueLabel(value text);"
    "create table ABMultiValueEntry(parent_id integer, key integer, value text);"
    "create table ABMultiValueEntryKey(value text);";
const char* const kImagesSchema =
    "create table ABFullSizeImage(ROWID integer primary key autoincrement, record_id integer,"
    " crop_x integer, crop_y integer, crop_width integer, crop_height integer, data blob);"
    "create table ABThumbnailImage(ROWID integer primary key autoincrement, record_id integer,"
    " format integer, derived_from_format integer, data blob);";

struct Db {
    sqlite3* h = nullptr;
    Db(const QString& path, const char* schema) {
        QFile::remove(path);
        sqlite3_open(path.toUtf8().constData(), &h);
        sqlite3_exec(h, "pragma journal_mode=off; pragma synchronous=off;", nullptr, nullptr,
                     nullptr);
        sqlite3_exec(h, schema, nullptr, nullptr, nullptr);
        sqlite3_exec(h, "begin", nullptr, nullptr, nullptr);
    }
    ~Db() {
        sqlite3_exec(h, "commit", nullptr, nullptr, nullptr);
        sqlite3_close(h);
    }
};

void bindValue(sqlite3_stmt* st, int column, fuzz::Reader& in) {
    const int type = in.number(5);
    const QByteArray b = in.bytes();
    switch (type) {
        case 0:
            sqlite3_bind_null(st, column);
            break;
        case 1: {
            qint64 v = 0;
            std::memcpy(&v, b.constData(), std::min<size_t>(sizeof v, size_t(b.size())));
            // Small numbers are what rows mostly hold: let a short value be a small one.
            if (b.size() == 1)
                v = qint8(b[0]);
            sqlite3_bind_int64(st, column, v);
            break;
        }
        case 2: {
            double v = 0;
            std::memcpy(&v, b.constData(), std::min<size_t>(sizeof v, size_t(b.size())));
            sqlite3_bind_double(st, column, v);
            break;
        }
        case 3:
            sqlite3_bind_text(st, column, b.constData(), b.size(), SQLITE_TRANSIENT);
            break;
        default:
            sqlite3_bind_blob(st, column, b.constData(), b.size(), SQLITE_TRANSIENT);
            break;
    }
}

void buildDatabases(fuzz::Reader& in, const QString& book, const QString& images) {
    Db ab(book, kAddressBookSchema);
    Db im(images, kImagesSchema);
    int rows = 0;
    while (!in.empty() && ++rows < 2000) {
        const int t = in.number(int(sizeof kTables / sizeof kTables[0]));
        const Table& table = kTables[t];
        const QByteArray sql = QByteArray("insert or replace into ") + table.name + "(" +
                               table.columns + ") values(?" +
                               QByteArray(",?").repeated(table.count - 1) + ")";
        sqlite3_stmt* st = nullptr;
        sqlite3* h = t >= kImageTables ? im.h : ab.h;
        if (sqlite3_prepare_v2(h, sql.constData(), -1, &st, nullptr) != SQLITE_OK)
            continue;
        for (int c = 1; c <= table.count; ++c)
            bindValue(st, c, in);
        sqlite3_step(st);
        sqlite3_finalize(st);
    }
}

struct Backup {
    QString folder = fuzz::path(QStringLiteral("0123456789abcdef0123456789abcdef01234567"));
    QString bookFile;
    QString imagesFile;
    Backup() {
        fuzz::ensureApp();
        fuzz::answerMessageBoxes(false);
        fixture::BackupBuilder builder(folder, fixture::BackupBuilder::DB);
        builder.addAddressBook(true);
        builder.build();
        const QDir d(folder);
        auto dataFile = [&d](const char* path) {
            const QString id =
                MBDBParser::getFileHashName(QStringLiteral("HomeDomain"), QLatin1String(path));
            return d.absoluteFilePath(id.left(2) + QLatin1Char('/') + id);
        };
        bookFile = dataFile("Library/AddressBook/AddressBook.sqlitedb");
        imagesFile = dataFile("Library/AddressBook/AddressBookImages.sqlitedb");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Backup backup;
    if (size > 64 * 1024)
        return 0;
    fuzz::Reader in(data, size);
    buildDatabases(in, backup.bookFile, backup.imagesFile);

    LocalDb& db = fuzz::freshDb();
    BackupManifest manifest(backup.folder);
    try {
        manifest.readManifestInfo();
        manifest.parseInfo();
    } catch (const std::exception&) {
        return 0;  // the generated backup itself always reads
    }
    {
        ProgressForm form{QString()};
        ImportContactsFromiTunesThread worker(manifest, &db, &form);
        worker.start();
        worker.wait();
        // The reports queued for the dialog go with it.
    }
    (void)db.contacts();
    fuzz::deleteLaterNow();
    return 0;
}
