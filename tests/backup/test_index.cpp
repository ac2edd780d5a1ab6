// The file index: reading both layouts, damaged indexes, the writer round trip, added files,
// the filtered manifest copy and version values.
#include "backup_fixture.h"
#include "backup/backupmanifest.h"
#include "backup/iosversion.h"
#include "backup/mbdbparser.h"
#include "device/plistcftype.h"

#include "platform/sqlite/sqlite3db.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fixture;
using Item = MBDBParser::_MBDBItem;

namespace {

QByteArray str(const QByteArray& s) {
    return QByteArray(1, char(s.size() >> 8)) + char(s.size() & 0xFF) + s;
}
const QByteArray kAbsent("\xff\xff", 2);

// One record with the given leading strings and fixed numbers.
QByteArray record(const QByteArray& domainField, const QByteArray& pathField, int props = 0) {
    QByteArray r = domainField + pathField + kAbsent + kAbsent + kAbsent;
    r += QByteArray::fromHex("81a4");              // mode
    r += QByteArray::fromHex("0000000100000002");  // inode halves
    r += QByteArray::fromHex("000001f5000001f5");  // uid, gid
    r += QByteArray::fromHex("5f5e1000") + QByteArray::fromHex("5f5e1001") +
         QByteArray::fromHex("5f5e1002");
    r += QByteArray::fromHex("0000000000000400");  // size 1024
    r += char(3);
    r += char(props);
    for (int i = 0; i < props; ++i)
        r += str("n" + QByteArray::number(i)) + str("v");
    return r;
}

Item item(const QString& domain, const QString& path) {
    Item r;
    r.domain.setVal(domain.toUtf8());
    r.path.setVal(path.toUtf8());
    return r;
}

std::string throwText(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<no exception>";
}

}  // namespace

TEST(MbdbReader, RecordsAndDamagedFiles) {
    QTemporaryDir tmp;
    const QString mbdb = tmp.filePath("Manifest.mbdb");
    BackupManifest bm(tmp.path());

    // Neither index file: the open error of Manifest.mbdb.
    EXPECT_NE(throwText([&] { MBDBParser::parse(bm); }), "<no exception>");

    writeFile(mbdb, "mbdb\x05");  // shorter than the header
    EXPECT_TRUE(MBDBParser::parse(bm).items.isEmpty());

    QByteArray index("xxxxxx");
    index += record(kAbsent, str("skipped/absent"));
    index += record(QByteArray(2, '\0'), str("skipped/empty"));
    index += record(str("HomeDomain"), str("Library/a.txt"), 2);
    index += record(str("HomeDomain"), QByteArray(2, '\0'));
    index += record(str("HomeDomain"), kAbsent);  // same file ID as the empty path: replaces it
    index += record(str("MediaDomain"), str("many"), 200);  // count byte above 127
    writeFile(mbdb, index);
    MBDBParser::MBDBItemMap map = MBDBParser::parse(bm);
    ASSERT_EQ(map.items.size(), 3);
    const Item a = map.items.value(MBDBParser::getFileHashName("HomeDomain", "Library/a.txt"));
    EXPECT_EQ(a.path.toString(), QString("Library/a.txt"));
    EXPECT_EQ(a.inodeHigh, 1u);
    EXPECT_EQ(a.inode, 2);
    EXPECT_EQ(a.size, 1024);
    EXPECT_EQ(a.lastStatusChange, 0x5f5e1001u);
    EXPECT_EQ(a.protectionClass, 3);
    EXPECT_FALSE(a.target.isValid());
    EXPECT_EQ(a.target.length, 0xFFFF);
    ASSERT_EQ(a.properties.size(), 2);
    EXPECT_EQ(a.properties[1].name.toString(), QString("n1"));
    const Item root = map.items.value(MBDBParser::getFileHashName("HomeDomain", ""));
    EXPECT_EQ(root.path.length, 0xFFFF);
    EXPECT_EQ(map.items.value(MBDBParser::getFileHashName("MediaDomain", "many")).properties.size(),
              200);
    EXPECT_EQ(map.maxInode, 2);
    EXPECT_EQ(MBDBParser::getFileHashName("HomeDomain", ""),
              QString(QCryptographicHash::hash("HomeDomain-", QCryptographicHash::Sha1).toHex()));

    // A file that ends inside a record fails; so does a string longer than what is left.
    writeFile(mbdb, index.left(index.size() - 3));
    EXPECT_NE(throwText([&] { MBDBParser::parse(bm); }), "<no exception>");
    writeFile(mbdb, QByteArray("mbdb\x05\x00", 6) + "\x7f\xff" + "short");
    EXPECT_NE(throwText([&] { MBDBParser::parse(bm); }), "<no exception>");

    // Data files lie directly in the folder for this layout; with both index files too.
    writeFile(tmp.filePath("Manifest.db"), "x");
    EXPECT_FALSE(MBDBParser::isIos10Mbdb(QDir(tmp.path())));
    EXPECT_EQ(MBDBParser::getBKFilePath(QDir(tmp.path()), "abcdef", true),
              QDir(tmp.path()).absoluteFilePath("abcdef"));
    EXPECT_FALSE(QDir(tmp.filePath("ab")).exists());
    QFile::remove(mbdb);
    EXPECT_TRUE(MBDBParser::isIos10Mbdb(QDir(tmp.path())));
    EXPECT_EQ(MBDBParser::getBKFilePath(QDir(tmp.path()), "abcdef", true),
              QDir(tmp.path()).absoluteFilePath("ab/abcdef"));
    EXPECT_TRUE(QDir(tmp.filePath("ab")).exists());
    EXPECT_TRUE(MBDBParser::readFileHash(tmp.filePath("missing")).isEmpty());
    EXPECT_EQ(MBDBParser::readFileHash(tmp.filePath("Manifest.db")),
              QCryptographicHash::hash("x", QCryptographicHash::Sha1));
}

