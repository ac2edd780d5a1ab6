// Backup shapes that readers of phone backups meet: write-ahead logs left empty by a checkpoint
// (listed with no data file, or an empty one that no cipher takes), rollback journals of a
// backup caught in the middle of a change, backups that did not run to their end, address books
// without a contact, the same backup imported again; plain and encrypted, imported into a real
// LocalDb, with nothing decrypted left behind.
#include "backup_fixture.h"
#include "backup/backupmanifest.h"
#include "backup/importcontactsfromitunesthread.h"
#include "backup/loaditunesbackupdlg.h"

#include "tests/messageboxhook.h"
#include "ui/progressform.h"

#include "store/combinerule.h"
#include "store/localdb.h"
#include "platform/sqlite/sqlite3db.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace fixture;

namespace {

const QString kDir = QStringLiteral("Library/AddressBook/");

const char kXmlStatus[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n<dict>\n"
    "\t<key>BackupState</key>\n\t<string>new</string>\n"
    "\t<key>Date</key>\n\t<date>2024-05-01T10:00:00Z</date>\n"
    "\t<key>IsFullBackup</key>\n\t<false/>\n"
    "\t<key>SnapshotState</key>\n\t<string>uploading</string>\n"
    "\t<key>UUID</key>\n\t<string>6F1C2A4E-8B0D-4C3A-9E55-2D7B1A0C9F31</string>\n"
    "\t<key>Version</key>\n\t<string>3.3</string>\n"
    "</dict>\n</plist>\n";

struct Kind {
    BackupBuilder::Layout layout;
    bool encrypted;
    bool dp;
};
const Kind kKinds[] = {Kind{BackupBuilder::MBDB, false, false},
                       Kind{BackupBuilder::MBDB, true, false},
                       Kind{BackupBuilder::DB, false, false}, Kind{BackupBuilder::DB, true, true}};

std::string name(const Kind& k) {
    return QString("layout %1 encrypted %2").arg(k.layout).arg(k.encrypted).toStdString();
}

struct Outcome {
    QStringList boxes;
    int result = -1;
};

Outcome import(BackupManifest& bm, LocalDb& db) {
    Outcome out;
    g_setMessageBoxHook([&out](QMessageBox& box) {
        out.boxes << box.text();
        return int(QMessageBox::Ok);
    });
    ProgressForm form{QString()};
    ImportContactsFromiTunesThread worker(bm, &db, &form);
    worker.start(QThread::InheritPriority);
    out.result = form.exec();
    worker.wait();
    g_setMessageBoxHook(MessageBoxHook());
    return out;
}

QStringList privateFolders() {
    return QDir(QDir::tempPath())
        .entryList({"tellwick-backup-*"}, QDir::AllEntries | QDir::NoDotAndDotDot);
}

// Each contact's name with its number of photos.
QMap<QString, int> photosByName(LocalDb& db) {
    QMap<QString, int> out;
    for (const pim::_Contact& c : db.contacts())
        out.insert(c.fullName, db.contact(c._id).entities.value(pim::ENTITY_PHOTO).size());
    return out;
}

// The data file of a backed-up file in the folder.
QString dataFile(const QString& folder, BackupBuilder::Layout layout, const QString& path) {
    const QString id = QString::fromLatin1(
        QCryptographicHash::hash(("HomeDomain-" + path).toUtf8(), QCryptographicHash::Sha1)
            .toHex());
    return QDir(folder).absoluteFilePath(layout == BackupBuilder::DB ? id.left(2) + "/" + id : id);
}

// Every row of the target database, in row order.
QStringList dump(LocalDb& db) {
    QStringList out;
    for (const char* table : {"contact", "data", "contact_group"}) {
        Sqlite3Cursor c =
            db.db().queryThrow(QStringLiteral("select * from %1 order by _id").arg(table));
        while (c.moveNext()) {
            QStringList cells{QLatin1String(table)};
            for (int i = 0; i < c.columnCount(); ++i)
                cells << (c.isNull(i) ? QStringLiteral("NULL") : c.getText(i));
            out << cells.join('|');
        }
    }
    return out;
}

// Builds, unlocks and imports one backup into a fresh database.
struct ShapedBackup {
    QTemporaryDir tmp;
    QString folder = tmp.filePath("backup");
    BackupBuilder builder;
    LocalDb db{tmp.filePath("target.db"),
               QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)};
    explicit ShapedBackup(const Kind& k) : builder(folder, k.layout) {
        if (k.encrypted)
            builder.setEncrypted("1234", k.dp);
        // As a backup that ran to its end says.
        builder.setSnapshotState("finished");
        db.create();
    }
    // As the main window does: the password asked only of a backup that says it is encrypted,
    // a failure before the import shown as an error.
    Outcome import(const Kind&) {
        BackupManifest bm(folder);
        try {
            bm.readManifestInfo();
            if (bm.info.isEncrypted && !bm.setPasscodeNoUIThrow("1234"))
                return Outcome();
            bm.parseInfo();
        } catch (const std::exception& e) {
            Outcome out;
            out.boxes << QString::fromUtf8(e.what());
            return out;
        }
        return ::import(bm, db);
    }
};

}  // namespace

