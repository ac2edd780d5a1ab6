// Backups as phones write them: the address book with the phone's own tables and columns (text
// dates, values without labels, nameless contacts, thumbnails), in both index layouts, plain
// and encrypted, imported into a real LocalDb; what the import leaves behind on disk; failing
// writes.
#include "backup_fixture.h"
#include "backup/backupmanifest.h"
#include "backup/importcontactsfromitunesthread.h"
#include "backup/privatetempdir.h"
#include "backup/qopensslevpaes.h"

#include "ui/progressform.h"
#include "tests/messageboxhook.h"
#include "ui/tips.h"

#include "store/localdb.h"
#include "platform/sqlite/sqlite3db.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace fixture;

namespace {

// Seconds from 2001-01-01 00:00 UTC to noon UTC of a day: how phones store a date.
long long phoneDate(int y, int m, int d) {
    static const QDateTime ref(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return ref.secsTo(QDateTime(QDate(y, m, d), QTime(12, 0), Qt::UTC));
}

QByteArray image(char fill, int size) {
    return QByteArray::fromHex("ffd8ffe0") + QByteArray(size, fill);
}

// The address book with the tables and columns of the phone's own database.
void writePhoneAddressBook(const QString& path) {
    QFile::remove(path);
    runSql(path,
           QStringLiteral(
               "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, "
               "Last TEXT, Middle TEXT, FirstPhonetic TEXT, MiddlePhonetic TEXT, LastPhonetic "
               "TEXT, Organization TEXT, Department TEXT, Note TEXT, Kind INTEGER, Birthday "
               "TEXT, JobTitle TEXT, Nickname TEXT, Prefix TEXT, Suffix TEXT, FirstSort TEXT, "
               "LastSort TEXT, CreationDate INTEGER, ModificationDate INTEGER, "
               "CompositeNameFallback TEXT, DisplayName TEXT);"
               "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property "
               "INTEGER, identifier INTEGER, label INTEGER, value TEXT);"
               "CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value));"
               "CREATE TABLE ABMultiValueEntry (parent_id INTEGER, key INTEGER, value TEXT, "
               "UNIQUE(parent_id, key));"
               "CREATE TABLE ABMultiValueEntryKey (value TEXT, UNIQUE(value));"
               "INSERT INTO ABMultiValueLabel(rowid, value) VALUES (1,'_$!<Mobile>!$_'),"
               " (2,'_$!<Home>!$_'), (3,'_$!<Work>!$_'), (4,'_$!<Anniversary>!$_'),"
               " (5,'_$!<HomePage>!$_'), (6,'_$!<Mother>!$_');"
               "INSERT INTO ABMultiValueEntryKey(rowid, value) VALUES (1,'Street'), (2,'City'),"
               " (3,'ZIP'), (4,'Country'), (5,'CountryCode'), (6,'service'), (7,'username');"
               // 1: before 2001, with a fraction as phones write it.
               "INSERT INTO ABPerson(ROWID, First, Last, Kind, Birthday) VALUES "
               " (1, 'Anna', 'Berg', 0, '%1.000000');"
               "INSERT INTO ABMultiValue VALUES (1,1,3,0,1,'+46 70 123 45 67'),"
               " (2,1,3,1,NULL,'+46 8 555 000'), (3,1,4,0,2,'anna@home.example'),"
               " (4,1,5,0,3,NULL), (5,1,13,0,2,NULL), (6,1,22,0,5,'https://anna.example'),"
               " (7,1,23,0,6,'Eva Berg'), (8,1,12,0,4,'%2'), (9,1,12,1,NULL,'%3');"
               "INSERT INTO ABMultiValueEntry VALUES (4,1,'Storgatan 1'), (4,2,'Stockholm'),"
               " (4,3,'111 22'), (4,4,'Sweden'), (4,5,'se'), (5,6,'Skype'), (5,7,'anna.berg');"
               // 2: a birthday without a year (kept as 1604), thumbnails only.
               "INSERT INTO ABPerson(ROWID, First, Last, Kind, Birthday) VALUES "
               " (2, 'Carl', 'Diaz', 0, '%4');"
               "INSERT INTO ABMultiValue VALUES (10,2,3,0,3,'+1 212 555 0101'),"
               " (11,2,4,0,NULL,'carl@example.com'), (12,2,13,0,99,NULL);"
               "INSERT INTO ABMultiValueEntry VALUES (12,6,'Jabber'), (12,7,'carl@jabber.example');"
               // 3, 4: companies; 5: a number only; 6: an address only.
               "INSERT INTO ABPerson(ROWID, Organization, Kind) VALUES (3,'ACME Corp.',1),"
               " (4,'Pizza Pronto',1);"
               "INSERT INTO ABPerson(ROWID, Kind) VALUES (5,0), (6,0);"
               "INSERT INTO ABMultiValue VALUES (13,3,3,0,1,'+1 800 555 0199'),"
               " (14,4,3,0,1,'+39 06 555 1234'), (15,5,3,0,NULL,'+44 20 7946 0000'),"
               " (16,6,4,0,2,'someone@example.org');"
               // 7: an address without parts and an account of a service outside the table.
               "INSERT INTO ABPerson(ROWID, First, Last, Kind) VALUES (7,'Dora','Eck',0);"
               "INSERT INTO ABMultiValue VALUES (17,7,5,0,2,NULL), (18,7,13,0,3,NULL);"
               "INSERT INTO ABMultiValueEntry VALUES (18,6,'Telegram'), (18,7,'dora.tg');"
               // A value of a person that is gone.
               "INSERT INTO ABMultiValue VALUES (19,42,3,0,1,'+1 000');"
               "PRAGMA journal_mode=WAL;")
               .arg(phoneDate(1985, 6, 1))
               .arg(phoneDate(1999, 8, 14))
               .arg(phoneDate(1970, 1, 1))
               .arg(phoneDate(1604, 3, 15)));
}

void writePhoneImages(const QString& path) {
    QFile::remove(path);
    runSql(path, QStringLiteral(
                     "CREATE TABLE ABFullSizeImage (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
                     "record_id INTEGER, crop_x INTEGER, crop_y INTEGER, crop_width INTEGER, "
                     "crop_height INTEGER, data BLOB, UNIQUE(record_id));"
                     "CREATE TABLE ABThumbnailImage (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
                     "record_id INTEGER, format INTEGER, derived_from_format INTEGER, data BLOB, "
                     "UNIQUE(record_id, format));"));
    Sqlite3DB db;
    db.openThrow(path, 2);
    auto put = [&db](const char* sql, int record, const QByteArray& bytes) {
        Sqlite3Sql s(sql);
        s.addIntParam(record);
        s.addBlobParam(bytes);
        db.executeThrow(s);
    };
    put("insert into ABFullSizeImage(record_id, data) values(?,?)", 1, image('A', 300));
    put("insert into ABThumbnailImage(record_id, format, data) values(?,0,?)", 1, image('a', 20));
    put("insert into ABThumbnailImage(record_id, format, data) values(?,0,?)", 2, image('b', 20));
    put("insert into ABThumbnailImage(record_id, format, data) values(?,1,?)", 2, image('B', 90));
}

// Images as a phone may leave them without the record-id indexes: rows in no person order, two
// full-size rows for one person (the first one counts), an empty one, one of a person that is
// gone, and a full-size image larger than a cipher block of the copy.
const QByteArray kLargeImage = image('L', 1536 * 1024 + 7);

void writeUnindexedImages(const QString& path) {
    QFile::remove(path);
    runSql(path,
           QStringLiteral(
               "CREATE TABLE ABFullSizeImage (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
               "record_id INTEGER, crop_x INTEGER, crop_y INTEGER, crop_width INTEGER, "
               "crop_height INTEGER, data BLOB);"
               "CREATE TABLE ABThumbnailImage (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
               "record_id INTEGER, format INTEGER, derived_from_format INTEGER, data BLOB);"));
    Sqlite3DB db;
    db.openThrow(path, 2);
    auto put = [&db](const char* sql, int record, const QByteArray& bytes) {
        Sqlite3Sql s(sql);
        s.addIntParam(record);
        s.addBlobParam(bytes);
        db.executeThrow(s);
    };
    const char* full = "insert into ABFullSizeImage(record_id, data) values(?,?)";
    put(full, 42, image('Z', 50));
    put(full, 2, QByteArray());
    put(full, 1, kLargeImage);
    put(full, 1, image('a', 100));
    const char* thumb = "insert into ABThumbnailImage(record_id, format, data) values(?,0,?)";
    put(thumb, 2, image('b', 20));
    put(thumb, 1, image('t', 500));
    put(thumb, 2, image('B', 90));
    put(thumb, 2, image('c', 40));
}

QByteArray phoneFile(void (*write)(const QString&)) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("db");
    write(path);
    return readFile(path);
}

void addPhoneAddressBook(BackupBuilder& b, bool withImages = true) {
    b.addFile({"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb",
               phoneFile(writePhoneAddressBook), 3, false});
    if (withImages)
        b.addFile({"HomeDomain", "Library/AddressBook/AddressBookImages.sqlitedb",
                   phoneFile(writePhoneImages), 3, false});
}

struct Catcher {
    QStringList boxes;
    Catcher() {
        g_setMessageBoxHook([this](QMessageBox& box) {
            boxes << box.text();
            return int(QMessageBox::Ok);
        });
    }
    ~Catcher() { g_setMessageBoxHook(MessageBoxHook()); }
};

QStringList import(BackupManifest& bm, LocalDb& db, bool cancel = false) {
    Catcher boxes;
    ProgressForm form{QString()};
    form.rejected = cancel;
    ImportContactsFromiTunesThread worker(bm, &db, &form);
    worker.start(QThread::InheritPriority);
    if (!cancel)
        form.exec();
    worker.wait();
    return boxes.boxes;
}

// Every entry below a folder with its size and time (leaving out the test's own folder): what
// an import must not change.
void setModes(const QString& root, bool readOnly) {
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList paths{root};
    while (it.hasNext())
        paths << it.next();
    for (const QString& p : paths) {
        const bool dir = QFileInfo(p).isDir();
        chmod(QFile::encodeName(p), readOnly ? (dir ? 0555 : 0444) : (dir ? 0755 : 0644));
    }
}

// A backup folder nobody can write, root included where the system lets the test mount it
// read-only over itself; otherwise its modes say read-only (which binds every other user).
struct ReadOnlyFolder {
    QString root;
    bool mounted = false;
    explicit ReadOnlyFolder(QString r) : root(std::move(r)) {
        setModes(root, true);
        const QByteArray p = QFile::encodeName(root);
        if (geteuid() == 0 && mount(p.constData(), p.constData(), nullptr, MS_BIND, nullptr) == 0) {
            mounted = mount(nullptr, p.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                            nullptr) == 0;
            if (!mounted)
                umount(p.constData());
        }
    }
    ~ReadOnlyFolder() {
        if (mounted)
            umount(QFile::encodeName(root).constData());
        setModes(root, false);
    }
};

long long dataRows(LocalDb& db) {
    Sqlite3Cursor c = db.db().queryThrow("select count(*) from data");
    return c.moveNext() ? c.getInt64(0) : -1;
}

QMap<QString, pim::_Contact> storedByName(LocalDb& db) {
    QMap<QString, pim::_Contact> out;
    for (const pim::_Contact& c : db.contacts())
        out.insert(c.fullName, db.contact(c._id));
    return out;
}

// data2 (label code) of the entity of a type whose data1 is the value; -1 when absent.
int labelOf(const pim::_Contact& c, int type, const QString& value) {
    for (const pim::Entity& e : c.entities.value(type)) {
        if (e.text("data1") == value)
            return e.fields.value("data2").toInt();
    }
    return -1;
}

QString eventDay(const pim::_Contact& c, int label) {
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_EVENT)) {
        if (e.fields.value("data2").toInt() == label)
            return e.text("data1").left(10);
    }
    return QString();
}