TEST(MbdbWriter, RecordFileRoundTrip) {
    QTemporaryDir tmp;
    BackupManifest bm(tmp.path());
    MBDBParser::save2File({}, bm);
    EXPECT_EQ(readFile(tmp.filePath("Manifest.mbdb")), QByteArray("mbdb\x05\x00", 6));

    Item a = item("HomeDomain", "Library/x.db");
    a.digest.setVal(QByteArray(20, 'd'));
    a.encryptionKey.setVal(QByteArray(44, 'k'));
    a.mode = 0x81A4;
    a.inode = (1LL << 32) + 7;
    a.inodeHigh = 9;
    a.size = 123456789012LL;
    a.lastModified = 1600000000;
    a.protectionClass = 4;
    MBDBParser::_MBDBProperty p;
    p.name.setVal("name");
    p.value.setVal(QByteArray());
    a.properties << p;
    Item deleted = item("HomeDomain", "gone");
    deleted.isDeleted = true;
    Item noDomain;
    noDomain.path.setVal("orphan");
    MBDBParser::save2File({a, deleted, noDomain}, bm);
    const MBDBParser::MBDBItemMap map = MBDBParser::parse(bm);
    ASSERT_EQ(map.items.size(), 1);  // the deleted one is not written, the domain-less one not read
    const Item b = map.items.value(a.backupFileName());
    EXPECT_EQ(b.digest.val, a.digest.val);
    EXPECT_EQ(b.encryptionKey.val, a.encryptionKey.val);
    EXPECT_EQ(b.inode, 7);  // low 32 bits only
    EXPECT_EQ(b.inodeHigh, 9u);
    EXPECT_EQ(b.size, a.size);
    EXPECT_EQ(b.protectionClass, 4);
    ASSERT_EQ(b.properties.size(), 1);
    EXPECT_EQ(b.properties[0].value.length, 0);

    // A length that disagrees with its bytes is refused instead of corrupting the index.
    Item bad = item("HomeDomain", "bad");
    bad.digest.length = 5;
    bad.digest.val = "abc";
    EXPECT_NE(throwText([&] { MBDBParser::save2File({bad}, bm); }), "<no exception>");
}