// A log of no bytes adds nothing and stops nothing, whether it is listed without a data file
// or lies there empty (which no cipher would take). (One that holds bytes that do not decrypt
// still stops the import: LinkedAddressBook.ALogThatCannotBeCopiedStopsTheImport.)
TEST(BackupShapes, EmptyLogsAddNothingAndStopNothing) {
    const PhoneAddressBook book = linkedAddressBook(PhoneSchema::iOS17, false);
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(name(k));
        const QStringList before = privateFolders();
        ShapedBackup whole(k);
        whole.builder.addLinkedAddressBook(PhoneSchema::iOS17, false);
        whole.builder.build();
        ASSERT_EQ(whole.import(k).result, 1);
        const QMap<QString, int> expected = photosByName(whole.db);
        ASSERT_EQ(expected.size(), kLinkedContacts);
        ASSERT_GE(std::count_if(expected.begin(), expected.end(), [](int n) { return n > 0; }), 2);

        for (File::Data bookLog : {File::Empty, File::Missing}) {
            SCOPED_TRACE(bookLog);
            ShapedBackup run(k);
            run.builder.addFile({"HomeDomain", kDir + "AddressBook.sqlitedb", book.book});
            run.builder.addFile({"HomeDomain", kDir + "AddressBookImages.sqlitedb", book.images});
            run.builder.addFile(
                {"HomeDomain", kDir + "AddressBook.sqlitedb-wal", QByteArray(), 3, false, bookLog});
            run.builder.addFile({"HomeDomain", kDir + "AddressBookImages.sqlitedb-wal",
                                 QByteArray(), 3, false,
                                 bookLog == File::Empty ? File::Missing : File::Empty});
            run.builder.build();
            const Outcome out = run.import(k);
            EXPECT_EQ(out.result, 1);
            EXPECT_EQ(out.boxes, QStringList{QString("Successfully imported %1 contacts from "
                                                     "iTunes Backup.")
                                                 .arg(kLinkedContacts)});
            EXPECT_EQ(photosByName(run.db), expected);
        }

        EXPECT_EQ(privateFolders(), before);
    }
}

