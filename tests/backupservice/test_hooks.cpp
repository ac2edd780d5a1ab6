// The local-disk hook, the received-file name database and the selective hook.
#include "backupservice/backup2tool.h"
#include "backupservice/fakebackup2toolhook.h"
#include "backupservice/fakednamedb.h"
#include "scripted_link.h"
#include "test_util.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kUdid = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
const QString kHash = QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28");  // 40 chars

QStringList names(const QList<Backup2ToolHook::DirItem>& items) {
    QStringList out;
    for (const auto& i : items)
        out << QString("%1:%2:%3").arg(i.name).arg(i.type).arg(i.size);
    return out;
}

int countRows(const QString& path) {
    Sqlite3DB db;
    db.openThrow(path, 2);
    Sqlite3Cursor c = db.queryThrow("select count(*) as n from dname");
    c.moveNext();
    return c.getInt("n");
}

}  // namespace

TEST(DefaultHook, DiskOperations) {
    QTemporaryDir dir;
    QDir root(dir.path());
    Backup2ToolHook hook;
    QString err;

    EXPECT_TRUE(hook.dirContents(root, "nothing").isEmpty());
    writeFile(root.filePath("l/.hidden"), "h");
    writeFile(root.filePath("l/file"), "abc");
    root.mkpath("l/sub");
    QStringList listed = names(hook.dirContents(root, "l"));
    listed.sort();
    ASSERT_EQ(listed.size(), 2);
    EXPECT_EQ(listed[0], "file:1:3");
    EXPECT_TRUE(listed[1].startsWith("sub:2:"));

    // Moves: missing source, onto a folder, into missing folders, onto itself.
    EXPECT_EQ(hook.moveFile(root, "none", "l/file", err), 0);
    EXPECT_EQ(readFile(root.filePath("l/file")), "abc");
    writeFile(root.filePath("target/inner/x"), "x");
    EXPECT_EQ(hook.moveFile(root, "l/file", "target", err), 0);
    EXPECT_EQ(readFile(root.filePath("target")), "abc");
    EXPECT_EQ(hook.moveFile(root, "target", "a/b/c", err), 0);
    EXPECT_EQ(readFile(root.filePath("a/b/c")), "abc");
    EXPECT_EQ(hook.moveFile(root, "a/b/c", "a/b/./c", err), 0);
    EXPECT_EQ(readFile(root.filePath("a/b/c")), "abc");  // not deleted by moving onto itself

    // Copies: conflicts, merge, missing source.
    root.mkpath("folder");
    EXPECT_EQ(hook.copyFile(root, "a/b/c", "folder", err), 14);
    EXPECT_EQ(err, "Destination is a folder.");
    EXPECT_EQ(hook.copyFile(root, "folder", "a/b/c", err), 14);
    EXPECT_EQ(err, "Destination is a file.");
    writeFile(root.filePath("src/same"), "new");
    writeFile(root.filePath("dst/same"), "old");
    writeFile(root.filePath("dst/other"), "stays");
    EXPECT_EQ(hook.copyFile(root, "src", "dst", err), 0);
    EXPECT_EQ(readFile(root.filePath("dst/same")), "new");
    EXPECT_EQ(readFile(root.filePath("dst/other")), "stays");
    EXPECT_EQ(hook.copyFile(root, "nowhere", "made", err), 0);
    EXPECT_FALSE(QFile::exists(root.filePath("made")));

    // mkdir over a file, removal of missing and hidden content.
    EXPECT_EQ(hook.mkdir(root, "a/b/c", err), 0);
    EXPECT_TRUE(QFileInfo(root.filePath("a/b/c")).isFile());
    EXPECT_EQ(hook.removeFile(root, "never", err), 0);
    EXPECT_EQ(hook.removeFile(root, "l", err), 0);
    EXPECT_TRUE(QFile::exists(root.filePath("l/.hidden")));
    EXPECT_FALSE(QFile::exists(root.filePath("l/sub")));

    // Receiving truncates an existing file and creates missing parents.
    writeFile(root.filePath("recv/old"), "long old content");
    QFile f(root.filePath("recv/old"));
    EXPECT_EQ(hook.recvFileOpenWrite(root, "recv/old", f, err), 0);
    f.close();
    EXPECT_EQ(readFile(root.filePath("recv/old")), "");
    QFile g(root.filePath("p/q/r"));
    EXPECT_EQ(hook.recvFileOpenWrite(root, "p/q/r", g, err), 0);
    EXPECT_TRUE(g.isOpen());
}