TEST(MbdbWriter, DatabaseRoundTripPlainAndEncryptedDescriptors) {
    for (bool salted : {false, true}) {
        QTemporaryDir tmp;
        BackupBuilder builder(tmp.path(), BackupBuilder::DB);
        if (salted) {
            builder.setEncrypted("pw", false);
            builder.setDescriptorSalt("pepper");
        }
        builder.addFile({"HomeDomain", "Library/keep.txt", "keep", 3, false});
        builder.addFile({"HomeDomain", "Library/drop.txt", "drop", 3, false});
        builder.addFile({"AppDomain-com.example.app", "", "", 0, true});
        builder.build();
        BackupManifest bm(tmp.path());
        bm.readManifestInfo();
        if (salted) {
            ASSERT_TRUE(bm.setPasscodeNoUIThrow("pw"));
        }
        MBDBParser::MBDBItemMap map = MBDBParser::parse(bm);
        ASSERT_EQ(map.items.size(), 3);
        Item keep = map.items.value(MBDBParser::getFileHashName("HomeDomain", "Library/keep.txt"));
        // Phones' archives of this layout carry no digest.
        EXPECT_FALSE(keep.digest.isValid());
        EXPECT_EQ(keep.size, 4);
        EXPECT_EQ(keep.lastModified, 1600000000u);
        if (salted) {
            EXPECT_EQ(keep.encryptionKey.val.size(), 44);
        }
        EXPECT_TRUE(map.items.value(MBDBParser::getFileHashName("AppDomain-com.example.app", ""))
                        .isFolder());

        keep.size = 99;
        keep.isModified = true;
        keep.isNew = true;  // modified wins: an update, not an insert
        Item drop = map.items.value(MBDBParser::getFileHashName("HomeDomain", "Library/drop.txt"));
        drop.isDeleted = true;
        Item added = item("HomeDomain", "Library/link");
        added.target.setVal("target");
        added.isNew = true;
        Item untouched = item("HomeDomain", "Library/never");  // no mark: no statement
        MBDBParser::save2File({keep, drop, added, untouched}, bm);
        map = MBDBParser::parse(bm);
        EXPECT_EQ(map.items.size(), 3);
        EXPECT_EQ(map.items.value(keep.backupFileName()).size, 99);
        EXPECT_FALSE(map.items.contains(drop.backupFileName()));
        EXPECT_FALSE(map.items.contains(untouched.backupFileName()));
        ASSERT_TRUE(map.items.contains(added.backupFileName()));
        EXPECT_FALSE(map.items.value(added.backupFileName()).target.isValid());  // not in the plist
        Sqlite3DB db;
        db.openThrow(tmp.filePath("Manifest.db"), 2);
        Sqlite3Sql q("select flags from Files where fileID=?");
        q.addTextParam(added.backupFileName());
        Sqlite3Cursor c = db.queryThrow(q);
        ASSERT_TRUE(c.moveNext());
        EXPECT_EQ(c.getInt("flags"), 4);
        if (salted) {
            // Without the password the cells are not plists: rows keep default values.
            BackupManifest nopw(tmp.path());
            const MBDBParser::MBDBItemMap raw = MBDBParser::parse(nopw);
            EXPECT_EQ(raw.items.value(keep.backupFileName()).size, 0);
        }
    }
}

