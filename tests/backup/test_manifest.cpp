// Manifest.plist reading, the file tree with its lookups, and copying files out of a backup.
#include "backup_fixture.h"
#include "backup/backupmanifest.h"
#include "device/plistcftype.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace fixture;

namespace {

std::string throwText(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<no exception>";
}

void writeManifest(const QString& dir, const QString& udid, const QString& name,
                   bool withDate = true) {
    PlistCFType plist = PlistCFType::createCFDictionary();
    PlistCFType lockdown = PlistCFType::createCFDictionary();
    if (!udid.isNull())
        lockdown.put("UniqueDeviceID", PlistCFType::createCFString(udid));
    if (!name.isNull())
        lockdown.put("DeviceName", PlistCFType::createCFString(name));
    plist.put("Lockdown", lockdown);
    if (withDate)
        plist.put("Date",
                  PlistCFType::createCFDate(QDateTime(QDate(2019, 3, 4), QTime(5, 6, 7), Qt::UTC)));
    writeFile(QDir(dir).absoluteFilePath("Manifest.plist"), plist.CFPropertyListToBytes(100));
}

QString displayNameOf(const QString& dir) {
    BackupManifest bm(dir);
    bm.readManifestInfo();
    return bm.displayName;
}

}  // namespace

TEST(Manifest, DisplayNamesDatesAndFailures) {
    QTemporaryDir tmp;
    const QString udid = "abc123";
    const QString exact = tmp.filePath(udid);
    writeManifest(exact, udid, "Phone");
    EXPECT_EQ(displayNameOf(exact), QString("Phone"));
    const QString suffixed = tmp.filePath(udid + "-20200101");
    writeManifest(suffixed, udid, "Phone");
    EXPECT_EQ(displayNameOf(suffixed), QString("Phone-20200101"));
    const QString other = tmp.filePath("Other");
    writeManifest(other, udid, "Phone");
    EXPECT_EQ(displayNameOf(other), QString("Phone-Other"));
    const QString upper = tmp.filePath("ABC123");
    writeManifest(upper, udid, "Phone");
    EXPECT_EQ(displayNameOf(upper), QString("Phone-ABC123"));
    const QString noName = tmp.filePath("NoName");
    writeManifest(noName, udid, QString());
    EXPECT_EQ(displayNameOf(noName), QString("-NoName"));

    BackupManifest dated(exact);
    dated.readManifestInfo();
    EXPECT_EQ(dated.info.date, QDateTime(QDate(2019, 3, 4), QTime(5, 6, 7), Qt::UTC));
    EXPECT_EQ(dated.info.productType, QString());
    EXPECT_FALSE(dated.info.isEncrypted);
    writeFile(QDir(exact).absoluteFilePath("Status.plist"), "whatever");
    BackupManifest status(exact);
    status.readManifestInfo();
    EXPECT_EQ(status.info.date,
              QFileInfo(QDir(exact).absoluteFilePath("Status.plist")).lastModified());

    // Garbage manifest: defaults, folder name as display name.
    const QString junk = tmp.filePath("Junk");
    writeFile(QDir(junk).absoluteFilePath("Manifest.plist"), "not a plist at all");
    BackupManifest j(junk);
    j.readManifestInfo();
    EXPECT_EQ(j.displayName, QString("Junk"));
    EXPECT_FALSE(j.info.date.isValid());
    EXPECT_TRUE(j.info.backupKeyBag.isEmpty());

    BackupManifest missing(tmp.filePath("none"));
    const std::string text = throwText([&] { missing.readManifestInfo(); });
    EXPECT_EQ(
        text.rfind("Cannot find " +
                       QDir(tmp.filePath("none")).absoluteFilePath("Manifest.plist").toStdString() +
                       "<br/>If you are using MacOS 10.14 or above,  please click <a href=",
                   0),
        0u)
        << text;
    if (geteuid() != 0) {  // root reads anything
        chmod(QFile::encodeName(QDir(junk).absoluteFilePath("Manifest.plist")).constData(), 0);
        EXPECT_NE(throwText([&] { j.readManifestInfo(); }), "<no exception>");
    }
}