TEST(DefaultHook, OverlappingSourceAndDestinationLoseNothing) {
    QTemporaryDir dir;
    QDir root(dir.path());
    Backup2ToolHook hook;
    QString err;
    writeFile(root.filePath("d/f"), "data");
    writeFile(root.filePath("d/sub/g"), "more");

    // Onto itself: nothing happens, the source stays.
    EXPECT_EQ(hook.copyFile(root, "d/f", "d/./f", err), 0);
    EXPECT_EQ(readFile(root.filePath("d/f")), "data");
    EXPECT_EQ(hook.copyFile(root, "d", "d", err), 0);
    EXPECT_EQ(readFile(root.filePath("d/sub/g")), "more");

    // A folder into its own subtree is refused before anything is made.
    err.clear();
    EXPECT_EQ(hook.copyFile(root, "d", "d/sub/copy", err), 14);
    EXPECT_EQ(err, "Destination is inside the source.");
    EXPECT_FALSE(QFile::exists(root.filePath("d/sub/copy")));

    // Moving onto a folder that holds the source would clear the source first.
    err.clear();
    EXPECT_EQ(hook.moveFile(root, "d/sub/g", "d", err), int(QFile::RenameError));
    EXPECT_EQ(err, "Destination contains the source.");
    EXPECT_EQ(readFile(root.filePath("d/sub/g")), "more");
    EXPECT_EQ(readFile(root.filePath("d/f")), "data");
}

TEST(DefaultHook, RemovalNeverFollowsLinksOutOfTheTree) {
    QTemporaryDir dir;
    writeFile(dir.filePath("outside/precious"), "keep");
    writeFile(dir.filePath("tree/own"), "x");
    QFile::link(dir.filePath("outside"), dir.filePath("tree/link"));
    rmdir_recursive(dir.filePath("tree"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("tree")));
    EXPECT_EQ(readFile(dir.filePath("outside/precious")), "keep");

    // A link cycle inside a copied tree ends.
    writeFile(dir.filePath("cyc/a"), "a");
    QFile::link(dir.filePath("cyc"), dir.filePath("cyc/loop"));
    QString err;
    EXPECT_EQ(copy_recursive(dir.filePath("cyc"), dir.filePath("cyc2"), err), 0);
    EXPECT_EQ(readFile(dir.filePath("cyc2/a")), "a");
}

TEST(DNameDb, RowsBucketsAndListing) {
    QTemporaryDir dir;
    const QString path = dir.filePath("dname.sqlite");
    FakeDNameDb db;
    EXPECT_TRUE(db.items("").isEmpty());  // never opened: everything is a no-op
    db.insert("x", "y", true, QDateTime::currentDateTime());
    EXPECT_EQ(db.getDName("x"), "");
    QString err;
    ASSERT_TRUE(db.open(path, &err)) << err.toStdString();
    EXPECT_TRUE(db.open("/nonexistent/elsewhere", &err));  // already open

    const QString f31 = QString(31, 'a');
    const QString b1 = "ab" + QString(30, '1');
    const QString b2 = "ab" + QString(30, '2');
    db.insert(f31, "d31", false, QDateTime::fromSecsSinceEpoch(50));
    db.insert(b1, "first", true, QDateTime::fromSecsSinceEpoch(100));
    db.insert(b2, "d2", false, QDateTime::fromSecsSinceEpoch(200));
    db.update(b2, QDateTime::fromSecsSinceEpoch(200), 77);
    db.insert(b1, "second", false, QDateTime::fromSecsSinceEpoch(100));  // replaces the row
    db.update("missing", QDateTime::currentDateTime(), 5);
    db.remove("missing");
    EXPECT_EQ(db.getDName(b1), "second");
    EXPECT_EQ(db.getDName("missing"), "");

    const auto top = db.items("");
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[0].name, "ab");
    EXPECT_EQ(top[0].type, 2);
    EXPECT_EQ(top[0].lastm.toSecsSinceEpoch(), 200);
    EXPECT_EQ(top[1].name, f31);
    EXPECT_EQ(top[1].type, 1);
    QStringList bucket = names(db.items("ab"));
    bucket.sort();
    EXPECT_EQ(bucket, QStringList({b1 + ":1:0", b2 + ":1:77"}));
    db.remove(b2);
    EXPECT_EQ(db.items("ab").size(), 1);
}