TEST(MbdbReader, DamagedDatabaseCells) {
    // A database with junk, empty-domain and wrong-typed cells: read with defaults, no crash.
    QTemporaryDir tmp;
    runSql(
        tmp.filePath("Manifest.db"),
        "create table Files(fileID text, domain text, relativePath text, flags integer, file blob);"
        "insert into Files values('1','HomeDomain','junk',1,x'00ff00');"
        "insert into Files values('2','','nodomain',1,null);");
    Sqlite3DB db;
    db.openThrow(tmp.filePath("Manifest.db"), 2);
    Item a = item("HomeDomain", "p");
    a.digest.setVal(QByteArray(20, 'd'));
    a.encryptionKey.setVal(QByteArray(44, 'k'));
    PlistCFType odd = PlistCFType::createCFPropertyList(MBDBParser::mbFilePlist(a));
    Sqlite3Sql s("insert into Files values('3','HomeDomain','odd',1,?)");
    // Swap a number for a string: the reader must fall back to 0.
    PlistCFType objects = odd.get("$objects");
    PlistCFType file = objects.at(1);
    file.put("Size", PlistCFType::createCFString("big"));
    file.put("Target", PlistCFType::createCFString(""));
    s.addBlobParam(odd.CFPropertyListToBytes(200));
    db.executeThrow(s);
    db.close();
    BackupManifest bm(tmp.path());
    const MBDBParser::MBDBItemMap map = MBDBParser::parse(bm);
    ASSERT_EQ(map.items.size(), 2);
    EXPECT_EQ(map.items.value(MBDBParser::getFileHashName("HomeDomain", "junk")).size, 0);
    const Item o = map.items.value(MBDBParser::getFileHashName("HomeDomain", "odd"));
    EXPECT_EQ(o.size, 0);
    EXPECT_FALSE(o.target.isValid());
    EXPECT_EQ(o.digest.val, QByteArray(20, 'd'));
    EXPECT_EQ(o.encryptionKey.val, QByteArray(44, 'k'));  // read through "NS.data"
}

TEST(MbdbWriter, AppendFile) {
    QTemporaryDir tmp;
    writeFile(tmp.filePath("host.txt"), "hello");
    MBDBParser::MBDBItemMap map;
    MBDBParser::ProtectionClsKeyInfo k4;
    k4.wrappedKey.setVal(QByteArray(44, '4'));
    EXPECT_TRUE(MBDBParser::appendFile(map, true, tmp.filePath("host.txt"), "", "a/b", 0, nullptr,
                                       &k4, nullptr));
    EXPECT_TRUE(map.items.isEmpty());
    ASSERT_TRUE(MBDBParser::appendFile(map, true, tmp.filePath("host.txt"), "HomeDomain",
                                       "a/b/c.txt", 0, nullptr, &k4, nullptr));
    ASSERT_EQ(map.items.size(), 3);
    EXPECT_EQ(map.items.value(MBDBParser::getFileHashName("HomeDomain", "a/b")).inode, 1);
    EXPECT_EQ(map.items.value(MBDBParser::getFileHashName("HomeDomain", "a")).inode, 2);
    const Item file = map.items.value(MBDBParser::getFileHashName("HomeDomain", "a/b/c.txt"));
    EXPECT_EQ(file.inode, 3);
    EXPECT_EQ(file.size, 5);
    EXPECT_EQ(file.protectionClass, 4);
    EXPECT_EQ(file.mode, 0x81A4);
    EXPECT_EQ(file.digest.val, QCryptographicHash::hash("hello", QCryptographicHash::Sha1));
    EXPECT_EQ(file.encryptionKey.val, QByteArray(44, '4'));
    EXPECT_TRUE(file.isNew);

    ASSERT_TRUE(MBDBParser::appendFile(map, false, tmp.filePath("host.txt"), "HomeDomain",
                                       "a/b/c.txt", 77, nullptr, nullptr, nullptr));
    EXPECT_TRUE(map.items.value(file.backupFileName()).isModified);
    EXPECT_EQ(map.items.value(file.backupFileName()).size, 5);

    QString error;
    EXPECT_FALSE(MBDBParser::appendFile(map, false, tmp.filePath("host.txt"), "HomeDomain",
                                        "a/b/c.txt/d", 0, nullptr, nullptr, &error));
    EXPECT_EQ(error,
              QString("MBDBParser::appendFile(a/b/c.txt/d) error. \"a/b/c.txt\" is not a folder."));
}