TEST(FileTree, NodesAndLookups) {
    QTemporaryDir tmp;
    BackupBuilder b(tmp.path(), BackupBuilder::MBDB);
    const QList<File> files = {
        {"HomeDomain", "Library", "", 0, true},
        {"HomeDomain", "Library/SMS", "", 0, true},
        {"HomeDomain", "library/sms/SMS.DB", "sms", 3, false},
        {"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", "ab", 3, false},
        {"RootDomain", "Library/AddressBook/AddressBook.sqlitedb", "root-ab", 3, false},
        {"HomeDomain", "Library/Voicemail/12.amr", "vm", 3, false},
        {"MediaDomain", "Library/SMS/Attachments/ab/IMG_0001.JPG", "img", 3, false},
        {"MediaDomain", "Library/SMS/Attachments/ab/cd/IMG_0001-preview-left.jpg", "prev", 3,
         false},
        {"CameraRollDomain", "Media/DCIM/100APPLE/IMG_1.JPG", "p", 3, false},
        {"CameraRollDomain", "Media/PhotoData/MetaData/DCIM/100APPLE/IMG_1.THM", "t", 3, false},
        {"AppDomain-com.example.app", "", "", 0, true},
        {"AppDomain-com.example.app", "Documents/a.txt", "app", 3, false},
        {"AppDomainGroup-group.example", "", "", 0, true},
        {"SysContainerDomain-x", "", "", 0, true},
        {"SysContainerDomain-x", "f", "s", 3, false},
    };
    for (const File& f : files)
        b.addFile(f);
    b.build();
    BackupManifest bm(tmp.path());
    bm.readManifestInfo();
    bm.parseInfo();
    EXPECT_EQ(bm.items.size(), files.size());

    ASSERT_TRUE(bm.smsDb);
    EXPECT_EQ(bm.smsDb->item.path.toString(), QString("library/sms/SMS.DB"));
    ASSERT_TRUE(bm.addressBookDb);
    EXPECT_EQ(bm.addressBookDb->item.domain.toString(), QString("HomeDomain"));
    EXPECT_FALSE(bm.addressBookImagesDb);
    EXPECT_TRUE(bm.voicemails.contains(12));
    EXPECT_TRUE(
        bm.smsAttachmentsByDevicePath.contains("/var/mobile/Library/SMS/Attachments/ab/IMG_0001"));
    EXPECT_TRUE(bm.smsAttachments.contains("ab/IMG_0001"));
    EXPECT_TRUE(bm.smsAttachmentsByDevicePath.contains(
        "/var/mobile/Library/SMS/Attachments/ab/cd/IMG_0001-preview"));
    EXPECT_TRUE(bm.smsAttachmentsByDevicePath.contains(
        "/var/mobile/Library/SMS/Attachments/ab/cd/IMG_0001-preview-left"));
    EXPECT_EQ(bm.smsAttachments.size(), 1);
    EXPECT_EQ(bm.cameraRollPhotos.size(), 1);
    EXPECT_TRUE(bm.cameraRollThumbnails.contains("IMG_1"));

    QStringList rootNames;
    for (const auto* n : bm.root.children)
        rootNames << n->name;
    EXPECT_TRUE(rootNames.contains("Applications"));
    EXPECT_TRUE(rootNames.contains("AppDomainGroup"));
    EXPECT_TRUE(rootNames.contains("SysContainerDomain-x"));
    EXPECT_TRUE(rootNames.contains("Library"));
    EXPECT_EQ(rootNames.count("Library"), 1);
    for (const auto* n : bm.root.children) {
        if (n->name == "Applications") {
            ASSERT_EQ(n->children.size(), 1);
            EXPECT_EQ(n->children[0]->name, QString("com.example.app"));
            EXPECT_EQ(n->children[0]->children.size(),
                      0);  // "Documents" has no node: file hangs at root
        }
        if (n->name == "SysContainerDomain-x") {
            ASSERT_EQ(n->children.size(), 1);
            EXPECT_EQ(n->children[0]->name, QString("f"));
        }
    }
    EXPECT_TRUE(rootNames.contains("a.txt"));

    // Parsed once: a changed index is not read again.
    QFile::remove(tmp.filePath("Manifest.mbdb"));
    bm.parseInfo();
    EXPECT_EQ(bm.items.size(), files.size());
}

