// Backup shapes that readers of phone backups meet: write-ahead logs left empty by a checkpoint
// (listed with no data file, or an empty one that no cipher takes), backups that did not run to
// their end, address books without a contact; plain and encrypted, imported into a real
// LocalDb, with nothing decrypted left behind.
#include "backup_fixture.h"
#include "backupmanifest.h"
#include "importcontactsfromitunesthread.h"

#include "tests/messageboxhook.h"
#include "ui/progressform.h"

#include <combinerule.h>
#include <localdb.h>

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
                       Kind{BackupBuilder::MBDB, true, false}, Kind{BackupBuilder::DB, true, true}};

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
    Outcome import(const Kind& k) {
        BackupManifest bm(folder);
        bm.readManifestInfo();
        if (k.encrypted && !bm.setPasscodeNoUIThrow("1234"))
            return Outcome();
        bm.parseInfo();
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