void checkPhoneContacts(LocalDb& db) {
    const QMap<QString, pim::_Contact> all = storedByName(db);
    EXPECT_EQ(all.keys(), (QStringList{"+44 20 7946 0000", "ACME Corp.", "Anna Berg", "Carl Diaz",
                                       "Dora Eck", "Pizza Pronto", "someone@example.org"}));
    const pim::_Contact anna = all.value("Anna Berg");
    EXPECT_EQ(eventDay(anna, 3), QString("1985-06-01"));
    EXPECT_EQ(eventDay(anna, 1), QString("1999-08-14"));
    EXPECT_EQ(eventDay(anna, 0), QString("1970-01-01"));
    EXPECT_EQ(labelOf(anna, pim::ENTITY_PHONE, "+46 70 123 45 67"), 2);
    EXPECT_EQ(labelOf(anna, pim::ENTITY_PHONE, "+46 8 555 000"), 2);  // no label: mobile
    EXPECT_EQ(labelOf(anna, pim::ENTITY_EMAIL, "anna@home.example"), 1);
    EXPECT_EQ(labelOf(anna, pim::ENTITY_URL, "https://anna.example"), 1);
    EXPECT_EQ(labelOf(anna, pim::ENTITY_REL, "Eva Berg"), 8);
    EXPECT_EQ(labelOf(anna, pim::ENTITY_IM, "anna.berg"), 1);
    EXPECT_EQ(labelOf(anna, pim::ENTITY_ADDR, "Storgatan 1\nStockholm, 111 22\nSweden"), 2)
        << anna.entities.value(pim::ENTITY_ADDR).value(0).text("data1").toStdString();
    ASSERT_EQ(anna.entities.value(pim::ENTITY_PHOTO).size(), 1);
    EXPECT_EQ(anna.entities.value(pim::ENTITY_PHOTO)[0].fields.value("data15").toByteArray(),
              image('A', 300));

    const pim::_Contact carl = all.value("Carl Diaz");
    EXPECT_EQ(eventDay(carl, 3), QString("1604-03-15"));
    EXPECT_EQ(labelOf(carl, pim::ENTITY_PHONE, "+1 212 555 0101"), 3);
    EXPECT_EQ(labelOf(carl, pim::ENTITY_EMAIL, "carl@example.com"), 1);  // no label
    EXPECT_EQ(labelOf(carl, pim::ENTITY_IM, "carl@jabber.example"), 1);  // label row gone
    ASSERT_EQ(carl.entities.value(pim::ENTITY_PHOTO).size(), 1);         // the larger thumbnail
    EXPECT_EQ(carl.entities.value(pim::ENTITY_PHOTO)[0].fields.value("data15").toByteArray(),
              image('B', 90));

    // Nameless contacts keep their own details: no company's name overwrote another's.
    EXPECT_EQ(all.value("ACME Corp.").entities.value(pim::ENTITY_ORG).value(0).text("data1"),
              QString("ACME Corp."));
    EXPECT_EQ(labelOf(all.value("ACME Corp."), pim::ENTITY_PHONE, "+1 800 555 0199"), 2);
    EXPECT_EQ(labelOf(all.value("Pizza Pronto"), pim::ENTITY_PHONE, "+39 06 555 1234"), 2);
    EXPECT_EQ(labelOf(all.value("+44 20 7946 0000"), pim::ENTITY_PHONE, "+44 20 7946 0000"), 2);
    EXPECT_EQ(labelOf(all.value("someone@example.org"), pim::ENTITY_EMAIL, "someone@example.org"),
              1);
    EXPECT_EQ(all.value("Dora Eck").entities.value(pim::ENTITY_ADDR).size(), 1);
    EXPECT_EQ(all.value("Dora Eck").entities.value(pim::ENTITY_IM).size(), 1);
}