TEST(FileCopy, PlainEncryptedAndDamaged) {
    for (auto layout : {BackupBuilder::MBDB, BackupBuilder::DB}) {
        for (bool encrypted : {false, true}) {
            QTemporaryDir tmp;
            BackupBuilder b(tmp.path(), layout);
            if (encrypted)
                b.setEncrypted("secret", layout == BackupBuilder::DB);
            QByteArray big;
            for (int i = 0; i < 30000; ++i)
                big += char(i % 251);
            b.addFile({"HomeDomain", "Library/big.bin", big, 3, false});
            b.addFile({"HomeDomain", "Library/empty.bin", "", 4, false});
            b.build();
            BackupManifest bm(tmp.path());
            bm.readManifestInfo();
            EXPECT_EQ(bm.info.isEncrypted, encrypted);
            if (encrypted) {
                EXPECT_FALSE(bm.setPasscodeNoUIThrow("wrong"));
                EXPECT_TRUE(bm.password.isEmpty());
                ASSERT_TRUE(bm.setPasscodeNoUIThrow("secret"));
                EXPECT_EQ(bm.password, QString("secret"));
                if (layout == BackupBuilder::DB) {
                    EXPECT_EQ(bm.manifestDbKey.size(), 32);
                    // Decrypted into a folder of this user's own (0700, file 0600).
                    EXPECT_FALSE(QFile::exists(tmp.filePath("Manifest-decrypted.db")));
                    struct stat file, folder;
                    ASSERT_EQ(stat(QFile::encodeName(bm.decryptedDbPath), &file), 0);
                    ASSERT_EQ(
                        stat(QFile::encodeName(QFileInfo(bm.decryptedDbPath).path()), &folder), 0);
                    EXPECT_EQ(file.st_mode & 0777, 0600u);
                    EXPECT_EQ(folder.st_mode & 0777, 0700u);
                }
            }
            bm.parseInfo();
            const MBDBParser::_MBDBItem bigItem =
                bm.items.value(MBDBParser::getFileHashName("HomeDomain", "Library/big.bin"));
            struct Progress {
                int calls = 0;
                qint64 last = 0;
            } progress;
            const QString dest = tmp.filePath("out/deeper/big.bin");
            writeFile(dest, "old content that is longer than nothing");
            bm.copyItemThrow(bigItem, dest, &progress, [](qint64 total, qint64 done, void* p) {
                auto* pr = static_cast<Progress*>(p);
                ++pr->calls;
                pr->last = done;
                EXPECT_LE(done, total);
            });
            EXPECT_EQ(readFile(dest), big);
            EXPECT_EQ(QFileInfo(dest).lastModified().toSecsSinceEpoch(), 1600000000);
            if (!encrypted) {
                EXPECT_EQ(progress.last, big.size());
            }

            const QString emptyDest = tmp.filePath("out/empty.bin");
            bm.copyItemThrow(
                bm.items.value(MBDBParser::getFileHashName("HomeDomain", "Library/empty.bin")),
                emptyDest, nullptr, nullptr);
            EXPECT_TRUE(QFile::exists(emptyDest));
            EXPECT_EQ(QFileInfo(emptyDest).size(), 0);
            bm.copyFile(nullptr, tmp.filePath("out/none"), nullptr, nullptr);
            EXPECT_FALSE(QFile::exists(tmp.filePath("out/none")));

            MBDBParser::_MBDBItem ghost = bigItem;
            ghost.path.setVal("Library/ghost.bin");
            EXPECT_EQ(throwText([&] {
                          bm.copyItemThrow(ghost, tmp.filePath("out/g"), nullptr, nullptr);
                      }).rfind("can not open ", 0),
                      0u);
            if (encrypted) {
                // A file key that does not unwrap is an error, never a copy of ciphertext.
                MBDBParser::_MBDBItem badKey = bigItem;
                badKey.encryptionKey.val[10] = char(badKey.encryptionKey.val[10] ^ 1);
                EXPECT_EQ(throwText([&] {
                              bm.copyItemThrow(badKey, tmp.filePath("out/bad"), nullptr, nullptr);
                          }),
                          "This backup may be damaged: the key of Library/big.bin (HomeDomain) "
                          "does not open with the backup's keys, so the file cannot be "
                          "decrypted. Make a new encrypted backup of the phone and import that "
                          "one.");
            }
        }
    }
}

TEST(Unlock, DamagedKeybagsAndManifestKeys) {
    QTemporaryDir tmp;
    BackupBuilder b(tmp.path(), BackupBuilder::DB);
    b.setEncrypted("pw", true);
    b.addFile({"HomeDomain", "Library/x", "x", 3, false});
    b.build();
    // A manifest key that no class opens is a damaged manifest, not a wrong password.
    BackupManifest bm(tmp.path());
    bm.readManifestInfo();
    bm.info.manifestKey = QByteArray(44, '\x01');
    EXPECT_EQ(throwText([&] { bm.setPasscodeNoUIThrow("pw"); }),
              "Manifest.plist is damaged: its ManifestKey does not open with the keys of the "
              "backup.");
    EXPECT_TRUE(bm.manifestDbKey.isEmpty());
    EXPECT_TRUE(bm.password.isEmpty());

    // Iteration counts beyond what phones use (with a margin) are refused at once.
    for (const auto& counts :
         {qMakePair(20001u, 0u), qMakePair(10u, 20000001u), qMakePair(0u, 0u)}) {
        BackupManifest slow(tmp.path());
        slow.readManifestInfo();
        QByteArray bag = tlv("SALT", "salt") + tlv("ITER", be32(counts.first));
        if (counts.second)
            bag += tlv("DPIC", be32(counts.second)) + tlv("DPSL", "dpsl");
        slow.info.backupKeyBag = bag;
        EXPECT_EQ(throwText([&] {
                      slow.setPasscodeNoUIThrow("pw");
                  }).rfind("Manifest.plist is damaged: the keybag ", 0),
                  0u);
    }

    // A keybag that protects nothing with the password is reported, not accepted.
    BackupManifest empty(tmp.path());
    empty.readManifestInfo();
    empty.info.backupKeyBag = tlv("SALT", "s") + tlv("ITER", be32(1));
    EXPECT_NE(throwText([&] { empty.setPasscodeNoUIThrow("anything"); }), "<no exception>");
    EXPECT_TRUE(empty.password.isEmpty());
}