// A backup that did not run to its end is named so, with the next step first; photos missing
// from one cost the photos only, and say why.
TEST(BackupShapes, AnUnfinishedBackupIsNamedWithTheNextStep) {
    const PhoneAddressBook book = linkedAddressBook(PhoneSchema::iOS16, true);
    const QString next =
        "This backup is unfinished: it did not run to its end, so contacts "
        "could be missing. Make a complete backup of the phone, keeping the "
        "phone connected until the backup ends, and import that one. (";
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(name(k));
        const QStringList before = privateFolders();
        {
            // Status.plist says so, though every file is there.
            ShapedBackup run(k);
            run.builder.addLinkedAddressBook(PhoneSchema::iOS16, true);
            run.builder.setSnapshotState("uploading");
            run.builder.build();
            if (!k.encrypted) {
                // Written by hand as the desktop application's XML form, not by our writer.
                writeFile(QDir(run.folder).absoluteFilePath("Status.plist"), kXmlStatus);
            }
            const Outcome out = run.import(k);
            EXPECT_NE(out.result, 1);
            ASSERT_EQ(out.boxes.size(), 1);
            EXPECT_TRUE(out.boxes[0].contains(next)) << out.boxes[0].toStdString();
            EXPECT_TRUE(out.boxes[0].contains("uploading")) << out.boxes[0].toStdString();
            EXPECT_TRUE(run.db.contacts().isEmpty());
        }
        for (const char* missing : {"AddressBook.sqlitedb", "AddressBook.sqlitedb-wal"}) {
            SCOPED_TRACE(missing);
            // Listed, never written: the index was saved, the copy was cut off.
            ShapedBackup run(k);
            for (const auto& f : {qMakePair(QString("AddressBook.sqlitedb"), book.book),
                                  qMakePair(QString("AddressBook.sqlitedb-wal"), book.bookWal)})
                run.builder.addFile({"HomeDomain", kDir + f.first, f.second, 3, false,
                                     f.first == missing ? File::Missing : File::Written});
            run.builder.build();
            const Outcome out = run.import(k);
            EXPECT_NE(out.result, 1);
            ASSERT_EQ(out.boxes.size(), 1);
            EXPECT_TRUE(out.boxes[0].contains(next)) << out.boxes[0].toStdString();
            EXPECT_TRUE(out.boxes[0].contains(
                QString("It lists %1, but its file %2 is missing.")
                    .arg(kDir + missing, dataFile(run.folder, k.layout, kDir + missing))))
                << out.boxes[0].toStdString();
            EXPECT_TRUE(run.db.contacts().isEmpty());
        }
        {
            ShapedBackup run(k);
            run.builder.addFile({"HomeDomain", kDir + "AddressBook.sqlitedb", book.book});
            run.builder.addFile({"HomeDomain", kDir + "AddressBook.sqlitedb-wal", book.bookWal});
            run.builder.addFile({"HomeDomain", kDir + "AddressBookImages.sqlitedb", book.images, 3,
                                 false, File::Missing});
            run.builder.build();
            const Outcome out = run.import(k);
            EXPECT_EQ(out.result, 1);
            ASSERT_EQ(out.boxes.size(), 1);
            EXPECT_TRUE(out.boxes[0].startsWith(
                QString("Successfully imported %1 contacts").arg(kLinkedContacts)));
            EXPECT_TRUE(out.boxes[0].contains("this backup is unfinished"))
                << out.boxes[0].toStdString();
            EXPECT_EQ(run.db.contacts().size(), kLinkedContacts);
        }
        EXPECT_EQ(privateFolders(), before);
    }
}

// An address book without a contact (the phone keeps them in iCloud) says so, and leaves the
// target as it was.
TEST(BackupShapes, AnAddressBookWithoutContactsSaysSo) {
    QTemporaryDir tmp;
    const QString source = tmp.filePath("nobody.sqlitedb");
    writeFile(source, linkedAddressBook(PhoneSchema::iOS17, false).book);
    runSql(source, "delete from ABPerson; delete from ABMultiValue;");
    const QByteArray nobody = readFile(source);
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(name(k));
        ShapedBackup run(k);
        run.builder.addFile({"HomeDomain", kDir + "AddressBook.sqlitedb", nobody});
        run.builder.build();
        const Outcome out = run.import(k);
        EXPECT_NE(out.result, 1);
        ASSERT_EQ(out.boxes.size(), 1);
        EXPECT_TRUE(out.boxes[0].contains(
            "The address book of this backup holds no contact, so nothing was imported. Contacts "
            "kept in iCloud are not in a phone's backup: only those kept on the phone are."))
            << out.boxes[0].toStdString();
        EXPECT_TRUE(run.db.contacts().isEmpty());
    }
}