TEST(DNameDb, CommitsEveryTenThousandInserts) {
    QTemporaryDir dir;
    const QString path = dir.filePath("dname.sqlite");
    {
        FakeDNameDb db;
        QString err;
        ASSERT_TRUE(db.open(path, &err));
        const QDateTime now = QDateTime::currentDateTime();
        for (int i = 0; i < 9999; ++i)
            db.insert(QString::number(i), "d", false, now);
        EXPECT_EQ(countRows(path), 0);  // still inside the open transaction
        db.insert("last", "d", false, now);
        EXPECT_EQ(countRows(path), 10000);
        db.insert("after", "d", false, now);
        EXPECT_EQ(countRows(path), 10000);
    }
    EXPECT_EQ(countRows(path), 10001);  // destruction commits

    // An existing file that is empty, lacks the table or is no database at all is an error
    // with SQLite's own text, never an empty record of files; the file stays as it was.
    const QString other = dir.filePath("other.sqlite");
    {
        Sqlite3DB raw;
        raw.openThrow(other, 6);
        raw.executeThrow("create table t(x)");
    }
    writeFile(dir.filePath("empty.sqlite"), "");
    writeFile(dir.filePath("garbage.sqlite"), "this is not a database at all, not even close");
    // A real database cut short: its pages past the first are gone.
    writeFile(dir.filePath("cut.sqlite"), readFile(path).left(4096));
    for (const char* name : {"other.sqlite", "empty.sqlite", "garbage.sqlite", "cut.sqlite"}) {
        const QByteArray before = readFile(dir.filePath(name));
        FakeDNameDb bad;
        QString err;
        EXPECT_FALSE(bad.open(dir.filePath(name), &err)) << name;
        EXPECT_FALSE(bad.isOpen()) << name;
        EXPECT_FALSE(err.isEmpty()) << name;
        EXPECT_EQ(readFile(dir.filePath(name)), before) << name;
    }
}

TEST(SelectiveHook, InclusionRule) {
    QTemporaryDir dir;
    QDir root(dir.path());
    FakeBackup2ToolHook hook;
    const QString appA = "AAAAAAAA-1111-2222-3333-444444444444";
    const QString groupA = "BBBBBBBB-1111-2222-3333-444444444444";
    const QString appB = "CCCCCCCC-1111-2222-3333-444444444444";
    hook.addInstalledContainers({{"com.a", {appA, groupA}}, {"com.b", {appB}}});

    EXPECT_TRUE(hook.isFileIncluded(root, "x/MANIFEST.DB", ""));
    EXPECT_TRUE(hook.isFileIncluded(root, "x/80fa782261261e54bb73c0253e5b6beefb6a2f39", ""));
    EXPECT_FALSE(hook.isFileIncluded(root, "x/" + kHash, "AppDomain-" + appA.toLower() + "/doc"));

    hook.setSelectedAppIds({"com.a"});
    EXPECT_TRUE(hook.isFileIncluded(root, "x/" + kHash, "/var/" + appA.toLower() + "/doc"));
    EXPECT_TRUE(hook.isFileIncluded(root, "x/" + kHash, "/var/" + groupA + "/doc"));
    EXPECT_FALSE(hook.isFileIncluded(root, "x/" + kHash, "/var/" + appB + "/doc"));
    EXPECT_FALSE(hook.isFileIncluded(root, "x/" + kHash, "HomeDomain/Library/x"));

    hook.setIncludeNonAppFiles(true);
    EXPECT_TRUE(hook.isFileIncluded(root, "x/" + kHash, "HomeDomain/Library/x"));
    EXPECT_FALSE(hook.isFileIncluded(root, "x/" + kHash, "/var/" + appB + "/doc"));
    EXPECT_TRUE(
        hook.isFileIncluded(root, "x/" + kHash, "/var/DDDDDDDD-1111-2222-3333-444444444444/doc"));

    hook.setIncludeNonAppFiles(false);
    hook.setDnamePatterns({QRegExp("AddressBook")});
    EXPECT_TRUE(hook.isFileIncluded(root, "x/" + kHash, "/var/" + appB + "/AddressBook.db"));
    EXPECT_EQ(FakeBackup2ToolHook::containerId("no id here"), "");
}