QStringList privateFolders() {
    return QDir(QDir::tempPath())
        .entryList({"tellwick-backup-*"}, QDir::AllEntries | QDir::NoDotAndDotDot);
}

}  // namespace

TEST(PhoneBackup, EveryLayoutImportsWholeOnceFromAReadOnlyFolder) {
    struct Kind {
        BackupBuilder::Layout layout;
        bool encrypted;
        bool dp;
    };
    for (const Kind& k :
         {Kind{BackupBuilder::MBDB, false, false}, Kind{BackupBuilder::MBDB, true, false},
          Kind{BackupBuilder::DB, false, false}, Kind{BackupBuilder::DB, true, true}}) {
        SCOPED_TRACE(
            QString("layout %1 encrypted %2").arg(k.layout).arg(k.encrypted).toStdString());
        QTemporaryDir tmp;
        const QString folder = tmp.filePath("backup");
        BackupBuilder b(folder, k.layout);
        if (k.encrypted)
            b.setEncrypted("1234", k.dp);
        addPhoneAddressBook(b);
        b.build();
        ReadOnlyFolder readOnly(folder);
        const std::string backupBefore = listing(folder);
        const std::string tempBefore = listing(QDir::tempPath(), tmp.path());

        LocalDb db(tmp.filePath("target.db"),
                   QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.create();
        {
            BackupManifest bm(folder);
            bm.readManifestInfo();
            if (k.encrypted) {
                ASSERT_TRUE(bm.setPasscodeNoUIThrow("1234"));
            }
            bm.parseInfo();
            QStringList boxes = import(bm, db);
            EXPECT_EQ(boxes, QStringList{"Successfully imported 7 contacts from iTunes Backup."});
            checkPhoneContacts(db);

            // The same backup again adds nothing.
            const long long rows = dataRows(db);
            boxes = import(bm, db);
            EXPECT_EQ(boxes, QStringList{"Successfully imported 0 contacts from iTunes Backup,with "
                                         "7 repeated contacts merged."});
            EXPECT_EQ(dataRows(db), rows);
            EXPECT_EQ(db.contacts().size(), 7);
            // Only the unlocked backup's own private folder, while it is open.
            EXPECT_EQ(privateFolders().size(), k.dp ? 1 : 0);
        }
        EXPECT_TRUE(privateFolders().isEmpty());
        EXPECT_EQ(listing(QDir::tempPath(), tmp.path()), tempBefore);
        EXPECT_EQ(listing(folder), backupBefore);
    }
}

TEST(PhoneBackup, PhotosWithoutRecordIdIndexesAreTheOnesThePhoneShows) {
    QTemporaryDir tmp;
    const QString folder = tmp.filePath("enc");
    BackupBuilder b(folder, BackupBuilder::DB);
    b.setEncrypted("pw", true);
    addPhoneAddressBook(b, false);
    b.addFile({"HomeDomain", "Library/AddressBook/AddressBookImages.sqlitedb",
               phoneFile(writeUnindexedImages), 3, false});
    b.build();
    LocalDb db(tmp.filePath("target.db"),
               QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    BackupManifest bm(folder);
    bm.readManifestInfo();
    ASSERT_TRUE(bm.setPasscodeNoUIThrow("pw"));
    bm.parseInfo();
    EXPECT_EQ(import(bm, db), QStringList{"Successfully imported 7 contacts from iTunes Backup."});
    const QMap<QString, pim::_Contact> all = storedByName(db);
    for (auto it = all.constBegin(); it != all.constEnd(); ++it) {
        const QList<pim::Entity> photos = it.value().entities.value(pim::ENTITY_PHOTO);
        QByteArray expected;
        if (it.key() == "Anna Berg")
            expected = kLargeImage;
        else if (it.key() == "Carl Diaz")
            expected = image('B', 90);  // the largest thumbnail, the full-size row being empty
        SCOPED_TRACE(it.key().toStdString());
        if (expected.isEmpty()) {
            EXPECT_TRUE(photos.isEmpty());
            continue;
        }
        ASSERT_EQ(photos.size(), 1);
        EXPECT_TRUE(photos[0].fields.value("data15").toByteArray() == expected);
        EXPECT_EQ(photos[0].text("data4"), pim::Entity::photoHash(expected));
    }
}

TEST(PhoneBackup, ErrorsCancelAndDamagedPhotosLeaveNothingDecrypted) {
    QTemporaryDir tmp;
    const std::string tempBefore = listing(QDir::tempPath(), tmp.path());
    LocalDb db(tmp.filePath("target.db"),
               QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    const QString folder = tmp.filePath("enc");
    BackupBuilder b(folder, BackupBuilder::DB);
    b.setEncrypted("pw", true);
    addPhoneAddressBook(b);
    b.build();
    const std::string backupBefore = listing(folder);
    {
        BackupManifest bm(folder);
        bm.readManifestInfo();
        ASSERT_TRUE(bm.setPasscodeNoUIThrow("pw"));
        bm.parseInfo();
        // Cancel before the first person.
        EXPECT_TRUE(import(bm, db, true).isEmpty());
        EXPECT_TRUE(db.contacts().isEmpty());
        EXPECT_EQ(privateFolders().size(), 1);  // the backup's own index copy only

        // A damaged images database costs the photos only, and the closing text says so.
        const QString images = MBDBParser::getBKFilePath(
            QDir(folder), bm.addressBookImagesDb->item.backupFileName(), false);
        const QByteArray good = readFile(images);
        writeFile(images, good.left(good.size() - 5));
        QStringList boxes = import(bm, db);
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(boxes[0].startsWith("Successfully imported 7 contacts from iTunes Backup."))
            << boxes[0].toStdString();
        EXPECT_TRUE(boxes[0].contains("The photos could not be read (")) << boxes[0].toStdString();
        EXPECT_EQ(db.contacts().size(), 7);
        for (const pim::_Contact& c : db.contacts())
            EXPECT_TRUE(db.contact(c._id).entities.value(pim::ENTITY_PHOTO).isEmpty());
        // A missing images file: the same.
        QFile::remove(images);
        boxes = import(bm, db);
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(boxes[0].contains("The photos could not be read")) << boxes[0].toStdString();
        writeFile(images, good);

        // An address book that does not decrypt: an error naming the file, nothing imported.
        const QString book =
            MBDBParser::getBKFilePath(QDir(folder), bm.addressBookDb->item.backupFileName(), false);
        writeFile(book, readFile(book).left(1000) + "x");
        LocalDb other(tmp.filePath("other.db"),
                      QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        other.create();
        boxes = import(bm, other);
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(boxes[0].contains(book)) << boxes[0].toStdString();
        EXPECT_TRUE(other.contacts().isEmpty());
        EXPECT_EQ(privateFolders().size(), 1);
    }
    EXPECT_TRUE(privateFolders().isEmpty());
    EXPECT_EQ(listing(QDir::tempPath(), tmp.path()), tempBefore);
    // The test's own damage aside (sizes and times), nothing new in the backup folder.
    const std::string after = listing(folder);
    EXPECT_EQ(std::count(backupBefore.begin(), backupBefore.end(), '\n'),
              std::count(after.begin(), after.end(), '\n'));
}

TEST(PhoneBackup, CutShortIndexNamesTheRecord) {
    QTemporaryDir tmp;
    BackupBuilder b(tmp.path(), BackupBuilder::MBDB);
    b.addFile({"HomeDomain", "Library/one", "1", 3, false});
    b.addFile({"HomeDomain", "Library/two", "2", 3, false});
    b.build();
    const QString index = QDir(tmp.path()).absoluteFilePath("Manifest.mbdb");
    writeFile(index, readFile(index).left(readFile(index).size() - 10));
    BackupManifest bm(tmp.path());
    bm.readManifestInfo();
    try {
        bm.parseInfo();
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Manifest.mbdb is damaged: record 2 is cut short");
    }
}

namespace {

// Files may grow to `bytes` only while it lives: writes beyond fail with the system's "File
// too large", as on a full disk.
struct FileSizeLimit {
    struct rlimit old;
    explicit FileSizeLimit(rlim_t bytes) {
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit l = old;
        l.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
};

std::string failure(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<no exception>";
}

}  // namespace

TEST(BackupCopy, AFailingWriteReportsTheSystemAndLeavesNoPartialFile) {
    QTemporaryDir tmp;
    QByteArray big;
    for (int i = 0; i < 300000; ++i)
        big += char(i * 13);
    for (bool encrypted : {false, true}) {
        const QString folder = tmp.filePath(encrypted ? "enc" : "plain");
        BackupBuilder b(folder, BackupBuilder::DB);
        if (encrypted)
            b.setEncrypted("pw", true);
        b.addFile({"HomeDomain", "Library/big.bin", big, 3, false});
        b.build();
        BackupManifest bm(folder);
        bm.readManifestInfo();
        if (encrypted) {
            ASSERT_TRUE(bm.setPasscodeNoUIThrow("pw"));
        }
        bm.parseInfo();
        const MBDBParser::_MBDBItem item =
            bm.items.value(MBDBParser::getFileHashName("HomeDomain", "Library/big.bin"));
        const QString dest = tmp.filePath("out.bin");
        {
            FileSizeLimit limit(64 * 1024);
            const std::string text =
                failure([&] { bm.copyItemThrow(item, dest, nullptr, nullptr); });
            EXPECT_EQ(text.rfind("can not write " + dest.toStdString() + ". ", 0), 0u) << text;
            EXPECT_NE(text.find("too large"), std::string::npos) << text;
        }
        EXPECT_FALSE(QFile::exists(dest));

        // A small file system of its own where the system allows mounting one.
        const QString small = tmp.filePath("small");
        QDir().mkpath(small);
        const bool mounted =
            geteuid() == 0 && mount("tmpfs", QFile::encodeName(small), "tmpfs", 0, "size=64k") == 0;
        if (mounted) {
            const QString onSmall = QDir(small).absoluteFilePath("out.bin");
            const std::string text =
                failure([&] { bm.copyItemThrow(item, onSmall, nullptr, nullptr); });
            EXPECT_NE(text.find("No space left on device"), std::string::npos) << text;
            EXPECT_FALSE(QFile::exists(onSmall));
            umount(QFile::encodeName(small));
        }
        bm.copyItemThrow(item, dest, nullptr, nullptr);
        EXPECT_EQ(readFile(dest), big);
        QFile::remove(dest);
    }

    // The cipher object reports a device that refuses the bytes (only the real device: never
    // make a file of that name).
    struct stat st;
    QFile full("/dev/full");
    if (stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode) &&
        full.open(QIODevice::WriteOnly | QIODevice::ExistingOnly)) {
        QByteArray plain(50000, 'p');
        QBuffer in(&plain);
        in.open(QIODevice::ReadOnly);
        QOpenSSLEVPAES aes;
        ASSERT_TRUE(aes.init(QOpenSSLEVPAES::cbcForKey(32), QByteArray(32, 'k'),
                             QByteArray(16, '\0'), true));
        const bool failed = aes.updateAll(&in, &full, 8192) < 0 || aes.finalAll(&full, 8192) < 0;
        EXPECT_TRUE(failed);
        EXPECT_TRUE(aes.errorString.contains("No space left on device"))
            << aes.errorString.toStdString();
    }
}

TEST(PrivateTemp, FoldersArePrivateAndStaleOnesGoAtStart) {
    QString path;
    {
        BackupTempDir dir;
        path = dir.path();
        struct stat st;
        ASSERT_EQ(stat(QFile::encodeName(path), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        QFile f(dir.filePath("x"));
        EXPECT_TRUE(g_openPrivateFile(f).isEmpty());
        f.write("secret");
        f.close();
        ASSERT_EQ(stat(QFile::encodeName(dir.filePath("x")), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    EXPECT_FALSE(QFileInfo::exists(path));

    // A process that ended: its folder is stale. A running one's stays, as does our own.
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    const QDir temp(QDir::tempPath());
    const QString stale = temp.absoluteFilePath(QString("tellwick-backup-%1-abcdef").arg(child));
    const QString running =
        temp.absoluteFilePath(QString("tellwick-backup-%1-abcdef").arg(getppid()));
    ASSERT_TRUE(QDir().mkpath(stale + "/sub"));
    writeFile(stale + "/sub/AddressBook.sqlitedb", "decrypted");
    ASSERT_TRUE(QDir().mkpath(running));
    BackupTempDir mine;
    g_removeStaleBackupTempDirs();
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(running));
    EXPECT_TRUE(QFileInfo::exists(mine.path()));
    QDir(running).removeRecursively();
}