namespace {

// The address book and its images with their journals (no journal for empty bytes).
void addJournalled(BackupBuilder& b, const QByteArray& book, const QByteArray& bookJournal,
                   File::Data journalData, const QByteArray& images,
                   const QByteArray& imagesJournal) {
    b.addFile({"HomeDomain", kDir + "AddressBook.sqlitedb", book});
    if (!bookJournal.isEmpty() || journalData != File::Written)
        b.addFile({"HomeDomain", kDir + "AddressBook.sqlitedb-journal", bookJournal, 3, false,
                   journalData});
    b.addFile({"HomeDomain", kDir + "AddressBookImages.sqlitedb", images});
    if (!imagesJournal.isEmpty())
        b.addFile({"HomeDomain", kDir + "AddressBookImages.sqlitedb-journal", imagesJournal});
}

// The rows of a fresh database after importing the address book and images alone.
QStringList importedRows(const QByteArray& book, const QByteArray& images) {
    const Kind plain{BackupBuilder::MBDB, false, false};
    ShapedBackup run(plain);
    addJournalled(run.builder, book, QByteArray(), File::Written, images, QByteArray());
    run.builder.build();
    EXPECT_EQ(run.import(plain).result, 1);
    return dump(run.db);
}

int halfWritten(const QByteArray& book) {
    QTemporaryDir tmp;
    writeFile(tmp.filePath("alone.sqlitedb"), book);
    Sqlite3DB db;
    db.openThrow(tmp.filePath("alone.sqlitedb"), 2);
    Sqlite3Cursor c = db.queryThrow("select count(*) from ABPerson where First = 'Half Written'");
    return c.moveNext() ? c.getInt(0) : -1;
}

}  // namespace

// A journal beside the address book is taken with it, so that SQLite reads what the phone
// committed: a hot one (a backup caught in the middle of a change) is rolled back, a kept or
// empty one undoes nothing, and one that cannot be read stops the import with words.
TEST(BackupShapes, TheAddressBookComesWithItsJournal) {
    const JournalledAddressBook ab = journalledAddressBook();
    // The database alone holds half the change: only its journal gives what the phone committed.
    ASSERT_EQ(halfWritten(ab.midChangeBook), 9);
    const QStringList committed = importedRows(ab.book, ab.images);
    const QStringList changed = importedRows(ab.changedBook, ab.images);
    ASSERT_NE(committed, changed);
    ASSERT_TRUE(committed.filter("Half Written").isEmpty());
    const QString imported =
        QString("Successfully imported %1 contacts from iTunes Backup.").arg(kJournalledPersons);

    enum Expect { Committed, Changed, Stops };
    struct Case {
        const char* what;
        QByteArray book, journal;
        File::Data journalData;
        QByteArray images, imagesJournal;
        bool damageJournal;  // its data file replaced by bytes that are no ciphertext of it
        Expect expect;
        QString text;
    };
    const Case cases[] = {
        {"caught in the middle of a change", ab.midChangeBook, ab.midChangeBookJournal,
         File::Written, ab.midChangeImages, ab.midChangeImagesJournal, false, Committed, imported},
        // 59 persons, 10 deleted and 120 added.
        {"the journal kept after the commit", ab.changedBook, ab.keptJournal, File::Written,
         ab.images, QByteArray(), false, Changed,
         "Successfully imported 169 contacts from iTunes Backup."},
        {"the journal emptied by the commit", ab.book, QByteArray(), File::Empty, ab.images,
         QByteArray(), false, Committed, imported},
        {"the journal listed without a file", ab.book, QByteArray(), File::Missing, ab.images,
         QByteArray(), false, Committed, imported},
        {"a journal listed whose file is missing", ab.midChangeBook, ab.midChangeBookJournal,
         File::Missing, ab.images, QByteArray(), false, Stops,
         "It lists Library/AddressBook/AddressBook.sqlitedb-journal, but its file "},
        {"a journal that does not decrypt", ab.midChangeBook, ab.midChangeBookJournal,
         File::Written, ab.images, QByteArray(), true, Stops,
         "The journal of the address book of this backup "
         "(Library/AddressBook/AddressBook.sqlitedb-journal) cannot be read. When a backup is "
         "taken in the middle of a change, the journal holds what undoes it, so without it "
         "contacts could be missing or wrong. Make a new backup of the phone and import that "
         "one. ("},
    };
    for (const Kind& k : kKinds) {
        const QStringList before = privateFolders();
        for (const Case& c : cases) {
            SCOPED_TRACE(name(k) + ", " + c.what);
            if (c.damageJournal && !k.encrypted)
                continue;
            ShapedBackup run(k);
            addJournalled(run.builder, c.book, c.journal, c.journalData, c.images, c.imagesJournal);
            run.builder.build();
            const QString journalFile =
                dataFile(run.folder, k.layout, kDir + "AddressBook.sqlitedb-journal");
            if (c.damageJournal)
                writeFile(journalFile, QByteArray(33, 'x'));
            const QByteArray journalBefore = readFile(journalFile);

            const Outcome out = run.import(k);
            ASSERT_EQ(out.boxes.size(), 1);
            EXPECT_TRUE(out.boxes[0].contains(c.text)) << out.boxes[0].toStdString();
            if (c.expect == Stops) {
                EXPECT_NE(out.result, 1);
                EXPECT_TRUE(dump(run.db).isEmpty());
            } else {
                EXPECT_EQ(out.result, 1);
                EXPECT_EQ(dump(run.db), c.expect == Changed ? changed : committed);
            }
            // The copy was rolled back, never the backup's own file.
            EXPECT_EQ(readFile(journalFile), journalBefore);
        }
        EXPECT_EQ(privateFolders(), before);
    }
}