TEST(SelectiveHook, BackupWritesOnlyChosenFilesAndListsAll) {
    QTemporaryDir dir;
    QDir root(dir.path());
    root.mkpath(kUdid);
    auto* hook = new FakeBackup2ToolHook;
    hook->setDnamePatterns({QRegExp("AddressBook")});
    QSharedPointer<Backup2ToolHook> shared(hook);
    backup2tool tool(kUdid, root, shared);

    const QString chosen = "1d" + kHash.mid(2);
    const QString dropped = "2f" + kHash.mid(2);
    hook->beginThrow(root, kUdid);  // no device: the application list stays empty
    ScriptedLink link;
    link.name("HomeDomain/Library/AddressBook/AddressBook.sqlitedb");
    link.name((kUdid + "/1d/" + chosen).toUtf8());
    link.block(0x0C, "contacts");
    link.block(0x00);
    link.name("MediaDomain/photo.jpg");
    link.name((kUdid + "/2f/" + dropped).toUtf8());
    link.block(0x0C, "0123456789");
    link.block(0x00);
    link.name("Manifest");
    link.name((kUdid + "/Manifest.db").toUtf8());
    link.block(0x0C, "manifest");
    link.block(0x00);
    link.word(0);
    tool.recvFilesThrow(link, dlMessage("DLMessageUploadFiles"));
    ASSERT_EQ(link.statuses.size(), 1);
    EXPECT_EQ(link.statuses[0].code, 0);
    EXPECT_EQ(readFile(root.filePath(kUdid + "/1d/" + chosen)), "contacts");
    EXPECT_FALSE(QFile::exists(root.filePath(kUdid + "/2f/" + dropped)));
    EXPECT_EQ(readFile(root.filePath(kUdid + "/Manifest.db")), "manifest");
    EXPECT_TRUE(QFile::exists(root.filePath(kUdid + "/dname.sqlite")));

    // Listings come from the records: the device sees the dropped file with its size.
    QStringList top = names(hook->dirContents(root, kUdid));
    top.sort();
    EXPECT_EQ(top, QStringList({"1d:2:0", "2f:2:0", "Manifest.db:1:8"}))
        << top.join(",").toStdString();
    EXPECT_EQ(names(hook->dirContents(root, kUdid + "/2f")), QStringList({dropped + ":1:10"}));
    EXPECT_EQ(names(hook->dirContents(root, kUdid + "/1d")), QStringList({chosen + ":1:8"}));
    QFile::remove(root.filePath(kUdid + "/1d/" + chosen));
    EXPECT_TRUE(hook->dirContents(root, kUdid + "/1d").isEmpty());

    // Copy and mkdir do nothing; removal drops the row but keeps bucket rows.
    QString err;
    EXPECT_EQ(hook->mkdir(root, kUdid + "/nodir", err), 0);
    EXPECT_FALSE(QFile::exists(root.filePath(kUdid + "/nodir")));
    EXPECT_EQ(hook->removeFile(root, kUdid + "/2f", err), 0);
    EXPECT_EQ(hook->dirContents(root, kUdid + "/2f").size(), 1);
    EXPECT_EQ(hook->removeFile(root, kUdid + "/2f/" + dropped, err), 0);
    EXPECT_TRUE(hook->dirContents(root, kUdid + "/2f").isEmpty());

    // A later run of the same hook keeps its records while Manifest.db is there ...
    hook->beginThrow(root, kUdid);
    EXPECT_EQ(hook->dirContents(root, kUdid).size(), 2);
    // ... and starts afresh without it.
    QFile::remove(root.filePath(kUdid + "/Manifest.db"));
    hook->beginThrow(root, kUdid);
    EXPECT_FALSE(QFile::exists(root.filePath(kUdid + "/dname.sqlite")));
    EXPECT_TRUE(hook->dirContents(root, kUdid).isEmpty());
}