TEST(ManifestCopy, FiltersRowsAndKeepsEncryption) {
    for (bool encrypted : {false, true}) {
        QTemporaryDir tmp;
        BackupBuilder builder(tmp.path(), BackupBuilder::DB);
        if (encrypted)
            builder.setEncrypted("pw", true);
        builder.addFile({"HomeDomain", "Library/kept.txt", "a", 3, false});
        builder.addFile({"AppDomain-com.apple.mobilesafari", "x", "b", 3, false});
        builder.addFile({"AppDomain-com.other.app", "y", "c", 3, false});
        builder.addFile({"AppDomain-com.other.app", "", "", 0, true});
        builder.addFile({"HomeDomain", "", "", 0, true});
        builder.addFile({"KeepMe", "z", "d", 4, false});
        builder.addFile({"HomeDomain", "Library/missing.txt", "e", 3, false});
        builder.build();
        const QString missing = MBDBParser::getBKFilePath(
            QDir(tmp.path()), MBDBParser::getFileHashName("HomeDomain", "Library/missing.txt"),
            false);
        ASSERT_TRUE(QFile::remove(missing));
        BackupManifest bm(tmp.path());
        bm.readManifestInfo();
        if (encrypted) {
            ASSERT_TRUE(bm.setPasscodeNoUIThrow("pw"));
            MBDBParser::ProtectionClsKeyInfo k3, k4;
            bm.firstEncryptedItem(k3, k4);
            EXPECT_EQ(k3.fileKey.size(), 32);
            EXPECT_EQ(k4.protectionClass, 4);
        } else {
            MBDBParser::ProtectionClsKeyInfo k3, k4;
            EXPECT_EQ(throwText([&] { bm.firstEncryptedItem(k3, k4); }),
                      "BackupManifest::firstEncryptedItem, no valid keys");
        }

        const QString dest = tmp.filePath("out/filtered.db");
        QDir().mkpath(tmp.filePath("out"));
        bm.saveManifestDbAsThrow(true, {"KeepMe"}, dest);
        QString plain = dest;
        if (encrypted) {
            plain = dest + "-decrypt";
            ASSERT_TRUE(QFile::exists(plain));
            BackupManifest check(tmp.path());
            const QString back = tmp.filePath("out/back.db");
            check.decryptFileThrow(bm.manifestDbKey, dest, back, nullptr, nullptr);
            EXPECT_EQ(readFile(back), readFile(plain));
        }
        Sqlite3DB db;
        db.openThrow(plain, 2);
        Sqlite3Cursor c =
            db.queryThrow("select domain, relativePath from Files order by domain, relativePath");
        QStringList rows;
        while (c.moveNext())
            rows << c.getText("domain") + ":" + c.getText("relativePath");
        EXPECT_EQ(rows, (QStringList{"AppDomain-com.apple.mobilesafari:x",
                                     "HomeDomain:", "HomeDomain:Library/kept.txt", "KeepMe:z"}));
        db.close();

        bm.saveManifestDbAsThrow(false, {}, dest);
        db.openThrow(plain, 2);
        Sqlite3Cursor only = db.queryThrow("select fileID from Files");
        QStringList ids;
        while (only.moveNext())
            ids << only.getText("fileID");
        EXPECT_EQ(ids, QStringList{"70765829101933f25994c71bbee6dfd685535bff"});
    }
}

TEST(IOSVersion, ParsesComparesPrints) {
    EXPECT_EQ(_IOSVersion("10.3.1").numbers, (QList<int>{10, 3, 1}));
    EXPECT_EQ(_IOSVersion("10.3.1").toString(), QString("10.3.1"));
    EXPECT_LT(_IOSVersion("4.0").compare(_IOSVersion("4.0.1")), 0);
    EXPECT_EQ(_IOSVersion("5").compare(_IOSVersion("4.9.9")), 1);
    EXPECT_LT(_IOSVersion("1.2").compare(_IOSVersion("1.2.0")), 0);
}