// Importing the same backup again changes nothing, for persons of every shape: those without a
// name, company, e-mail address or number are known again by the values they have, two people
// with the same values stay two, and every value comes in.
TEST(BackupShapes, TheSameBackupAgainChangesNothing) {
    const JournalledAddressBook ab = journalledAddressBook();
    // Rows of the data table that the first import must have made: type, column, value, count.
    struct Held {
        int type;
        const char* column;
        const char* value;
        int count;
    };
    const Held held[] = {
        {pim::ENTITY_NAME, "data7", "Taro", 1},
        {pim::ENTITY_NAME, "data8", "Yamada", 1},
        {pim::ENTITY_NAME, "data7", "Ana", 1},
        {pim::ENTITY_ADDR, "data4", "Hauptstrasse 5", 1},
        {pim::ENTITY_NOTES, "data1", "Gate code 4711", 2},
        {pim::ENTITY_NOTES, "data1", "Gate code 4712", 1},
        {pim::ENTITY_URL, "data1", "https://only-a-link.example", 1},
        {pim::ENTITY_NICKNAME, "data1", "Bobby", 1},
        {pim::ENTITY_IM, "data1", "someone@jabber.example", 1},
        {pim::ENTITY_REL, "data1", "Maria Keller", 1},
        {pim::ENTITY_ORG, "data5", "Night Shift", 1},
        {pim::ENTITY_PHONE, "data1", "+1 555 1001", 1},
        {pim::ENTITY_PHONE, "data1", "+1 555 2002", 1},
    };
    // Caught in the middle of a change: the journal's rollback must give the same rows again.
    const Kind k = kKinds[0];
    ShapedBackup run(k);
    addJournalled(run.builder, ab.midChangeBook, ab.midChangeBookJournal, File::Written,
                  ab.midChangeImages, ab.midChangeImagesJournal);
    run.builder.build();
    EXPECT_EQ(run.import(k).boxes,
              QStringList{QString("Successfully imported %1 contacts from iTunes Backup.")
                              .arg(kJournalledPersons)});
    for (const Held& h : held) {
        SCOPED_TRACE(h.value);
        Sqlite3Sql sql(QStringLiteral("select count(*) from data where type = ? and %1 = ?")
                           .arg(QLatin1String(h.column)));
        sql.addIntParam(h.type);
        sql.addTextParam(QLatin1String(h.value));
        Sqlite3Cursor n = run.db.db().queryThrow(sql);
        ASSERT_TRUE(n.moveNext());
        EXPECT_EQ(n.getInt(0), h.count);
    }
    // The person with nothing but a photo has it.
    Sqlite3Cursor photos = run.db.db().queryThrow(
        "select count(*) from data as d join contact as c on c._id = d.contact_id "
        "where d.type = 2 and c.full_name = ''");
    ASSERT_TRUE(photos.moveNext());
    EXPECT_EQ(photos.getInt(0), 1);

    const QStringList rows = dump(run.db);
    for (int again = 2; again <= 3; ++again) {
        SCOPED_TRACE(again);
        EXPECT_EQ(run.import(k).boxes,
                  QStringList{QString("Successfully imported 0 contacts from iTunes Backup,with "
                                      "%1 repeated contacts merged.")
                                  .arg(kJournalledPersons)});
        EXPECT_EQ(dump(run.db), rows);
    }
}

// Each backup imports every contact or ends in words naming its true cause with nothing stored:
// an index read with the log a tool left beside it, an encrypted file never read as plain, a
// Manifest.plist that says nothing never taken for "unencrypted". The backup folder is only
// read, and nothing decrypted stays behind.
TEST(BackupShapes, EachBackupImportsWholeOrNamesItsCause) {
    const QString imported =
        QString("Successfully imported %1 contacts from iTunes Backup.").arg(kLinkedContacts);
    const QString book = "Library/AddressBook/AddressBook.sqlitedb (HomeDomain)";
    const QString newBackup = " Make a new encrypted backup of the phone and import that one.";
    enum Applies { PlainIndex, Plain, Encrypted, EncryptedIndex };
    struct Case {
        const char* what;
        Applies applies;
        bool indexInLog;
        File::Damage damage;    // of the address book
        const char* emptyFile;  // left with no bytes after the build
        QString text;           // the success, or what the failure says
    };
    const Case cases[] = {
        {"the index's records in its log only", PlainIndex, true, File::Whole, "", imported},
        {"a log of no bytes beside the index", PlainIndex, false, File::Whole, "Manifest.db-wal",
         imported},
        {"a file key that does not unwrap", Encrypted, false, File::KeyDoesNotUnwrap, "",
         "This backup may be damaged: the key of " + book +
             " does not open with the backup's keys, so the file cannot be decrypted." + newBackup},
        {"a record without a key", Encrypted, false, File::NoKey, "",
         "This backup may be damaged: its index holds no key for " + book +
             ", so the file cannot be decrypted." + newBackup},
        {"an index record that does not decrypt", EncryptedIndex, false, File::RecordDoesNotDecrypt,
         "",
         "This backup may be damaged: the record of " + book +
             " in its index (Manifest.db) does not decrypt with the backup's password, so the "
             "file cannot be read." +
             newBackup + " ("},
        {"a Manifest.plist of no bytes, plain", Plain, false, File::Whole, "Manifest.plist",
         imported},
        {"a Manifest.plist of no bytes, encrypted", Encrypted, false, File::Whole, "Manifest.plist",
         "The backup's Manifest.plist is empty or damaged, and the backup looks encrypted, so it "
         "cannot be read: Manifest.plist tells whether a backup is encrypted and holds the keys "
         "that open it. Make a new backup of the phone and import that one. ("},
    };
    const PhoneAddressBook ab = linkedAddressBook(PhoneSchema::iOS17, true);
    for (const Kind& k : kKinds) {
        const QStringList before = privateFolders();
        for (const Case& c : cases) {
            const bool index = k.layout == BackupBuilder::DB;
            const bool applies[] = {index && !k.dp, !k.encrypted, k.encrypted,
                                    index && k.encrypted};
            if (!applies[c.applies])
                continue;
            SCOPED_TRACE(name(k) + ", " + c.what);
            ShapedBackup run(k);
            run.builder.setIndexInLog(c.indexInLog);
            if (c.damage == File::RecordDoesNotDecrypt)
                run.builder.setDescriptorSalt("pepper");
            run.builder.addFile({"HomeDomain", kDir + "AddressBook.sqlitedb", ab.book, 3, false,
                                 File::Written, c.damage});
            run.builder.addFile({"HomeDomain", kDir + "AddressBook.sqlitedb-wal", ab.bookWal});
            run.builder.addFile({"HomeDomain", kDir + "AddressBookImages.sqlitedb", ab.images});
            run.builder.build();
            const QDir folder(run.folder);
            if (c.indexInLog) {
                // As SQLite reads the index alone, it lists no file.
                Sqlite3DB alone;
                alone.openThrow("file:" + folder.absoluteFilePath("Manifest.db") + "?immutable=1",
                                SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
                Sqlite3Cursor files = alone.queryThrow("select count(*) from Files");
                ASSERT_TRUE(files.moveNext());
                ASSERT_EQ(files.getInt(0), 0);
            }
            if (*c.emptyFile)
                writeFile(folder.absoluteFilePath(c.emptyFile), QByteArray());
            const std::string folderBefore = listing(run.folder);

            const Outcome out = run.import(k);
            ASSERT_EQ(out.boxes.size(), 1);
            EXPECT_TRUE(out.boxes[0].contains(c.text)) << out.boxes[0].toStdString();
            // (Read through the store first: a failure before the import left it unopened.)
            EXPECT_EQ(run.db.contacts().size(), c.text == imported ? kLinkedContacts : 0);
            if (c.text != imported) {
                EXPECT_TRUE(dump(run.db).isEmpty());
            }
            EXPECT_EQ(listing(run.folder), folderBefore);
        }
        EXPECT_EQ(privateFolders(), before);
    }
}

namespace {

// Ends the run when the work it guards stalls (a read that waits for ever on a pipe, a copy of
// a device that never ends): the limit is far beyond the milliseconds the work takes.
class StallGuard {
public:
    explicit StallGuard(const std::string& what)
        : m_thread([this, what] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (!m_done.wait_for(lock, std::chrono::seconds(10), [this] { return m_over; })) {
                  std::fprintf(stderr, "stalled for 10 s: %s\n", what.c_str());
                  std::_Exit(1);
              }
          }) {}
    ~StallGuard() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_over = true;
        }
        m_done.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_over = false;
    std::thread m_thread;
};

// Puts something that is no regular file where a file was.
void replaceWith(const QString& path, bool pipe) {
    QFile::remove(path);
    const QByteArray name = QFile::encodeName(path);
    ASSERT_EQ(pipe ? mkfifo(name.constData(), 0600) : symlink("/dev/zero", name.constData()), 0);
}

}  // namespace

// Each file of a backup is read as what its index says it is: the index with the hot journal
// a crashed tool left beside it; a log or journal listed with bytes that lies empty as lost, not
// empty (the contacts of a lost log said missing, a lost journal's half-made change never
// stored); a device or pipe in place of a data file refused at once. The backup folder is only
// read, and nothing decrypted stays behind.
TEST(BackupShapes, EachFileIsReadAsWhatTheIndexSaysItIs) {
    const PhoneAddressBook linked = linkedAddressBook(PhoneSchema::iOS17, true);
    const JournalledAddressBook journalled = journalledAddressBook();
    const QString imported =
        QString("Successfully imported %1 contacts from iTunes Backup.").arg(kLinkedContacts);
    const QString notRegular =
        "This backup cannot be read: the data file of Library/AddressBook/AddressBook.sqlitedb "
        "(HomeDomain), %1 is not a regular file (it is %2). Only regular files of a backup are "
        "read: make a new backup of the phone and import that one.";
    enum Laid { HotIndexJournal, EmptyLog, EmptyJournal, LinkToZero, Pipe };
    struct Case {
        const char* what;
        Laid laid;
        QString text;  // the success, or what the failure says
        int contacts;
    };
    const Case cases[] = {
        {"a hot journal beside the index", HotIndexJournal, imported, kLinkedContacts},
        // "Late Addition" is in the log only; the other logged card joins "Wen Li".
        {"the address book's log listed with bytes, lying empty", EmptyLog,
         QString("Successfully imported %1 contacts from iTunes Backup.\nThe latest changes to "
                 "the address book are missing, so contacts may be missing: they are in its log "
                 "(Library/AddressBook/AddressBook.sqlitedb-wal), whose bytes this backup has "
                 "lost.")
             .arg(kLinkedContacts - 1),
         kLinkedContacts - 1},
        {"its journal listed with bytes, lying empty", EmptyJournal,
         "The journal of the address book of this backup "
         "(Library/AddressBook/AddressBook.sqlitedb-journal) cannot be read.",
         0},
        {"its data file a link to /dev/zero", LinkToZero, notRegular, 0},
        {"its data file a named pipe", Pipe, notRegular, 0},
    };
    for (const Kind& k : kKinds) {
        const QStringList before = privateFolders();
        for (const Case& c : cases) {
            if (c.laid == HotIndexJournal && (k.layout != BackupBuilder::DB || k.dp))
                continue;
            SCOPED_TRACE(name(k) + ", " + c.what);
            ShapedBackup run(k);
            if (c.laid == EmptyJournal) {
                addJournalled(run.builder, journalled.midChangeBook,
                              journalled.midChangeBookJournal, File::Empty, journalled.images,
                              QByteArray());
            } else {
                run.builder.addFile({"HomeDomain", kDir + "AddressBook.sqlitedb", linked.book});
                run.builder.addFile({"HomeDomain", kDir + "AddressBook.sqlitedb-wal",
                                     linked.bookWal, 3, false,
                                     c.laid == EmptyLog ? File::Empty : File::Written});
                run.builder.addFile(
                    {"HomeDomain", kDir + "AddressBookImages.sqlitedb", linked.images});
            }
            // Records enough that a pruning tool's change spills into the index.
            for (int n = 0; c.laid == HotIndexJournal && n < 40; ++n)
                run.builder.addFile({"MediaDomain", QString("Media/Filler/%1").arg(n), "x"});
            run.builder.build();
            const QDir folder(run.folder);
            const QString book = dataFile(run.folder, k.layout, kDir + "AddressBook.sqlitedb");
            if (c.laid == HotIndexJournal) {
                makeIndexJournalHot(folder.absoluteFilePath("Manifest.db"));
                // As SQLite reads the index without its journal, it is damaged.
                Sqlite3DB alone;
                EXPECT_ANY_THROW({
                    alone.openThrow(
                        "file:" + folder.absoluteFilePath("Manifest.db") + "?immutable=1",
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
                    Sqlite3Cursor files = alone.queryThrow("select * from Files");
                    while (files.moveNext()) {
                    }
                });
            }
            if (c.laid == LinkToZero || c.laid == Pipe)
                replaceWith(book, c.laid == Pipe);
            const std::string folderBefore = listing(run.folder);
            const QString text =
                c.text == notRegular
                    ? c.text.arg(book, c.laid == Pipe ? "a named pipe" : "a character device")
                    : c.text;

            Outcome out;
            {
                StallGuard guard(name(k) + ", " + c.what);
                out = run.import(k);
            }
            ASSERT_EQ(out.boxes.size(), 1);
            const QString words = QString(out.boxes[0]).replace("<br/>", "\n");
            EXPECT_TRUE(words.contains(text)) << words.toStdString();
            EXPECT_EQ(out.result == 1, c.contacts > 0);
            QStringList names;
            for (const pim::_Contact& contact : run.db.contacts())
                names << contact.fullName;
            EXPECT_EQ(names.size(), c.contacts);
            EXPECT_TRUE(names.filter("Half Written").isEmpty());
            EXPECT_EQ(names.contains("Late Addition"), c.laid == HotIndexJournal);
            EXPECT_EQ(listing(run.folder), folderBefore);
        }
        EXPECT_EQ(privateFolders(), before);
    }
}

// The chooser lists the backups of the root and names, without waiting on it, a folder whose
// Manifest.plist is no regular file.
TEST(BackupShapes, TheChooserSkipsAManifestThatIsNoFile) {
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    const QDir root(home.filePath("Library/Application Support/MobileSync/Backup"));
    for (const char* folder : {"whole", "pipe", "zero"}) {
        BackupBuilder b(root.absoluteFilePath(folder), BackupBuilder::DB);
        b.setDevice(folder, QString("Phone ") + folder);
        b.build();
    }
    replaceWith(root.absoluteFilePath("pipe/Manifest.plist"), true);
    replaceWith(root.absoluteFilePath("zero/Manifest.plist"), false);
    const std::string rootBefore = listing(root.absolutePath());

    QStringList boxes;
    g_setMessageBoxHook([&boxes](QMessageBox& box) {
        boxes << box.text();
        return int(QMessageBox::Ok);
    });
    {
        StallGuard guard("the chooser");
        LoadItunesBackupDlg dlg(nullptr);
        ASSERT_EQ(dlg.model()->rowCount(), 1);
        EXPECT_EQ(dlg.model()->index(0, 0).data().toString(), QString("Phone whole"));
    }
    g_setMessageBoxHook(MessageBoxHook());
    boxes.sort();
    ASSERT_EQ(boxes.size(), 2);
    EXPECT_TRUE(boxes[0].contains(root.absoluteFilePath("pipe/Manifest.plist") +
                                  " is not a regular file (it is a named pipe)"))
        << boxes[0].toStdString();
    EXPECT_TRUE(boxes[1].contains(root.absoluteFilePath("zero/Manifest.plist") +
                                  " is not a regular file (it is a character device)"))
        << boxes[1].toStdString();
    EXPECT_EQ(listing(root.absolutePath()), rootBefore);
    qputenv("HOME", oldHome);
}
